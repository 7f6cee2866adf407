#include "capture/directshow/com_support.h"

#include <cstring>

namespace ravdel::dshow {

ComApartment::ComApartment(DWORD model) : result_(CoInitializeEx(nullptr, model)) {}

ComApartment::~ComApartment() {
  if (SUCCEEDED(result_)) CoUninitialize();
}

void freeMediaTypeContents(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0 || type.pbFormat != nullptr) {
    CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
  }
  if (type.pUnk != nullptr) {
    type.pUnk->Release();
    type.pUnk = nullptr;
  }
}

void deleteMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return;
  freeMediaTypeContents(*type);
  CoTaskMemFree(type);
}

bool copyMediaType(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE& to) {
  to = from;
  to.pbFormat = nullptr;
  to.cbFormat = 0;
  if (from.cbFormat != 0 && from.pbFormat != nullptr) {
    to.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
    if (to.pbFormat == nullptr) {
      to.pUnk = nullptr;
      return false;
    }
    std::memcpy(to.pbFormat, from.pbFormat, from.cbFormat);
    to.cbFormat = from.cbFormat;
  }
  if (to.pUnk != nullptr) to.pUnk->AddRef();
  return true;
}

std::string utf8FromWide(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(bytes) - 1);  // the terminating zero
  return out;
}

std::wstring wideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int chars =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (chars <= 0) return {};
  std::wstring out(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), chars);
  return out;
}

GUID subtypeFromFourcc(std::uint32_t fourcc) {
  return {static_cast<unsigned long>(fourcc),
          0x0000,
          0x0010,
          {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

}  // namespace ravdel::dshow

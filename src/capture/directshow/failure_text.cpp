#include "capture/directshow/failure_text.h"

#include <cstdio>

#include "capture/directshow/com_support.h"

namespace ravdel::dshow {
namespace {

struct Meaning {
  HRESULT result;
  const char* words;
};

// The results cameras and the graph answer when they cannot start, as Windows documents them.
const Meaning kMeanings[] = {
    {E_ACCESSDENIED,
     "access denied: the camera privacy setting (Settings, Privacy, Camera: let desktop apps "
     "access your camera) blocks it, or another program holds it"},
    {REGDB_E_CLASSNOTREG, "not registered on this system"},
    {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), "the camera is in use by another program"},
    {HRESULT_FROM_WIN32(ERROR_BUSY), "the camera is in use by another program"},
    {HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES),
     "the camera is in use by another program, or its USB bus has no bandwidth left"},
    {HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), "the camera is not connected"},
    {HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED), "the camera was removed"},
    {HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), "the camera does not respond"},
    {VFW_E_CANNOT_CONNECT, "the camera's format could not be connected through the graph"},
    {VFW_E_NO_CAPTURE_HARDWARE, "no capture hardware"},
};

// The system's text of a code, without its line break; empty when it has none.
std::string systemText(HRESULT result) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = length != 0 ? utf8FromWide(text) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.'))
    words.pop_back();
  return words;
}

}  // namespace

std::string failureText(const char* call, HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  std::string text = std::string(call) + " failed with " + code;
  for (const Meaning& meaning : kMeanings) {
    if (meaning.result == result) return text + ": " + meaning.words;
  }
  const std::string words = systemText(result);
  return words.empty() ? text : text + ": " + words;
}

}  // namespace ravdel::dshow

#pragma once

#include <dshow.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ravdel::dshow {

// COM for the calling thread for this object's lifetime: CoInitializeEx, and the matching
// CoUninitialize when that succeeded. A thread that already runs another apartment model
// keeps it (RPC_E_CHANGED_MODE) and COM is usable all the same. Construct and destroy on the
// same thread.
class ComApartment {
 public:
  explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED);
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  // S_OK or S_FALSE (initialised here), RPC_E_CHANGED_MODE (already in the other model), or
  // a failure that leaves COM unusable.
  HRESULT result() const { return result_; }
  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// Frees what an AM_MEDIA_TYPE holds (format block, pUnk), as DirectShow's FreeMediaType.
void freeMediaTypeContents(AM_MEDIA_TYPE& type);
// Frees a media type that a DirectShow call allocated with CoTaskMemAlloc, with its contents
// (DeleteMediaType).
void deleteMediaType(AM_MEDIA_TYPE* type);
// Deep copy: the format block is allocated anew with CoTaskMemAlloc. False when out of memory
// (then `to` holds no format block).
bool copyMediaType(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE& to);

struct MediaTypeDeleter {
  void operator()(AM_MEDIA_TYPE* type) const { deleteMediaType(type); }
};
// A media type handed out by GetStreamCaps or GetFormat, freed with its format block.
using MediaTypePtr = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

// UTF-8 from a UTF-16 text (device names come as BSTRs) and back.
std::string utf8FromWide(const wchar_t* text);
std::wstring wideFromUtf8(const std::string& text);

// The video subtype GUID of a FourCC: {FourCC-0000-0010-8000-00AA00389B71}.
GUID subtypeFromFourcc(std::uint32_t fourcc);

}  // namespace ravdel::dshow

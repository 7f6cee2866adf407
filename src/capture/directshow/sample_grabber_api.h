#pragma once

// What the capture graph needs of qedit.dll (the Sample Grabber and the Null Renderer) and
// that neither MinGW's qedit.h (no CLSIDs) nor Microsoft's current SDK (no qedit.h at all)
// declares. The layouts are those of the DirectShow documentation: the method order of each
// interface is its vtable, so it must not change. Everything is in our namespace, so nothing
// clashes with a qedit.h that some other header pulls in.

#include <dshow.h>

namespace ravdel::dshow {

// {0579154A-2B53-4994-B0D0-E773148EFF85}
inline constexpr IID kIidSampleGrabberCB = {
    0x0579154a, 0x2b53, 0x4994, {0xb0, 0xd0, 0xe7, 0x73, 0x14, 0x8e, 0xff, 0x85}};
// {6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}
inline constexpr IID kIidSampleGrabber = {
    0x6b652fff, 0x11fe, 0x4fce, {0x92, 0xad, 0x02, 0x66, 0xb5, 0xd7, 0xc7, 0x8f}};
// {C1F400A0-3F08-11D3-9F0B-006008039E37}
inline constexpr CLSID kClsidSampleGrabber = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
// {C1F400A4-3F08-11D3-9F0B-006008039E37}
inline constexpr CLSID kClsidNullRenderer = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

// The COM interfaces have no virtual destructor (their objects free themselves in Release);
// the protected one keeps anybody from deleting through them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"  // IUnknown's, as in every COM header
struct ISampleGrabberCB : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) = 0;
  virtual HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) = 0;

 protected:
  ~ISampleGrabberCB() = default;
};

struct ISampleGrabber : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL bufferThem) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG* bufferSize, LONG* buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample** sample) = 0;
  // which: 0 calls SampleCB, 1 calls BufferCB.
  virtual HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* callback, LONG which) = 0;

 protected:
  ~ISampleGrabber() = default;
};
#pragma GCC diagnostic pop

}  // namespace ravdel::dshow

#pragma once

// The test camera: a DirectShow video capture source of ours, in ravdel_test_camera.dll,
// registered (regsvr32) under the video input device category so that the system device
// enumerator lists it like a webcam. The DLL also exports a few functions through which a
// test in the same process steers the cameras and counts the filter's COM objects.

#include <windows.h>

#include <cstdint>

namespace ravdel::testcam {

inline constexpr int kDevices = 2;

// {52A5D0C1-7A1E-4C2B-9D33-5256440A0001} and ...0002: the registry keeps the category's
// instances in name order, so the enumerator lists the devices in this order.
inline constexpr CLSID kClsids[kDevices] = {
    {0x52a5d0c1, 0x7a1e, 0x4c2b, {0x9d, 0x33, 0x52, 0x56, 0x44, 0x0a, 0x00, 0x01}},
    {0x52a5d0c1, 0x7a1e, 0x4c2b, {0x9d, 0x33, 0x52, 0x56, 0x44, 0x0a, 0x00, 0x02}},
};

// Friendly names; the second has a letter outside a..z (é) to test the name rules and UTF-8.
inline constexpr const wchar_t* kNames[kDevices] = {L"Ravdel Test Camera",
                                                    L"Ravdel Test Cam\u00e9ra RGB"};
inline constexpr const char* kNamesUtf8[kDevices] = {"Ravdel Test Camera",
                                                     "Ravdel Test Cam\xc3\xa9ra RGB"};

// Their device paths, as the device enumerator reads them (DevicePath).
inline constexpr const wchar_t* kDevicePaths[kDevices] = {
    L"\\\\?\\usb#vid_0000&pid_0001#ravdel-test-0#{65e8773d-8f56-11d0-a3b9-00a0c9223196}",
    L"\\\\?\\usb#vid_0000&pid_0002#ravdel-test-1#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"};
inline constexpr const char* kDevicePathsUtf8[kDevices] = {
    "\\\\?\\usb#vid_0000&pid_0001#ravdel-test-0#{65e8773d-8f56-11d0-a3b9-00a0c9223196}",
    "\\\\?\\usb#vid_0000&pid_0002#ravdel-test-1#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"};

// A capability as the pin reports it. fourcc 0 is MEDIASUBTYPE_RGB24.
struct Capability {
  std::uint32_t fourcc;
  std::int32_t width;
  std::int32_t height;
  bool topDown;             // reported with a negative biHeight (RGB rows then run top first)
  bool videoInfo2 = false;  // a VIDEOINFOHEADER2 format block rather than a VIDEOINFOHEADER
  // Rows padded by this many pixels: biWidth is the stride in pixels, the picture rcTarget.
  std::int32_t padPixels = 0;
};

// What real cameras do and the plain test camera does not; set per camera before it is
// opened, taken by each filter object as it is made.
// Every capability offered a second time, after all the others, with a VIDEOINFOHEADER2 block.
inline constexpr DWORD kQuirkTwins = 1;
// Uncompressed rows padded by kPadPixels, and buffers larger than a frame by kExtraBufferBytes.
inline constexpr DWORD kQuirkPadded = 2;
inline constexpr std::int32_t kPadPixels = 16;
inline constexpr long kExtraBufferBytes = 4096;
// The padding's bytes, which must never reach the converter.
inline constexpr std::uint8_t kPaddingByte = 0xEE;

inline constexpr std::uint32_t fourccOf(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}
inline constexpr std::uint32_t kYuy2 = fourccOf('Y', 'U', 'Y', '2');
inline constexpr std::uint32_t kMjpg = fourccOf('M', 'J', 'P', 'G');
inline constexpr std::uint32_t kI420 = fourccOf('I', '4', '2', '0');
inline constexpr std::uint32_t kRgb24 = 0;

// In the order the pins report them (GetStreamCaps index): the first camera is the
// documented example, whose table sorts to 160, 320, 640 YUY2, 640 MJPG.
inline constexpr Capability kCapabilities0[] = {
    {kYuy2, 640, 480, false},
    {kYuy2, 320, 240, false},
    {kMjpg, 640, 480, false},
    {kYuy2, 160, 120, false},
};
inline constexpr Capability kCapabilities1[] = {
    {kRgb24, 320, 240, false},
    {kI420, 640, 480, false},
    {kI420, 176, 144, false},
    {kRgb24, 160, 120, true},
};

// Frame intervals (100 ns): the pins start at the slow one and offer the fast one.
inline constexpr LONGLONG kDefaultInterval = 666666;  // 15 frames a second
inline constexpr LONGLONG kFastestInterval = 333333;  // 30 frames a second
inline constexpr LONGLONG kSlowestInterval = 10000000;

// Steering, per camera (0 or 1), from the test's thread; the camera's worker sees it at its
// next frame.
struct Steering {
  // Live COM objects of the DLL (filters, enumerators, class factories). A pin shares its
  // filter's count. 0 once every reference has been released.
  LONG(WINAPI* liveObjects)();
  // Unplugged: a streaming camera reports EC_DEVICE_LOST and stops sending; Pause and Run fail
  // with ERROR_DEVICE_NOT_CONNECTED until it is plugged in again.
  void(WINAPI* setUnplugged)(int device, BOOL unplugged);
  // The stream ends: the camera sends EndOfStream downstream and no more frames.
  void(WINAPI* endStream)(int device);
  // Stalled: the camera goes on running but sends no frame and reports nothing, as a camera
  // whose firmware hangs.
  void(WINAPI* setStalled)(int device, BOOL stalled);
  // Pause and Run fail (as for want of USB bandwidth) while the camera is set to this format
  // code; kNoRefusal: never.
  void(WINAPI* refuseFormat)(int device, DWORD fourcc);
  // Frames the camera handed downstream since it was made, and the thread that sent the last.
  ULONGLONG(WINAPI* framesSent)(int device);
  DWORD(WINAPI* workerThread)(int device);
  // The frame interval and the format code the camera streams, or was last set to.
  LONGLONG(WINAPI* frameInterval)(int device);
  DWORD(WINAPI* currentFourcc)(int device);
  // The camera's friendly name as the device enumerator lists it from now on (two cameras of
  // one name); nullptr: its own again.
  BOOL(WINAPI* setFriendlyName)(int device, const wchar_t* name);
  // The quirks (kQuirk...) of the filters made from now on.
  void(WINAPI* setQuirks)(int device, DWORD quirks);
  // Plugs every camera in, unstalls it, refuses nothing, clears the counts and quirks.
  void(WINAPI* reset)();
};
inline constexpr DWORD kNoRefusal = 0xffffffffu;

}  // namespace ravdel::testcam

// The DLL's exports behind Steering, each of the same name with the prefix RavdelTestCamera_.
extern "C" {
LONG WINAPI RavdelTestCamera_LiveObjects();
void WINAPI RavdelTestCamera_SetUnplugged(int device, BOOL unplugged);
void WINAPI RavdelTestCamera_EndStream(int device);
void WINAPI RavdelTestCamera_SetStalled(int device, BOOL stalled);
void WINAPI RavdelTestCamera_RefuseFormat(int device, DWORD fourcc);
ULONGLONG WINAPI RavdelTestCamera_FramesSent(int device);
DWORD WINAPI RavdelTestCamera_WorkerThread(int device);
LONGLONG WINAPI RavdelTestCamera_FrameInterval(int device);
DWORD WINAPI RavdelTestCamera_CurrentFourcc(int device);
void WINAPI RavdelTestCamera_SetQuirks(int device, DWORD quirks);
BOOL WINAPI RavdelTestCamera_SetFriendlyName(int device, const wchar_t* name);
void WINAPI RavdelTestCamera_Reset();
}

#pragma once

#include <windows.h>

#include <string>

namespace ravdel::dshow {

// "<call> failed with 0x800705AA: <what it means>": a failing call of the capture graph in
// words for the log, with what the result usually means for a camera (in use by another
// program, blocked by the camera privacy setting, a filter not registered), else the
// system's own text of the code.
std::string failureText(const char* call, HRESULT result);

}  // namespace ravdel::dshow

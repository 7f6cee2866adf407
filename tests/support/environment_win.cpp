// _putenv_s changes the C library's copy and the process environment block together; an empty
// value removes the variable there, so an empty one goes to the system directly.
#include <stdlib.h>
#include <windows.h>

#include "support/environment.h"

namespace ravdel::test {

void setEnvironment(const std::string& name, const std::string& value) {
  ::_putenv_s(name.c_str(), value.c_str());
  if (value.empty()) ::SetEnvironmentVariableA(name.c_str(), "");
}

void unsetEnvironment(const std::string& name) {
  ::_putenv_s(name.c_str(), "");
  ::SetEnvironmentVariableA(name.c_str(), nullptr);
}

}  // namespace ravdel::test

#pragma once

#include <string>

namespace ravdel::test {

// Sets or removes a variable of the process environment, for the C library's getenv and the
// system's own functions alike.
void setEnvironment(const std::string& name, const std::string& value);
void unsetEnvironment(const std::string& name);

}  // namespace ravdel::test

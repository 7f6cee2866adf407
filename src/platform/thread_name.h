#pragma once

namespace ravdel {

// Names the calling thread for debuggers and `top -H`; at most 15 characters are kept.
void nameThisThread(const char* name);

}  // namespace ravdel

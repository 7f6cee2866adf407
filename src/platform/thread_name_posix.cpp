#include <pthread.h>

#include "platform/thread_name.h"

namespace ravdel {

void nameThisThread(const char* name) {
  pthread_setname_np(pthread_self(), name);
}

}  // namespace ravdel

#include "platform/ThreadName.h"

#include <pthread.h>

namespace zev::platform {

namespace {
constexpr size_t kNameBytes = 16;  // with the closing zero
}  // namespace

void NameThisThread(const std::string& name) {
  ::pthread_setname_np(::pthread_self(), name.substr(0, kNameBytes - 1).c_str());
}

std::string ThisThreadName() {
  char name[kNameBytes] = {};
  if (::pthread_getname_np(::pthread_self(), name, sizeof name) != 0) return {};
  return name;
}

}  // namespace zev::platform

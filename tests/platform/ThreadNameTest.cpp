#include <gtest/gtest.h>

#include <thread>

#include "platform/ThreadName.h"

using namespace zev::platform;

TEST(ThreadName, NamesTheCallingThreadOnlyAndCutsAtTheKernelLimit) {
  struct FCase {
    std::string given, kept;
  };
  const FCase cases[] = {
      {"zev-handler", "zev-handler"},
      {"fifteen-bytes-x", "fifteen-bytes-x"},
      {"sixteen-bytes-xy", "sixteen-bytes-x"},
      {"", ""},
  };
  const std::string before = ThisThreadName();
  for (const FCase& c : cases) {
    std::string seen;
    std::thread([&] {
      NameThisThread(c.given);
      seen = ThisThreadName();
    }).join();
    EXPECT_EQ(seen, c.kept) << c.given;
  }
  EXPECT_EQ(ThisThreadName(), before);
}

// The command line: one argument per line of the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  zev::FSwitches sw = zev::ParseCommandLine(args);
  zev::ResolveLogPath(sw.errorArg, "/nonexistent/data/", "error.log");
  zev::ResolveLogPath(sw.dumpArg, "/nonexistent/data/", "dump.log");
  return 0;
}

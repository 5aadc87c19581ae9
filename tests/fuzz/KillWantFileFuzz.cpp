// Hostile "KillFile.ini" and "WantFile.ini" contents: loading never crashes, a saved set
// loads back as the same filters, and applying them to a subject stays within bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/Log.h"
#include "db/MsgData.h"
#include "filters/KillWant.h"

using namespace zev;

namespace {

std::string Dir() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path().string() + "/zev_killwant_fuzz_" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (SetWarningsLevel(TWarningsLevel::None), true);
  (void)quiet;
  const std::string dir = Dir();
  const std::string text(reinterpret_cast<const char*>(data), size);
  // The first half is the kill file, the rest the want file.
  std::ofstream(dir + "KillFile.ini", std::ios::binary | std::ios::trunc) << text.substr(0, size / 2);
  std::ofstream(dir + "WantFile.ini", std::ios::binary | std::ios::trunc) << text.substr(size / 2);
  TKillWant set(dir);
  set.Load();
  set.SelectForGroup("alt.binaries.test", kwOverviewPass);
  int8_t score = 0;
  std::string chosen;
  const uint32_t actions = set.Apply("Some.Movie.2024.mkv (01/42) yEnc", kwSubject, score, chosen) |
                           set.Apply("poster <p@example.com>", kwAuthor, score, chosen);
  if (actions & ~(FlagBit(afKilled) | FlagBit(afWanted) | FlagBit(afMarked))) std::abort();
  const size_t kills = set.CountOfKind(false), wants = set.CountOfKind(true);
  set.Save();
  TKillWant again(dir);
  again.Load();
  if (static_cast<size_t>(again.CountOfKind(false)) != kills || static_cast<size_t>(again.CountOfKind(true)) != wants)
    std::abort();
  return 0;
}

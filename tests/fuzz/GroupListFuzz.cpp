// "list" and "newgroups" data come from the server: any bytes must parse without harm,
// every stored name must be a usable newsgroup name, and storing must write nothing but
// the group index and the server's count file, even over a damaged count file.
//
// Input: 1 byte options (bit 0: final block, bit 1: first replace the server's count file
// with the next 16 bytes), then the response data.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "FuzzScratchDir.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/ZevIniFile.h"
#include "db/GroupCountFile.h"
#include "db/GroupList.h"
#include "db/GroupListLine.h"
#include "db/Server.h"

namespace {

struct FWorld {
  FWorld() : dir(scratch.Path()), ini(""), config(ini, dir), server(zev::snNewsServer, "S", nullptr) {
    zev::SetErrorLogPath("/dev/null");
    zev::gConfig = &config;
    server.SetHost("fuzz.example");
    Reopen();
  }
  ~FWorld() {
    list.reset();
  }
  // A fresh list now and then keeps a long run from growing the index without end.
  void Reopen() {
    list.reset();
    for (const auto& entry : std::filesystem::directory_iterator(dir)) std::filesystem::remove_all(entry.path());
    list = std::make_unique<zev::TGroupList>(dir, 1 << 20);
  }
  TFuzzScratchDir scratch{"zev_grouplist_fuzz_"};  // goes last, after the list is closed
  std::string dir;
  zev::TZevIniFile ini;
  zev::TConfig config;
  zev::TServer server;
  std::unique_ptr<zev::TGroupList> list;
};

void CheckLine(std::string_view line) {
  zev::FListLine out;
  const char* problem = nullptr;
  if (zev::ParseListLine(line, out, problem) != zev::TListLineVerdict::Stored) return;
  if (out.name.empty() || out.count == 0 || zev::NewsgroupNameProblem(out.name)) __builtin_trap();
  if (out.name.find_first_of(" \t\r\n") != std::string_view::npos) __builtin_trap();
  if (line.substr(0, out.name.size()) != out.name) __builtin_trap();
}

// Only the index (with its journal) and the server's directory may exist.
void CheckDirectory(const FWorld& world) {
  for (const auto& entry : std::filesystem::directory_iterator(world.dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("GrpLst.zev", 0) != 0 && name != "fuzz.example.119") __builtin_trap();
  }
  const std::string serverDir = world.dir + "fuzz.example.119";
  if (!std::filesystem::exists(serverDir)) return;
  for (const auto& entry : std::filesystem::directory_iterator(serverDir))
    if (entry.path().filename() != "GrpLst.zev") __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FWorld world;
  if (size < 1) return 0;
  const uint8_t options = data[0];
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((options & 2) && text.size() >= 16) {
    const std::string path = zev::TGroupCountFile::Of(world.server).Path();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(text.data(), 16);
    text.remove_prefix(16);
  }
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    CheckLine(text.substr(start, end - start));
    start = end + 1;
  }

  world.list->HandleListResponse(world.server, text, options & 1);
  CheckDirectory(world);
  const zev::TDateTime last = world.list->LastUpdate(world.server);
  if (!(last >= 0 && last < 2958466)) __builtin_trap();
  if (world.list->GroupCount() > 20000) world.Reopen();
  return 0;
}

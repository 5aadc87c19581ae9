// Offset-map files live on disk between runs and may be damaged or planted: any bytes
// must load, and adjusting the map to any reported range must keep it within the size cap,
// drop only real article offsets, and leave pending ranges inside the map.
//
// Input: 4 bytes new first, 4 bytes new last, 1 byte options, then the map file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzScratchDir.h"
#include "core/AtomicFile.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/ZevIniFile.h"
#include "db/Group.h"
#include "db/MapArticles.h"
#include "db/OffsMapFile.h"
#include "db/SrvGrp.h"
#include "db/Server.h"

namespace {

class TCheckedArticles : public zev::TMapArticles {
 public:
  bool Expire(zev::TArticleOffset offset) override {
    if (offset < zev::kFirstArticleOffset) __builtin_trap();
    return false;
  }
  void Flush() override {}
  bool Read(zev::TArticleOffset, zev::FMsgData&) override { return false; }
  void IncludeFlag(zev::TArticleOffset, zev::TArticleFlag) override {}
  zev::TArticleOffset FirstPart(zev::TArticleOffset) override { return 0; }
  std::string DownloadDir(zev::TArticleOffset) override { return {}; }
  void SetDownloadDir(zev::TArticleOffset, const std::string&) override {}
  std::string FileName(zev::TArticleOffset) override { return {}; }
};

struct FWorld {
  FWorld()
      : dir(scratch.Path()),
        ini(""),
        config(ini, dir),
        server(zev::snNewsServer, "S", nullptr),
        group(zev::gnNewsgroup, "alt.fuzz", nullptr) {
    zev::SetErrorLogPath("/dev/null");
    zev::gConfig = &config;
    zev::gMapArticles = &articles;
    zev::gMaxMapEntries = 1 << 14;
    server.SetHost("fuzz.example");
  }
  TFuzzScratchDir scratch{"zev_map_fuzz_"};
  std::string dir;
  zev::TZevIniFile ini;
  zev::TConfig config;
  TCheckedArticles articles;
  zev::TServer server;
  zev::TGroup group;
};

uint32_t Read32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FWorld world;
  if (size < 9) return 0;
  uint32_t first = Read32(data), last = Read32(data + 4);
  uint8_t options = data[8];
  zev::TSrvGrp sg(&world.server, &world.group);
  std::string path = sg.MapFileName();
  zev::WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(data + 9), size - 9));
  world.server.SetFlag(zev::sfHeaderLimit, options & 1);
  world.server.MaxHeaders = options >> 3;
  sg.RefreshKind = (options >> 1) & 7;

  if (sg.LoadOffsMap() && sg.ArtCount() > zev::gMaxMapEntries) __builtin_trap();
  sg.ReleaseOffsMap();
  sg.AdjustServerFile(first, last, (options & 0x80) != 0);

  zev::TMapUse use(sg);
  if (sg.ArtCount() > zev::gMaxMapEntries) __builtin_trap();
  bool extend = options & 0x80;
  if (!extend && sg.ArtCount() > 0 && sg.LastArtNo() != last) __builtin_trap();
  for (const zev::FArticleRange& r : sg.PendingRanges().Ranges())
    if (r.count == 0 || r.start < sg.FirstArtNo() || r.End() - 1 > sg.LastArtNo()) __builtin_trap();
  return 0;
}

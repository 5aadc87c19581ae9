// Arbitrary bytes as a ".zev" file: opening must either succeed or raise a clear error,
// and the checker, the reads and a few changes must never crash or loop.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzScratchDir.h"
#include "core/Log.h"
#include "db/BTree.h"
#include "db/BTreeCheck.h"
#include "db/BTreeFormat.h"

using namespace zev;

namespace {

std::string ScratchFile() {
  static TFuzzScratchDir scratch("zevbtreefuzz");
  return scratch.Path() + "t.zev";
}

void Exercise(TBTree& tree) {
  TCheckReport report = tree.Check();
  std::vector<TDataPointer> map = tree.GetMap();
  tree.GetMap2(4);
  std::vector<uint8_t> record(tree.SizeParam() + 1);
  size_t n = 0;
  for (TDataPointer dp : map) {
    if (++n > 64) break;
    tree.ReadRecord(dp, record.data());
    std::string key = tree.ReadKeyText(dp);
    std::string prefix = key.substr(0, 3);
    tree.FindKeyOfData(prefix, dp);
    tree.Find(key, dp);
  }
  tree.Find("part1of2.abc@example.net", n == 0 ? map.emplace_back() : map.front());
  for (uint32_t position : {0u, 0x6000u, 0x8000u}) tree.DumpText(position);
  tree.ForEachRecord([](TDataPointer, const uint8_t*) {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    SetErrorLogPath("");
    return true;
  }();
  (void)quiet;
  if (size < 1) return 0;
  std::string path = ScratchFile();
  unlink((path + "-journal").c_str());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  bool fixed = data[0] & fmt::ntType2;
  uint8_t options = boKeepCount | (fixed ? boKeysInNodes : 0) | (size % 2 ? boCaseInsensitive : 0);
  uint32_t sizeParam = fixed ? 77 : 8;
  try {
    TBTree tree(path, options, 256 << 10, sizeParam, TBTree::TAccess::ReadOnly);
    Exercise(tree);
  } catch (const std::exception&) {
  }
  // Changes on a damaged file may fail, but must stay inside the file and end.
  try {
    TBTree tree(path, options, 256 << 10, sizeParam);
    std::vector<uint8_t> record(sizeParam, 0x41);
    TDataPointer dp;
    for (const char* key : {"a@b", "part1of2.abc@example.net", "zzz"}) tree.Insert(key, record.data(), dp);
    tree.DeleteKey("a@b", true);
    tree.Check();
  } catch (const std::exception&) {
  }
  return 0;
}

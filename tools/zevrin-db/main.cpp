// zevrin-db check|dump FILE: inspects a ".zev" B-tree file without changing it. The kind
// of tree and its record size come from the file name for the program's own lists, or
// from options for any other tree file.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "db/BTree.h"
#include "db/BTreeCheck.h"
#include "db/BTreeFormat.h"

using namespace zev;

namespace {

struct TKnownList {
  const char* name;
  uint8_t options;
  uint32_t sizeParam;
};

const TKnownList kKnown[] = {
    {"MsgLst.zev", boKeepCount | boKeysInNodes, 77},
    {"AuthLst.zev", boKeepCount | boCaseInsensitive, 8},
    {"SubjLst.zev", boKeepCount, 8},
    {"FileLst.zev", boKeepCount | boCaseInsensitive, 8},
    {"DirLst.zev", boKeepCount | boCaseInsensitive, 8},
    {"GrpLst.zev", boSequenceNumbers, 8},
};

int Usage() {
  std::fprintf(stderr,
               "usage: zevrin-db check|dump FILE [--size N] [--case-insensitive] [--keep-count]\n"
               "  check  walks the whole file and lists every broken invariant\n"
               "  dump   prints every page\n"
               "  --size N             record size (fixed-record trees) or header size (others);\n"
               "                       needed for files other than the program's own lists\n"
               "  --case-insensitive   keys compare without regard to ASCII case\n"
               "  --keep-count         the tree keeps an exact record count\n"
               "exit status: 0 sound, 1 damaged, 2 cannot be read\n");
  return 2;
}

std::string BaseName(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The kind of tree from the root's kind byte: fixed-record trees mark it ntType2.
bool RootSaysFixed(const std::string& path, bool& fixed) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  int kind = std::fgetc(f);
  std::fclose(f);
  if (kind == EOF) return false;
  fixed = kind & fmt::ntType2;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1], path = argv[2];
  if (command != "check" && command != "dump") return Usage();
  uint8_t options = 0;
  uint32_t size = 0;
  bool known = false;
  for (const TKnownList& list : kKnown)
    if (BaseName(path) == list.name) {
      options = list.options;
      size = list.sizeParam;
      known = true;
    }
  for (int i = 3; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--size") && i + 1 < argc) size = static_cast<uint32_t>(std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--case-insensitive")) options |= boCaseInsensitive;
    else if (!std::strcmp(argv[i], "--keep-count")) options |= boKeepCount;
    else return Usage();
  }
  bool fixed = false;
  if (!RootSaysFixed(path, fixed)) {
    std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
    return 2;
  }
  if (!known) {
    options = (options & ~boKeysInNodes) | (fixed ? boKeysInNodes : 0);
    if (size == 0 && !fixed) size = fmt::kStringHeaderSize;
    if (size == 0) {
      std::fprintf(stderr, "%s: a fixed-record tree; give its record size with --size\n", path.c_str());
      return 2;
    }
  }
  try {
    TBTree tree(path, options, 16 << 20, size, TBTree::TAccess::ReadOnly);
    if (command == "dump") {
      for (uint64_t position = 0; position < tree.FileSize();
           position += position == 0 ? fmt::kRootSize : fmt::kPageSize)
        std::fputs((tree.DumpText(static_cast<uint32_t>(position)) + "\n").c_str(), stdout);
      return 0;
    }
    TCheckReport report = tree.Check();
    std::fputs(report.Text().c_str(), stdout);
    return report.Ok() ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}

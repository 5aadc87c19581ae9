// Arbitrary frames as the journal left beside a sound tree file: opening the tree (read
// only, then for writing, which replays a committed journal) must succeed or raise a clear
// error, and never crash, loop or write outside the file. The journal header always names
// the tree file, and with the first input bit set every frame's checksum is made right, so
// the fuzzer reaches the replay of committed frames and not only the checksum test.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzScratchDir.h"
#include "core/Crc32.h"
#include "core/Log.h"
#include "db/BTree.h"
#include "db/BTreeCheck.h"
#include "db/BTreeFormat.h"
#include "db/Journal.h"

using namespace zev;

namespace {

constexpr uint8_t kOptions = boKeepCount | boKeysInNodes;
constexpr uint32_t kRecordSize = 77;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  return bytes;
}

// A sound tree with a few hundred records, and its bytes to restore before each input.
struct TScratch {
  TFuzzScratchDir dir{"zevjournalfuzz"};
  std::string path = dir.Path() + "t.zev";
  std::vector<uint8_t> baseline;
  TScratch() {
    {
      TBTree tree(path, kOptions, 1 << 20, kRecordSize);
      std::vector<uint8_t> record(kRecordSize, 0x41);
      TDataPointer dp;
      for (int i = 0; i < 400; ++i) tree.Insert("part" + std::to_string(i) + "of400.x@example.net", record.data(), dp);
    }
    baseline = ReadAll(path);
  }
};

const TScratch& Scratch() {
  static TScratch s;
  return s;
}

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { std::memcpy(v.data() + at, &x, 4); }
void Put64(std::vector<uint8_t>& v, size_t at, uint64_t x) { std::memcpy(v.data() + at, &x, 8); }

// A journal header for the file with this device and inode, then the input as frames.
std::vector<uint8_t> BuildJournal(const uint8_t* data, size_t size, uint64_t device, uint64_t inode) {
  std::vector<uint8_t> j(48, 0);
  std::memcpy(j.data(), "ZEVJRNL1", 8);
  Put32(j, 8, 1);
  Put32(j, 12, fmt::kPageSize);
  Put64(j, 16, device);
  Put64(j, 24, inode);
  Put64(j, 32, 0x5EED);
  uint32_t chain = UpdateCrc32(j.data(), 40, 0);
  Put32(j, 40, chain);
  bool fixSums = data[0] & 1;
  bool wholePages = data[0] & 2;  // short inputs stand for whole pages of repeated bytes
  size_t at = 1;
  while (at + 12 <= size && j.size() < (8u << 20)) {
    std::vector<uint8_t> frame(32, 0);
    std::memcpy(frame.data(), data + at, 12);  // kind, position, length
    at += 12;
    uint32_t kind = fmt::Load32(frame.data()) % 4;
    uint32_t position = fmt::Load32(frame.data() + 4);
    uint32_t length = fmt::Load32(frame.data() + 8);
    if (wholePages) {
      // Aim at real page positions and lengths so replay is reached often.
      uint32_t pick = position % 8;
      position = pick == 0 ? 0 : fmt::kFirstDataPage + (pick - 1) * fmt::kPageSize;
      length = kind >= 2 ? 0 : (position == 0 ? fmt::kRootSize : fmt::kPageSize);
      Put32(frame, 0, kind);
      Put32(frame, 4, position);
      Put32(frame, 8, length);
    }
    // Commit and base frames carry a file size: mostly a plausible one, so that replay and
    // the cut back to an unfinished flush's base are reached.
    if (kind >= 2) Put64(frame, 16, fmt::kNewFileSize + fmt::kPageSize * uint64_t(position % 64));
    std::vector<uint8_t> body;
    if (length <= fmt::kRootSize) {
      if (wholePages) {
        uint8_t fill = at < size ? data[at++] : 0;
        body.assign(length, fill);
        size_t n = std::min<size_t>(size - at, std::min<size_t>(length, 64));
        if (n) std::memcpy(body.data(), data + at, n);  // the page header and first entries
        at += n;
      } else {
        size_t n = std::min<size_t>(size - at, length);
        body.assign(data + at, data + at + n);
        at += n;
      }
    }
    uint32_t sum = UpdateCrc32(frame.data(), 24, chain);
    if (!body.empty()) sum = UpdateCrc32(body.data(), body.size(), sum);
    if (!fixSums) sum ^= data[at - 1] | 1u;  // a wrong sum: the journal ends here
    Put32(frame, 24, sum);
    chain = sum;
    j.insert(j.end(), frame.begin(), frame.end());
    j.insert(j.end(), body.begin(), body.end());
  }
  return j;
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  // Rewrites the file in place, so its inode (which the journal names) stays the same.
  FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fflush(f);
  if (ftruncate(fileno(f), static_cast<off_t>(bytes.size())) != 0) abort();
  std::fclose(f);
}

void Exercise(TBTree& tree) {
  tree.Check();
  std::vector<TDataPointer> map = tree.GetMap();
  std::vector<uint8_t> record(kRecordSize);
  for (size_t i = 0; i < map.size() && i < 32; ++i) tree.ReadRecord(map[i], record.data());
  TDataPointer dp;
  tree.Find("part7of400.x@example.net", dp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    SetErrorLogPath("");
    return true;
  }();
  (void)quiet;
  if (size < 1) return 0;
  const TScratch& s = Scratch();
  Write(s.path, s.baseline);
  struct stat st {};
  if (::stat(s.path.c_str(), &st) != 0) abort();
  std::string journalPath = TJournal::PathFor(s.path);
  std::vector<uint8_t> journal = BuildJournal(data, size, st.st_dev, st.st_ino);
  Write(journalPath, journal);

  try {
    TBTree tree(s.path, kOptions, 256 << 10, kRecordSize, TBTree::TAccess::ReadOnly);
    Exercise(tree);
  } catch (const std::exception&) {
  }
  try {
    TBTree tree(s.path, kOptions, 256 << 10, kRecordSize);
    Exercise(tree);
    std::vector<uint8_t> record(kRecordSize, 0x42);
    TDataPointer dp;
    tree.Insert("new@example.net", record.data(), dp);
    tree.DeleteKey("part3of400.x@example.net", true);
  } catch (const std::exception&) {
  }
  // Nothing may appear beside the tree but its journal.
  ::unlink(journalPath.c_str());
  return 0;
}

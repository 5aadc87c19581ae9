// A "<name>.zevpart" file stays in the download directory between runs, where it may be
// damaged or planted: whatever it holds, placing a file's parts into it must end in a file
// of the posted size, or leave the parts to the part joiner, and never crash or write
// outside the directory.
//
// Input: 1 byte part count T (2..17 after folding), 2 bytes file size S (little-endian,
// at least T), then the bytes of the working file found on disk (none: no file).
#include <fcntl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzScratchDir.h"
#include "core/Crc32.h"
#include "core/Log.h"
#include "download/DecodeFs.h"
#include "download/PlacedParts.h"

namespace {

const std::string& Dir() {
  static TFuzzScratchDir scratch("zevfuzz_placed_");
  return scratch.Path();
}

void Plant(const std::string& path, const uint8_t* data, size_t size) {
  zev::TDecodeFs& fs = zev::SystemDecodeFs();
  zev::TDecodeFile file(fs, path, fs.Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (file.Fd() >= 0 && size > 0) file.WriteAll(data, size, 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zev::SetErrorLogPath("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t total = 2 + data[0] % 16;
  const uint64_t fileSize = std::max<uint64_t>(total, data[1] | uint64_t{data[2]} << 8);
  const std::string& dir = Dir();
  const std::string name = "f.bin";
  std::filesystem::remove(dir + name);
  std::filesystem::remove(dir + name + zev::TPlacedParts::kSuffix);
  if (size > 3) Plant(dir + name + zev::TPlacedParts::kSuffix, data + 3, size - 3);

  const std::string content(fileSize, 'z');
  const uint64_t partSize = (fileSize + total - 1) / total;
  zev::TPlacedParts placed(zev::SystemDecodeFs());
  for (uint32_t p = 1; p <= total; ++p) {
    zev::FPartData part;
    part.dir = dir;
    part.name = name;
    part.part = p;
    part.total = total;
    const uint64_t begin = std::min<uint64_t>((p - 1) * partSize, fileSize);
    part.data = content.data() + begin;
    part.size = std::min<uint64_t>(partSize, fileSize - begin);
    if (part.size == 0) continue;
    part.crc = zev::UpdateCrc32(part.data, part.size, 0);
    part.offset = begin;
    part.fileSize = fileSize;
    bool duplicate = false;
    try {
      zev::TPlacedParts::TFileRef file = placed.Open(part, duplicate);
      if (!file) continue;
      if (placed.Place(*file, part) != zev::TPlaceOutcome::Completed) continue;
      const zev::FJoinResult done = placed.Finish(*file);
      if (!done.complete || done.fileSize != fileSize) __builtin_trap();
      if (std::filesystem::file_size(dir + done.fileName) != fileSize) __builtin_trap();
    } catch (const zev::EDecodeIoError&) {
    }
  }
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return 0;
}

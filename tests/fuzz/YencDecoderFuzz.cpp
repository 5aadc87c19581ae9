// Differential fuzzing of the yEnc body decoder: every kernel, fed the same bytes in the
// same random blocks (each an exact-size heap copy, so the sanitizer sees any read or
// write past a block), must report the same events and produce the same bytes as the
// byte-at-a-time reference, in place or into a separate buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../download/YencTestSupport.h"
#include "download/YencDecoder.h"
#include "download/YencKernel.h"

using namespace zev;

namespace {

struct TSummary {
  std::string data;
  std::vector<uint64_t> sectionSizes;
  std::vector<uint32_t> sectionCrcs;
  std::vector<uint32_t> faults;
  std::vector<zev::TYencDecoder::TEvent> events;
  size_t consumed = 0;
  bool operator==(const TSummary&) const = default;
};

TSummary Summarise(const test::TDecodeRun& run) {
  TSummary s{run.data, {}, {}, {}, run.events, run.consumed};
  for (const TYencSection& section : run.sections) {
    s.sectionSizes.push_back(section.decodedSize);
    s.sectionCrcs.push_back(section.crc);
    s.faults.push_back(CheckYencSection(section));
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the block sizes; the rest is the body.
  std::vector<size_t> sizes = {size_t{1} + data[0], size_t{1} + (data[0] ^ data[1]), size_t{1} + data[1] * 3u};
  std::string body(reinterpret_cast<const char*>(data + 2), size - 2);

  const TSummary expected = Summarise(test::DecodeBody(body, {body.size() + 1}, false, *FindYencKernel("bytewise")));
  if (expected.consumed > body.size() || expected.data.size() > body.size()) std::abort();
  const bool inPlace = (data[1] & 1) != 0;
  for (const TYencKernel& kernel : YencKernels()) {
    if (!(Summarise(test::DecodeBody(body, sizes, inPlace, kernel)) == expected)) std::abort();
  }
  return 0;
}

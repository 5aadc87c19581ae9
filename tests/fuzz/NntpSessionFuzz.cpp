// Hostile client input against the test news server: any byte sequence, cut into reads
// of any size, must be answered or refused without crashing, hanging or leaking. The
// first line is also tried as a --fault description.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "ArticleStore.h"
#include "FaultPlan.h"
#include "NntpSession.h"

using namespace zev::testserver;

namespace {

class TFuzzStream : public TServerStream {
 public:
  TFuzzStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  long Read(char* buffer, size_t size) override {
    if (pos_ >= size_) return 0;
    // The byte at the cut decides how much the next read returns, so the fuzzer also
    // explores every way a command can be split across reads.
    size_t n = std::min<size_t>({size, size_ - pos_, static_cast<size_t>(data_[pos_] % 64) + 1});
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }
  bool WriteAll(const iovec*, int) override { return true; }
  using TServerStream::WriteAll;
  void Reset() override { pos_ = size_; }
  int Fd() const override { return -1; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

const TArticleStore& Store() {
  static const std::unique_ptr<TArticleStore> store = [] {
    auto s = std::make_unique<TArticleStore>();
    for (int i = 1; i <= 5; ++i)
      s->Post("alt.test", {{"Subject", "s" + std::to_string(i)}, {"Message-ID", "<m" + std::to_string(i) + "@t>"}},
              ".\n..\nbody\n");
    s->Post("alt.private", {{"Subject", "p"}, {"Message-ID", "<p@t>"}, {"Newsgroups", "alt.private"}}, "x\n");
    s->SetRequiresAuth("alt.private", true);
    FBulkOptions bulk;
    bulk.name = "alt.bulk";
    bulk.count = 1000;
    bulk.partSize = 64;
    s->AddBulkGroup(bulk);
    return s;
  }();
  return *store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  FFault fault;
  std::string error;
  ParseFault(text.substr(0, text.find('\n')), fault, error);

  static FSessionConfig config = [] {
    FSessionConfig c;
    c.users = {{"user", "pass"}};
    c.fixedNow = 1718452800;
    return c;
  }();
  TFaultPlan faults;
  TTranscriptLog log;
  TStopSignal stop;
  TFuzzStream stream(data, size);
  TNntpSession session(Store(), config, faults, log, stop, stream, 1);
  session.Run();
  return 0;
}

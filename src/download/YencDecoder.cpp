#include "download/YencDecoder.h"

#include <cstring>
#include <utility>

#include "core/Crc32.h"

namespace zev {

TYencDecoder::TYencDecoder(const TYencKernel& kernel) : kernel_(&kernel) { line_.reserve(256); }

void TYencDecoder::Reset() {
  state_ = TYencState{};
  mode_ = TMode::Lines;
  inSection_ = false;
  dataSeen_ = false;
  line_.clear();
  lineTruncated_ = false;
  pendingBegin_.reset();
  pendingBodyEnd_ = false;
  section_ = TYencSection{};
}

TYencDecoder::TStep TYencDecoder::Step(const char* in, size_t len, char* out) {
  if (auto pending = TakePending()) return *pending;
  TStep total;
  if (mode_ == TMode::Done) {
    total.event = TEvent::BodyEnd;
    return total;
  }
  while (total.consumed < len) {
    TStep sub = mode_ == TMode::Keyword
                    ? CollectKeyword(in + total.consumed, len - total.consumed)
                    : RunKernel(in + total.consumed, len - total.consumed, out + total.produced);
    total.consumed += sub.consumed;
    total.produced += sub.produced;
    if (sub.event != TEvent::None) {
      total.event = sub.event;
      break;
    }
  }
  return total;
}

TYencDecoder::TStep TYencDecoder::Finish() {
  if (auto pending = TakePending()) return *pending;
  if (mode_ == TMode::Keyword) {
    // The last line had no line end; it still counts.
    mode_ = TMode::Lines;
    TEvent event = HandleKeywordLine();
    if (event != TEvent::None) return {0, 0, event};
  }
  if (mode_ != TMode::Done && inSection_) {
    pendingBodyEnd_ = true;
    return {0, 0, CloseSection()};
  }
  mode_ = TMode::Done;
  return {0, 0, TEvent::BodyEnd};
}

std::optional<TYencDecoder::TStep> TYencDecoder::TakePending() {
  if (pendingBegin_) {
    TYencLine begin = std::move(*pendingBegin_);
    pendingBegin_.reset();
    return TStep{0, 0, OpenSection(begin)};
  }
  if (pendingBodyEnd_) {
    pendingBodyEnd_ = false;
    mode_ = TMode::Done;
    return TStep{0, 0, TEvent::BodyEnd};
  }
  return std::nullopt;
}

TYencDecoder::TStep TYencDecoder::RunKernel(const char* in, size_t len, char* out) {
  auto* dst = reinterpret_cast<uint8_t*>(out);
  TYencKernelResult r = kernel_->decode(reinterpret_cast<const uint8_t*>(in), len, dst, state_);
  TStep step{r.consumed, 0, TEvent::None};
  if (inSection_ && r.produced > 0) {
    step.produced = r.produced;
    section_.decodedSize += r.produced;
    if (section_.crcKnown) section_.crc = UpdateCrc32(dst, r.produced, section_.crc);
    dataSeen_ = true;
  }
  switch (r.stop) {
    case TYencStop::None:
      break;
    case TYencStop::Keyword:
      mode_ = TMode::Keyword;
      line_.assign("=y");
      lineTruncated_ = false;
      break;
    case TYencStop::Terminator:
      if (inSection_) {
        pendingBodyEnd_ = true;
        step.event = CloseSection();
      } else {
        mode_ = TMode::Done;
        step.event = TEvent::BodyEnd;
      }
      break;
  }
  return step;
}

TYencDecoder::TStep TYencDecoder::CollectKeyword(const char* in, size_t len) {
  const char* lf = static_cast<const char*>(std::memchr(in, '\n', len));
  size_t take = lf ? static_cast<size_t>(lf - in) + 1 : len;
  size_t text = lf ? take - 1 : take;
  size_t room = kMaxKeywordLine - line_.size();
  if (text > room) {
    lineTruncated_ = true;
    text = room;
  }
  line_.append(in, text);
  if (!lf) return {take, 0, TEvent::None};
  state_ = TYencState{};  // the next byte begins a line
  mode_ = TMode::Lines;
  return {take, 0, HandleKeywordLine()};
}

TYencDecoder::TEvent TYencDecoder::HandleKeywordLine() {
  TYencLine line = ParseYencLine(line_);
  line.truncated = lineTruncated_;
  switch (line.kind) {
    case TYencLineKind::Begin:
      if (!inSection_) return OpenSection(line);
      pendingBegin_ = std::move(line);
      return CloseSection();
    case TYencLineKind::Part:
      // Only right after "=ybegin": a "=ypart" inside the data is damage, not a header.
      if (!inSection_ || dataSeen_ || section_.HasPartLine()) return TEvent::None;
      section_.part = std::move(line);
      return TEvent::Part;
    case TYencLineKind::End:
      if (!inSection_) return TEvent::None;
      section_.end = std::move(line);
      return CloseSection();
    case TYencLineKind::Other:
      break;
  }
  return TEvent::None;
}

TYencDecoder::TEvent TYencDecoder::OpenSection(const TYencLine& begin) {
  section_ = TYencSection{};
  section_.begin = begin;
  section_.crcKnown = computeCrc_;
  inSection_ = true;
  dataSeen_ = false;
  return TEvent::Begin;
}

TYencDecoder::TEvent TYencDecoder::CloseSection() {
  inSection_ = false;
  return TEvent::End;
}

}  // namespace zev

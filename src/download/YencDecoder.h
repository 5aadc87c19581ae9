#pragma once
// Incremental decoder of yEnc article bodies, fed the blocks a connection receives.
//
// A body is the raw reply to BODY or ARTICLE after the status line: CR LF lines (bare LF
// is tolerated), dot-stuffed, ended by the line ".". Blocks may be split anywhere. The
// decoder finds the "=ybegin" / "=ypart" / "=yend" lines, decodes the data between them
// with the fastest kernel of this CPU and keeps the CRC-32 of what it produced. Text
// outside a section (headers, a uuencoded file, garbage) is passed over without output.
// A body may hold several sections, each reported by its own Begin ... End.
//
// Usage, decoding in place in the receive buffer (`out` starts at `in`; the decoded bytes
// of a block collect at its front and must be taken before the buffer is reused):
//   TYencDecoder::TStep s;
//   do {
//     s = decoder.Step(in, len, out);
//     ... the s.produced bytes at `out` belong to the current section ...
//     in += s.consumed; len -= s.consumed; out += s.produced;
//     ... act on s.event: Begin / Part (Section() has the line), End (Section() is
//         complete: CheckYencSection), BodyEnd (the bytes after `in` are not ours) ...
//   } while (s.event != TYencDecoder::TEvent::None && s.event != TYencDecoder::TEvent::BodyEnd);
#include <cstddef>
#include <optional>
#include <string>

#include "download/YencKernel.h"
#include "download/YencSection.h"

namespace zev {

class TYencDecoder {
 public:
  enum class TEvent : uint8_t {
    None,     // the whole input was used; feed the next block
    Begin,    // an "=ybegin" line opened a section
    Part,     // its "=ypart" line arrived
    End,      // the section closed: by "=yend", by another "=ybegin", or by the body's end
    BodyEnd,  // the terminating "." line was consumed; nothing more belongs to this body
  };
  struct TStep {
    size_t consumed = 0;  // input bytes used
    size_t produced = 0;  // decoded bytes written at `out`, belonging to the current section
    TEvent event = TEvent::None;
  };

  // Keyword lines longer than this are kept only this far and marked truncated.
  static constexpr size_t kMaxKeywordLine = 4096;

  explicit TYencDecoder(const TYencKernel& kernel = BestYencKernel());

  // Forgets everything: ready for a new body.
  void Reset();
  // The CRC costs a little time; callers that check nothing may switch it off.
  void SetComputeCrc(bool on) { computeCrc_ = on; }

  // Consumes input up to the next event. `out` may be `in` (or any place before it in
  // the same buffer) or a separate buffer of at least `len` bytes; bytes of out[0, consumed)
  // past `produced` may be scribbled on. Returns None only when all input was consumed;
  // otherwise call again with the rest, even when nothing is left.
  TStep Step(const char* in, size_t len, char* out);
  // The input ended without the "." line (a stored body, a dropped connection): closes
  // what is open. Call until it returns BodyEnd.
  TStep Finish();

  const TYencSection& Section() const { return section_; }
  bool InSection() const { return inSection_; }
  bool BodyEnded() const { return mode_ == TMode::Done; }

 private:
  enum class TMode : uint8_t { Lines, Keyword, Done };

  TStep RunKernel(const char* in, size_t len, char* out);
  TStep CollectKeyword(const char* in, size_t len);
  TEvent HandleKeywordLine();
  TEvent OpenSection(const TYencLine& begin);
  TEvent CloseSection();
  std::optional<TStep> TakePending();

  const TYencKernel* kernel_;
  TYencState state_;
  TMode mode_ = TMode::Lines;  // Lines: the kernel runs; Keyword: collecting a "=y" line
  bool inSection_ = false;   // decoded bytes go to the section
  bool dataSeen_ = false;    // the section has produced bytes: no "=ypart" any more
  bool computeCrc_ = true;
  std::string line_;         // the keyword line being collected
  bool lineTruncated_ = false;
  std::optional<TYencLine> pendingBegin_;  // an "=ybegin" that closed the previous section
  bool pendingBodyEnd_ = false;            // the body ended while a section was open
  TYencSection section_;
};

}  // namespace zev

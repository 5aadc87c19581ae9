#pragma once
// Cuts the byte stream of one NNTP connection into responses: the status line, and for a
// multi-line response the lines up to the one that holds a single ".". The socket may cut
// the stream anywhere (inside the status line, inside a line end, between "\r\n" and
// ".\r\n"); the framer looks only at complete lines, so where the cuts fall never matters.
//
// Article data stays in one buffer that grows geometrically; other multi-line data is
// handed on in blocks of complete lines whenever the buffer fills, so a 100 MB overview
// never sits in memory at once. Lines that start with ".." are left as they are.
//
// Everything from outside is bounded: a status line longer than kMaxStatusLine or a
// response that would need a buffer above kMaxBuffer is a protocol error, not an
// allocation without end.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "download/CommandSource.h"
#include "nntp/ReceiveBuffer.h"

namespace zev {

// A piece of a response on its way to a target, with the buffer that holds it.
struct FFramedBlock {
  TReceiveBuffer buffer;
  size_t dataBegin = 0;
  size_t dataEnd = 0;
  TBlockType type = btComplete;
  std::string_view Data() const { return {buffer.Data() + dataBegin, dataEnd - dataBegin}; }
};

class TResponseFramer {
 public:
  static constexpr size_t kStatusBufferSize = 512;
  static constexpr size_t kLineBufferSize = 262144;
  static constexpr size_t kArticleSlack = 16384;
  // The buffer first reserved for an article is never larger than this, whatever size the
  // overview claimed; a real larger article still grows past it.
  static constexpr size_t kMaxInitialArticle = 64u << 20;
  static constexpr size_t kMaxBuffer = 256u << 20;
  static constexpr size_t kMaxStatusLine = 16384;
  // Reads smaller than this are not worth a system call: the buffer is made room in first.
  static constexpr size_t kMinRead = 1024;

  enum TRoom {
    rmReady,     // Space() has room
    rmLinesDue,  // the buffer is full of complete lines: TakeLines() or DropLines() first
    rmTooLarge,  // the response exceeds the limits: a protocol error
  };

  struct FProgress {
    bool statusLine = false;  // the status line arrived with these bytes
    bool complete = false;    // the response is complete
    uint32_t lines = 0;       // complete data lines found in these bytes
    bool tooLarge = false;    // the status line exceeds kMaxStatusLine
  };

  // A new response is expected. `multiLine` is the caller's expectation; a status code of
  // 400 or above never carries data.
  void Begin(bool multiLine, TDataMode mode, uint64_t expected);
  // A buffer the handler is done with, for the next response that needs one.
  void Recycle(TReceiveBuffer&& spare);

  TRoom MakeRoom();
  std::span<char> Space() { return {buffer_.Data() + buffer_.Size(), buffer_.Free()}; }
  // `n` bytes were written at the start of Space().
  FProgress Commit(size_t n);

  bool StatusKnown() const { return statusKnown_; }
  uint16_t Code() const { return code_; }
  const std::string& StatusLine() const { return statusLine_; }
  bool MultiLine() const { return multiLine_; }
  bool Complete() const { return complete_; }
  // Bytes that followed the end of the response (a server that talks out of turn).
  size_t TrailingBytes() const { return trailing_; }

  // Bytes of complete data lines waiting in the buffer.
  size_t WholeLineBytes() const { return statusKnown_ && lineStart_ > dataBegin_ ? lineStart_ - dataBegin_ : 0; }
  // The complete lines in the buffer (a full one, or any when the handler is idle) as a
  // btFirst or btMiddle block; the unfinished line stays behind in a buffer of its own.
  FFramedBlock TakeLines();
  // The same lines dropped (a response nobody receives).
  void DropLines();
  // The data of a complete response as its btLast or btComplete block. The framer is left
  // without a buffer until the next Begin.
  FFramedBlock TakeFinal();
  // The data of a complete response, read in place.
  std::string_view FinalData() const { return {buffer_.Data() + dataBegin_, dataEnd_ - dataBegin_}; }

 private:
  void TakeBuffer(size_t capacity);
  void ParseStatusLine(size_t lineEnd);
  void ScanLines(FProgress& progress);
  void Finish(size_t terminatorStart, size_t terminatorEnd);
  bool Grow();

  TReceiveBuffer buffer_;
  TReceiveBuffer spare_;
  TDataMode mode_ = dmNone;
  bool multiLine_ = false;
  bool statusKnown_ = false;
  bool complete_ = false;
  bool firstBlock_ = true;    // nothing of this response was handed on yet
  uint16_t code_ = 0;
  std::string statusLine_;
  size_t scanPos_ = 0;        // where the search for the status line's end goes on
  size_t lineStart_ = 0;      // start of the first line not yet known to be complete
  size_t dataBegin_ = 0;
  size_t dataEnd_ = 0;
  size_t trailing_ = 0;
};

// The status code of a status line: its first three characters when they are digits,
// else 0 (not a valid answer).
uint16_t StatusCode(std::string_view statusLine);

}  // namespace zev

#pragma once
// What the body handler of the header retrieval needs of the decoder: turn one downloaded
// article body into files on disk. The decoder implements this and start-up points
// gBodyDecoder at it; until there is one, bodies are only counted (TBodyCounter).
#include <atomic>
#include <cstdint>
#include <string>

#include "db/MsgData.h"

namespace zev {

class TGroup;
class TServer;

enum TDecodeResult : uint8_t {
  drSaved,     // decoded and saved: the article is downloaded
  drFailed,    // could not be decoded: the article goes back to the queue
  drNotSaved,  // taken, but nothing was written (no decoder yet): the item is done, the
               // article stays marked and is not flagged downloaded
};

class TBodyDecoder {
 public:
  virtual ~TBodyDecoder() = default;
  // On a connection's response-handler thread. `body` is the article body as received
  // (CR LF lines, still dot-stuffed) and may be changed in place. An exception means the
  // file could not be written (a full disk, for instance).
  virtual TDecodeResult Decode(TGroup* group, TServer& slot, bool saveAsText, TArticleOffset offset,
                               std::string& body) = 0;
};

// Counts bodies and their bytes, and keeps nothing.
class TBodyCounter : public TBodyDecoder {
 public:
  TDecodeResult Decode(TGroup*, TServer&, bool, TArticleOffset, std::string& body) override {
    ++bodies_;
    bytes_ += body.size();
    return drNotSaved;
  }
  uint64_t Bodies() const { return bodies_.load(); }
  uint64_t Bytes() const { return bytes_.load(); }

 private:
  std::atomic<uint64_t> bodies_{0};
  std::atomic<uint64_t> bytes_{0};
};

inline TBodyDecoder* gBodyDecoder = nullptr;

}  // namespace zev

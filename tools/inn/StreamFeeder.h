#pragma once
// Feeds articles to innd the way a peer does: MODE STREAM, CHECK for a window of
// Message-IDs, TAKETHIS for those it wants, answers read as a batch. The socket's
// segment size is capped at 8 KiB before connecting: innd shrinks the receive buffer of
// feed connections, and with loopback's 64 KiB segments Linux then trickles a little
// every 200 ms.
#include <cstdint>
#include <string>
#include <vector>

#include "Article.h"

namespace zev::testserver {

struct FFeedResult {
  uint64_t accepted = 0;    // 239
  uint64_t duplicates = 0;  // 438 to CHECK: innd has it already
  uint64_t rejected = 0;    // 439, with the reasons
  std::vector<std::string> rejections;
};

class TStreamFeeder {
 public:
  // Throws std::runtime_error when innd cannot be reached or refuses streaming.
  TStreamFeeder(const std::string& host, uint16_t port);
  ~TStreamFeeder();
  TStreamFeeder(const TStreamFeeder&) = delete;
  TStreamFeeder& operator=(const TStreamFeeder&) = delete;

  FFeedResult Feed(const std::vector<TArticlePtr>& articles);

 private:
  void Send(std::string_view text);
  std::string ReadLine();
  void FeedWindow(const std::vector<TArticlePtr>& window, FFeedResult& result);

  int fd_ = -1;
  std::string buffer_;
};

}  // namespace zev::testserver

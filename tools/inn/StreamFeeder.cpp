#include "StreamFeeder.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zev::testserver {
namespace {

constexpr size_t kWindowArticles = 256;
constexpr size_t kWindowBytes = 32u << 20;

}  // namespace

TStreamFeeder::TStreamFeeder(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || !list)
    throw std::runtime_error("cannot resolve " + host);
  fd_ = socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int segment = 8192;
  setsockopt(fd_, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
  const int rc = connect(fd_, list->ai_addr, list->ai_addrlen);
  freeaddrinfo(list);
  if (rc != 0) throw std::runtime_error("connect to innd: " + std::string(std::strerror(errno)));
  std::string greeting = ReadLine();
  if (!greeting.starts_with("200")) throw std::runtime_error("innd greeting: " + greeting);
  Send("MODE STREAM\r\n");
  std::string mode = ReadLine();
  if (!mode.starts_with("203")) throw std::runtime_error("innd refused streaming: " + mode);
}

TStreamFeeder::~TStreamFeeder() {
  if (fd_ >= 0) {
    Send("QUIT\r\n");
    close(fd_);
  }
}

void TStreamFeeder::Send(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    ssize_t n = send(fd_, text.data() + pos, text.size() - pos, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send to innd failed: " + std::string(std::strerror(errno)));
    pos += static_cast<size_t>(n);
  }
}

std::string TStreamFeeder::ReadLine() {
  while (true) {
    size_t nl = buffer_.find("\r\n");
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 2);
      return line;
    }
    char chunk[4096];
    ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) throw std::runtime_error("innd closed the feed connection");
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

void TStreamFeeder::FeedWindow(const std::vector<TArticlePtr>& window, FFeedResult& result) {
  std::string checks;
  for (const TArticlePtr& a : window) checks += "CHECK " + a->messageId + "\r\n";
  Send(checks);
  std::vector<TArticlePtr> wanted;
  for (const TArticlePtr& a : window) {
    const std::string reply = ReadLine();
    if (reply.starts_with("238") || reply.starts_with("431")) wanted.push_back(a);
    else if (reply.starts_with("438")) ++result.duplicates;
    else throw std::runtime_error("unexpected answer to CHECK: " + reply);
  }
  for (const TArticlePtr& a : wanted) {
    Send("TAKETHIS " + a->messageId + "\r\n");
    Send(a->Whole());
    Send(".\r\n");
  }
  for (size_t i = 0; i < wanted.size(); ++i) {
    const std::string reply = ReadLine();
    if (reply.starts_with("239")) {
      ++result.accepted;
    } else if (reply.starts_with("439")) {
      ++result.rejected;
      result.rejections.push_back(reply);
    } else {
      throw std::runtime_error("unexpected answer to TAKETHIS: " + reply);
    }
  }
}

FFeedResult TStreamFeeder::Feed(const std::vector<TArticlePtr>& articles) {
  FFeedResult result;
  std::vector<TArticlePtr> window;
  size_t bytes = 0;
  for (const TArticlePtr& a : articles) {
    window.push_back(a);
    bytes += a->wire.size();
    if (window.size() >= kWindowArticles || bytes >= kWindowBytes) {
      FeedWindow(window, result);
      window.clear();
      bytes = 0;
    }
  }
  if (!window.empty()) FeedWindow(window, result);
  return result;
}

}  // namespace zev::testserver

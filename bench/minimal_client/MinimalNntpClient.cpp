#include "MinimalNntpClient.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zev::bench {
namespace {

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool MultiLineCode(int code) {
  return code == 100 || code == 101 || code == 215 || code == 220 || code == 221 || code == 222 || code == 224 ||
         code == 225 || code == 230 || code == 231;
}

class TConnectionRun {
 public:
  TConnectionRun(const FMinimalClientOptions& options, int index, std::atomic<uint64_t>& received)
      : options_(options), index_(index), received_(received), buffer_(4 << 20) {}

  void Run() {
    Connect();
    ReadResponse();  // greeting
    if (!options_.user.empty()) {
      Send("AUTHINFO USER " + options_.user + "\r\n");
      ReadResponse();
      Send("AUTHINFO PASS " + options_.password + "\r\n");
      if (ReadResponse() != 281) throw std::runtime_error("login refused");
    }
    if (!options_.group.empty()) {
      Send("GROUP " + options_.group + "\r\n");
      if (ReadResponse() != 211) throw std::runtime_error("GROUP " + options_.group + " refused");
    }
    int inFlight = 0;
    while (true) {
      while (inFlight < options_.pipeline && received_.load(std::memory_order_relaxed) < options_.totalBytes &&
             (options_.requests == 0 || next_ < options_.requests)) {
        SendNext();
        ++inFlight;
      }
      if (inFlight == 0) break;
      const int code = ReadResponse();
      if (code >= 400) throw std::runtime_error("server answered " + std::to_string(code));
      ++responses_;
      --inFlight;
    }
    Send("QUIT\r\n");
    close(fd_);
  }

  uint64_t responses_ = 0;
  uint64_t bytes_ = 0;

 private:
  void Connect() {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(options_.host.c_str(), std::to_string(options_.port).c_str(), &hints, &list) != 0 || !list)
      throw std::runtime_error("cannot resolve " + options_.host);
    fd_ = socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int rc = connect(fd_, list->ai_addr, list->ai_addrlen);
    freeaddrinfo(list);
    if (rc != 0) throw std::runtime_error("connect: " + std::string(std::strerror(errno)));
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }

  void Send(const std::string& text) {
    for (size_t pos = 0; pos < text.size();) {
      ssize_t n = send(fd_, text.data() + pos, text.size() - pos, MSG_NOSIGNAL);
      if (n <= 0) throw std::runtime_error("send failed");
      pos += static_cast<size_t>(n);
    }
  }

  void SendNext() {
    const uint64_t span = options_.last - options_.first + 1;
    if (options_.command == "XOVER") {
      const uint64_t chunks = (span + options_.xoverChunk - 1) / options_.xoverChunk;
      const uint64_t low = options_.first + (next_ * options_.connections + index_) % chunks * options_.xoverChunk;
      const uint64_t high = std::min(options_.last, low + options_.xoverChunk - 1);
      Send("XOVER " + std::to_string(low) + "-" + std::to_string(high) + "\r\n");
    } else {
      const uint64_t n = options_.first + (next_ * options_.connections + index_) % span;
      Send(options_.command + " " + std::to_string(n) + "\r\n");
    }
    ++next_;
  }

  // Makes room and reads more; false never: a closed connection is an error here.
  void Fill() {
    if (pos_ > 0 && (pos_ == end_ || end_ > buffer_.size() / 2)) {
      std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
      end_ -= pos_;
      pos_ = 0;
    }
    ssize_t n = recv(fd_, buffer_.data() + end_, buffer_.size() - end_, 0);
    if (n <= 0) throw std::runtime_error(n == 0 ? "server closed the connection" : "recv failed");
    end_ += static_cast<size_t>(n);
    bytes_ += static_cast<uint64_t>(n);
    received_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
  }

  int ReadResponse() {
    const char* nl;
    while (!(nl = static_cast<const char*>(std::memchr(buffer_.data() + pos_, '\n', end_ - pos_)))) Fill();
    const int code = std::atoi(buffer_.data() + pos_);
    pos_ = static_cast<size_t>(nl - buffer_.data()) + 1;
    if (MultiLineCode(code)) SkipData();
    return code;
  }

  // Finds the line that holds a single dot: only line starts are looked at, and the
  // line ends are found with memchr, which is as fast as scanning gets.
  void SkipData() {
    while (true) {
      while (end_ - pos_ < 3) Fill();
      const char* p = buffer_.data() + pos_;
      if (p[0] == '.' && p[1] == '\r' && p[2] == '\n') {
        pos_ += 3;
        return;
      }
      const char* nl;
      while (!(nl = static_cast<const char*>(std::memchr(buffer_.data() + pos_, '\n', end_ - pos_)))) {
        pos_ = end_;
        Fill();
      }
      pos_ = static_cast<size_t>(nl - buffer_.data()) + 1;
    }
  }

  const FMinimalClientOptions& options_;
  const int index_;
  std::atomic<uint64_t>& received_;
  std::vector<char> buffer_;
  size_t pos_ = 0, end_ = 0;
  int fd_ = -1;
  uint64_t next_ = 0;
};

}  // namespace

FMinimalClientResult RunMinimalClient(const FMinimalClientOptions& options) {
  FMinimalClientResult result;
  std::atomic<uint64_t> received{0};
  std::mutex mutex;
  std::vector<std::thread> threads;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < options.connections; ++i)
    threads.emplace_back([&, i] {
      TConnectionRun run(options, i, received);
      std::string error;
      try {
        run.Run();
      } catch (const std::exception& e) {
        error = e.what();
      }
      const double cpu = ThreadCpuSeconds();
      std::lock_guard lock(mutex);
      result.bytes += run.bytes_;
      result.responses += run.responses_;
      result.cpuSeconds += cpu;
      if (!error.empty() && result.error.empty()) result.error = "connection " + std::to_string(i + 1) + ": " + error;
    });
  for (std::thread& t : threads) t.join();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace zev::bench

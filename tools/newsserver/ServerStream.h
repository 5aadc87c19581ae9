#pragma once
// The byte stream of one client connection, plain TCP or TLS.
#include <sys/uio.h>

#include <cstddef>
#include <memory>
#include <string>

#include <openssl/ssl.h>

namespace zev::testserver {

class TServerStream {
 public:
  virtual ~TServerStream() = default;
  // Bytes read, 0 when the peer closed, -1 on error.
  virtual long Read(char* buffer, size_t size) = 0;
  // Writes everything or returns false (the connection is then broken).
  virtual bool WriteAll(const iovec* parts, int count) = 0;
  bool WriteAll(const char* data, size_t size) {
    iovec part{const_cast<char*>(data), size};
    return WriteAll(&part, 1);
  }
  // Aborts the connection with a TCP reset, as a crashing server or a middlebox would.
  virtual void Reset() = 0;
  virtual int Fd() const = 0;
};

// Owns the socket; closes it on destruction.
class TPlainStream : public TServerStream {
 public:
  explicit TPlainStream(int fd) : fd_(fd) {}
  ~TPlainStream() override;
  long Read(char* buffer, size_t size) override;
  bool WriteAll(const iovec* parts, int count) override;
  using TServerStream::WriteAll;
  void Reset() override;
  int Fd() const override { return fd_; }

 private:
  int fd_;
};

class TTlsStream : public TServerStream {
 public:
  // Takes the socket; Handshake must succeed before reading or writing.
  TTlsStream(int fd, SSL_CTX* context);
  ~TTlsStream() override;
  bool Handshake(std::string& error);
  long Read(char* buffer, size_t size) override;
  bool WriteAll(const iovec* parts, int count) override;
  using TServerStream::WriteAll;
  void Reset() override;
  int Fd() const override { return fd_; }

 private:
  int fd_;
  SSL* ssl_;
};

// Turns on TCP_NODELAY so that each write leaves as its own segment: the fault
// injection relies on it, and it is what a server serving data should do anyway.
void SetNoDelay(int fd);
// Closes the socket with a reset (SO_LINGER 0) instead of an orderly FIN.
void ResetSocket(int fd);

}  // namespace zev::testserver

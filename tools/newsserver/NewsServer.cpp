#include "NewsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "ServerStream.h"

namespace zev::testserver {
namespace {

std::string OpenSslError() {
  char text[256];
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  return text;
}

SSL_CTX* MakeTlsContext(const std::string& certPem, const std::string& keyPem) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  BIO* certBio = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
  BIO* keyBio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
  X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
  EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
  const bool ok = cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1 &&
                  SSL_CTX_check_private_key(ctx) == 1;
  // Further certificates in the PEM (an intermediate) go out as the chain.
  while (X509* extra = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr)) SSL_CTX_add0_chain_cert(ctx, extra);
  X509_free(cert);
  EVP_PKEY_free(key);
  BIO_free(certBio);
  BIO_free(keyBio);
  if (!ok) {
    std::string error = OpenSslError();
    SSL_CTX_free(ctx);
    throw std::runtime_error("TLS certificate or key unusable: " + error);
  }
  return ctx;
}

std::string PeerText(const sockaddr_storage& addr) {
  char host[INET6_ADDRSTRLEN] = "?";
  if (addr.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in->sin_port));
  }
  const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
  inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
  return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6->sin6_port));
}

}  // namespace

TNewsServer::TNewsServer(std::shared_ptr<TArticleStore> store, FServerOptions options)
    : store_(std::move(store)), options_(std::move(options)) {
  transcripts_.Configure(options_.transcriptDir, options_.keepTranscripts);
}

TNewsServer::~TNewsServer() {
  Stop();
  if (tls_) SSL_CTX_free(tls_);
}

int TNewsServer::Bind(const std::string& address, int port, uint16_t& boundPort) {
  sockaddr_storage addr{};
  socklen_t length = 0;
  auto* in = reinterpret_cast<sockaddr_in*>(&addr);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (inet_pton(AF_INET, address.c_str(), &in->sin_addr) == 1) {
    in->sin_family = AF_INET;
    in->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in);
  } else if (inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in6);
  } else {
    throw std::runtime_error("not a numeric address: " + address);
  }
  int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (addr.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 || listen(fd, 128) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  boundPort = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                               : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  return fd;
}

void TNewsServer::OpenListeners() {
  // The first address picks the port when 0 is asked for; the others take the same one.
  // When that port is taken on another address, start over with a fresh one.
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::vector<FListener> opened;
    bool failed = false;
    for (bool tls : {false, true}) {
      const int wanted = tls ? options_.tlsPort : options_.port;
      if (wanted < 0) continue;
      uint16_t& known = tls ? tlsPort_ : port_;
      int port = known != 0 ? known : wanted;
      for (const std::string& address : options_.bindAddresses) {
        uint16_t bound = 0;
        int fd = Bind(address, port, bound);
        if (fd < 0) {
          if (wanted != 0 || known != 0 || port == 0) {
            const std::string error = std::strerror(errno);
            for (FListener& l : opened) close(l.fd);
            throw std::runtime_error("cannot listen on " + address + " port " + std::to_string(port) + ": " + error);
          }
          failed = true;
          break;
        }
        port = bound;
        opened.push_back(FListener{address, tls, fd});
      }
      if (failed) break;
      if (known == 0) known = static_cast<uint16_t>(port);
    }
    if (!failed) {
      listeners_ = std::move(opened);
      return;
    }
    for (FListener& l : opened) close(l.fd);
    if (options_.port == 0 && !started_) port_ = 0;
    if (options_.tlsPort == 0 && !started_) tlsPort_ = 0;
  }
  throw std::runtime_error("no free port shared by all bind addresses");
}

void TNewsServer::CloseListeners() {
  for (FListener& l : listeners_) close(l.fd);
  listeners_.clear();
}

void TNewsServer::Start() {
  if (started_) return;
  // Writing to a socket whose client has gone must not end the process. OpenSSL writes
  // through write(2), which knows no MSG_NOSIGNAL, so the signal itself is ignored.
  std::signal(SIGPIPE, SIG_IGN);
  if (options_.tlsPort >= 0) tls_ = MakeTlsContext(options_.tlsCertPem, options_.tlsKeyPem);
  OpenListeners();
  if (pipe2(wakePipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  started_ = true;
  acceptThread_ = std::thread(&TNewsServer::AcceptLoop, this);
}

void TNewsServer::Wake() {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(wakePipe_[1], &byte, 1);
}

void TNewsServer::Stop() {
  if (!started_) return;
  stop_.Raise();
  Wake();
  acceptThread_.join();
  {
    std::lock_guard lock(workersMutex_);
    // Wakes every connection thread blocked in a read or a write.
    for (int fd : liveSockets_) shutdown(fd, SHUT_RDWR);
  }
  for (FWorker& worker : workers_) worker.thread.join();
  workers_.clear();
  CloseListeners();
  close(wakePipe_[0]);
  close(wakePipe_[1]);
  started_ = false;
}

void TNewsServer::SetRefusing(bool refusing) {
  if (!started_) throw std::logic_error("SetRefusing needs a started server");
  std::unique_lock lock(stateMutex_);
  wantRefusing_ = refusing;
  Wake();
  stateChanged_.wait(lock, [&] { return refusing_ == refusing || stop_.Raised(); });
}

void TNewsServer::AcceptLoop() {
  while (!stop_.Raised()) {
    std::vector<pollfd> fds{{wakePipe_[0], POLLIN, 0}};
    for (const FListener& l : listeners_) fds.push_back({l.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      char drain[64];
      [[maybe_unused]] ssize_t n = read(wakePipe_[0], drain, sizeof drain);
      std::lock_guard lock(stateMutex_);
      if (wantRefusing_ != refusing_) {
        if (wantRefusing_) CloseListeners();
        else OpenListeners();
        refusing_ = wantRefusing_;
      }
      stateChanged_.notify_all();
      continue;
    }
    for (size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents & POLLIN) Accept(listeners_[i - 1]);
    ReapWorkers();
  }
  std::lock_guard lock(stateMutex_);
  stateChanged_.notify_all();
}

void TNewsServer::Accept(const FListener& listener) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  int fd = accept4(listener.fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd < 0) return;
  SetNoDelay(fd);
  const uint32_t connection = ++total_;
  transcripts_.Open(connection, listener.tls, PeerText(peer));
  std::lock_guard lock(workersMutex_);
  liveSockets_.insert(fd);
  FWorker& worker = workers_.emplace_back();
  worker.thread = std::thread(&TNewsServer::Serve, this, fd, listener.tls, connection, &worker);
}

void TNewsServer::Serve(int fd, bool tls, uint32_t connection, FWorker* worker) {
  ::pthread_setname_np(::pthread_self(), "newsd-session");
  const uint32_t active = ++active_;
  {
    std::unique_ptr<TServerStream> stream;
    bool ready = true;
    if (tls) {
      auto tlsStream = std::make_unique<TTlsStream>(fd, tls_);
      std::string error;
      ready = tlsStream->Handshake(error);
      if (!ready) transcripts_.Add(connection, tkEvent, "TLS handshake failed: " + error);
      stream = std::move(tlsStream);
    } else {
      stream = std::make_unique<TPlainStream>(fd);
    }
    if (ready) {
      TNntpSession session(*store_, options_.session, faults_, transcripts_, stop_, *stream, connection);
      if (options_.maxConnections != 0 && active > options_.maxConnections) session.RefuseFull(options_.limitCode);
      else session.Run();
    }
    std::lock_guard lock(workersMutex_);
    // Out of the live set before the stream closes the descriptor, so that Stop() never
    // shuts down a number the system has already handed to someone else.
    liveSockets_.erase(fd);
  }
  --active_;
  transcripts_.Close(connection);
  worker->done = true;
}

void TNewsServer::ReapWorkers() {
  std::lock_guard lock(workersMutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace zev::testserver

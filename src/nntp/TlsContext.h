#pragma once
// The trust the program puts in news servers that speak TLS: the system's trusted
// certificates (OpenSSL's default store), and for tests extra CA certificates given as
// PEM text. One context serves every connection; OpenSSL contexts are thread-safe once
// set up.
#include <memory>
#include <string>

struct ssl_ctx_st;

namespace zev {

class TTlsContext {
 public:
  // Trusts the system store, plus the certificates of `extraCaPem` when given. Throws
  // EZevError when OpenSSL cannot make a context.
  explicit TTlsContext(const std::string& extraCaPem = {}, bool systemStore = true);
  ~TTlsContext();
  TTlsContext(const TTlsContext&) = delete;
  TTlsContext& operator=(const TTlsContext&) = delete;

  ssl_ctx_st* Get() const { return ctx_; }

  // The process-wide context over the system store, made on first use.
  static std::shared_ptr<TTlsContext> System();

 private:
  ssl_ctx_st* ctx_ = nullptr;
};

// A SHA-256 fingerprint in its canonical form ("AB:CD:..."), whatever form the user typed
// it in (lower case, without colons, with blanks); "" when it is not 32 bytes of hex.
std::string NormalizeFingerprint(const std::string& text);

}  // namespace zev

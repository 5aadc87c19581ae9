#include "db/Server.h"

#include "core/Config.h"
#include "db/ResetSchedule.h"
#include "db/SlotConnection.h"

namespace zev {

namespace {

constexpr std::string_view kFallbackInvalidChars = "\\/:*?\"<>|";
constexpr size_t kFileNameLimit = 255;

bool IsUnsafeInName(char c, std::string_view invalidChars) {
  auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F || c == '/' || c == '\\' || invalidChars.find(c) != std::string_view::npos;
}

// Cuts at a byte limit without leaving half of a UTF-8 sequence behind.
void CutUtf8(std::string& text, size_t limit) {
  if (text.size() <= limit) return;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

}  // namespace

TServer::TServer(TServerNodeType type, std::string name, TServer* parent)
    : MaxConn(type == snNewsServer ? 1 : 100),
      Daily(kDefaultDailyReset),
      Monthly(kDefaultMonthlyReset),
      type_(type),
      parent_(parent),
      name_(std::move(name)) {}

TServer::~TServer() = default;

TServer& TServer::NewsServer() { return IsSlot() && parent_ ? *parent_ : *this; }
const TServer& TServer::NewsServer() const { return IsSlot() && parent_ ? *parent_ : *this; }

int TServer::IconIndex() const {
  switch (type_) {
    case snNewsServer: return 1;
    case snSlot: return 3;
    default: return 0;
  }
}

std::string TServer::Name() const {
  std::lock_guard lock(textLock_);
  return name_;
}

void TServer::SetName(std::string name) {
  std::lock_guard lock(textLock_);
  name_ = std::move(name);
}

std::string TServer::Host() const {
  std::lock_guard lock(textLock_);
  return host_;
}

void TServer::SetHost(std::string host) {
  if (IsSlot() && parent_) return parent_->SetHost(std::move(host));
  {
    std::lock_guard lock(textLock_);
    if (host_ == host) return;
    host_ = std::move(host);
  }
  ForgetResolvedBelow();
}

void TServer::ForgetResolvedBelow() {
  ForgetResolved();
  for (auto& child : children_)
    if (!child->IsSlot()) child->ForgetResolvedBelow();
}

std::string TServer::User() const {
  std::lock_guard lock(textLock_);
  return user_;
}

std::string TServer::Pass() const {
  std::lock_guard lock(textLock_);
  return pass_;
}

void TServer::SetLogin(std::string user, std::string pass) {
  std::lock_guard lock(textLock_);
  user_ = std::move(user);
  pass_ = std::move(pass);
}

std::string TServer::TlsFingerprint() const {
  std::lock_guard lock(textLock_);
  return tlsFingerprint_;
}

void TServer::SetTlsFingerprint(std::string fingerprint) {
  std::lock_guard lock(textLock_);
  tlsFingerprint_ = std::move(fingerprint);
}

void TServer::SetPreference(int8_t value) {
  preference_ = value;
  SetFlag(sfNegPreference, value < 0);
  SetFlag(sfPosPreference, value > 0);
}

void TServer::InheritFromParent() {
  if (!parent_) return;
  const TServer& p = *parent_;
  Flags = (Flags.load() & kOwnServerFlags) | (p.Flags.load() & ~kOwnServerFlags);
  HdrBlock = p.HdrBlock.load();
  MaxHeaders = p.MaxHeaders.load();
  ChunkSize = p.ChunkSize.load();
  Bandwidth = p.Bandwidth.load();
  preference_ = p.preference_.load();
  Retry = p.Retry.load();
  TimeOut = p.TimeOut.load();
  Idle = p.Idle.load();
  ServerMode = p.ServerMode.load();
  if (IsSlot()) return;
  for (auto& child : children_)
    if (!child->IsSlot() && child->Has(sfInherit)) child->InheritFromParent();
}

void TServer::AddReceivedBytes(uint64_t n) {
  for (TServer* node = this; node; node = node->parent_) {
    node->Rate.AddReceived(n);
    node->Daily.AddReceived(n);
    node->Monthly.AddReceived(n);
  }
}

void TServer::AddArticleBytes(uint64_t n) {
  for (TServer* node = this; node; node = node->parent_) {
    node->Daily.AddBodies(n);
    node->Monthly.AddBodies(n);
  }
}

void TServer::BeginTransfer(int64_t tick) {
  // A slot is either transferring or not; when it already is, its ancestors have counted
  // it too.
  if (!Rate.BeginTransfer(tick, IsSlot())) return;
  for (TServer* node = parent_; node; node = node->parent_) node->Rate.BeginTransfer(tick, false);
}

void TServer::EndTransfer(int64_t tick) {
  if (!Rate.EndTransfer(tick, IsSlot())) return;
  for (TServer* node = parent_; node; node = node->parent_) node->Rate.EndTransfer(tick, false);
}

void TServer::SetState(TConnState state) {
  state_ = state;
  if (state >= csGroup && state <= csArticle) return;
  TSlotConnection* connection = Connection.load();
  if (connection && connection->HeldItemCount() > 0) connection->ReleaseCurrentItem();
}

std::string TServer::ResolvedAddress() const {
  std::lock_guard lock(textLock_);
  return resolvedAddress_;
}

std::vector<FServerAddress> TServer::AddressInfo() const {
  std::lock_guard lock(textLock_);
  return addressInfo_;
}

void TServer::SetResolved(std::string text, std::vector<FServerAddress> addresses) {
  std::lock_guard lock(textLock_);
  resolvedAddress_ = std::move(text);
  addressInfo_ = std::move(addresses);
}

void TServer::ForgetResolved() { SetResolved({}, {}); }

std::string ServerDirName(std::string_view host, uint16_t port, std::string_view invalidChars) {
  std::string name;
  for (char c : host) name += IsUnsafeInName(c, invalidChars) ? '_' : c;
  std::string suffix = "." + std::to_string(port);
  CutUtf8(name, kFileNameLimit - suffix.size());
  return name + suffix;
}

std::string ServerDataDir(const TServer& server, const std::string& dataStore, std::string_view invalidChars) {
  std::string dir = dataStore;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const TServer& s = server.NewsServer();
  return dir + ServerDirName(s.Host(), s.Port.load(), invalidChars) + "/";
}

std::string ServerDataDir(const TServer& server) {
  if (!gConfig) return ServerDataDir(server, {}, kFallbackInvalidChars);
  return ServerDataDir(server, gConfig->DataStore, gConfig->InvalidCharList);
}

}  // namespace zev

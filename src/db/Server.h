#pragma once
// A node of the server tree (TServerTree): a root, a folder, a news server or one
// connection slot of a news server. Folders pass their settings down to the nodes below
// them that inherit; each news server has one slot per allowed simultaneous connection.
//
// The tree is built and changed on the user-interface thread, but connection threads
// read the settings of their server and update the run-time fields of their slot and
// its ancestors at any time. Numbers are therefore atomic, texts are copied in and out
// under the node's lock, and the tree structure (Parent, Children) is changed only under
// the tree's lock (TServerTree::Lock).
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "db/ConnState.h"
#include "db/PeriodTotals.h"
#include "db/RateMeter.h"
#include "db/ServerFlags.h"
#include "db/SlotStatus.h"

namespace zev {

class TSlotConnection;

// The port of NNTP over implicit TLS, offered when a server is switched to TLS.
constexpr uint16_t kDefaultTlsPort = 563;

// One resolved address of a news server, as the connection last looked it up.
struct FServerAddress {
  sockaddr_storage addr{};
  socklen_t length = 0;
};

class TServer {
 public:
  TServer(TServerNodeType type, std::string name, TServer* parent);
  ~TServer();
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  // --- Tree position (UI thread, or the tree's lock held) ---
  TServerNodeType Type() const { return type_; }
  bool IsNewsServer() const { return type_ == snNewsServer; }
  bool IsSlot() const { return type_ == snSlot; }
  bool IsFolderLike() const { return type_ == snRoot || type_ == snFolder; }
  TServer* Parent() const { return parent_; }
  const std::vector<std::unique_ptr<TServer>>& Children() const { return children_; }
  // The news server of a slot, the node itself otherwise.
  TServer& NewsServer();
  const TServer& NewsServer() const;
  // 0 root and folders, 1 news servers, 3 connection slots.
  int IconIndex() const;

  // --- Texts (any thread) ---
  std::string Name() const;
  void SetName(std::string name);
  std::string Host() const;
  // On a slot acts on its server. A changed host forgets the resolved addresses (for a
  // folder: those of every server below it).
  void SetHost(std::string host);
  std::string User() const;
  std::string Pass() const;
  void SetLogin(std::string user, std::string pass);

  // --- Settings ---
  std::atomic<uint16_t> Port{119};
  std::atomic<uint32_t> MaxConn;
  std::atomic<uint32_t> HdrBlock{50};
  std::atomic<uint32_t> MaxHeaders{100000};
  std::atomic<uint32_t> ChunkSize{5000};
  std::atomic<uint32_t> Bandwidth{1};  // kB/s
  std::atomic<uint32_t> Retry{10};
  std::atomic<uint32_t> TimeOut{120};
  std::atomic<uint32_t> Idle{240};
  std::atomic<uint32_t> ServerMode{smNormal};
  std::atomic<uint32_t> Flags{ServerFlagBit(sfAlways)};
  TPeriodTotals Daily;
  TPeriodTotals Monthly;
  // Implicit TLS (NNTPS). The fingerprint, when set, is the SHA-256 of a certificate the
  // user chose to trust although no trusted authority vouches for it ("AB:CD:...").
  std::atomic<bool> UseTls{false};
  std::string TlsFingerprint() const;
  void SetTlsFingerprint(std::string fingerprint);

  int8_t Preference() const { return preference_.load(); }
  // Also sets the derived bits sfNegPreference and sfPosPreference.
  void SetPreference(int8_t value);
  bool Has(TServerFlag f) const { return (Flags.load() & ServerFlagBit(f)) != 0; }
  void Include(TServerFlag f) { Flags.fetch_or(ServerFlagBit(f)); }
  void Exclude(TServerFlag f) { Flags.fetch_and(~ServerFlagBit(f)); }
  void SetFlag(TServerFlag f, bool on) { on ? Include(f) : Exclude(f); }

  // Takes over the parent's settings (all flags but kOwnServerFlags, limits, timings,
  // preference and mode), then, unless this is a slot, passes them on to every child
  // that is not a slot and inherits.
  void InheritFromParent();

  // --- Run time, changed by connection threads ---
  // Counts received bytes on this node and every ancestor: the rate, "Today" and "Month".
  void AddReceivedBytes(uint64_t n);
  // Counts article-body bytes on this node and every ancestor.
  void AddArticleBytes(uint64_t n);
  // A transfer starts or ends on this node (a slot counts at most one at a time) and on
  // every ancestor.
  void BeginTransfer(int64_t tick);
  void EndTransfer(int64_t tick);
  double AverageRate(int64_t nowTick) const { return Rate.AverageRate(nowTick); }
  double CurrentRate() const { return Rate.CurrentRate(); }

  TRateMeter Rate;
  TConnState State() const { return static_cast<TConnState>(state_.load()); }
  // Stores a slot's state. A state outside csGroup..csArticle means the slot is no longer
  // working on its queue item, which then goes back to the queue.
  void SetState(TConnState state);
  // Sets the state without touching any queue item (aggregate state of a news server).
  void StoreState(TConnState state) { state_ = state; }
  std::atomic<bool> Paused{false};
  std::atomic<uint32_t> BusyCount{0};

  // News servers only.
  std::atomic<uint32_t> CommandsChecked{0};  // claimed by exchange: the first connection checks commands
  std::atomic<bool> ServerGroupsDirty{false};
  // Guards the server's newsgroup-list file.
  std::shared_mutex& GroupListLock() { return groupListLock_; }
  std::string ResolvedAddress() const;
  std::vector<FServerAddress> AddressInfo() const;
  void SetResolved(std::string text, std::vector<FServerAddress> addresses);
  void ForgetResolved();

  // Connection slots only.
  std::atomic<TSlotConnection*> Connection{nullptr};
  std::atomic<bool> AutoStarted{false};
  std::atomic<bool> Encrypted{false};  // the running connection speaks TLS
  TSlotStatus Status;

 private:
  friend class TServerTree;
  void ForgetResolvedBelow();

  const TServerNodeType type_;
  TServer* parent_;
  std::vector<std::unique_ptr<TServer>> children_;

  mutable std::mutex textLock_;
  std::string name_, host_, user_, pass_;
  std::string tlsFingerprint_;
  std::string resolvedAddress_;
  std::vector<FServerAddress> addressInfo_;

  std::atomic<int8_t> preference_{0};
  std::atomic<uint8_t> state_{csIdle};
  std::shared_mutex groupListLock_;
};

// The directory of a news server's own files (offset maps, newsgroup list, connection
// logs), with a trailing "/": the data directory + host + "." + port. Characters of
// `invalidChars`, "/", "\" and control characters in the host become "_", and the name
// never exceeds the file-name limit, so any host text (an IPv6 literal too) stays one
// directory inside the data directory. The directory is not created.
std::string ServerDataDir(const TServer& server, const std::string& dataStore, std::string_view invalidChars);
// The same with the configuration's "DataStore" and "InvalidCharList".
std::string ServerDataDir(const TServer& server);
// Just the directory name, for callers that only have the host and port.
std::string ServerDirName(std::string_view host, uint16_t port, std::string_view invalidChars);

}  // namespace zev

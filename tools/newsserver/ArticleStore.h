#pragma once
// The groups and articles a test server serves. Tests fill it before or while the
// server runs; sessions read it under a shared lock, writers take it exclusively.
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Article.h"
#include "BulkGroup.h"
#include "NewsGroup.h"

namespace zev::testserver {

class TArticleStore {
 public:
  // Adds a group, or returns the existing one of that name.
  TStoredGroup& AddGroup(const std::string& name, const std::string& description = {},
                         int64_t created = kDefaultGroupCreated);
  TBulkGroup& AddBulkGroup(const FBulkOptions& options);
  // Adds a group of any other kind; throws std::invalid_argument when the name exists.
  TNewsGroup& AddCustomGroup(std::unique_ptr<TNewsGroup> group);
  // Posts one article to one or more groups (a cross-post keeps one article object and
  // gets one number per group); missing groups are created. Returns the numbers.
  std::vector<uint64_t> Post(const std::vector<std::string>& groups, TArticlePtr article);
  uint64_t Post(const std::string& group, std::vector<FHeader> headers, std::string_view body);
  // Posts under a chosen number (a spool file named by its number); a number already
  // used is replaced.
  void PostNumbered(const std::string& group, uint64_t number, TArticlePtr article);
  // Takes an article out of one group, as expiry or a cancel would.
  bool Remove(const std::string& group, uint64_t number);
  void SetRequiresAuth(const std::string& group, bool value);

  // Readers hold this while they use group pointers or look-ups below.
  std::shared_lock<std::shared_mutex> ReadLock() const { return std::shared_lock(mutex_); }
  const TNewsGroup* FindGroup(std::string_view name) const;
  TArticlePtr FindMessageId(std::string_view messageId) const;
  // Every group, sorted by name.
  std::vector<const TNewsGroup*> Groups() const;

 private:
  TStoredGroup& StoredGroupLocked(const std::string& name);

  mutable std::shared_mutex mutex_;
  std::map<std::string, std::unique_ptr<TNewsGroup>, std::less<>> groups_;
  std::unordered_map<std::string, TArticlePtr> byMessageId_;
  std::vector<const TBulkGroup*> bulkGroups_;
};

}  // namespace zev::testserver

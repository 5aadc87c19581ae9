#pragma once
// A newsgroup as the session reads it. Two kinds exist: groups that hold real article
// objects (TStoredGroup) and bulk groups whose overview is computed on demand
// (TBulkGroup), so that a million headers cost a few hundred kilobytes.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "Article.h"

namespace zev::testserver {

// 2024-01-01 00:00:00 UTC: groups are "created" then unless a test says otherwise.
constexpr int64_t kDefaultGroupCreated = 1704067200;

class TNewsGroup {
 public:
  TNewsGroup(std::string name, std::string description, int64_t created)
      : name_(std::move(name)), description_(std::move(description)), created_(created) {}
  virtual ~TNewsGroup() = default;
  TNewsGroup(const TNewsGroup&) = delete;
  TNewsGroup& operator=(const TNewsGroup&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Description() const { return description_; }
  int64_t Created() const { return created_; }
  // Readable only after AUTHINFO (like a provider's private hierarchy).
  bool RequiresAuth() const { return requiresAuth_; }
  void SetRequiresAuth(bool value) { requiresAuth_ = value; }

  virtual uint64_t Count() const = 0;
  // Lowest and highest numbers; an empty group reports low = high + 1 (RFC 3977).
  virtual uint64_t Low() const = 0;
  virtual uint64_t High() const = 0;
  // The first existing number >= n, or 0 when there is none.
  virtual uint64_t NextNumber(uint64_t n) const = 0;
  // nullptr when the number does not exist.
  virtual TArticlePtr Article(uint64_t n) const = 0;
  virtual std::string Xref(uint64_t n) const = 0;
  // Appends the overview line of an existing article (without line end).
  virtual void AppendOverview(uint64_t n, std::string& out) const;
  // A header or metadata value of an existing article; false when absent.
  virtual bool HeaderValue(uint64_t n, std::string_view name, std::string& value) const;

 private:
  std::string name_;
  std::string description_;
  int64_t created_;
  bool requiresAuth_ = false;
};

class TStoredGroup : public TNewsGroup {
 public:
  using TNewsGroup::TNewsGroup;

  uint64_t Count() const override { return articles_.size(); }
  uint64_t Low() const override;
  uint64_t High() const override;
  uint64_t NextNumber(uint64_t n) const override;
  TArticlePtr Article(uint64_t n) const override;
  std::string Xref(uint64_t n) const override;

  // Numbers continue after the highest ever used, as on a real server, even after removals.
  uint64_t NextFreeNumber() const { return nextNumber_; }
  void Put(uint64_t n, TArticlePtr article, std::string xref);
  bool Remove(uint64_t n);
  // Lets a test make a group that starts high, as real groups do.
  void SetNextNumber(uint64_t n) { if (n > nextNumber_) nextNumber_ = n; }

 private:
  struct FEntry {
    TArticlePtr article;
    std::string xref;
  };
  std::map<uint64_t, FEntry> articles_;
  uint64_t nextNumber_ = 1;
};

}  // namespace zev::testserver

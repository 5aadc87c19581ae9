#include "ArticleStore.h"

#include <stdexcept>

namespace zev::testserver {

TStoredGroup& TArticleStore::StoredGroupLocked(const std::string& name) {
  auto it = groups_.find(name);
  if (it == groups_.end())
    it = groups_.emplace(name, std::make_unique<TStoredGroup>(name, std::string(), kDefaultGroupCreated)).first;
  auto* stored = dynamic_cast<TStoredGroup*>(it->second.get());
  if (!stored) throw std::invalid_argument("group " + name + " is a bulk group");
  return *stored;
}

TStoredGroup& TArticleStore::AddGroup(const std::string& name, const std::string& description,
                                      int64_t created) {
  std::unique_lock lock(mutex_);
  auto it = groups_.find(name);
  if (it == groups_.end())
    it = groups_.emplace(name, std::make_unique<TStoredGroup>(name, description, created)).first;
  auto* stored = dynamic_cast<TStoredGroup*>(it->second.get());
  if (!stored) throw std::invalid_argument("group " + name + " is a bulk group");
  return *stored;
}

TBulkGroup& TArticleStore::AddBulkGroup(const FBulkOptions& options) {
  auto group = std::make_unique<TBulkGroup>(options);
  TBulkGroup& ref = *group;
  std::unique_lock lock(mutex_);
  if (groups_.count(options.name)) throw std::invalid_argument("group " + options.name + " exists");
  groups_.emplace(options.name, std::move(group));
  bulkGroups_.push_back(&ref);
  return ref;
}

TNewsGroup& TArticleStore::AddCustomGroup(std::unique_ptr<TNewsGroup> group) {
  TNewsGroup& ref = *group;
  std::unique_lock lock(mutex_);
  if (!groups_.emplace(ref.Name(), std::move(group)).second)
    throw std::invalid_argument("group " + ref.Name() + " exists");
  return ref;
}

std::vector<uint64_t> TArticleStore::Post(const std::vector<std::string>& groups, TArticlePtr article) {
  if (groups.empty()) throw std::invalid_argument("article posted to no group");
  std::unique_lock lock(mutex_);
  std::vector<uint64_t> numbers;
  std::string xref = "zevrin-newsd";
  for (const std::string& name : groups) {
    numbers.push_back(StoredGroupLocked(name).NextFreeNumber());
    xref += " " + name + ":" + std::to_string(numbers.back());
  }
  for (size_t i = 0; i < groups.size(); ++i) StoredGroupLocked(groups[i]).Put(numbers[i], article, xref);
  byMessageId_[article->messageId] = article;
  return numbers;
}

uint64_t TArticleStore::Post(const std::string& group, std::vector<FHeader> headers, std::string_view body) {
  return Post(std::vector<std::string>{group}, MakeArticle(std::move(headers), body)).front();
}

void TArticleStore::PostNumbered(const std::string& group, uint64_t number, TArticlePtr article) {
  std::unique_lock lock(mutex_);
  StoredGroupLocked(group).Put(number, article, "zevrin-newsd " + group + ":" + std::to_string(number));
  byMessageId_[article->messageId] = article;
}

bool TArticleStore::Remove(const std::string& group, uint64_t number) {
  std::unique_lock lock(mutex_);
  auto it = groups_.find(group);
  auto* stored = it == groups_.end() ? nullptr : dynamic_cast<TStoredGroup*>(it->second.get());
  if (!stored) return false;
  TArticlePtr article = stored->Article(number);
  if (!stored->Remove(number)) return false;
  // The Message-ID stays reachable while another group still carries the article.
  for (const auto& [name, other] : groups_) {
    auto* s = dynamic_cast<TStoredGroup*>(other.get());
    if (!s) continue;
    for (uint64_t n = s->NextNumber(s->Low()); n != 0; n = s->NextNumber(n + 1))
      if (s->Article(n) == article) return true;
  }
  byMessageId_.erase(article->messageId);
  return true;
}

void TArticleStore::SetRequiresAuth(const std::string& group, bool value) {
  std::unique_lock lock(mutex_);
  auto it = groups_.find(group);
  if (it == groups_.end()) throw std::invalid_argument("no group " + group);
  it->second->SetRequiresAuth(value);
}

const TNewsGroup* TArticleStore::FindGroup(std::string_view name) const {
  auto it = groups_.find(name);
  return it == groups_.end() ? nullptr : it->second.get();
}

TArticlePtr TArticleStore::FindMessageId(std::string_view messageId) const {
  auto it = byMessageId_.find(std::string(messageId));
  if (it != byMessageId_.end()) return it->second;
  for (const TBulkGroup* bulk : bulkGroups_)
    if (uint64_t n = bulk->NumberOfMessageId(messageId)) return bulk->Article(n);
  return nullptr;
}

std::vector<const TNewsGroup*> TArticleStore::Groups() const {
  std::vector<const TNewsGroup*> out;
  out.reserve(groups_.size());
  for (const auto& [name, group] : groups_) out.push_back(group.get());
  return out;
}

}  // namespace zev::testserver

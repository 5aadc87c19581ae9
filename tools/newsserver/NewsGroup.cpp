#include "NewsGroup.h"

namespace zev::testserver {

void TNewsGroup::AppendOverview(uint64_t n, std::string& out) const {
  if (TArticlePtr article = Article(n)) AppendOverviewLine(out, n, *article, Xref(n));
}

bool TNewsGroup::HeaderValue(uint64_t n, std::string_view name, std::string& value) const {
  TArticlePtr article = Article(n);
  return article && ArticleHeaderValue(*article, name, Xref(n), value);
}

uint64_t TStoredGroup::Low() const {
  return articles_.empty() ? nextNumber_ : articles_.begin()->first;
}

uint64_t TStoredGroup::High() const {
  return articles_.empty() ? nextNumber_ - 1 : articles_.rbegin()->first;
}

uint64_t TStoredGroup::NextNumber(uint64_t n) const {
  auto it = articles_.lower_bound(n);
  return it == articles_.end() ? 0 : it->first;
}

TArticlePtr TStoredGroup::Article(uint64_t n) const {
  auto it = articles_.find(n);
  return it == articles_.end() ? nullptr : it->second.article;
}

std::string TStoredGroup::Xref(uint64_t n) const {
  auto it = articles_.find(n);
  return it == articles_.end() ? std::string() : it->second.xref;
}

void TStoredGroup::Put(uint64_t n, TArticlePtr article, std::string xref) {
  articles_[n] = FEntry{std::move(article), std::move(xref)};
  if (n >= nextNumber_) nextNumber_ = n + 1;
}

bool TStoredGroup::Remove(uint64_t n) { return articles_.erase(n) > 0; }

}  // namespace zev::testserver

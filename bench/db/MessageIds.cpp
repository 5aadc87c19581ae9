#include "MessageIds.h"

#include <algorithm>
#include <random>
#include <unordered_set>

namespace zev::bench {

namespace {

const char kAlnum[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
const char* const kHosts[] = {"news.example.net", "powerpost2000AA.local", "reader.example.com", "nyuu.example.org",
                              "JBinUp.local", "camelsystem-powerpost.local"};

std::string Random(std::mt19937_64& rng, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += kAlnum[rng() % 62];
  return s;
}

// The common forms: "part12of45.Xk3JqL9fRt@host", "<hex>$<hex>@host", "random@host".
std::string OneId(std::mt19937_64& rng) {
  std::string host = kHosts[rng() % 6];
  switch (rng() % 3) {
    case 0:
      return "part" + std::to_string(rng() % 120 + 1) + "of" + std::to_string(rng() % 120 + 1) + "." +
             Random(rng, 10 + rng() % 12) + "@" + host;
    case 1:
      return Random(rng, 8 + rng() % 8) + "$" + Random(rng, 6 + rng() % 6) + "@" + host;
    default:
      return Random(rng, 12 + rng() % 20) + "@" + host;
  }
}

}  // namespace

void MakeMessageIds(size_t count, uint64_t seed, std::vector<std::string>& present, std::vector<std::string>& absent) {
  std::mt19937_64 rng(seed);
  std::unordered_set<std::string> seen;
  seen.reserve(count * 2 + 16);
  present.clear();
  absent.clear();
  while (present.size() < count || absent.size() < count) {
    std::string id = OneId(rng);
    if (id.size() < 20 || id.size() > 60 || !seen.insert(id).second) continue;
    (present.size() <= absent.size() ? present : absent).push_back(std::move(id));
    if (present.size() > count) {
      absent.push_back(std::move(present.back()));
      present.pop_back();
    }
    if (absent.size() > count) absent.pop_back();
  }
}

void MakeSubjectsAndAuthors(size_t count, uint64_t seed, std::vector<std::string>& subjects,
                            std::vector<std::string>& authors) {
  std::mt19937_64 rng(seed);
  std::vector<std::string> posters;
  for (int i = 0; i < 3000; ++i)
    posters.push_back(Random(rng, 4 + rng() % 8) + " <" + Random(rng, 6) + "@" + kHosts[rng() % 6] + ">");
  subjects.clear();
  authors.clear();
  while (subjects.size() < count) {
    size_t parts = 10 + rng() % 91;
    std::string subject = "[" + std::to_string(rng() % 40 + 1) + "/40] - \"" + Random(rng, 8 + rng() % 20) +
                          ".part" + std::to_string(rng() % 99) + ".rar\" yEnc (\x04)";
    // A few posters post most of the files.
    const std::string& author = posters[std::min<size_t>(posters.size() - 1, (rng() % 100) * (rng() % 100) / 3)];
    for (size_t p = 0; p < parts && subjects.size() < count; ++p) {
      subjects.push_back(subject);
      authors.push_back(author);
    }
  }
  // Headers of several files arrive interleaved.
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  for (size_t i = 0; i + 1 < count; ++i) std::swap(order[i], order[i + rng() % std::min<size_t>(count - i, 2000)]);
  std::vector<std::string> s2(count), a2(count);
  for (size_t i = 0; i < count; ++i) {
    s2[i] = std::move(subjects[order[i]]);
    a2[i] = std::move(authors[order[i]]);
  }
  subjects.swap(s2);
  authors.swap(a2);
}

}  // namespace zev::bench

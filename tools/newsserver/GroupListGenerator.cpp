#include "GroupListGenerator.h"

#include <memory>

#include "ArticleStore.h"
#include "Random.h"

namespace zev::testserver {

namespace {

const char* const kHierarchies[] = {"alt.binaries", "alt", "comp", "de.alt", "fr.rec", "misc", "rec", "sci",
                                    "soc", "news", "talk", "uk", "nl.binaries", "alt.fan", "it.comp", "a.b"};
const char* const kWords[] = {"tv", "music", "games", "linux", "pictures", "ebooks", "test", "misc", "hd", "mp3",
                              "anime", "sport", "chat", "lang", "os", "boneless", "dvd", "x", "retro", "foto"};

std::string Base36(uint64_t n) {
  std::string out;
  do {
    out.insert(out.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]);
    n /= 36;
  } while (n);
  return out;
}

}  // namespace

TListedGroup::TListedGroup(std::string name, uint64_t low, uint64_t high, int64_t created)
    : TNewsGroup(std::move(name), {}, created), low_(low), high_(high) {}

std::string GeneratedGroupName(uint64_t seed, uint64_t i) {
  TRandom random(Mix64(seed ^ HashText("group list")) + i * 0x9E3779B97F4A7C15ull);
  std::string name = kHierarchies[random.Below(std::size(kHierarchies))];
  name += '.';
  name += kWords[random.Below(std::size(kWords))];
  // The index keeps names unique; a second level on some makes the tree deeper.
  if (random.Below(4) == 0) name += std::string(".") + kWords[random.Below(std::size(kWords))];
  return name + Base36(i);
}

void AddGeneratedGroups(TArticleStore& store, const FGroupListOptions& options) {
  TRandom random(Mix64(options.seed));
  for (uint64_t i = 0; i < options.count; ++i) {
    const uint64_t low = random.Between(1, 5000000);
    // Most groups are small or empty, a few hold millions of articles.
    const uint64_t shape = random.Below(10);
    const uint64_t count = shape == 0 ? 0 : shape < 7 ? random.Below(2000) : random.Below(50000000);
    store.AddCustomGroup(
        std::make_unique<TListedGroup>(GeneratedGroupName(options.seed, i), low, low + count - 1, options.created));
  }
}

}  // namespace zev::testserver

#include "SubjectCorpus.h"

#include <cstdio>

namespace zev::bench {

namespace {

const char* const kWords[] = {"Holiday", "Summer",  "Linux",   "Concert", "Vacation", "Family", "Birthday", "Mountain",
                              "Ocean",   "Archive", "Project", "Backup",  "Live",     "Remix",  "Album",    "Episode",
                              "Docu",    "Nature",  "Winter",  "City",    "Night",    "Photos", "Music",    "Best"};
const char* const kTags[] = {"PRiVATE", "REPOST", "FULL", "NEW", "REQ", "PROPER", "COMPLETE"};
const char* const kChatter[] = {"Does anyone have the rest of this set?",  "Thanks for posting!",
                                "Request: the other episodes please",      "Server problems tonight",
                                "Re: Missing blocks, can someone repost?", "Which reader do you use for par2?"};

class TGenerator {
 public:
  explicit TGenerator(uint32_t seed) : rng_(seed) {}

  FCorpusArticle Next() {
    switch (Pick(10)) {
      case 0: return {Numbered(), Lines()};
      case 1: return {Photo(), Lines()};
      case 2: return {Episode(), Lines()};
      case 3: return {Mp3(), Lines()};
      case 4: return {ReplyOf(), Lines()};
      case 5: return {Par2Volume(), Lines()};
      case 6: return {PlainName(), Lines()};
      case 7: return {WithBytes(), Lines()};
      case 8: return {ObfuscatedHash(), Lines()};
      default: return {Chatter(), static_cast<uint32_t>(10 + Pick(60))};
    }
  }

 private:
  std::mt19937 rng_;

  uint32_t Pick(uint32_t n) { return rng_() % n; }
  std::string Word() { return kWords[Pick(std::size(kWords))]; }
  std::string Name() { return Word() + (Pick(2) ? "." : "_") + Word() + "." + std::to_string(1990 + Pick(35)); }
  uint32_t Lines() { return 2000 + Pick(3) * 1000 + Pick(8); }
  std::string Pair(uint32_t total, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*u/%u", width, 1 + Pick(total), total);
    return buf;
  }

  std::string Numbered() {
    uint32_t files = 2 + Pick(60);
    return "[" + Pair(files, 1) + "] - \"" + Name() + ".part" + std::to_string(1 + Pick(files)) + ".rar\" yEnc (" +
           Pair(20 + Pick(200), 2) + ")";
  }
  std::string Photo() { return "\"" + Word() + "_" + std::to_string(Pick(9999)) + ".jpg\" yEnc (" + Pair(4, 1) + ")"; }
  std::string Episode() {
    char ep[16];
    std::snprintf(ep, sizeof ep, "S%02uE%02u", 1 + Pick(9), 1 + Pick(24));
    uint32_t parts = 20 + Pick(100);
    return "(" + Word() + "." + Word() + "." + ep + ") [" + Pair(12, 2) + "] - \"" + Word() + ".r" +
           std::to_string(10 + Pick(89)) + "\" yEnc " + std::to_string(parts * 384000 + Pick(1000)) + " (" +
           Pair(parts, 1) + ")";
  }
  std::string Mp3() {
    return Word() + " - " + Word() + " " + std::to_string(1 + Pick(20)) + ".mp3 " + std::to_string(128 + 32 * Pick(3)) +
           "K (" + Pair(3 + Pick(10), 1) + ")";
  }
  std::string ReplyOf() { return "Re: " + Word() + " " + Word() + " part " + std::to_string(1 + Pick(3)) + " of 3"; }
  std::string Par2Volume() {
    return "[" + std::string(kTags[Pick(std::size(kTags))]) + "]-[" + Word() + "]-[" + Pair(40, 1) + "] - \"" + Name() +
           ".vol" + std::to_string(Pick(64)) + "+" + std::to_string(1 + Pick(64)) + ".par2\" yEnc (" + Pair(30, 1) + ")";
  }
  std::string PlainName() { return Word() + " " + Word() + " - " + Name() + ".avi (" + Pair(50 + Pick(150), 3) + ")"; }
  std::string WithBytes() {
    uint32_t files = 2 + Pick(30);
    return Word() + " - [" + Pair(files, 2) + "] - \"" + Name() + ".zip\" yEnc (" + Pair(10 + Pick(90), 1) + ") " +
           std::to_string(5000000 + Pick(90000000)) + " bytes";
  }
  std::string ObfuscatedHash() {
    std::string hash;
    for (int i = 0; i < 32; ++i) hash += "0123456789abcdef"[Pick(16)];
    return "[" + Pair(25, 2) + "] - \"" + hash + ".7z.0" + std::to_string(10 + Pick(15)) + "\" yEnc (" +
           Pair(100 + Pick(100), 1) + ")";
  }
  std::string Chatter() { return kChatter[Pick(std::size(kChatter))]; }
};

}  // namespace

std::vector<FCorpusArticle> MakeSubjectCorpus(size_t count, uint32_t seed) {
  TGenerator gen(seed);
  std::vector<FCorpusArticle> corpus;
  corpus.reserve(count);
  for (size_t i = 0; i < count; ++i) corpus.push_back(gen.Next());
  return corpus;
}

}  // namespace zev::bench

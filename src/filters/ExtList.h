#pragma once
// A case-insensitive tree of known file-name extensions and the search for a file name
// inside a subject line. Built once at start-up and only read afterwards, from any
// thread, without a lock.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

struct FNamePosition {
  size_t start = 0;
  size_t length = 0;
};

class TExtList {
 public:
  // Extensions every instance knows, added after the platform's, in this order.
  static const std::vector<std::string>& BuiltInExtensions();

  // An empty tree.
  TExtList();
  // The program's list: `registered` (the platform's extensions, each beginning with '.'),
  // without ".com", then the built-in list.
  static TExtList Create(const std::vector<std::string>& registered);
  // Create() with the extensions registered on this machine.
  static TExtList CreateFromPlatform();

  // `text` begins with '.', which is skipped. Extensions that would need more nodes than
  // the tree can index are left out, which keeps the tree valid.
  void AddExtension(std::string_view text);

  // Start and length of the file name in `text`, or nothing. `text` is read as if it
  // ended at its first zero byte.
  std::optional<FNamePosition> FindFileName(std::string_view text) const;

  size_t NodeCount() const { return nodes_.size(); }

 private:
  // Indexed by the low 7 bits of a character: >= 0 the next node, kNoEdge, or kEnds
  // ("a known extension ends just before this character").
  using TNode = std::array<int16_t, 128>;
  static constexpr int16_t kNoEdge = -1;
  static constexpr int16_t kEnds = -2;

  size_t KnownExtensionEnd(std::string_view text, size_t dot) const;
  static bool IsThreeCharExtension(std::string_view text, size_t dot);
  static size_t NameStartBefore(std::string_view text, size_t dot, bool quoted);

  std::vector<TNode> nodes_;
};

// The process-wide list, created by the start-up sequence before any connection runs.
extern const TExtList* gExtList;

}  // namespace zev

#pragma once
// Test data shaped like what servers deliver: Message-IDs of 20 to 60 characters in the
// forms posting agents use, and subjects and authors repeated the way binary groups
// repeat them.
#include <cstdint>
#include <string>
#include <vector>

namespace zev::bench {

// `count` distinct Message-IDs in random order, and as many others that are not among them.
void MakeMessageIds(size_t count, uint64_t seed, std::vector<std::string>& present, std::vector<std::string>& absent);

// One subject template and one author per article: files of 10 to 100 parts share their
// subject, a few thousand posters share the authors.
void MakeSubjectsAndAuthors(size_t count, uint64_t seed, std::vector<std::string>& subjects,
                            std::vector<std::string>& authors);

}  // namespace zev::bench

#pragma once
// Posts seeded, deterministic test content into a store: multi-part yEnc files with the
// subject styles posting tools produce, uuencode, MIME base64, threaded text, broken
// posts, bulk header groups and large benchmark sets, and records it all in a manifest.
#include <cstdint>
#include <string>
#include <vector>

#include "ArticleStore.h"
#include "BulkGroup.h"
#include "Manifest.h"
#include "Random.h"

namespace zev::testserver {

enum TBrokenKind { bkNone, bkMissingPart, bkBadCrc, bkTruncated };

struct FFilePlan {
  std::vector<std::string> groups;
  std::string name;
  uint64_t size = 120000;
  uint32_t partSize = 40000;      // raw bytes per article
  std::string subjectPrefix;      // e.g. "[1/8] - " or "album03 pictures - [01/05] - "
  uint32_t set = 0;
  bool escapeLeadingDot = true;
  TBrokenKind broken = bkNone;
};

struct FStandardSetOptions {
  uint32_t files = 12;            // multi-part yEnc files in the yEnc group
  uint64_t fileSize = 120000;     // average; each file varies from 0.5x to 1.5x
  uint32_t partSize = 40000;
  uint32_t texts = 30;
};

class TArticleGenerator {
 public:
  // With keepFileData the manifest holds each file's original bytes (tests compare
  // decoded output with them); leave it off for large sets.
  TArticleGenerator(TArticleStore& store, uint64_t seed, bool keepFileData = false);

  const FManifestFile& PostYenc(const FFilePlan& plan);
  const FManifestFile& PostUuencode(const FFilePlan& plan);
  const FManifestFile& PostMime(const FFilePlan& plan, const std::string& mimeType);
  void PostTextThreads(const std::string& group, uint32_t count);
  void PostBrokenFiles(const std::string& group);
  TBulkGroup& AddBulk(FBulkOptions options);
  // The groups "zevrin.test.binaries.yenc", ".misc", ".broken", "zevrin.test.private.binaries"
  // (readable after login) and "zevrin.test.text".
  void PostStandardSet(const FStandardSetOptions& options);
  // Large yEnc parts of `partSize` raw bytes until `totalBytes` of data are posted.
  void PostBenchSet(const std::string& group, uint64_t totalBytes, uint32_t partSize);

  const FManifest& Manifest() const { return manifest_; }
  FManifest& Manifest() { return manifest_; }

 private:
  std::vector<uint8_t> FileData(uint64_t size);
  std::string NextMessageId();
  int64_t NextDate();
  std::vector<FHeader> Headers(const std::vector<std::string>& groups, const std::string& subject,
                               const std::string& messageId);
  void Publish(const std::vector<std::string>& groups, FManifestPart& part, std::vector<FHeader> headers,
               std::string_view body);
  void NoteGroups(const std::vector<std::string>& groups);
  std::string PartSubject(const FFilePlan& plan, uint32_t part, uint32_t total, bool yenc) const;
  FManifestFile& BeginFile(const FFilePlan& plan, const std::string& encoding, const std::vector<uint8_t>& data);
  void PostYencSet(const std::vector<std::string>& groups, uint32_t setNumber, uint32_t files, int style,
                   const FStandardSetOptions& options);

  TArticleStore& store_;
  FManifest manifest_;
  TRandom random_;
  bool keepFileData_;
  uint64_t idCounter_ = 0;
  int64_t clock_ = 1718452800;  // 2024-06-15 12:00:00 UTC
};

}  // namespace zev::testserver

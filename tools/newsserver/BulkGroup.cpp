#include "BulkGroup.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "DateText.h"
#include "Encoders.h"
#include "Random.h"

namespace zev::testserver {

TBulkGroup::TBulkGroup(const FBulkOptions& options)
    : TNewsGroup(options.name, "Bulk headers for benchmarks", kDefaultGroupCreated),
      options_(options),
      idKey_(Mix64(options.seed ^ HashText(options.name))) {
  if (options.count == 0 || options.count > 0xFFFFFFFFull || options.firstNumber == 0)
    throw std::invalid_argument("bulk group: count must be 1..2^32-1 and numbers start at 1");
  TRandom random(idKey_);
  for (uint64_t index = 0; index < options.count;) {
    fileStart_.push_back(static_cast<uint32_t>(index));
    index += random.Between(1, options.maxPartsPerFile);
  }
  for (size_t file = 0; file < fileStart_.size();) {
    setStart_.push_back(static_cast<uint32_t>(file));
    file += random.Between(1, options.maxFilesPerSet);
  }
}

TBulkGroup::FPartInfo TBulkGroup::Locate(uint64_t n) const {
  const auto index = static_cast<uint32_t>(n - options_.firstNumber);
  const size_t file = std::upper_bound(fileStart_.begin(), fileStart_.end(), index) - fileStart_.begin() - 1;
  const uint64_t fileEnd = file + 1 < fileStart_.size() ? fileStart_[file + 1] : options_.count;
  const size_t set = std::upper_bound(setStart_.begin(), setStart_.end(), file) - setStart_.begin() - 1;
  const size_t setEnd = set + 1 < setStart_.size() ? setStart_[set + 1] : fileStart_.size();
  FPartInfo info;
  info.file = file;
  info.part = index - fileStart_[file] + 1;
  info.total = static_cast<uint32_t>(fileEnd - fileStart_[file]);
  info.set = set;
  info.fileInSet = static_cast<uint32_t>(file - setStart_[set] + 1);
  info.filesInSet = static_cast<uint32_t>(setEnd - setStart_[set]);
  return info;
}

uint64_t TBulkGroup::NextNumber(uint64_t n) const {
  if (n < Low()) return Low();
  return n <= High() ? n : 0;
}

std::string TBulkGroup::Subject(const FPartInfo& info) const {
  const int width = static_cast<int>(std::to_string(info.total).size());
  char text[256];
  std::snprintf(text, sizeof text, "bench set %llu - [%u/%u] - \"bench%05llu.part%u.rar\" yEnc (%0*u/%u)",
                static_cast<unsigned long long>(info.set + 1), info.fileInSet, info.filesInSet,
                static_cast<unsigned long long>(info.file + 1), info.fileInSet, width, info.part,
                info.total);
  return text;
}

std::string TBulkGroup::From(const FPartInfo& info) const {
  const unsigned poster = static_cast<unsigned>(info.set % 97);
  return "poster" + std::to_string(poster) + " <poster" + std::to_string(poster) + "@bulk.test>";
}

std::string TBulkGroup::MessageId(uint64_t n) const {
  char text[64];
  std::snprintf(text, sizeof text, "<%012llx$%llu@", static_cast<unsigned long long>(Mix64(idKey_ ^ n) >> 16),
                static_cast<unsigned long long>(n));
  return text + Name() + ".bulk.test>";
}

uint64_t TBulkGroup::NumberOfMessageId(std::string_view id) const {
  const std::string suffix = "@" + Name() + ".bulk.test>";
  if (id.size() < 15 + suffix.size() || id[0] != '<' || id[13] != '$' || !id.ends_with(suffix)) return 0;
  uint64_t n = 0;
  for (char c : id.substr(14, id.size() - 14 - suffix.size())) {
    if (c < '0' || c > '9' || n > 0xFFFFFFFFFFull) return 0;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n < Low() || n > High()) return 0;
  return MessageId(n) == id ? n : 0;
}

int64_t TBulkGroup::Date(uint64_t n) const {
  return options_.startTime + static_cast<int64_t>((n - options_.firstNumber) * 7);
}

uint64_t TBulkGroup::EstimatedBytes() const {
  // yEnc grows data by about 2% plus line ends; the header block is about 400 bytes.
  return options_.partSize + options_.partSize / 50 + options_.partSize / 64 + 520;
}

std::string TBulkGroup::Xref(uint64_t n) const {
  return "zevrin-newsd " + Name() + ":" + std::to_string(n);
}

void TBulkGroup::AppendOverview(uint64_t n, std::string& out) const {
  const FPartInfo info = Locate(n);
  const uint64_t bytes = EstimatedBytes();
  out.append(std::to_string(n)).push_back('\t');
  out.append(Subject(info)).push_back('\t');
  out.append(From(info)).push_back('\t');
  out.append(FormatArticleDate(Date(n))).push_back('\t');
  out.append(MessageId(n)).append("\t\t");
  out.append(std::to_string(bytes)).push_back('\t');
  out.append(std::to_string(bytes / 130 + 3)).append("\tXref: ").append(Xref(n));
}

bool TBulkGroup::HeaderValue(uint64_t n, std::string_view name, std::string& value) const {
  const FPartInfo info = Locate(n);
  if (EqualsNoCase(name, "Subject")) value = Subject(info);
  else if (EqualsNoCase(name, "From")) value = From(info);
  else if (EqualsNoCase(name, "Date")) value = FormatArticleDate(Date(n));
  else if (EqualsNoCase(name, "Message-ID")) value = MessageId(n);
  else if (EqualsNoCase(name, "Bytes") || EqualsNoCase(name, ":bytes")) value = std::to_string(EstimatedBytes());
  else if (EqualsNoCase(name, "Lines") || EqualsNoCase(name, ":lines")) value = std::to_string(EstimatedBytes() / 130 + 3);
  else if (EqualsNoCase(name, "Xref")) value = Xref(n);
  else if (EqualsNoCase(name, "Newsgroups")) value = Name();
  else return false;
  return true;
}

TArticlePtr TBulkGroup::Article(uint64_t n) const {
  if (n < Low() || n > High()) return nullptr;
  const FPartInfo info = Locate(n);
  std::vector<uint8_t> data(options_.partSize);
  TRandom(Mix64(idKey_ + n)).Fill(data.data(), data.size());
  char name[64];
  std::snprintf(name, sizeof name, "bench%05llu.part%u.rar", static_cast<unsigned long long>(info.file + 1),
                info.fileInSet);
  FYencPartPlan plan;
  plan.name = name;
  plan.fileSize = static_cast<uint64_t>(info.total) * options_.partSize;
  plan.part = info.part;
  plan.total = info.total;
  plan.begin = static_cast<uint64_t>(info.part - 1) * options_.partSize + 1;
  plan.data = data.data();
  plan.size = data.size();
  plan.declaredSize = data.size();
  plan.pcrc32 = Crc32(data.data(), data.size());
  std::vector<FHeader> headers = {{"From", From(info)},
                                  {"Newsgroups", Name()},
                                  {"Subject", Subject(info)},
                                  {"Date", FormatArticleDate(Date(n))},
                                  {"Message-ID", MessageId(n)},
                                  {"Path", "zevrin-newsd!not-for-mail"}};
  return MakeArticle(std::move(headers), YencPartBody(plan));
}

}  // namespace zev::testserver

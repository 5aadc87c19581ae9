#include "ArticleGenerator.h"

#include <algorithm>
#include <cstdio>

#include "DateText.h"
#include "Encoders.h"

namespace zev::testserver {
namespace {

std::string PaddedPart(uint32_t part, uint32_t total) {
  const int width = static_cast<int>(std::to_string(total).size());
  char text[32];
  std::snprintf(text, sizeof text, "%0*u/%u", width, part, total);
  return text;
}

uint32_t PartCount(uint64_t size, uint32_t partSize) {
  return size == 0 ? 1 : static_cast<uint32_t>((size + partSize - 1) / partSize);
}

}  // namespace

TArticleGenerator::TArticleGenerator(TArticleStore& store, uint64_t seed, bool keepFileData)
    : store_(store), random_(Mix64(seed)), keepFileData_(keepFileData) {
  manifest_.seed = seed;
}

std::vector<uint8_t> TArticleGenerator::FileData(uint64_t size) {
  std::vector<uint8_t> data(size);
  random_.Fill(data.data(), data.size());
  return data;
}

std::string TArticleGenerator::NextMessageId() {
  const uint64_t a = random_.Next(), b = random_.Next();
  char text[96];
  std::snprintf(text, sizeof text, "<%08x.%012llx-%08x@zevrin-newsd.test>", static_cast<uint32_t>(a >> 32),
                static_cast<unsigned long long>(b >> 16), static_cast<uint32_t>(++idCounter_ ^ (a & 0xFFFFFFFF)));
  return text;
}

int64_t TArticleGenerator::NextDate() {
  clock_ += static_cast<int64_t>(random_.Between(1, 90));
  return clock_;
}

std::vector<FHeader> TArticleGenerator::Headers(const std::vector<std::string>& groups,
                                                const std::string& subject, const std::string& messageId) {
  std::string newsgroups;
  for (const std::string& g : groups) newsgroups += (newsgroups.empty() ? "" : ",") + g;
  return {{"Path", "zevrin-newsd!not-for-mail"},
          {"From", "anon <nobody@zevrin.test>"},
          {"Newsgroups", newsgroups},
          {"Subject", subject},
          {"Date", FormatArticleDate(NextDate())},
          {"Message-ID", messageId},
          {"Organization", "Zevrin test server"}};
}

void TArticleGenerator::NoteGroups(const std::vector<std::string>& groups) {
  for (const std::string& g : groups) {
    if (std::find(manifest_.groups.begin(), manifest_.groups.end(), g) == manifest_.groups.end()) {
      manifest_.groups.push_back(g);
      store_.AddGroup(g, "Zevrin test group " + g);
    }
  }
}

void TArticleGenerator::Publish(const std::vector<std::string>& groups, FManifestPart& part,
                                std::vector<FHeader> headers, std::string_view body) {
  if (!part.posted) return;
  std::vector<uint64_t> numbers = store_.Post(groups, MakeArticle(std::move(headers), body));
  for (size_t i = 0; i < groups.size(); ++i) part.numbers.emplace_back(groups[i], numbers[i]);
}

std::string TArticleGenerator::PartSubject(const FFilePlan& plan, uint32_t part, uint32_t total, bool yenc) const {
  if (yenc) return plan.subjectPrefix + "\"" + plan.name + "\" yEnc (" + PaddedPart(part, total) + ")";
  return plan.subjectPrefix + plan.name + " (" + std::to_string(part) + "/" + std::to_string(total) + ")";
}

FManifestFile& TArticleGenerator::BeginFile(const FFilePlan& plan, const std::string& encoding,
                                            const std::vector<uint8_t>& data) {
  NoteGroups(plan.groups);
  FManifestFile& file = manifest_.files.emplace_back();
  file.name = plan.name;
  file.encoding = encoding;
  file.groups = plan.groups;
  file.size = data.size();
  file.crc32 = Crc32(data.data(), data.size());
  file.set = plan.set;
  static constexpr const char* kBroken[] = {"", "missing-part", "bad-crc", "truncated"};
  file.broken = kBroken[plan.broken];
  if (keepFileData_) file.data.assign(data.begin(), data.end());
  return file;
}

const FManifestFile& TArticleGenerator::PostYenc(const FFilePlan& plan) {
  const std::vector<uint8_t> data = FileData(plan.size);
  const uint32_t total = PartCount(data.size(), plan.partSize);
  FManifestFile& file = BeginFile(plan, total == 1 ? "yenc-single" : "yenc", data);
  const bool single = file.encoding == "yenc-single";
  for (uint32_t p = 1; p <= total; ++p) {
    const uint64_t begin = static_cast<uint64_t>(p - 1) * plan.partSize;
    const size_t size = static_cast<size_t>(std::min<uint64_t>(plan.partSize, data.size() - begin));
    FManifestPart& part = file.parts.emplace_back();
    part.number = p;
    part.messageId = NextMessageId();
    part.subject = PartSubject(plan, p, total, true);
    part.begin = begin + 1;
    part.end = begin + size;
    part.crc32 = Crc32(data.data() + begin, size);
    FYencPartPlan y;
    y.name = plan.name;
    y.fileSize = data.size();
    y.part = single ? 0 : p;
    y.total = single ? 0 : total;
    y.begin = begin + 1;
    y.data = data.data() + begin;
    y.size = size;
    y.declaredSize = size;
    y.pcrc32 = part.crc32;
    y.withFileCrc = p == total;
    y.fileCrc = file.crc32;
    y.lines.escapeLeadingDot = plan.escapeLeadingDot;
    if (plan.broken == bkMissingPart && p == 2) part.posted = false;
    if (plan.broken == bkBadCrc && p == std::min<uint32_t>(3, total)) {
      part.badCrc = true;
      y.pcrc32 = ~part.crc32;
    }
    if (plan.broken == bkTruncated && p == 1) {
      part.truncated = true;
      y.size = size / 2;  // the header still promises the whole part
    }
    Publish(plan.groups, part, Headers(plan.groups, part.subject, part.messageId), YencPartBody(y));
  }
  return file;
}

const FManifestFile& TArticleGenerator::PostUuencode(const FFilePlan& plan) {
  const std::vector<uint8_t> data = FileData(plan.size);
  FManifestFile& file = BeginFile(plan, "uuencode", data);
  std::string lines = "begin 644 " + plan.name + "\n" + UuencodeLines(data.data(), data.size()) + "`\nend\n";
  // Parts are cut on line boundaries, as posting tools do.
  const size_t target = lines.size() / PartCount(lines.size(), plan.partSize) + 1;
  std::vector<size_t> cuts = {0};
  while (cuts.back() < lines.size())
    cuts.push_back(lines.find('\n', std::min(lines.size() - 1, cuts.back() + target)) + 1);
  const auto total = static_cast<uint32_t>(cuts.size() - 1);
  for (uint32_t p = 1; p <= total; ++p) {
    FManifestPart& part = file.parts.emplace_back();
    part.number = p;
    part.messageId = NextMessageId();
    part.subject = PartSubject(plan, p, total, false);
    Publish(plan.groups, part, Headers(plan.groups, part.subject, part.messageId),
            std::string_view(lines).substr(cuts[p - 1], cuts[p] - cuts[p - 1]));
  }
  return file;
}

const FManifestFile& TArticleGenerator::PostMime(const FFilePlan& plan, const std::string& mimeType) {
  const std::vector<uint8_t> data = FileData(plan.size);
  FManifestFile& file = BeginFile(plan, "base64", data);
  const std::string boundary = "=_zevrin_" + std::to_string(random_.Next() % 1000000);
  FManifestPart& part = file.parts.emplace_back();
  part.number = 1;
  part.messageId = NextMessageId();
  part.subject = plan.name + " - MIME attachment";
  std::vector<FHeader> headers = Headers(plan.groups, part.subject, part.messageId);
  headers.push_back({"MIME-Version", "1.0"});
  headers.push_back({"Content-Type", "multipart/mixed; boundary=\"" + boundary + "\""});
  std::string body = "This is a multi-part message in MIME format.\n\n--" + boundary +
                     "\nContent-Type: text/plain; charset=us-ascii\n\nAttached: " + plan.name + "\n.\n\n--" +
                     boundary + "\nContent-Type: " + mimeType + "; name=\"" + plan.name +
                     "\"\nContent-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"" +
                     plan.name + "\"\n\n" + Base64Lines(data.data(), data.size()) + "\n--" + boundary + "--\n";
  Publish(plan.groups, part, std::move(headers), body);
  return file;
}

void TArticleGenerator::PostTextThreads(const std::string& group, uint32_t count) {
  NoteGroups({group});
  static constexpr const char* kTopics[] = {"Which par2 settings do you use?", "Slow downloads tonight",
                                            "Looking for the 1987 broadcast", "Test post, please ignore"};
  std::string root, rootSubject;
  for (uint32_t i = 0; i < count; ++i) {
    const bool reply = i % 4 != 0;
    if (!reply) rootSubject = kTopics[(i / 4) % 4];
    FManifestText& text = manifest_.texts.emplace_back();
    text.messageId = NextMessageId();
    text.subject = reply ? "Re: " + rootSubject : rootSubject;
    text.group = group;
    std::vector<FHeader> headers = Headers({group}, text.subject, text.messageId);
    if (reply) headers.push_back({"References", root});
    else root = text.messageId;
    // Lines that start with '.' and a line holding a lone '.' exercise dot-stuffing.
    std::string body = "Line one of article " + std::to_string(i + 1) + ".\n";
    if (i % 3 == 0) body += ".\n";
    if (i % 3 == 1) body += "..leading dots stay as they are\n";
    body += "> quoted text\n\n-- \nsignature\n";
    text.number = store_.Post({group}, MakeArticle(std::move(headers), body)).front();
  }
}

void TArticleGenerator::PostBrokenFiles(const std::string& group) {
  FFilePlan plan;
  plan.groups = {group};
  plan.partSize = 20000;
  plan.size = 80000;
  plan.name = "missing.part.bin";
  plan.broken = bkMissingPart;
  PostYenc(plan);
  plan.name = "badcrc.bin";
  plan.broken = bkBadCrc;
  PostYenc(plan);
  plan.name = "truncated.bin";
  plan.size = 60000;
  plan.broken = bkTruncated;
  PostYenc(plan);
}

TBulkGroup& TArticleGenerator::AddBulk(FBulkOptions options) {
  options.seed ^= manifest_.seed;
  TBulkGroup& group = store_.AddBulkGroup(options);
  manifest_.groups.push_back(options.name);
  return group;
}

void TArticleGenerator::PostYencSet(const std::vector<std::string>& groups, uint32_t setNumber, uint32_t files,
                                    int style, const FStandardSetOptions& options) {
  char text[128];
  for (uint32_t f = 1; f <= files; ++f) {
    FFilePlan plan;
    plan.groups = groups;
    plan.set = setNumber;
    plan.partSize = options.partSize;
    plan.size = options.fileSize / 2 + random_.Below(options.fileSize + 1);
    plan.escapeLeadingDot = setNumber % 2 == 1;
    if (style == 0) {
      std::snprintf(text, sizeof text, "video%02u.part%u.rar", setNumber, f);
      plan.name = text;
      plan.subjectPrefix = "[" + std::to_string(f) + "/" + std::to_string(files) + "] - ";
    } else if (style == 1) {
      std::snprintf(text, sizeof text, "album%02u_%03u.jpg", setNumber, f);
      plan.name = text;
      std::snprintf(text, sizeof text, "album%02u pictures - [%02u/%02u] - ", setNumber, f, files);
      plan.subjectPrefix = text;
    } else {
      std::snprintf(text, sizeof text, "dataset%02u.7z.%03u", setNumber, f);
      plan.name = text;
    }
    PostYenc(plan);
  }
}

void TArticleGenerator::PostStandardSet(const FStandardSetOptions& options) {
  const std::string yenc = "zevrin.test.binaries.yenc", misc = "zevrin.test.binaries.misc";
  uint32_t posted = 0;
  for (uint32_t set = 1; posted < options.files; ++set) {
    const auto files = std::min<uint32_t>(options.files - posted, static_cast<uint32_t>(random_.Between(2, 5)));
    std::vector<std::string> groups = {yenc};
    if (set == 1) groups.push_back(misc);
    PostYencSet(groups, set, files, static_cast<int>((set - 1) % 3), options);
    posted += files;
  }
  FFilePlan plan;
  plan.groups = {misc};
  plan.partSize = options.partSize;
  plan.name = "photo.jpg";
  plan.size = options.partSize * 3 + options.partSize / 2;
  PostYenc(plan);
  plan.name = "readme.nfo";
  plan.size = 3000;
  PostYenc(plan);
  plan.name = "archive01.zip";
  plan.size = 100000;
  plan.partSize = 40000;
  PostUuencode(plan);
  plan.name = "scan01.pdf";
  plan.size = 30000;
  PostMime(plan, "application/pdf");
  plan.name = "icon.png";
  plan.size = 4000;
  PostMime(plan, "image/png");
  PostBrokenFiles("zevrin.test.binaries.broken");
  const std::string priv = "zevrin.test.private.binaries";
  plan.groups = {priv};
  plan.size = 50000;
  plan.partSize = options.partSize;
  plan.name = "secret.part1.rar";
  PostYenc(plan);
  plan.name = "secret.part2.rar";
  PostYenc(plan);
  store_.SetRequiresAuth(priv, true);
  PostTextThreads("zevrin.test.text", options.texts);
}

void TArticleGenerator::PostBenchSet(const std::string& group, uint64_t totalBytes, uint32_t partSize) {
  const uint32_t partsPerFile = 50;
  const uint64_t fileSize = static_cast<uint64_t>(partsPerFile) * partSize;
  const bool keep = keepFileData_;
  keepFileData_ = false;
  char name[64];
  uint32_t fileNo = 1;
  for (uint64_t posted = 0; posted < totalBytes; posted += fileSize, ++fileNo) {
    FFilePlan plan;
    plan.groups = {group};
    plan.partSize = partSize;
    plan.size = std::min(fileSize, totalBytes - posted);
    std::snprintf(name, sizeof name, "holiday.part%u.rar", fileNo);
    plan.name = name;
    plan.subjectPrefix = "[" + std::to_string(fileNo) + "/" +
                         std::to_string((totalBytes + fileSize - 1) / fileSize) + "] - ";
    PostYenc(plan);
  }
  keepFileData_ = keep;
}

}  // namespace zev::testserver

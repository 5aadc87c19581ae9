#pragma once
// Bodies as the connection hands them to the decoder, scratch directories, and a file
// layer that counts and can run out of space, shared by the decoder tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/Crc32.h"
#include "download/DecodeFs.h"
#include "download/PartJoiner.h"
#include "download/YencEncode.h"

namespace zev::test {

inline std::string Scratch(const char* prefix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(prefix) + info->test_suite_name() + "_" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  const std::string dir = ::testing::TempDir() + name + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  return data;
}

// A body as the connection delivers it: CR LF lines, dot-stuffed, without the final "."
// line and without the line end before it.
inline std::string Received(std::string_view lfText) {
  std::string crlf;
  for (char c : lfText) {
    if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) crlf += '\r';
    crlf += c;
  }
  std::string stuffed = DotStuffBody(crlf);
  if (stuffed.size() >= 5 && stuffed.compare(stuffed.size() - 5, 5, "\r\n.\r\n") == 0) stuffed.resize(stuffed.size() - 5);
  return stuffed;
}

inline std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// One yEnc article of `data` (whole, or part `part` of `total` of the file `file`).
inline std::string YencBody(const std::string& name, const std::string& file, uint32_t part, uint32_t total,
                            uint64_t begin, const std::string& data, bool leaveDotsToStuffing = true) {
  TYencPostInfo info;
  info.name = name;
  info.fileSize = file.size();
  info.part = part;
  info.total = total;
  info.begin = begin;
  TYencEncodeOptions options;
  options.escapeLineStartDot = !leaveDotsToStuffing;
  return Received(YencEncodeArticle(Bytes(data), info, options));
}

// Part p (from 1) of `file` cut into `total` equal parts.
inline std::string YencPart(const std::string& name, const std::string& file, uint32_t p, uint32_t total) {
  const size_t partSize = (file.size() + total - 1) / total;
  const size_t begin = (p - 1) * partSize;
  return YencBody(name, file, p, total, begin + 1, file.substr(begin, std::min(partSize, file.size() - begin)));
}

// Part p of `file` cut into `total` parts of equal size (the last one shorter), with the
// place and file size a yEnc post gives.
inline FPartData FilePart(const std::string& dir, const std::string& name, const std::string& file, uint32_t p,
                          uint32_t total) {
  const size_t partSize = (file.size() + total - 1) / total;
  const size_t begin = (p - 1) * partSize;
  FPartData d;
  d.dir = dir;
  d.name = name;
  d.part = p;
  d.total = total;
  d.data = file.data() + begin;
  d.size = std::min(partSize, file.size() - begin);
  d.crc = UpdateCrc32(d.data, d.size, 0);
  d.offset = begin;
  d.fileSize = file.size();
  return d;
}

// Traditional uuencode lines (45 bytes each, "`" for zero), LF line ends, no begin/end.
inline std::string UuLines(const std::string& data) {
  auto ch = [](unsigned v) { return static_cast<char>(v == 0 ? '`' : v + 32); };
  std::string out;
  for (size_t pos = 0; pos < data.size(); pos += 45) {
    const size_t n = std::min<size_t>(45, data.size() - pos);
    out += ch(static_cast<unsigned>(n));
    for (size_t i = 0; i < n; i += 3) {
      uint8_t b[3] = {};
      for (size_t k = 0; k < 3 && i + k < n; ++k) b[k] = static_cast<uint8_t>(data[pos + i + k]);
      out += ch(b[0] >> 2);
      out += ch(((b[0] & 3) << 4) | (b[1] >> 4));
      out += ch(((b[1] & 15) << 2) | (b[2] >> 6));
      out += ch(b[2] & 63);
    }
    out += '\n';
  }
  return out;
}

inline std::string Base64Lines(const std::string& data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    const uint32_t b0 = static_cast<uint8_t>(data[i]);
    const uint32_t b1 = i + 1 < data.size() ? static_cast<uint8_t>(data[i + 1]) : 0;
    const uint32_t b2 = i + 2 < data.size() ? static_cast<uint8_t>(data[i + 2]) : 0;
    const uint32_t t = b0 << 16 | b1 << 8 | b2;
    out += kAlphabet[t >> 18 & 63];
    out += kAlphabet[t >> 12 & 63];
    out += i + 1 < data.size() ? kAlphabet[t >> 6 & 63] : '=';
    out += i + 2 < data.size() ? kAlphabet[t & 63] : '=';
    if ((i / 3 + 1) % 19 == 0) out += '\n';
  }
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

// The system calls, counting the bytes written and copied, and running out of space
// once `budget` bytes have gone to disk (a write may be cut short first).
// Parts are written by several threads at once, so the counts are shared.
class TCountingFs : public TDecodeFs {
 public:
  std::atomic<uint64_t> written{0}, copied{0};
  std::atomic<int64_t> budget{-1};  // -1: no limit

  ssize_t PWrite(int fd, const void* data, size_t len, uint64_t offset) override {
    const size_t allowed = Allow(len);
    if (allowed == 0 && len > 0) return Full();
    const ssize_t n = TDecodeFs::PWrite(fd, data, allowed, offset);
    if (n > 0) written += static_cast<uint64_t>(n);
    return n;
  }
  ssize_t CopyRange(int in, uint64_t inOffset, int out, uint64_t outOffset, size_t len) override {
    const size_t allowed = Allow(len);
    if (allowed == 0 && len > 0) return Full();
    const ssize_t n = TDecodeFs::CopyRange(in, inOffset, out, outOffset, allowed);
    if (n > 0) copied += static_cast<uint64_t>(n);
    return n;
  }

 private:
  size_t Allow(size_t len) {
    std::lock_guard lock(budgetLock_);
    const int64_t left = budget;
    if (left < 0) return len;
    const size_t allowed = std::min<size_t>(len, static_cast<size_t>(left));
    budget = left - static_cast<int64_t>(allowed);
    return allowed;
  }
  std::mutex budgetLock_;
  static ssize_t Full() {
    errno = ENOSPC;
    return -1;
  }
};

}  // namespace zev::test

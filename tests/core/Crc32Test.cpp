#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/Crc32.h"
#include "core/Log.h"

using namespace zev;

namespace {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(size);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

std::string WriteTemp(const std::string& name, const void* data, size_t size) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

// Bit at a time, straight from the definition: the reference for every fast path.
uint32_t BitwiseCrc32(const uint8_t* data, size_t len, uint32_t crc) {
  crc = ~crc;
  for (size_t i = 0; i < len; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

}  // namespace

TEST(Crc32, KnownValues) {
  EXPECT_EQ(UpdateCrc32("abc", 3, 0), 0x352441C2u);
  EXPECT_EQ(UpdateCrc32("123456789", 9, 0), 0xCBF43926u);
  EXPECT_EQ(UpdateCrc32(nullptr, 0, 0), 0u);
  EXPECT_EQ(UpdateCrc32(nullptr, 0, 0x12345678u), 0x12345678u);
}

// Every length around the folding kernel's block sizes, at every alignment, from any
// running value, against the bitwise definition.
TEST(Crc32, MatchesTheDefinitionForAnyLengthAndAlignment) {
  std::vector<uint8_t> data = RandomBytes(5000, 4);
  std::mt19937 rng(5);
  std::vector<size_t> lengths;
  for (size_t len = 0; len <= 1100; ++len) lengths.push_back(len);
  for (size_t len : {2047u, 2048u, 2049u, 4000u, 4990u}) lengths.push_back(len);
  for (size_t len : lengths) {
    size_t offset = rng() % 8;
    uint32_t start = (len % 3 == 0) ? 0 : static_cast<uint32_t>(rng());
    ASSERT_EQ(UpdateCrc32(data.data() + offset, len, start), BitwiseCrc32(data.data() + offset, len, start))
        << "length " << len << ", offset " << offset;
  }
}

// Chained calls over consecutive pieces, and the combination of separate CRCs, both give
// the CRC of the whole, wherever the data is cut.
TEST(Crc32, ChainingAndCombiningAgreeWithOneCall) {
  std::vector<uint8_t> data = RandomBytes(300000, 1);
  const uint32_t whole = UpdateCrc32(data.data(), data.size(), 0);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{4096}, size_t{123457}, data.size() - 1,
                     data.size()}) {
    SCOPED_TRACE(cut);
    uint32_t a = UpdateCrc32(data.data(), cut, 0);
    uint32_t b = UpdateCrc32(data.data() + cut, data.size() - cut, 0);
    EXPECT_EQ(UpdateCrc32(data.data() + cut, data.size() - cut, a), whole);
    EXPECT_EQ(Crc32Combine(a, b, data.size() - cut), whole);
  }
}

// Parts of a post combined one after another, as the decoder joins them.
TEST(Crc32, CombiningManyPartsInOrder) {
  std::vector<uint8_t> data = RandomBytes(1 << 20, 2);
  uint32_t combined = 0;
  for (size_t from = 0; from < data.size(); from += 100003) {
    size_t size = std::min<size_t>(100003, data.size() - from);
    combined = Crc32Combine(combined, UpdateCrc32(data.data() + from, size, 0), size);
  }
  EXPECT_EQ(combined, UpdateCrc32(data.data(), data.size(), 0));
}

// A second piece longer than 4 GiB: the combination must use the full 64-bit length.
TEST(Crc32, CombineHandlesLengthsBeyond32Bits) {
  const uint64_t lenB = (uint64_t{1} << 32) + 3;
  std::vector<uint8_t> zeros(1 << 24, 0);
  const uint32_t crcA = UpdateCrc32("abc", 3, 0);
  uint32_t chained = crcA, crcB = 0;
  for (uint64_t done = 0; done < lenB;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), lenB - done));
    chained = UpdateCrc32(zeros.data(), n, chained);
    crcB = UpdateCrc32(zeros.data(), n, crcB);
    done += n;
  }
  EXPECT_EQ(Crc32Combine(crcA, crcB, lenB), chained);
}

TEST(Crc32, FileCrc) {
  std::string abc = WriteTemp("zev_crc_abc", "abc", 3);
  uint32_t crc = 0;
  ASSERT_TRUE(CalcFileCRC32(abc, crc));
  EXPECT_EQ(crc, 0x352441C2u);

  std::vector<uint8_t> data = RandomBytes(1000001, 3);  // several read blocks, odd tail
  std::string big = WriteTemp("zev_crc_big", data.data(), data.size());
  ASSERT_TRUE(CalcFileCRC32(big, crc));
  EXPECT_EQ(crc, UpdateCrc32(data.data(), data.size(), 0));

  std::string empty = WriteTemp("zev_crc_empty", "", 0);
  ASSERT_TRUE(CalcFileCRC32(empty, crc));
  EXPECT_EQ(crc, 0u);
  std::remove(abc.c_str());
  std::remove(big.c_str());
  std::remove(empty.c_str());
}

TEST(Crc32, FileCrcFailureIsLoggedAndReported) {
  std::string log = ::testing::TempDir() + "zev_crc_error.log";
  std::remove(log.c_str());
  SetErrorLogPath(log);
  SetWarningsLevel(TWarningsLevel::Normal);
  uint32_t crc = 0x1234;
  std::string missing = ::testing::TempDir() + "zev_crc_no_such_file";
  EXPECT_FALSE(CalcFileCRC32(missing, crc));
  EXPECT_EQ(crc, 0x1234u);
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("I/O Error "), std::string::npos) << text;
  EXPECT_NE(text.find(" in CalcFileCRC32, filename = \"" + missing + "\""), std::string::npos) << text;
  EXPECT_FALSE(CalcFileCRC32(::testing::TempDir(), crc)) << "a directory is not a file";
  std::remove(log.c_str());
}

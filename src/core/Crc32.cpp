#include "core/Crc32.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <exception>
#include <memory>
#include <system_error>

#include <isa-l/crc.h>

#include "core/Crc32Fold.h"
#include "core/Format.h"
#include "core/Log.h"

namespace zev {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Product of two polynomials modulo the CRC polynomial, in the reflected bit order the
// CRC uses (bit 31 is x^0).
constexpr uint32_t MultiplyModP(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
    if (a & m) product ^= b;
    b = (b & 1) ? (b >> 1) ^ kPolynomial : b >> 1;
  }
  return product;
}

// kSquares[k] = x^(2^k) modulo the polynomial. A byte count below 2^64 is a bit count
// below 2^67, so 67 entries cover every length.
constexpr size_t kSquareCount = 67;
constexpr std::array<uint32_t, kSquareCount> MakeSquares() {
  std::array<uint32_t, kSquareCount> table{};
  uint32_t p = 1u << 30;  // x^1
  for (auto& entry : table) {
    entry = p;
    p = MultiplyModP(p, p);
  }
  return table;
}
constexpr std::array<uint32_t, kSquareCount> kSquares = MakeSquares();

// x^(e * 2^scale) modulo the polynomial. Appending n zero bytes to the data multiplies a
// CRC register by x^(n * 2^3); the scale keeps 8 * n from overflowing.
constexpr uint32_t PowerModP(uint64_t e, unsigned scale = 0) {
  uint32_t p = 1u << 31;  // x^0
  for (unsigned k = scale; e != 0; e >>= 1, ++k)
    if (e & 1) p = MultiplyModP(kSquares[k], p);
  return p;
}

constexpr uint64_t FoldKey(uint64_t exponent) { return uint64_t{PowerModP(exponent)} << 1; }

constexpr TCrc32FoldKeys MakeFoldKeys() {
  return {FoldKey(1024 + 32), FoldKey(1024 - 32), FoldKey(256 + 32), FoldKey(256 - 32),
          FoldKey(128 + 32), FoldKey(128 - 32)};
}
// The published constant for one 128-bit lane confirms the bit order.
static_assert(FoldKey(128 + 32) == 0x1751997d0ull && FoldKey(128 - 32) == 0x0ccaa009eull);

bool CpuCanFold() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
#else
  return false;
#endif
}

std::string CrcFailureText(const std::string& cause, const std::string& fileName) {
  return cause + " in CalcFileCRC32, filename = \"" + fileName + "\"\r\n";
}

// Large reads keep the checksum near memory speed; the block size is not visible outside.
constexpr size_t kFileBlock = 256 * 1024;

}  // namespace

constinit const TCrc32FoldKeys kCrc32FoldKeys = MakeFoldKeys();

uint32_t UpdateCrc32(const void* data, size_t len, uint32_t crc) {
  static const bool canFold = CpuCanFold();
  if (len == 0) return crc;
#if defined(__x86_64__)
  if (canFold && len >= kCrc32FoldMinimum) return Crc32FoldAvx2(crc, static_cast<const uint8_t*>(data), len);
#endif
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), len);
}

uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lenB) {
  return MultiplyModP(PowerModP(lenB, 3), crcA) ^ crcB;
}

bool CalcFileCRC32(const std::string& fileName, uint32_t& crc) {
  int fd = -1;
  try {
    fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category());
    auto buffer = std::make_unique<unsigned char[]>(kFileBlock);
    uint32_t running = 0;
    for (;;) {
      ssize_t got = ::read(fd, buffer.get(), kFileBlock);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw std::system_error(errno, std::generic_category());
      if (got == 0) break;
      running = UpdateCrc32(buffer.get(), static_cast<size_t>(got), running);
    }
    ::close(fd);
    crc = running;
    return true;
  } catch (const std::system_error& e) {
    if (fd >= 0) ::close(fd);
    LogError(CrcFailureText("I/O Error " + IoErrorText(e.code().value()), fileName), 1);
  } catch (const std::exception& e) {
    if (fd >= 0) ::close(fd);
    LogError(CrcFailureText(std::string("Exception ") + e.what(), fileName), 1);
  }
  return false;
}

}  // namespace zev

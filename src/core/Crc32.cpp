#include "core/Crc32.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>

#include <isa-l/crc.h>

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

// x^(8 * bytes) modulo the polynomial: appending `bytes` zero bytes multiplies a CRC
// register by this.
uint32_t ShiftForBytes(uint64_t bytes) {
  uint32_t p = 1u << 31;  // x^0
  for (unsigned k = 3; bytes != 0; bytes >>= 1, ++k)
    if (bytes & 1) p = MultiplyModP(kSquares[k], p);
  return p;
}

std::string CrcFailureText(const std::string& cause, const std::string& fileName) {
  return cause + " in CalcFileCRC32, filename = \"" + fileName + "\"\r\n";
}

// Large reads keep the checksum near memory speed; the block size is not visible outside.
constexpr size_t kFileBlock = 256 * 1024;

}  // namespace

uint32_t UpdateCrc32(const void* data, size_t len, uint32_t crc) {
  if (len == 0) return crc;
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), len);
}

uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lenB) {
  return MultiplyModP(ShiftForBytes(lenB), crcA) ^ crcB;
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
    LogError(CrcFailureText("I/O Error " + std::string(std::strerror(e.code().value())), fileName), 1);
  } catch (const std::exception& e) {
    if (fd >= 0) ::close(fd);
    LogError(CrcFailureText(std::string("Exception ") + e.what(), fileName), 1);
  }
  return false;
}

}  // namespace zev

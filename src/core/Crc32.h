#pragma once
// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320), the checksum yEnc posts carry
// and the download logs record.
#include <cstddef>
#include <cstdint>
#include <string>

namespace zev {

// Continues `crc` over `len` more bytes. The running value is inverted on entry and exit,
// so calls chained over consecutive buffers, starting from 0, give the CRC of the whole
// data: UpdateCrc32(b, nb, UpdateCrc32(a, na, 0)) == CRC of a followed by b.
uint32_t UpdateCrc32(const void* data, size_t len, uint32_t crc);

// The CRC of A followed by B, from the CRC of A, the CRC of B and the length of B alone.
// Lets the per-part CRCs of a yEnc post be joined into the whole-file CRC without
// reading the assembled file again.
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lenB);

// CRC of a whole file. On failure writes one error-log entry (level 1) and returns false.
bool CalcFileCRC32(const std::string& fileName, uint32_t& crc);

}  // namespace zev

#include "Encoders.h"

#include <isa-l/crc.h>

#include <array>
#include <cstdio>

namespace zev::testserver {
namespace {

bool YencCritical(uint8_t encoded) {
  return encoded == 0 || encoded == '\n' || encoded == '\r' || encoded == '=';
}

bool YencEdgeCritical(uint8_t encoded) { return encoded == ' ' || encoded == '\t'; }

void PutYenc(std::string& out, uint8_t encoded, bool escape) {
  if (escape) {
    out.push_back('=');
    out.push_back(static_cast<char>(static_cast<uint8_t>(encoded + 64)));
  } else {
    out.push_back(static_cast<char>(encoded));
  }
}

char UuChar(unsigned value) { return value == 0 ? '`' : static_cast<char>(value + 32); }

}  // namespace

uint32_t Crc32(const void* data, size_t size, uint32_t crc) {
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), size);
}

std::string YencEncodeLines(const uint8_t* data, size_t size, const FYencLineOptions& options) {
  std::string out;
  out.reserve(size + size / 40 + 64);
  int column = 0;
  for (size_t i = 0; i < size; ++i) {
    const auto encoded = static_cast<uint8_t>(data[i] + 42);
    const bool lineStart = column == 0;
    const bool lineEnd = column + 1 >= options.lineLength || i + 1 == size;
    bool escape = YencCritical(encoded);
    if ((lineStart || lineEnd) && YencEdgeCritical(encoded)) escape = true;
    if (lineStart && encoded == '.' && options.escapeLeadingDot) escape = true;
    PutYenc(out, encoded, escape);
    column += escape ? 2 : 1;
    if (column >= options.lineLength || i + 1 == size) {
      out.push_back('\n');
      column = 0;
    }
  }
  return out;
}

std::string UuencodeLines(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve(size * 4 / 3 + size / 45 * 2 + 8);
  for (size_t pos = 0; pos < size; pos += 45) {
    const size_t n = std::min<size_t>(45, size - pos);
    out.push_back(UuChar(static_cast<unsigned>(n)));
    for (size_t i = 0; i < n; i += 3) {
      std::array<uint8_t, 3> b{};
      for (size_t k = 0; k < 3 && i + k < n; ++k) b[k] = data[pos + i + k];
      out.push_back(UuChar(b[0] >> 2));
      out.push_back(UuChar(((b[0] & 3) << 4) | (b[1] >> 4)));
      out.push_back(UuChar(((b[1] & 15) << 2) | (b[2] >> 6)));
      out.push_back(UuChar(b[2] & 63));
    }
    out.push_back('\n');
  }
  return out;
}

std::string Base64Lines(const uint8_t* data, size_t size) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(size * 4 / 3 + size / 57 + 8);
  int column = 0;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t b0 = data[i];
    const uint32_t b1 = i + 1 < size ? data[i + 1] : 0;
    const uint32_t b2 = i + 2 < size ? data[i + 2] : 0;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    out.push_back(kAlphabet[(triple >> 18) & 63]);
    out.push_back(kAlphabet[(triple >> 12) & 63]);
    out.push_back(i + 1 < size ? kAlphabet[(triple >> 6) & 63] : '=');
    out.push_back(i + 2 < size ? kAlphabet[triple & 63] : '=');
    column += 4;
    if (column >= 76) {
      out.push_back('\n');
      column = 0;
    }
  }
  if (column > 0) out.push_back('\n');
  return out;
}

}  // namespace zev::testserver

namespace zev::testserver {
namespace {

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace

std::string YencPartBody(const FYencPartPlan& plan) {
  std::string out;
  out.reserve(plan.size + plan.size / 40 + 256);
  out.append("=ybegin ");
  if (plan.part > 0)
    out.append("part=" + std::to_string(plan.part) + " total=" + std::to_string(plan.total) + " ");
  out.append("line=" + std::to_string(plan.lines.lineLength) + " size=" + std::to_string(plan.fileSize) +
             " name=" + plan.name + "\n");
  if (plan.part > 0) {
    const uint64_t end = plan.begin + plan.declaredSize - 1;
    out.append("=ypart begin=" + std::to_string(plan.begin) + " end=" + std::to_string(end) + "\n");
  }
  out.append(YencEncodeLines(plan.data, plan.size, plan.lines));
  out.append("=yend size=" + std::to_string(plan.declaredSize));
  if (plan.part > 0) out.append(" part=" + std::to_string(plan.part) + " pcrc32=" + Hex8(plan.pcrc32));
  if (plan.withFileCrc || plan.part == 0) out.append(" crc32=" + Hex8(plan.part == 0 ? plan.pcrc32 : plan.fileCrc));
  out.append("\n");
  return out;
}

}  // namespace zev::testserver

#include "download/YencEncode.h"

#include <cinttypes>
#include <cstdio>

#include "core/Crc32.h"

namespace zev {

namespace {

// NUL, LF, CR and "=" may never appear as themselves in encoded text.
constexpr bool IsCritical(uint8_t encoded) {
  return encoded == 0 || encoded == '\n' || encoded == '\r' || encoded == '=';
}

// Blanks at a line's edges do not survive some news servers and readers.
constexpr bool IsEdgeBlank(uint8_t encoded) { return encoded == '\t' || encoded == ' '; }

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08" PRIx32, value);
  return text;
}

}  // namespace

std::string YencEncodeLines(std::span<const uint8_t> data, const TYencEncodeOptions& options) {
  const size_t lineLength = options.lineLength == 0 ? 128 : options.lineLength;
  std::string out;
  out.reserve(data.size() + data.size() / 32 + (data.size() / lineLength + 1) * 2 + 16);
  size_t column = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    uint8_t c = static_cast<uint8_t>(data[i] + 42);
    bool lineStart = column == 0;
    bool lineEnd = column + 1 >= lineLength || i + 1 == data.size();
    bool escape = IsCritical(c) || ((lineStart || lineEnd) && IsEdgeBlank(c)) ||
                  (lineStart && c == '.' && options.escapeLineStartDot);
    if (escape) {
      out += '=';
      c = static_cast<uint8_t>(c + 64);
      ++column;
    }
    out += static_cast<char>(c);
    if (++column >= lineLength) {
      out += "\r\n";
      column = 0;
    }
  }
  if (column != 0) out += "\r\n";
  return out;
}

std::string YencEncodeArticle(std::span<const uint8_t> data, const TYencPostInfo& info,
                              const TYencEncodeOptions& options) {
  const size_t lineLength = options.lineLength == 0 ? 128 : options.lineLength;
  const uint32_t dataCrc = UpdateCrc32(data.data(), data.size(), 0);
  std::string out = "=ybegin ";
  if (info.part != 0) out += "part=" + std::to_string(info.part) + " total=" + std::to_string(info.total) + " ";
  out += "line=" + std::to_string(lineLength) + " size=" + std::to_string(info.fileSize) + " name=" + info.name + "\r\n";
  if (info.part != 0) {
    out += "=ypart begin=" + std::to_string(info.begin) +
           " end=" + std::to_string(info.begin + data.size() - 1) + "\r\n";
  }
  out += YencEncodeLines(data, options);
  out += "=yend size=" + std::to_string(data.size());
  if (info.part != 0) {
    out += " part=" + std::to_string(info.part) + " pcrc32=" + Hex8(dataCrc);
    if (info.withFileCrc) out += " crc32=" + Hex8(info.fileCrc);
  } else {
    out += " crc32=" + Hex8(dataCrc);
  }
  out += "\r\n";
  return out;
}

std::string DotStuffBody(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 64 + 8);
  bool lineStart = true;
  for (char c : body) {
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = c == '\n';
  }
  if (!lineStart) out += "\r\n";
  out += ".\r\n";
  return out;
}

}  // namespace zev

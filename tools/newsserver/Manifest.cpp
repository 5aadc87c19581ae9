#include "Manifest.h"

#include <cstdio>

namespace zev::testserver {
namespace {

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "\"%08x\"", value);
  return text;
}

std::string StringList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + JsonQuote(items[i]);
  return out + "]";
}

std::string PartJson(const FManifestPart& p) {
  std::string out = "{\"number\": " + std::to_string(p.number) + ", \"message_id\": " + JsonQuote(p.messageId) +
                    ", \"subject\": " + JsonQuote(p.subject) + ", \"begin\": " + std::to_string(p.begin) +
                    ", \"end\": " + std::to_string(p.end) + ", \"crc32\": " + Hex8(p.crc32) +
                    ", \"posted\": " + (p.posted ? "true" : "false");
  if (p.badCrc) out += ", \"bad_pcrc32\": true";
  if (p.truncated) out += ", \"truncated\": true";
  out += ", \"numbers\": {";
  for (size_t i = 0; i < p.numbers.size(); ++i)
    out += (i ? ", " : "") + JsonQuote(p.numbers[i].first) + ": " + std::to_string(p.numbers[i].second);
  return out + "}}";
}

}  // namespace

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

const FManifestFile* FManifest::FindFile(const std::string& name) const {
  for (const FManifestFile& f : files)
    if (f.name == name) return &f;
  return nullptr;
}

std::string FManifest::ToJson() const {
  std::string out = "{\n  \"seed\": " + std::to_string(seed) + ",\n  \"groups\": " + StringList(groups) +
                    ",\n  \"files\": [";
  for (size_t i = 0; i < files.size(); ++i) {
    const FManifestFile& f = files[i];
    out += (i ? ",\n" : "\n");
    out += "    {\"name\": " + JsonQuote(f.name) + ", \"encoding\": " + JsonQuote(f.encoding) +
           ", \"groups\": " + StringList(f.groups) + ", \"size\": " + std::to_string(f.size) +
           ", \"crc32\": " + Hex8(f.crc32) + ", \"set\": " + std::to_string(f.set) +
           ", \"broken\": " + JsonQuote(f.broken) + ", \"parts_total\": " + std::to_string(f.parts.size()) +
           ",\n     \"parts\": [";
    for (size_t k = 0; k < f.parts.size(); ++k) out += (k ? ",\n       " : "\n       ") + PartJson(f.parts[k]);
    out += "]}";
  }
  out += "\n  ],\n  \"texts\": [";
  for (size_t i = 0; i < texts.size(); ++i) {
    const FManifestText& t = texts[i];
    out += (i ? ",\n" : "\n");
    out += "    {\"message_id\": " + JsonQuote(t.messageId) + ", \"subject\": " + JsonQuote(t.subject) +
           ", \"group\": " + JsonQuote(t.group) + ", \"number\": " + std::to_string(t.number) + "}";
  }
  return out + "\n  ]\n}\n";
}

}  // namespace zev::testserver

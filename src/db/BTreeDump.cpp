// TBTree: the page dump written to the ".log" file beside a tree (boDump) and printed by
// "zevrin-db dump". Damaged values are printed and marked, never followed.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/TextUtil.h"
#include "db/BTreeInternal.h"

namespace zev {

using namespace fmt;

namespace {

const char* const kKindNames[] = {"ntDir", "nt3x", "ntType2", "ntData", "ntFree"};

std::string KindText(uint8_t kind) {
  std::string text;
  for (int bit = 0; bit < 5; ++bit) {
    if (!(kind & (1 << bit))) continue;
    if (!text.empty()) text += ", ";
    text += kKindNames[bit];
  }
  return text;
}

std::string DateLine() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  return FormatText("************************ %s ************************\r\n", when);
}

std::string PrintableKey(std::string_view key) {
  std::string out;
  for (char c : key) out += static_cast<unsigned char>(c) < 32 ? '?' : c;
  return out;
}

}  // namespace

void TBTree::Dump(uint32_t position, std::string_view caller) {
  std::shared_lock lock(lock_);
  DumpPage(position, caller);
}

std::string TBTree::DumpText(uint32_t position) {
  std::shared_lock lock(lock_);
  return PageText(position);
}

void TBTree::DumpPage(uint32_t position, std::string_view caller) {
  if (!(options_ & boDump)) return;
  try {
    std::string text = DateLine();
    if (!caller.empty()) text += FormatText("Called by: %s\r\n", std::string(caller).c_str());
    text += PageText(position);
    text += DateLine();
    std::string path = fileName_;
    auto dot = path.rfind('.');
    auto slash = path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
    path += ".log";
    std::lock_guard guard(dumpLock_);
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
  } catch (...) {
    // A dump is a diagnostic aid; failing to write it must not fail the operation.
  }
}

std::string TBTree::PageText(uint32_t position) {
  TPageRef ref = cache_->Get(position);
  if (!ref) return FormatText("Buffer at %u cannot be read\r\n", position);
  const uint8_t* p = ref.Data();
  uint64_t end = FileSize();
  uint32_t pages = static_cast<uint32_t>(end / kPageSize);
  auto linkText = [&](uint32_t value) {
    bool bad = value != 0 && (OffsetIn(value) != 0 || value >= end);
    return FormatText("%s%u (#%u)", bad ? "ERROR!" : "", value, PageNumber(value));
  };
  uint8_t kind = p[kKindField];
  std::string out = FormatText("Buffer at %u (page #%u/%u), Flags:[%s], Count:%u\r\n", position,
                               PageNumber(position), pages, KindText(kind).c_str(), Load32(p + kCountField));
  if (kind & ntFree) return out + "Next free: " + linkText(Load32(p + kCountField)) + "\r\n";
  if (kind & ntData) {
    if (position == kFirstDataPage) out += "First free: " + linkText(Load32(p + kPrevField)) + "\r\n";
    else out += "Prev: " + linkText(Load32(p + kPrevField)) + ", ";
    out += "Next: " + linkText(Load32(p + kNextField)) + FormatText(", Free: %u\r\n", Load32(p + kLastField));
    AppendDataPageText(out, p, position);
    return out;
  }
  if (position == 0) {
    uint32_t head = Load32(p + kNextField);
    out += OffsetIn(head) != 0 ? FormatText("ERROR! Free list head: %u (#%u.%u!)\r\n", head, PageNumber(head),
                                            OffsetIn(head))
                               : FormatText("Free list head: %u (#%u)\r\n", head, PageNumber(head));
  }
  TNode node(const_cast<uint8_t*>(p), ref.Size());
  std::string why;
  if (node.IsDir()) out += "LT:" + linkText(node.Lt()) + "\r\n";
  else if (position != 0) out += "Prev: " + linkText(node.Prev()) + ", Next: " + linkText(node.Next()) + "\r\n";
  if (!node.Valid(&why)) return out + "ERROR! " + why + "\r\n";
  TKeyReader keys(*this);
  for (uint32_t i = 0; i < node.Count(); ++i) {
    TDataPointer dp = node.Dp(i);
    std::string_view key;
    bool haveKey = keys.KeyOf(node, i, key);
    std::string keyText = haveKey ? "\"" + PrintableKey(key) + "\"" : "<null>";
    if (node.IsDir() && node.KeysInNode())
      out += FormatText("Key[%u]:%s, GE: %s\r\n", i, keyText.c_str(), linkText(node.Child(i)).c_str());
    else if (node.IsDir())
      out += FormatText("Key[%u]:%u=#%u:%u=%s, GE: %s\r\n", i, dp, PageNumber(dp), OffsetIn(dp), keyText.c_str(),
                        linkText(node.Child(i)).c_str());
    else if (node.KeysInNode())
      out += FormatText("Key[%u]:%s, Data: %u=#%u:%u\r\n", i, keyText.c_str(), dp, PageNumber(dp), OffsetIn(dp));
    else
      out += FormatText("Key[%u]:%u=#%u:%u=%s\r\n", i, dp, PageNumber(dp), OffsetIn(dp), keyText.c_str());
  }
  return out;
}

void TBTree::AppendDataPageText(std::string& out, const uint8_t* p, uint32_t position) {
  TDataPage page(const_cast<uint8_t*>(p), position);
  uint32_t previousEnd = page.Start();
  int steps = 0;
  for (uint32_t slot = page.FirstFree(); slot != 0 && steps < 2048; ++steps) {
    if (slot < previousEnd || slot > kPageSize - kSlotHeaderSize) {  // no sum: slot may be near 2^32
      out += FormatText("Warning! Invalid free slot next pointer %u in data sector at %u+%u\r\n", slot, position,
                        previousEnd);
      break;
    }
    uint32_t size = Load16(p + slot + 2);
    if (size < kSlotHeaderSize || slot + size > kPageSize) {
      out += FormatText("Warning! Invalid free slot size %u in data sector at %u, free=%u\r\n", size, position, slot);
      break;
    }
    out += FormatText("Free slot starting at %u, %u bytes, next free at %u\r\n", position + slot, size,
                      Load16(p + slot));
    previousEnd = slot + size;
    slot = Load16(p + slot);
  }
  uint32_t recordSize = sizeParam_;
  page.ForEachRecord(recordSize, [&](uint32_t offset) {
    uint32_t size = page.SlotSize(offset, recordSize);
    if (page.Fixed()) {
      char id[9] = {};
      std::memcpy(id, p + offset, std::min<uint32_t>(8, recordSize));
      uint32_t refCount = recordSize >= 12 ? Load32(p + offset + 8) : 0;
      out += FormatText("Data item at %u, %u bytes, RefCount:%u, MsgID:%s\r\n", position + offset, size, refCount,
                        PrintableKey(id).c_str());
    } else {
      uint32_t count = recordSize >= 8 ? Load32(p + offset + 4) : 0;
      std::string key = reinterpret_cast<const char*>(p + offset + recordSize);
      out += FormatText("Data item at %u, %u bytes, RefCount:%u, Key:\"%s\"\r\n", position + offset, size, count,
                        PrintableKey(key).c_str());
    }
  });
}

}  // namespace zev

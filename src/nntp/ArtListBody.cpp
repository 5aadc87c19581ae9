// TArtList: downloaded bodies and missing articles. A body is checked against the
// article it was asked for, the connection is given its next command at once, and then
// the body goes to the decoder. An article counts as downloaded only once the decoder has
// saved it.
#include <cstring>
#include <mutex>

#include "core/Config.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "download/BodyDecoder.h"
#include "download/Queue.h"
#include "nntp/ArtListInternal.h"
#include "platform/SystemInfo.h"

namespace zev {

namespace {

// A disk with less room than this is the likely reason a decoded file could not be saved.
constexpr uint64_t kDiskFullBelow = 10'000'000;

bool StartsWith22x(std::string_view status) {
  return status.size() > 4 && status[0] == '2' && status[1] == '2' && status[2] >= '0' && status[2] <= '9';
}

// Bodies larger than this do not keep their buffer after decoding.
constexpr size_t kKeptBodyBuffer = size_t{16} << 20;

// A copy of the body for the decoder, which decodes it in place while the connection reads
// the next one into its own buffer. Each handler thread keeps its copy's memory: fresh
// megabytes for every article would be faulted in and given back again each time.
std::string& BodyBuffer(std::string_view data) {
  thread_local std::string buffer;
  if (buffer.capacity() > kKeptBodyBuffer && data.size() <= kKeptBodyBuffer) std::string().swap(buffer);
  buffer.assign(data);
  return buffer;
}

}  // namespace

TGroup* TArtList::GroupOfBody(TConnectionFace& connection, TArticleOffset offset) {
  const std::string current = connection.Slot().Status.Get(TSlotStatus::CurrentGroup);
  if (!current.empty())
    if (auto sg = parts_.serverGroups->FindByName(connection.Server(), current, false)) return &sg->Group();
  return parts_.queueIndex ? parts_.queueIndex->GroupOf(offset) : nullptr;
}

void TArtList::HandleBody(TConnectionFace& connection, const FResponseBlock& block) {
  TQueue& queue = *parts_.queue;
  TServer& slot = connection.Slot();
  slot.AddArticleBytes(block.data.size());
  const FItemFacts item = CurrentItemFacts(connection);
  if (!item.present || item.kind != qkBody) {
    queue.NextCommand(connection);
    return;
  }
  const TArticleOffset offset = item.data[0];
  std::string subject;
  if (!AcceptBody(connection, block, offset, subject)) {
    queue.ReleaseForOtherServers(connection);
    queue.NextCommand(connection);
    return;
  }
  ++bodies_;
  TGroup* group = GroupOfBody(connection, offset);
  // The connection fetches the next article while this one is decoded.
  queue.BodyReceived(connection);
  queue.NextCommand(connection);
  std::string& body = BodyBuffer(block.data);
  TBodyCounter counter;
  TBodyDecoder& decoder = parts_.decoder ? *parts_.decoder : counter;
  try {
    switch (decoder.Decode(group, slot, (item.flags & qfSaveAsText) != 0, offset, body)) {
      case drSaved: {
        {
          TArticleLock lock(*parts_.article);
          if (parts_.article->Read(offset)) {
            parts_.article->Exclude(afMarked);
            parts_.article->Include(afDownloaded);
            parts_.article->Write();
          }
        }
        // The queue's lock comes before the article's: never ask for it while holding that.
        queue.MarkHandled(offset, &slot);
        break;
      }
      case drNotSaved: queue.MarkHandled(offset, &slot); break;
      case drFailed:
        LogError(FormatText("%s: Decoding error in article \"%s\", storing article back into download queue.",
                            connection.ConnName().c_str(), PrintableName(subject).c_str()),
                 0);
        queue.PutBack(offset, slot);
        break;
    }
  } catch (const std::exception& e) {
    SavingFailed(connection, e, offset, group);
  }
}

// The decoder could not write its file: the article goes back to the queue and the
// connection stops, since the next body would fail the same way.
void TArtList::SavingFailed(TConnectionFace& connection, const std::exception& e, TArticleOffset offset,
                            TGroup* group) {
  TServer& slot = connection.Slot();
  parts_.queue->PutBack(offset, slot);
  std::string dir;
  {
    TArticleLock lock(*parts_.article);
    if (parts_.article->Read(offset)) dir = parts_.article->GetDownloadDir();
  }
  if (dir.empty() && group) dir = group->EffectiveDecodeDir();
  uint64_t freeBytes = 0;
  if (!dir.empty() && platform::FreeDiskSpace(dir, freeBytes) && freeBytes < kDiskFullBelow)
    LogError("Disk full attempting to decode a file!", 1);
  else
    LogException(e, "HandleBody");
  const std::string message = FormatText("Error \"%s\" saving a decoded file!", e.what());
  slot.Status.Set(TSlotStatus::StatusMessage, message);
  LogError(connection.ConnName() + ": " + message, 0);
  connection.DisconnectNow();
}

// Whether the body is the article asked for: the status line must carry its Message-ID.
bool TArtList::AcceptBody(TConnectionFace& connection, const FResponseBlock& block, TArticleOffset offset,
                          std::string& subject) {
  TArticle& article = *parts_.article;
  TArticleLock lock(article);
  const std::string server = PrintableName(connection.Server().Name());
  const std::string group = PrintableName(connection.Slot().Status.Get(TSlotStatus::CurrentGroup));
  const std::string status = PrintableName(block.statusLine);
  if (!article.Read(offset)) return false;
  subject = article.GetSubject();
  const std::string shortId(article.Data().FMsgId, strnlen(article.Data().FMsgId, sizeof article.Data().FMsgId));
  if (!shortId.empty() && block.statusLine.find(shortId) != std::string_view::npos) return true;
  const std::string fullId = article.GetMessageId();
  if (!fullId.empty() && block.statusLine.find(fullId) != std::string_view::npos) {
    LogError(FormatText("Warning! Article Message-ID does not match Index Message ID! Server = \"%s\", Group = \"%s\", "
                        "Article MsgID = <%.5s...>, Index MsgID = <%s>, Subject = \"%s\"",
                        server.c_str(), group.c_str(), shortId.c_str(), PrintableName(fullId).c_str(),
                        PrintableName(subject).c_str()),
             0);
    return true;
  }
  if (block.statusLine.find('<') != std::string_view::npos) {
    if (StartsWith22x(block.statusLine) && gConfig && gConfig->Has(cfIgnoreMsgIdMismatch)) {
      LogError("Ignoring...Successful 22x response code", 1);
      return true;
    }
    LogError(FormatText("Message-ID mismatch! Server=\"%s\", Group=\"%s\", Response=\"%s\", requested \"<%.5s...>\".",
                        server.c_str(), group.c_str(), status.c_str(), shortId.c_str()),
             1);
    return false;
  }
  LogError(FormatText("Warning! Possible Message-ID mismatch! Server=\"%s\", Group=\"%s\", Response=\"%s\", requested "
                      "\"<%.5s...>\" (%s)",
                      server.c_str(), group.c_str(), status.c_str(), shortId.c_str(), PrintableName(subject).c_str()),
           0);
  return true;
}

void TArtList::HandleArticleMissing(TConnectionFace& connection, const FResponseBlock& block) {
  TQueue& queue = *parts_.queue;
  const FItemFacts item = CurrentItemFacts(connection);
  if (!item.present || item.kind != qkBody || (gConfig && gConfig->Has(cfIgnore423))) {
    queue.ReleaseForOtherServers(connection);
    queue.NextCommand(connection);
    return;
  }
  const size_t blank = block.command.find(' ');
  const std::string_view argument = blank == std::string_view::npos ? std::string_view() : block.command.substr(blank + 1);
  uint32_t number = item.data[2];
  if (argument.find('<') == std::string_view::npos) {
    uint64_t v = 0;
    for (char c : argument) {
      if (c < '0' || c > '9' || v > UINT32_MAX) break;
      v = v * 10 + (c - '0');
    }
    number = v <= UINT32_MAX ? static_cast<uint32_t>(v) : 0;
  }
  TArticleOffset offset = item.data[0];
  bool droppedHere = false;
  const std::string current = connection.Slot().Status.Get(TSlotStatus::CurrentGroup);
  if (auto sg = parts_.serverGroups->FindByName(connection.Server(), current, false)) {
    std::lock_guard state(sg->StateLock());
    TMapUse map(*sg);
    if (map.Loaded() && number >= sg->FirstArtNo() && number <= sg->LastArtNo() && number != 0) {
      const uint32_t entry = sg->GetEntry(number);
      if (offset < kFirstArticleOffset) offset = entry;
      // Only an entry that held the article carried a reference to drop.
      droppedHere = entry == offset && entry >= kFirstArticleOffset;
      if (entry != mmMissing) sg->SetEntry(number, mmMissing);
      sg->SaveOffsMap();
    }
  }
  std::string subject;
  const bool gone = droppedHere && connection.Server().ServerMode != smArticles && parts_.article->Expire(offset);
  if (gone && gConfig && gConfig->Has(cfWarningsVerbose)) {
    TArticleLock lock(*parts_.article);
    if (parts_.article->Read(offset)) subject = parts_.article->GetSubject();
    LogError(connection.ConnName() + ": " + PrintableName(block.statusLine) + " (" + PrintableName(block.command) +
                 ": " + PrintableName(subject) + ")!",
             0);
  }
  queue.ReleaseForOtherServers(connection);
  if (gone && !(parts_.queueIndex && parts_.queueIndex->AnyHolds(offset))) queue.MarkHandled(offset, nullptr);
  queue.NextCommand(connection);
}

}  // namespace zev

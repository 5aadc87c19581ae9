#pragma once
// Feeds a byte stream into a TResponseFramer the way the connection does (make room, read
// into the free space, commit), cut into pieces wherever a test wants, and collects the
// blocks it hands on. Shared by the framer tests and its fuzz target.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "nntp/ResponseFramer.h"

namespace zev::test {

struct FFramerRun {
  bool complete = false;
  bool tooLarge = false;
  size_t end = 0;              // offset just past the response's last byte
  uint16_t code = 0;
  std::string statusLine;
  std::string data;            // every block's data joined
  std::vector<TBlockType> types;
  std::vector<std::string> blocks;
  size_t trailing = 0;
};

// Feeds `stream` in pieces ending at `cuts` (ascending offsets), then the rest. With
// `deliver` the full buffers of line data are taken as blocks, otherwise dropped.
inline FFramerRun FeedFramer(TResponseFramer& framer, std::string_view stream, const std::vector<size_t>& cuts,
                             bool deliver = true) {
  FFramerRun run;
  size_t pos = 0;
  auto takeBlock = [&](FFramedBlock&& block) {
    run.types.push_back(block.type);
    run.blocks.emplace_back(block.Data());
    run.data.append(block.Data());
  };
  std::vector<size_t> ends = cuts;
  ends.push_back(stream.size());
  for (size_t end : ends) {
    end = std::min(end, stream.size());
    while (pos < end && !run.complete && !run.tooLarge) {
      TResponseFramer::TRoom room;
      while ((room = framer.MakeRoom()) == TResponseFramer::rmLinesDue) {
        if (deliver) takeBlock(framer.TakeLines());
        else framer.DropLines();
      }
      if (room == TResponseFramer::rmTooLarge) {
        run.tooLarge = true;
        break;
      }
      const std::span<char> space = framer.Space();
      const size_t n = std::min(space.size(), end - pos);
      std::memcpy(space.data(), stream.data() + pos, n);
      pos += n;
      const TResponseFramer::FProgress progress = framer.Commit(n);
      if (progress.tooLarge) run.tooLarge = true;
      if (progress.complete) {
        run.complete = true;
        run.end = pos - framer.TrailingBytes();
      }
    }
  }
  run.code = framer.Code();
  run.statusLine = framer.StatusLine();
  if (run.complete) {
    run.trailing = stream.size() - run.end;
    if (deliver) takeBlock(framer.TakeFinal());
    else run.data.append(framer.FinalData());
  }
  return run;
}

}  // namespace zev::test

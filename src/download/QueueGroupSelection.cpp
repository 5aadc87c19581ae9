#include "download/QueueGroupSelection.h"

#include "download/Queue.h"

namespace zev {

void TQueueGroupSelection::HandleResponse(TConnectionFace& connection, const FResponseBlock& block) {
  // The group that was asked for becomes the selected one, not the name in the reply: a
  // server that answers in other letter case would otherwise be sent "group" for ever.
  constexpr std::string_view kPrefix = "group ";
  std::string_view requested = block.command;
  if (requested.substr(0, kPrefix.size()) == kPrefix) requested.remove_prefix(kPrefix.size());
  queue_.GroupSelected(connection, block.code == 211, std::string(requested));
}

}  // namespace zev

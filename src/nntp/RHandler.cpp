#include "nntp/RHandler.h"

#include <exception>

#include "core/Log.h"
#include "core/TextUtil.h"
#include "nntp/IdleTicks.h"
#include "platform/ThreadName.h"

namespace zev {

TRHandler::TRHandler(TConnectionFace& connection) : connection_(connection) {
  thread_ = std::thread([this] {
    platform::NameThisThread("zev-handler");
    Execute();
  });
}

TRHandler::~TRHandler() {
  {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [this] { return !waiting_ && !busy_; });
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TRHandler::Hand(FHandOver&& handOver) {
  {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [this] { return !waiting_ && !busy_; });
    waiting_ = std::move(handOver);
  }
  changed_.notify_all();
}

bool TRHandler::Idle() const {
  std::lock_guard lock(lock_);
  return !waiting_ && !busy_;
}

void TRHandler::WaitIdle() {
  std::unique_lock lock(lock_);
  changed_.wait(lock, [this] { return !waiting_ && !busy_; });
}

TReceiveBuffer TRHandler::TakeSpare() {
  std::lock_guard lock(lock_);
  return std::move(spare_);
}

void TRHandler::Execute() {
  while (true) {
    FHandOver handOver;
    {
      std::unique_lock lock(lock_);
      changed_.wait(lock, [this] { return waiting_ || stop_; });
      if (!waiting_) return;
      handOver = std::move(*waiting_);
      waiting_.reset();
      busy_ = true;
    }
    gIdleTicks = 0;
    Dispatch(handOver);
    {
      std::lock_guard lock(lock_);
      if (handOver.block.buffer.Capacity() > spare_.Capacity()) spare_ = std::move(handOver.block.buffer);
      busy_ = false;
    }
    changed_.notify_all();
  }
}

FResponseBlock ViewOf(const FHandOver& handOver) {
  FResponseBlock block;
  block.type = handOver.block.type;
  block.code = handOver.code;
  block.statusLine = handOver.statusLine;
  block.command = handOver.command;
  block.data = handOver.block.Data();
  block.partial = handOver.partial;
  block.prepared = handOver.prepared.get();
  return block;
}

void TRHandler::Dispatch(FHandOver& handOver) {
  const FResponseBlock block = ViewOf(handOver);
  try {
    handOver.target->HandleResponse(connection_, block);
  } catch (const std::exception& e) {
    // A target that fails loses this block only; the connection and its next blocks go on.
    LogException(e, "TRHandler.Execute", HandOverDump(handOver) + "; Conn=\"" + connection_.ConnName() + "\"");
  }
}

std::string HandOverDump(const FHandOver& handOver) {
  const std::string_view data = handOver.block.Data();
  const char* response = handOver.statusLine.c_str();
  const char* param = handOver.command.c_str();
  if (data.empty()) return FormatText(" FResponse=\"%s\", FParam=\"%s\", FData=nil", response, param);
  if (data.size() >= 1024)
    return FormatText(" FResponse=\"%s\", FParam=\"%s\", StrLen(FData)=%zu", response, param, data.size());
  return FormatText("\r\nFResponse=\"%s\"\r\nFParam=\"%s\"\r\nFData=\"%.*s\"", response, param,
                    static_cast<int>(data.size()), data.data());
}

}  // namespace zev


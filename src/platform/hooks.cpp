#include "platform/hooks.h"

#include <utility>

namespace vx {

namespace {
std::function<void()>& ProcessHook() {
  static std::function<void()> hook;
  return hook;
}
std::function<TBoxAnswer(const std::string&)>& BoxHook() {
  static std::function<TBoxAnswer(const std::string&)> hook;
  return hook;
}
std::function<bool()>& StopHook() {
  static std::function<bool()> hook;
  return hook;
}
}  // namespace

bool StopRequested() {
  const auto& hook = StopHook();
  return hook && hook();
}

void SetStopRequestHook(std::function<bool()> hook) { StopHook() = std::move(hook); }

void ProcessMessages() {
  if (const auto& hook = ProcessHook()) hook();
}

void SetProcessMessagesHook(std::function<void()> hook) { ProcessHook() = std::move(hook); }

TBoxAnswer AskQuestionBox(const std::string& text) {
  if (const auto& hook = BoxHook()) return hook(text);
  return TBoxAnswer::Unavailable;
}

void SetQuestionBoxHook(std::function<TBoxAnswer(const std::string&)> hook) {
  BoxHook() = std::move(hook);
}

}  // namespace vx

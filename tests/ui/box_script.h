#pragma once
// Answers the desktop program's message boxes in tests: each box shown is
// recorded, and answered with the next scripted button (or a default).  A
// password question is answered with the next scripted password, or
// cancelled when none is left.
#include <deque>
#include <optional>
#include <vector>

#include "ui/message_boxes.h"

namespace vx::ui::test {

class TBoxScript final : public TMessageBoxes {
 public:
  explicit TBoxScript(TBoxButton fallback = BB_Ok) : fallback_(fallback) {
    previous_ = SetMessageBoxes(this);
  }
  ~TBoxScript() override { SetMessageBoxes(previous_); }
  TBoxScript(const TBoxScript&) = delete;
  TBoxScript& operator=(const TBoxScript&) = delete;

  // The answers of the next boxes, in order.
  void Answer(TBoxButton button) { answers_.push_back(button); }

  TBoxButton Show(const TBoxRequest& request) override {
    shown.push_back(request);
    if (answers_.empty()) return fallback_;
    const TBoxButton b = answers_.front();
    answers_.pop_front();
    return b;
  }

  std::optional<QString> AskPassword(const TPasswordRequest& request) override {
    passwordAsks.push_back(request);
    if (passwords.empty()) return std::nullopt;
    const QString p = passwords.front();
    passwords.pop_front();
    return p;
  }

  std::vector<TBoxRequest> shown;
  std::vector<TPasswordRequest> passwordAsks;
  std::deque<QString> passwords;

 private:
  TBoxButton fallback_;
  std::deque<TBoxButton> answers_;
  TMessageBoxes* previous_ = nullptr;
};

}  // namespace vx::ui::test

#pragma once
// Answers the desktop program's message boxes in tests: each box shown is
// recorded, and answered with the next scripted button (or a default).
#include <deque>
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

  std::vector<TBoxRequest> shown;

 private:
  TBoxButton fallback_;
  std::deque<TBoxButton> answers_;
  TMessageBoxes* previous_ = nullptr;
};

}  // namespace vx::ui::test

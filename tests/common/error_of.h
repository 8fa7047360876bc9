#pragma once
// What a failure says: the message of the exception of type E that fn throws.
#include <string>
#include <utility>

namespace vx::test {

// e.what() of the E that fn throws, or "(nothing thrown)"; other exceptions
// pass through and fail the test.
template <typename E, typename Fn>
std::string ErrorOf(Fn&& fn) {
  try {
    std::forward<Fn>(fn)();
  } catch (const E& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

}  // namespace vx::test

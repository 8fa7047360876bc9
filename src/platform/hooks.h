#pragma once
// The places where the engine needs its caller's user interface: letting
// pending events run during long work, its own question box, and whether
// someone asked the running operation to stop.  All are plain callbacks; the
// defaults suit a program without a window.
#include <functional>
#include <string>

namespace vx {

// Lets pending user-interface events run (default: nothing).
void ProcessMessages();
void SetProcessMessagesHook(std::function<void()> hook);

// Answer of the question box: OK, Abort, closed without a choice, or no one
// could be asked (the default: no window, no terminal).
enum class TBoxAnswer { Ok, Abort, Closed, Unavailable };
TBoxAnswer AskQuestionBox(const std::string& text);
void SetQuestionBoxHook(std::function<TBoxAnswer(const std::string&)> hook);

// Whether the running operation is asked to stop (a signal, a stop button):
// the engine asks at every data block and ends with 12 (default: never).
bool StopRequested();
void SetStopRequestHook(std::function<bool()> hook);

}  // namespace vx

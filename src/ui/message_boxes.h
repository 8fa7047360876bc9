#pragma once
// Every message box of the desktop program goes through here, so that tests
// can answer boxes instead of a person (a box shown with exec() would block).
#include <QString>
#include <optional>

class QWidget;

namespace vx::ui {

enum class TBoxIcon { None, Information, Warning, Stop, Question };

// Buttons, combinable with |; a box's answer is one of them.
enum TBoxButton : int {
  BB_None = 0,
  BB_Ok = 1,
  BB_Cancel = 2,
  BB_Abort = 4,
  BB_Retry = 8,
  BB_Ignore = 16,
  BB_Yes = 32,
  BB_No = 64,
};

struct TBoxRequest {
  QWidget* Parent = nullptr;
  QString Caption;
  QString Text;
  TBoxIcon Icon = TBoxIcon::None;
  int Buttons = BB_Ok;
};

// A question for a password (typed hidden), e.g. for an encrypted set.
struct TPasswordRequest {
  QWidget* Parent = nullptr;
  QString Caption;
  QString Text;
};

// Who shows the boxes.  The default shows real QMessageBox windows and a
// password dialog.
class TMessageBoxes {
 public:
  virtual ~TMessageBoxes() = default;
  virtual TBoxButton Show(const TBoxRequest& request) = 0;
  // The password typed, or nothing when the question was cancelled (what a
  // handler that asks no one answers).
  virtual std::optional<QString> AskPassword(const TPasswordRequest&) { return std::nullopt; }
};

// Shows a box through the installed handler and returns the button pressed.
TBoxButton ShowBox(const TBoxRequest& request);
TBoxButton ShowBox(QWidget* parent, const QString& caption, const QString& text, TBoxIcon icon,
                   int buttons = BB_Ok);

// Asks for a password through the installed handler.
std::optional<QString> AskPassword(const TPasswordRequest& request);

// Installs a handler (nullptr: the real boxes again); returns the previous one.
TMessageBoxes* SetMessageBoxes(TMessageBoxes* boxes);

}  // namespace vx::ui

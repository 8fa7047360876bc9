#include "ui/message_boxes.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace vx::ui {
namespace {

struct TButtonMap {
  TBoxButton Ours;
  QMessageBox::StandardButton Qt;
};
constexpr TButtonMap kButtons[] = {
    {BB_Ok, QMessageBox::Ok},         {BB_Cancel, QMessageBox::Cancel},
    {BB_Abort, QMessageBox::Abort},   {BB_Retry, QMessageBox::Retry},
    {BB_Ignore, QMessageBox::Ignore}, {BB_Yes, QMessageBox::Yes},
    {BB_No, QMessageBox::No},
};

QMessageBox::Icon QtIcon(TBoxIcon icon) {
  switch (icon) {
    case TBoxIcon::Information:
      return QMessageBox::Information;
    case TBoxIcon::Warning:
      return QMessageBox::Warning;
    case TBoxIcon::Stop:
      return QMessageBox::Critical;
    case TBoxIcon::Question:
      return QMessageBox::Question;
    case TBoxIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

class TRealBoxes final : public TMessageBoxes {
 public:
  TBoxButton Show(const TBoxRequest& r) override {
    QMessageBox box(QtIcon(r.Icon), r.Caption, r.Text, QMessageBox::NoButton, r.Parent);
    for (const auto& b : kButtons)
      if (r.Buttons & b.Ours) box.addButton(b.Qt);
    const int pressed = box.exec();
    for (const auto& b : kButtons)
      if (pressed == b.Qt) return b.Ours;
    // Closed without a button: the escape answer of the box.
    if (r.Buttons & BB_Cancel) return BB_Cancel;
    if (r.Buttons & BB_No) return BB_No;
    if (r.Buttons & BB_Abort) return BB_Abort;
    return BB_Ok;
  }
  std::optional<QString> AskPassword(const TPasswordRequest& r) override {
    bool ok = false;
    const QString typed =
        QInputDialog::getText(r.Parent, r.Caption, r.Text, QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return typed;
  }
};

TRealBoxes realBoxes;
TMessageBoxes* current = &realBoxes;

}  // namespace

TBoxButton ShowBox(const TBoxRequest& request) { return current->Show(request); }

TBoxButton ShowBox(QWidget* parent, const QString& caption, const QString& text, TBoxIcon icon,
                   int buttons) {
  return ShowBox(TBoxRequest{parent, caption, text, icon, buttons});
}

std::optional<QString> AskPassword(const TPasswordRequest& request) {
  return current->AskPassword(request);
}

TMessageBoxes* SetMessageBoxes(TMessageBoxes* boxes) {
  TMessageBoxes* previous = current;
  current = boxes ? boxes : &realBoxes;
  return previous == &realBoxes ? nullptr : previous;
}

}  // namespace vx::ui

#pragma once
// The status window: runs one operation on its own engine and shows its
// progress, asks the engine's questions, reports the result and offers the log.
#include <QDialog>
#include <memory>

#include "engine/wizard_job.h"

namespace vx {
class TVaultrex;
}

namespace vx::ui {

class TStatusForm : public QDialog {
  Q_OBJECT
 public:
  // kind: 0 backup, 1 restore, 2 verify.  The page of that kind is run when
  // the window is first shown (exec()).  Creating the window hides
  // mainWindow; closing it shows mainWindow again.
  TStatusForm(QWidget* mainWindow, int operationKind, TWizardPages pages);
  ~TStatusForm() override;

  int ResultCode() const;
  TVaultrex& Engine();

  // The view-log action: the log viewer for Engine().LogFileName when that
  // file exists (also used by the main window's "view a log" menu item).
  void ViewLog();
};

}  // namespace vx::ui

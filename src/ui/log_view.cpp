#include "ui/log_view.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include "engine/vaultrex.h"
#include "support/version.h"
#include "ui/message_boxes.h"
#include "ui/status_form.h"
#include "ui/texts.h"

namespace vx::ui {

using txt::Text;

QString ResultMessage(int code) {
  switch (code) {
    case 1:
      return Text(txt::kResult1);
    case 2:
      return Text(txt::kResult2);
    case 3:
      return Text(txt::kResult3);
    case 4:
      return Text(txt::kResult4);
    case 5:
      return Text(txt::kResult5);
    case 6:
      return Text(txt::kResult6);
    case 7:
      return Text(txt::kResult7);
    case 8:
      return Text(txt::kResult8);
    case 9:
      return Text(txt::kResult9);
    case 10:
      return Text(txt::kResult10);
    case 11:
      return Text(txt::kResult11);
    case 12:
      return Text(txt::kResult12);
    case 13:
      return Text(txt::kResult13);
    case 14:
      return Text(txt::kResult14);
    case 15:
      return Text(txt::kResult15);
    case kPartialCode:
      return Text(txt::kResult16);
    case 98:
      return Text(txt::kResult98);
    case 99:
      return Text(txt::kResult99);
    default:
      break;
  }
  return Text(txt::kResultOtherHead) + QString::number(code) + Text(txt::kResultOtherTail);
}

TViewLogForm::TViewLogForm(QWidget* owner, const QString& fileName)
    : QDialog(owner), fileName_(fileName) {
  setObjectName(QStringLiteral("ViewLogForm"));
  setWindowTitle(Text(txt::kLogViewCaption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);

  richEdit_ = new QTextEdit(this);
  richEdit_->setObjectName(QStringLiteral("RichEdit"));
  richEdit_->setReadOnly(true);
  richEdit_->setAcceptRichText(false);
  richEdit_->setLineWrapMode(QTextEdit::NoWrap);
  richEdit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  richEdit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  deleteButton_ = new QPushButton(Text(txt::kDeleteLogButton), this);
  deleteButton_->setObjectName(QStringLiteral("DeleteButton"));
  deleteButton_->setAutoDefault(false);
  auto* closeButton = new QPushButton(Text(txt::kCloseLogButton), this);
  closeButton->setObjectName(QStringLiteral("CloseButton"));
  closeButton->setDefault(true);  // Enter closes; Escape closes through reject()
  connect(deleteButton_, &QPushButton::clicked, this, [this] { DeleteButtonClick(); });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);

  auto* strip = new QHBoxLayout;
  strip->addStretch(1);
  strip->addWidget(deleteButton_);
  strip->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(richEdit_, 1);
  layout->addLayout(strip);
  resize(640, 420);

  // Centred over the owner.
  if (owner) {
    const QRect o = owner->frameGeometry();
    move(o.left() + (o.width() - width()) / 2, o.top() + (o.height() - height()) / 2);
  }
}

bool TViewLogForm::LoadFile() {
  QFile file(fileName_);
  if (!file.open(QIODevice::ReadOnly)) return false;
  richEdit_->setPlainText(QString::fromUtf8(file.readAll()));
  return true;
}

void TViewLogForm::DeleteButtonClick() {
  QFile::remove(fileName_);  // a file already gone is no error
  deleteButton_->setEnabled(false);
}

void ShowLogViewer(QWidget* owner, const QString& fileName) {
  TViewLogForm viewer(owner, fileName);
  viewer.LoadFile();
  viewer.exec();
}

void ViewChosenLog(QWidget* mainWindow, const QString& startFolder) {
  QString chosen;
  {
    QFileDialog od(mainWindow);
    od.setObjectName(QStringLiteral("OD"));
    od.setOption(QFileDialog::DontUseNativeDialog);
    od.setAcceptMode(QFileDialog::AcceptOpen);
    od.setFileMode(QFileDialog::ExistingFile);
    od.setDefaultSuffix(QStringLiteral("log"));
    od.setNameFilter(Text(txt::kLogFileFilter));
    QDir().mkpath(startFolder);  // the log folder, before the first run made it
    od.setDirectory(startFolder);
    if (od.exec() != QDialog::Accepted || od.selectedFiles().isEmpty()) return;
    chosen = od.selectedFiles().front();
  }
  // A status window that is never shown carries the file for the viewer; its
  // creation hides the main window and its end shows it again, also when a
  // step fails.
  TStatusForm status(mainWindow, 0, TWizardPages{});
  status.Engine().LogFileName = chosen.toStdString();
  status.ViewLog();
}

void ShowAboutBox(QWidget* owner) {
  if (VersionString(VS_FileDescription).empty()) ReadVersionInfo();
  auto v = [](TVersionSlot slot) { return QString::fromStdString(VersionString(slot)); };
  const QString text = v(VS_ProductName) + QLatin1Char('\n') + Text(txt::kAboutVersion) +
                       v(VS_FileVersion) + QStringLiteral("\n\n") + Text(txt::kAboutCredits) +
                       QStringLiteral("\n\n") + v(VS_LegalCopyright);
  ShowBox(owner, Text(txt::kAboutCaption), text, TBoxIcon::Information, BB_Ok);
}

}  // namespace vx::ui

#include "ui/application.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QTranslator>

#include "platform/hooks.h"
#include "support/version.h"
#include "ui/message_boxes.h"
#include "ui/texts.h"

namespace vx::ui {
namespace {

QString& Title() {
  static QString title = QStringLiteral("Vaultix");
  return title;
}

TFileDialogHook& DialogHook() {
  static TFileDialogHook hook;
  return hook;
}

}  // namespace

QString ApplicationTitle() { return Title(); }
void SetApplicationTitle(const QString& title) { Title() = title; }

void ShowError(QWidget* parent, const QString& text) {
  ShowBox(parent, ApplicationTitle(), text, TBoxIcon::Stop, BB_Ok);
}

void SetFileDialogHook(TFileDialogHook hook) { DialogHook() = std::move(hook); }

QString AskFileName(QWidget* parent, const TFileDialogRequest& r) {
  if (DialogHook()) return DialogHook()(r);
  QFileDialog dialog(parent, r.Caption, r.Folder, r.Filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setDefaultSuffix(r.DefaultSuffix);
  if (r.Save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (!r.FileName.isEmpty()) dialog.selectFile(r.FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void InstallEngineHooks() {
  vx::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
  vx::SetQuestionBoxHook([](const std::string& text) {
    const TBoxButton b = ShowBox(nullptr, ApplicationTitle(), QString::fromStdString(text),
                                 TBoxIcon::Warning, BB_Ok | BB_Abort);
    if (b == BB_Ok) return TBoxAnswer::Ok;
    if (b == BB_Abort) return TBoxAnswer::Abort;
    return TBoxAnswer::Closed;
  });
}

namespace {

// The Slovak catalog of Qt still files the standard buttons' texts ("&Yes",
// "Cancel", …) under their older context QDialogButtonBox; Qt 6 asks for
// them under QPlatformTheme.  This translator answers the new context from
// the old one.
class TButtonTexts final : public QTranslator {
 public:
  TButtonTexts(const QTranslator& catalog, QObject* parent)
      : QTranslator(parent), catalog_(catalog) {}
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override {
    if (qstrcmp(context, "QPlatformTheme") != 0) return {};
    return catalog_.translate("QDialogButtonBox", sourceText, disambiguation, n);
  }

 private:
  const QTranslator& catalog_;
};

}  // namespace

bool InstallQtTranslations(QCoreApplication& app) {
  auto* qt = new QTranslator(&app);
  if (!qt->load(QStringLiteral("qtbase_sk"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete qt;
    return false;
  }
  if (!QCoreApplication::installTranslator(qt)) return false;
  return QCoreApplication::installTranslator(new TButtonTexts(*qt, qt));
}

std::optional<std::string> InformationOption(const QStringList& arguments) {
  if (arguments.size() != 1) return std::nullopt;
  const QString& a = arguments.constFirst();
  if (a == QLatin1String("--help") || a == QLatin1String("-h")) return text::kUsage.toStdString();
  if (a == QLatin1String("--version"))
    return "vaultix " + vx::VersionString(vx::VS_FileVersion) + "\n";
  return std::nullopt;
}

}  // namespace vx::ui

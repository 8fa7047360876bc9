#pragma once
// What the whole desktop program shares: its title (the caption of error
// boxes), the error box every failed step ends in, the file dialogs (which
// tests answer), and the engine's hooks into the window system.
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

class QCoreApplication;
class QWidget;

namespace vx::ui {

QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// The application's error box: stop icon, OK, captioned with its title.
void ShowError(QWidget* parent, const QString& text);

// Open and save dialogs of files; empty when cancelled.  Tests replace them.
struct TFileDialogRequest {
  bool Save = false;
  QString Caption;
  QString Folder;
  QString FileName;
  QString Filter;
  QString DefaultSuffix;
};
using TFileDialogHook = std::function<QString(const TFileDialogRequest&)>;
void SetFileDialogHook(TFileDialogHook hook);
QString AskFileName(QWidget* parent, const TFileDialogRequest& request);

// Lets the engine run pending window events during an operation and ask its
// own questions through the program's message boxes.
void InstallEngineHooks();

// The window's language is Slovak: installs Qt's own Slovak texts (the
// buttons of question boxes, the file dialogs) from Qt's translations
// folder.  false when they are not installed (qt6-translations-l10n).
bool InstallQtTranslations(QCoreApplication& app);

// `vaultix --help` (or -h) and `vaultix --version`: the text for the
// terminal, or nothing for any other command line (arguments without the
// program's name).  Looked at before any window exists.
std::optional<std::string> InformationOption(const QStringList& arguments);

}  // namespace vx::ui

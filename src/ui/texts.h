#pragma once
// The windows' own texts, kept verbatim in one place.
#include <QString>

namespace vx::ui::text {

// ---- Main window, selection dialog, restore tree, settings and help --------
// (the wizard's captions live beside the controls in main_form_pages.cpp)
inline const QString kMainCaption = QStringLiteral("Zálohovanie údajov Vaultix");
inline const QString kNext = QStringLiteral("&Ďalej");
inline const QString kStart = QStringLiteral("&Štart!");
inline const QString kPrevious = QStringLiteral("Späť");

inline const QString kBackupHeadings[] = {
    QStringLiteral("Zálohované súbory a zložky:"),
    QStringLiteral("Zložky a súbory vyčlenené zo zálohovania:"),
    QStringLiteral("Miesto pre uloženie zálohy:"), QStringLiteral("Nastavenia parametrov:")};
inline const QString kRestoreHeadings[] = {QStringLiteral("Obnoviť zo zálohy:"),
                                           QStringLiteral("Obsah záložnej sady:"),
                                           QStringLiteral("Nastavenie parametrov:")};
inline const QString kVerifyHeadings[] = {QStringLiteral("Záložná sada ktorá sa má kontrolovať:"),
                                          QStringLiteral("Nastavenie parametrov:")};

inline const QString kNoIncludes = QStringLiteral("Vyberte súbory alebo zložky pre zálohovanie!");
inline const QString kNoLocation = QStringLiteral("Chýba nastavenie miesta pre uloženie zálohy!");
inline const QString kNoBaseName = QStringLiteral("Meno súboru zálohy nie je vyplnené!");
inline const QString kBadBaseName = QStringLiteral("Meno súboru zálohy obsahuje neplatné znaky!");
inline const QString kNoPassword = QStringLiteral("Chýba heslo pre zašifrovanie súborov! ");
inline const QString kBadDate = QStringLiteral("Neplatný dátum!");
inline const QString kNoRestoreSet = QStringLiteral("Nie je vybraná záložná sada!");
inline const QString kNoRestoreFiles = QStringLiteral("Nie sú vybrané súbory na obnovenie!");
inline const QString kNoRestoreLocation =
    QStringLiteral("Nie je určené miesto kam sa majú súbory obnoviť!.");
inline const QString kNoVerifySet = QStringLiteral("Vyberte záložný súbor!");
inline const QString kVerifyNot001 = QStringLiteral("Zálohovacia sada musí mať koncovku  .001 !");
inline const QString kDuplicate = QStringLiteral("Duplicitný výber súboru nie je povolený.");

inline const QString kReadingSet = QStringLiteral("Zisťujú sa informácie o záložnej sade...");
inline const QString kCannotRead = QStringLiteral("Nie je možné načítať informácie o záložnej sade!");
inline const QString kSelectingFiles = QStringLiteral("Výber súborov...");
inline const QString kCreated = QStringLiteral("Vytvorené: ");

inline const QString kJobOpenTitle = QStringLiteral("Otvoriť záložnú sadu");
inline const QString kJobSaveTitle = QStringLiteral("Uložiť záložnú sadu");
inline const QString kJobFilter = QStringLiteral("Záložná sada (*.SQT *.sqt);;All Files (*)");

inline const QString kFolderMissing = QStringLiteral("Zložka neexistuje.\n\n");
inline const QString kShallCreate = QStringLiteral("\n\nMá sa vytvoriť ?");
inline const QString kCannotCreate = QStringLiteral("Zložku nemožno vytvoriť.\n\n");
inline const QString kNotAccessible = QStringLiteral(" nie je prístupné.\n\nZariadenie neni ready.");
inline const QString kSetNotFound = QStringLiteral("Záložná sada nenájdená.");
inline const QString kFilesNotFound = QStringLiteral("Súbor/y nenájdený.");
inline const QString kRecursionMarker = QStringLiteral(" /S");

inline const QString kRegistryFailed = QStringLiteral("Unable to open/create registry key:\n");

inline const QString kHelpWindowPrefix = QStringLiteral("Window - ");
inline const QString kHelpTopicPrefix = QStringLiteral("Heslo ID - ");
inline const QString kHelpCopyHint = QStringLiteral("Stlačením OK sa skopíruje do schránky ID\n");
// ---- end of the main window's block -----------------------------------------

}  // namespace vx::ui::text

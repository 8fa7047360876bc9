#pragma once
// The desktop program's own texts.  They are used verbatim, odd spellings,
// blanks and punctuation included, and must never be corrected: users,
// scripts and tests know them as they are.  This is the one place where a
// translation would hook in.  UTF-8; turn one into a QString with Text().
#include <QString>

namespace vx::ui::txt {

inline QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// ---- Status window, log viewer, result messages, about box ----------------

// Status window: captions.
inline constexpr char kStatusCaption[] = "Stav operácie";
inline constexpr char kStatusBackupCaption[] = "Stav zálohovania";
inline constexpr char kStatusRestoreCaption[] = "Stav obnovy";
inline constexpr char kStatusVerifyCaption[] = "Stav kontroly";
inline constexpr char kCurrentFileHdg[] = "Spracovávaná zložka a súbor:";
inline constexpr char kProcessedHdg[] = "Spracované";
inline constexpr char kRemainingHdg[] = "Zostáva";
inline constexpr char kTimeHdg[] = "Čas:";
inline constexpr char kBytesHdg[] = "Bytov:";
inline constexpr char kDisksHdg[] = "Disk:";
inline constexpr char kCompressionHdg[] = "Kompresia:";
inline constexpr char kSpeedHdg[] = "Rýchlosť:";
inline constexpr char kAbortButton[] = "Prerušiť";
inline constexpr char kAbortButtonDone[] = "Close";
inline constexpr char kViewLogButton[] = "LogView";

// Status window: status bar.
inline constexpr char kStatusRestoring[] = "Prebieha obnovovanie súborov...";
inline constexpr char kStatusVerifying[] = "Prebieha kontrola súborov...";
inline constexpr char kStatusScanning[] = "Vytvára sa zoznam súborov...";
inline constexpr char kStatusBackingUp[] = "Vykonáva sa zálohovanie...";
inline constexpr char kStatusAborting[] = "Prerušuje sa...";

// Status window: the end of a run.
inline constexpr char kEndBackup[] = "Záloha dát ";
inline constexpr char kEndRestore[] = "Obnova dát ";
inline constexpr char kEndVerify[] = "Kontrola dát ";
inline constexpr char kEndAborted[] = "bola prerušená.";
inline constexpr char kEndDone[] = "je ukončená.";
// New: a backup that finished without some items of its selection says how
// many, "Záloha dát je ukončená, 3 položky neboli zálohované.", with the
// plural of the number (1; 2 to 4; 0 and 5 on), then where to read more.
inline constexpr char kEndPartialHead[] = "Záloha dát je ukončená, ";
inline constexpr char kNotTakenOne[] = " položka nebola zálohovaná.";
inline constexpr char kNotTakenFew[] = " položky neboli zálohované.";
inline constexpr char kNotTakenMany[] = " položiek nebolo zálohovaných.";
inline constexpr char kPartialDetails[] = "Podrobnosti sú v logu.";

// Status window: questions.
inline constexpr char kAbortQuestion[] = "Kliknutím na Áno potvrdíte prerušenie operácie.";
inline constexpr char kAbortQuestionCaption[] = "Abort";
inline constexpr char kFirstDiskQuestion[] = "Má sa začať zálohovanie?";
inline constexpr char kInsertMedium[] = "Prosím vložte ";
inline constexpr char kMediumTape[] = "pásku";
inline constexpr char kMediumDisk[] = "disk";
inline constexpr char kCantOpenFile[] = "nemôžem otvoriť súbor,\n";
inline constexpr char kCantReadFile[] = "Nedá sa čítať zo súboru,\n";

// Log viewer.
inline constexpr char kLogViewCaption[] = "LogView";
inline constexpr char kDeleteLogButton[] = "Vymazať Log";
inline constexpr char kCloseLogButton[] = "Zatvoriť";
inline constexpr char kLogFileFilter[] = "Súbory log (*.log)";

// Result codes of an operation.
inline constexpr char kResult1[] = "Chyba - neplatný parameter.";
inline constexpr char kResult2[] = "Chyba - disk je plný.";
inline constexpr char kResult3[] = "Interná chyba pri kompresii.";
inline constexpr char kResult4[] = "Chyba - súbor má otvorený iný proces.";
inline constexpr char kResult5[] = "Chyba počas čítania súboru.";
inline constexpr char kResult6[] = "Chyba počas zápisu dát do záložného súboru.";
inline constexpr char kResult7[] = "Chyba pri vytváraní archívu zálohy.";
inline constexpr char kResult8[] =
    "Chyba - záložný súbor obsahuje neplatnú hlavičku alebo chybné údaje.";
inline constexpr char kResult9[] = "Chyba počas čítania záložného súboru.";
inline constexpr char kResult10[] = "Chyba pri použití páskového zariadenia.";
inline constexpr char kResult11[] = "Chyba počas vytvárania dočasného súboru.";
inline constexpr char kResult12[] = "Prerušené užívateľom.";
inline constexpr char kResult13[] = "Nepodarilo sa detekovať prvé médium zálohy.";
inline constexpr char kResult14[] = "Heslo musí mať aspoň 8 znakov";
inline constexpr char kResult15[] = "Nepodarilo sa pripojenie na FTP server";
// New: the run finished, but some selected items were left out (see the log).
inline constexpr char kResult16[] = "Niektoré položky neboli zálohované, podrobnosti sú v logu.";
inline constexpr char kResult98[] = "Chyba počas kontroly súborov.";
inline constexpr char kResult99[] = "Iná nešpecifikovaná chyba.";
inline constexpr char kResultOtherHead[] = "Iná chyba (číslo chyby ";
inline constexpr char kResultOtherTail[] = ").";

// About box.
inline constexpr char kAboutCaption[] = "O programe";
inline constexpr char kAboutCredits[] =
    "Zálohovanie, obnova a kontrola súborov\nna disk, pásku a FTP server.";
inline constexpr char kAboutVersion[] = "Verzia ";

// ---- end of the status window's block -------------------------------------

}  // namespace vx::ui::txt

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
// New: the backup page's password checks when the page is left (a short
// password has the result text of code 14), the confirmation field's caption
// and the password asked for when a set to read turns out to be encrypted.
inline const QString kPasswordLong = QStringLiteral("Heslo môže mať najviac 65 znakov!");
inline const QString kPasswordMismatch = QStringLiteral("Heslo a jeho potvrdenie sa nezhodujú!");
inline const QString kPasswordConfirm = QStringLiteral("Potvrdenie hesla");
inline const QString kPasswordAskCaption = QStringLiteral("Zašifrovaná záložná sada");
inline const QString kPasswordAsk =
    QStringLiteral("Záložná sada je zašifrovaná.\nZadajte heslo pre odšifrovanie:");
inline const QString kBadDate = QStringLiteral("Neplatný dátum!");
inline const QString kNoRestoreSet = QStringLiteral("Nie je vybraná záložná sada!");
inline const QString kNoRestoreFiles = QStringLiteral("Nie sú vybrané súbory na obnovenie!");
inline const QString kNoRestoreLocation =
    QStringLiteral("Nie je určené miesto kam sa majú súbory obnoviť!.");
inline const QString kNoVerifySet = QStringLiteral("Vyberte záložný súbor!");
inline const QString kVerifyNot001 = QStringLiteral("Zálohovacia sada musí mať koncovku  .001 !");
inline const QString kDuplicate = QStringLiteral("Duplicitný výber súboru nie je povolený.");

inline const QString kReadingSet = QStringLiteral("Zisťujú sa informácie o záložnej sade...");
inline const QString kCannotRead =
    QStringLiteral("Nie je možné načítať informácie o záložnej sade!");
inline const QString kSelectingFiles = QStringLiteral("Výber súborov...");
inline const QString kCreated = QStringLiteral("Vytvorené: ");

inline const QString kJobOpenTitle = QStringLiteral("Otvoriť záložnú sadu");
inline const QString kJobSaveTitle = QStringLiteral("Uložiť záložnú sadu");
inline const QString kJobFilter = QStringLiteral("Záložná sada (*.SQT *.sqt);;All Files (*)");

inline const QString kFolderMissing = QStringLiteral("Zložka neexistuje.\n\n");
inline const QString kShallCreate = QStringLiteral("\n\nMá sa vytvoriť ?");
inline const QString kCannotCreate = QStringLiteral("Zložku nemožno vytvoriť.\n\n");
inline const QString kNotAccessible =
    QStringLiteral(" nie je prístupné.\n\nZariadenie neni ready.");
inline const QString kSetNotFound = QStringLiteral("Záložná sada nenájdená.");
inline const QString kFilesNotFound = QStringLiteral("Súbor/y nenájdený.");
inline const QString kRecursionMarker = QStringLiteral(" /S");

inline const QString kRegistryFailed = QStringLiteral("Unable to open/create registry key:\n");

inline const QString kHelpWindowPrefix = QStringLiteral("Window - ");
inline const QString kHelpTopicPrefix = QStringLiteral("Heslo ID - ");
inline const QString kHelpCopyHint = QStringLiteral("Stlačením OK sa skopíruje do schránky ID\n");

// New: a set file that is not there, and the job remembered between starts.
inline const QString kSetFileMissing = QStringLiteral("Súbor neexistuje.");
inline const QString kReopenJob = QStringLiteral("Znovu otvoriť ");
inline const QString kLastJobHint =
    QStringLiteral("Naposledy použitá záložná sada (Súbor - Znovu otvoriť): ");

// New: scheduling a job from the window.
inline const QString kScheduleItem = QStringLiteral("Plánovať…");
inline const QString kScheduleCaption = QStringLiteral("Plánovanie zálohy");
inline const QString kScheduleJob = QStringLiteral("Záložná sada: ");
inline const QString kScheduleDaily = QStringLiteral("Denne");
inline const QString kScheduleWeekly = QStringLiteral("Týždenne");
inline const QString kScheduleAt = QStringLiteral("Čas:");
inline const QString kScheduleDay = QStringLiteral("Deň:");
inline const QString kScheduleDays[7] = {QStringLiteral("pondelok"), QStringLiteral("utorok"),
                                         QStringLiteral("streda"),   QStringLiteral("štvrtok"),
                                         QStringLiteral("piatok"),   QStringLiteral("sobota"),
                                         QStringLiteral("nedeľa")};
inline const QString kScheduleEveryDay = QStringLiteral("denne o ");
inline const QString kScheduleEveryWeekday[7] = {
    QStringLiteral("každý pondelok o "), QStringLiteral("každý utorok o "),
    QStringLiteral("každú stredu o "),   QStringLiteral("každý štvrtok o "),
    QStringLiteral("každý piatok o "),   QStringLiteral("každú sobotu o "),
    QStringLiteral("každú nedeľu o ")};
inline const QString kScheduled = QStringLiteral("Naplánované: ");
inline const QString kNotScheduled = QStringLiteral("Záloha nie je naplánovaná.");
inline const QString kNextRun = QStringLiteral("Ďalšie spustenie: ");
inline const QString kLastRun = QStringLiteral("Posledné spustenie: ");
inline const QString kScheduleButton = QStringLiteral("Naplánovať");
inline const QString kUnscheduleButton = QStringLiteral("Zrušiť plánovanie");
inline const QString kCloseButton = QStringLiteral("Zavrieť");
inline const QString kNoCli = QStringLiteral("Program vaultix-cli sa nenašiel.");
inline const QString kScheduleFailed = QStringLiteral("Plánovanie zlyhalo:\n\n");

// New: the restore tree's column headings.
inline const QString kColumnName = QStringLiteral("Názov");
inline const QString kColumnSize = QStringLiteral("Veľkosť");
inline const QString kColumnDate = QStringLiteral("Dátum");

// New: `vaultix --help`.
inline const QString kUsage = QStringLiteral(
    "Použitie: vaultix [SÚBOR.sqt]\n"
    "Sprievodca zálohovaním, obnovou a kontrolou záložných sád.\n"
    "SÚBOR.sqt  uložená záložná sada, ktorá sa otvorí a spustí\n"
    "\n"
    "  -h, --help     zobrazí tento text a skončí\n"
    "      --version  zobrazí verziu programu a skončí\n"
    "\n"
    "Príkazový riadok: vaultix-cli --help\n");
// ---- end of the main window's block -----------------------------------------

}  // namespace vx::ui::text

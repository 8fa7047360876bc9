#pragma once
// The engine's own texts: log lines, messages of the exceptions that end an
// operation, result-code texts.  They are used verbatim, odd spellings,
// typos, blanks and punctuation included, and must never be corrected:
// users, scripts and tests know them as they are.  This is the one place
// where a translation of the engine would hook in.  UTF-8.
namespace vx::engine_txt {

// ---- Result codes (ErrorText) ----------------------------------------------
inline constexpr char kCode0[] = "no error";
inline constexpr char kCode1[] = "Chyba spôsobená neplatnou hodnotou nastavení";
inline constexpr char kCode2[] = "Chyba - plný disk ";
inline constexpr char kCode3[] = "Interná chyba komprimovaných dát";
inline constexpr char kCode4[] = "Chyba - súbor má otvorený iný proces";
inline constexpr char kCode5[] = "Chyba pri čítaní súboru";
inline constexpr char kCode6[] = "Chyba pri zápise do zálovovacieho súboru";
inline constexpr char kCode7[] = "Chyba pri vytváraní zálohovacieho súboru";
inline constexpr char kCode8[] = "Chyba - poškodená hlavička zálohovacieho súboru";
inline constexpr char kCode9[] = "Chyba pri čítaní zálohového súboru";
inline constexpr char kCode10[] = "Chyba pri použití páskového zariadenia";
inline constexpr char kCode11[] = "Chyba pri vytváraní Temp súboru";
inline constexpr char kCode12[] = "Prerušené volajúcou aplikáciou / užívateľom";
inline constexpr char kCode13[] = "Chyba pri detekcii prvého média";
inline constexpr char kCode14[] = "Heslo je neplatné alebo krátke";
inline constexpr char kCode15[] = "Chyba počas FTP komunikácie";
// New: a run that finished but left some selected items out.
inline constexpr char kCode16[] = "Záloha dát je ukončená, niektoré položky neboli zálohované";
// New: another run holds the set's lock.
inline constexpr char kCode18[] = "Záložná sada je práve používaná inou úlohou";
inline constexpr char kCode98[] = "Chyba pri verifikácii súboru";
inline constexpr char kCode99[] = "Ostatné nešpecifikované chyby";
// New: result 17.
inline constexpr char kCode17[] = "Záloha je nová, ale archívne atribúty neboli zaznamenané";
// Followed by the code and ")".
inline constexpr char kCodeOther[] = "Iná chyba (Error code ";

// ---- Common to the operations ------------------------------------------------
// The next-disk question: %d the disk number, %s the destination.
inline constexpr char kDiskPrompt[] =
    "Prosím vložte disk č. %d do zariadenia %s a stlačte OK alebo tlačítkom Storno prerušte "
    "operáciu.";
inline constexpr char kAborted[] = "Prerušené užívateľom";
inline constexpr char kNoFirstMedium[] = "Nemožno detekovať prvé médium";
inline constexpr char kShortPassword[] = "Krátke heslo (min. 8 znakov)";
// New: "Záložnú sadu <set> práve používa iná úloha" (code 18).
inline constexpr char kSetInUse1[] = "Záložnú sadu ";
inline constexpr char kSetInUse2[] = " práve používa iná úloha";
// New: the system refused some helper threads; the run goes on with fewer,
// or on its own thread alone.
inline constexpr char kFewerThreads[] =
    "Upozornenie: systém nedovolil spustiť všetky vlákna, operácia pokračuje s menším počtom";
// New: what was written could not be made durable on the disk; followed by
// the error number and kSyncFailedClose.
inline constexpr char kSyncFailedOpen[] = "Chyba I/O  (#";
inline constexpr char kSyncFailedClose[] = ") počas zápisu na disk";
// New: a private file a killed restore left in a folder it writes to,
// removed; followed by its path.
inline constexpr char kRestoreLeftover[] = "Odstránený zvyšok prerušenej obnovy: ";
// New: a stored name that differs from one restored before only in letter
// case, on a target that does not tell them apart; followed by that path.
inline constexpr char kCaseTwin[] =
    "Cieľ nerozlišuje veľké a malé písmená, názov by prepísal súbor ";

// ---- Catalog -----------------------------------------------------------------
inline constexpr char kCatalogNoSource[] = "Needs backup source to take backup stream from";
inline constexpr char kCatalogExtension[] =
    "Pri delení súboru zálohy nesmie byť zadaná koncovka súboru";
inline constexpr char kCatalogCutHeader[] = "Porušený zálohový súbor";
inline constexpr char kCatalogForeign[] = "Magické číslo nenájdené - vadný formát súboru";

// ---- RetrieveComment ----------------------------------------------------------
inline constexpr char kCommentNoPlace[] = "Určite kam sa má záloha uložiť";
inline constexpr char kCommentNoPassword[] = "Chýba heslo pre dešifrovanie";
inline constexpr char kCommentExtension[] = "Pri delení archívu nesmie byť uvedená koncovka súboru";
inline constexpr char kCommentCutHeader[] = "Poškodený záložný súbor";
inline constexpr char kCommentForeign[] = "Vadný formát súsboru zálohy";

// ---- Restore -----------------------------------------------------------------
inline constexpr char kRestoreNoTarget[] = "Nutné určiť miesto kam sa majú súbory obnoviť";
inline constexpr char kRestoreNoPlace[] = "Je potrebné určiť kam sa má záloha uložiť";
inline constexpr char kRestoreNoPassword[] = "Chýba heslo na dešifrovanie";
inline constexpr char kRestoreExtension[] =
    "Pri delení zálohy nesmie byť určená koncovka súboru zálohy";
inline constexpr char kRestoreCutHeader[] = "Poškodený zálohový súbor";
inline constexpr char kRestoreForeign[] = "Chýba magické číslo - špatný formát súboru";
// Followed by the date and time.
inline constexpr char kRestoreStartTape[] = "Štart obnovovania z pásky o ";
// Followed by the destination, two blanks and the date and time.
inline constexpr char kRestoreStart[] = "Štart obnovy z ";
// Between them the target folder.
inline constexpr char kRestoreToBefore[] = "Obnoviť do ";
inline constexpr char kRestoreToAfter[] = " pôvodného umiestnenia";
inline constexpr char kRestoreInPlace[] = "Obnoviť na pôvodné miesto";
// "<path> OK obnovené  do <target>"
inline constexpr char kRestoredTo[] = " OK obnovené  do ";
// "Chyba (<reason>) sa vyskytla počas obnovy <path>"; a checksum that
// differs opens with "Chaba".
inline constexpr char kRestoreErrorOpen[] = "Chyba (";
inline constexpr char kRestoreCrcErrorOpen[] = "Chaba (";
inline constexpr char kRestoreErrorClose[] = ") sa vyskytla počas obnovy ";
// Followed by the date and time.
inline constexpr char kRestoreDone[] = "Ukončené  ";
// Why a file is refused or could not be put in place.
inline constexpr char kParentComponent[] =
    "Cesta obsahuje \"..\" a viedla by mimo cieľového priečinka";
inline constexpr char kBadComponent[] = "Uložená cesta obsahuje prázdnu časť, \".\" alebo znak NUL";
inline constexpr char kNoFileName[] = "Cesta neobsahuje meno súboru";
inline constexpr char kNotAbsolute[] =
    "Uložená cesta nie je úplná, obnovte ju do zvoleného priečinka";
inline constexpr char kForeignLink[] =
    "Cesta vedie cez odkaz na priečinok, ktorý nepatrí vám ani správcovi";
inline constexpr char kSizeDiffers[] = "Dĺžka dát v zálohe nezodpovedá dĺžke súboru";
inline constexpr char kWriteFailed[] = "Chyba pri zápise - nemožno zapísať všetky byty.";
inline constexpr char kCrcDiffers[] =
    "Kontrolný súčet súboru je iný ako u originálneho súboru - súbor môže byť poškodený";
// "Chyba I/O  (#<errno>) počas vytvárania dočasného súboru"
inline constexpr char kIoErrorOpen[] = "Chyba I/O  (#";
inline constexpr char kIoErrorClose[] = ") počas ";
inline constexpr char kCannotCreate[] = "vytvárania dočasného súboru";

// ---- Verify ------------------------------------------------------------------
inline constexpr char kVerifyNoPlace[] = "Nie je určené miesto pre uloženie zálohy";
inline constexpr char kVerifyNoPassword[] = "Chýba heslo pre dešifrovanie";
// The first data blocks of an encrypted set do not decode with the password
// given (new).
inline constexpr char kWrongPassword[] = "Nesprávne heslo - dáta zálohy sa ním nedajú dešifrovať";
inline constexpr char kVerifyExtension[] = "Pri delení archívu nesmie byť určená koncovka súboru";
inline constexpr char kVerifyCutHeader[] = "Poškodený záložný súbor";
inline constexpr char kVerifyForeign[] = "Vadný formá súboru zálohy";
// Followed by the date and time.
inline constexpr char kVerifyStartTape[] = "Štart overovania zálohy na páske  ";
// Followed by the destination, two blanks and the date and time.
inline constexpr char kVerifyStart[] = "Štart overovania zálohy z ";
// Each follows the stored path.
inline constexpr char kVerifySame[] = " bez chýb";
inline constexpr char kVerifyCopyFailed[] = " chyba počas kontroly";
inline constexpr char kVerifyMissing[] = " súbor chýba alebo je uzmaknutý";
inline constexpr char kVerifyDifferent[] = " rozdiel v  súbore v zálohe";
// Followed by the stored path.
inline constexpr char kVerifyOther[] = "Chyba počas kontroly ";
// "Chyba (<reason>) počas kontroly <path>"
inline constexpr char kVerifyErrorOpen[] = "Chyba (";
inline constexpr char kVerifyErrorClose[] = ") počas kontroly ";
// The summary.
inline constexpr char kVerifyDone[] = "Kontrola ukončená ";
inline constexpr char kVerifyOkCount[] = " Súbor/y skontrolované OK";
inline constexpr char kVerifyBadCount[] = " kontrola  súboru/ov neprebehla v poriadku z dôvodu:";
inline constexpr char kVerifyMissingCount[] = " Súbor/y chýbajú na harddisku";
inline constexpr char kVerifyDifferentCount[] = " Súbor/y jeúsú odlišné od originálu";
inline constexpr char kVerifyOtherCount[] = " Došlo k inej chybe pri porovnávaní súboru";

// ---- DeleteFiles -------------------------------------------------------------
inline constexpr char kDeleteNoLists[] =
    "Určite súbory na uloženie prípadne na vylúčenie zo zálohy";
inline constexpr char kDeleteNoPlace[] = "Určite kam sa má záloha uložiť";
inline constexpr char kDeleteDiskOnly[] =
    "Mazanie súborov je možné len zo zálohy na disku, nie z pásky ani z FTP servera";
inline constexpr char kDeleteCutHeader[] = "Poškodený záložný súbor";
inline constexpr char kDeleteForeign[] = "Vadný formát záložného súboru";
inline constexpr char kDeleteCutData[] =
    "Chyba pri čítaní (predčasný koniec súboru) počas kopirovania súboru do tmp súboru";
inline constexpr char kDeleteCannotReplace[] = "Nemožno nahradiť súbor zálohy";
// "Achív obsahuje <n> súborov:"
inline constexpr char kDeleteCountOpen[] = "Achív obsahuje ";
inline constexpr char kDeleteCountClose[] = " súborov:";
inline constexpr char kDeleteKept[] = " kept";
inline constexpr char kDeleteDeleted[] = " deleted";
// Followed by the temporary archive's path.
inline constexpr char kDeleteWholeCopyLeft[] = "Úplná kópia zálohy zostala v ";
// Followed by the date and time.
inline constexpr char kDeleteDone[] = "Súbory vymazané ";

// ---- Backup: settings and the end of a run -----------------------------------
inline constexpr char kNoPassword[] = "Chýba heslo!!!";
inline constexpr char kNoIncludes[] = "Súbor nebol zazálohovaný";
inline constexpr char kSpanExtension[] = "Meno súboru zálohy musí byť uvedené bez koncovky";
inline constexpr char kVerifyOnTape[] = "Nemožno verifikovať súbor počas zápisu na pásku";
inline constexpr char kPasswordShort[] = "Heslo je krátke (min. 8 znakov)";
inline constexpr char kPasswordLong[] = "Heslo je dlhé (max. 65 znakov)";
inline constexpr char kEraseRoot[] = "Koreňový adresár nemožno vymazať";
inline constexpr char kEraseSources[] =
    "Cieľový adresár obsahuje zálohované súbory, nemožno ho vymazať";
// New: the erase step.  "Vymazaný súbor <path>" for each file it deleted;
// "Upozornenie :<folder> obsahuje <n> súbor(ov), ktoré nie sú zo zálohy alebo
// ich používa iná úloha - nevymazané" once when files stay;
// "Upozornenie :<folder> je domovský adresár - nič sa nevymaže" instead in a
// home folder.
inline constexpr char kErased[] = "Vymazaný súbor ";
inline constexpr char kEraseKept1[] = " obsahuje ";
inline constexpr char kEraseKept2[] =
    " súbor(ov), ktoré nie sú zo zálohy alebo ich používa iná úloha - nevymazané";
inline constexpr char kEraseHome[] = " je domovský adresár - nič sa nevymaže";
inline constexpr char kBackupVerifyFailed[] = "Chyba pri verifikácii súboru";
// Followed by the store's message.
inline constexpr char kArchiveStoreFailed[] = "Chyba evidencie archívnych atribútov: ";
// Followed by the code's text (and ": " and the refusal of a setting).
inline constexpr char kBackupEndedBy[] = "Prerušenie zálohovania spôsobené ";
inline constexpr char kDebugAttribCannotCreate[] = "Nemožno vytvoriť súbor VABIT.TXT";
inline constexpr char kResetCancelled[] = "User cancelled during resetting files attributes";
// New: the set has its name, but the store of archive marks was not updated;
// the next incremental backup takes those files again (result 17).
inline constexpr char kMarksNotStored[] =
    "Záloha je nová, ale archívne atribúty neboli zaznamenané; ďalšia prírastková záloha "
    "zoberie tieto súbory znovu";
// New: a temporary file of an interrupted backup of this set, removed; the
// file name follows.
inline constexpr char kLeftoverRemoved[] = "Odstránený zvyšok prerušenej zálohy: ";
// New: the destination's file system (FAT) holds no file of 4 GiB or more;
// the volumes' size in bytes and kFatVolumes2 follow.
inline constexpr char kFatVolumes1[] = "Cieľ je na súborovom systéme FAT: zväzky budú mať najviac ";
inline constexpr char kFatVolumes2[] = " bajtov";

// ---- Backup: the scan ----------------------------------------------------------
inline constexpr char kScanCancelledAtStart[] = "Terminated by user during file scan";
inline constexpr char kScanCancelledAtWarning[] = "Prerušené užívateľom počas načítania súborov";
inline constexpr char kScanCancelled[] = "Načítanie súborov bolo prerušené.";
// "Upozornenie :<entry> neexistuje"
inline constexpr char kWarning[] = "Upozornenie :";
inline constexpr char kEntryMissing[] = " neexistuje";
// "Upozornenie :<folder> nemožno otvoriť, jeho súbory nie sú zazálohované"
inline constexpr char kFolderNotRead[] = " nemožno otvoriť, jeho súbory nie sú zazálohované";
inline constexpr char kPathTooLong[] = ": cesta je dlhšia ako 255 bajtov";

// ---- Backup: each file's data ------------------------------------------------
// "CHYBA #<n>" and one of the texts after it.
inline constexpr char kErrorNo[] = "CHYBA #";
// ": Súbor <path> nie je zazálohovaný - chyba pri otvorení súboru[<reason>]"
inline constexpr char kErrorOnFile[] = ": Súbor ";
inline constexpr char kFileSkippedOpen[] = " nie je zazálohovaný - chyba pri otvorení súboru";
// ": Zálohovanie prerušené chybou pri otvorení <path>[<reason>]"
inline constexpr char kBackupOpenEnds[] = ": Zálohovanie prerušené chybou pri otvorení ";
inline constexpr char kNotRegular[] = ": nie je obyčajný súbor";
inline constexpr char kCannotOpen[] = "Nemožno otvoriť súbor ";
// "File <path> not backed up due to read errors"
inline constexpr char kReadSkipped1[] = "File ";
inline constexpr char kReadSkipped2[] = " not backed up due to read errors";
inline constexpr char kBackupReadEnds[] = ": Zálohovanie prerušené - chyba pri čítaní ";
inline constexpr char kCannotRead[] = "Nemožno prečítať súbor ";
// ": Súbor <path>" and one of the two.
inline constexpr char kNotVerifiedChanged[] =
    " nie je overený - obsah sa zmenil od načítania zoznamu súborov";
inline constexpr char kNotVerifiedDiffers[] =
    " nie je overený - uložené dáta sa nezhodujú s prečítanými";
// "Upozornenie :<path> sa počas zálohovania zmenil"
inline constexpr char kChangedDuringBackup[] = " sa počas zálohovania zmenil";
// "Súbor <path>" and one of the two.
inline constexpr char kFile[] = "Súbor ";
inline constexpr char kStoredVerified[] = " zazálohovaný a overený OK";
inline constexpr char kStored[] = " Zazálohovaný OK";

// ---- Backup: the summary -----------------------------------------------------
// Followed by the date and time.
inline constexpr char kStartTape[] = "Start zálohovania na pásku o ";
// "Start backup to <set> at <date and time>"
inline constexpr char kStartDisk[] = "Start backup to ";
inline constexpr char kStartAt[] = " at ";
inline constexpr char kFullDone[] = "Plné zálohovanie ukončené";
inline constexpr char kIncrementalDone[] = "Incrementálne zálohovanie ukončené";
inline constexpr char kDifferentialDone[] = "Rozdielové zálohovanie ukončené";
// "Špecialne zálohovanie (súbory novšie ako <date>)"
inline constexpr char kSpecialDone[] = "Špecialne zálohovanie (súbory novšie ako ";
inline constexpr char kVerifiedDuring[] = "Overenie súboru počas zálohovania";
inline constexpr char kBackupDone[] = "Zálohovanie ukončené ";
inline constexpr char kNoErrors[] = "Žiadna chyba počas zálohovania";
inline constexpr char kErrorCount[] = "Chyba počas zálohovania: ";
inline constexpr char kWarningCount[] = "Upozornenia počas zálohy: ";
// New: "Nezazálohované položky: <n>", the files and folders of the selection
// left out (skipped, vanished, unreadable, changed while read).
inline constexpr char kNotTakenCount[] = "Nezazálohované položky: ";
// New: the end of a run that could not take any of the files it found;
// followed by ": <path>: <reason>" of the first failure.
inline constexpr char kNothingTaken[] =
    "Žiadny súbor nebol zazálohovaný, predchádzajúca záloha zostáva nezmenená";
// "Zálohované <n> súbory"
inline constexpr char kStoredCount[] = "Zálohované ";
inline constexpr char kFilesWord[] = " súbory";
// "Najdené <n> súbory pre zálohovanie <m> zostali neuložené"
inline constexpr char kFoundCount[] = "Najdené ";
inline constexpr char kFoundFor[] = " súbory pre zálohovanie ";
inline constexpr char kLeftOut[] = " zostali neuložené";
inline constexpr char kBytesRead[] = " prečítané";
inline constexpr char kBytesWritten[] = " zapísané";
inline constexpr char kRatio[] = "Kompresia : 1:";
inline constexpr char kRatioNone[] = "Kompresia : 1:1 (bez kompresie)";
inline constexpr char kUncompressed[] = "Bez kompresie";
// "Backed up at <size> per Minute"
inline constexpr char kRate1[] = "Backed up at ";
inline constexpr char kRate2[] = " per Minute";

// ---- The log's place (added with this version) ------------------------------
// Followed by the log's path.
inline constexpr char kLogIsTheSet[] = "Súbor záznamu nesmie byť súborom zálohy ani jej časťou: ";

// ---- Set file (LoadSet) --------------------------------------------------------
// "Neplatná hodnota nastavenia <key>=<value> (povolené 0 až <n>)"
inline constexpr char kBadSetting[] = "Neplatná hodnota nastavenia ";
inline constexpr char kAllowedFrom[] = " (povolené 0 až ";
// Followed by the key: "...<key>: obsahuje znak \x00".
inline constexpr char kHoldsNul[] = ": obsahuje znak \\x00";
inline constexpr char kNeedsDate[] = "SpecialBackupDate: BackupMode=3 potrebuje platný dátum";
// Added with this version, in the style of the ones above.
// "Neplatná hodnota nastavenia <key>=<value> (nie je celé číslo v rozsahu)"
inline constexpr char kNotAnInteger[] = " (nie je celé číslo v rozsahu)";
// "Neplatná hodnota nastavenia <key>: chybná escape sekvencia <group>"
inline constexpr char kBadEscape[] = ": chybná escape sekvencia ";

// ---- Linux metadata (added with this version) -------------------------------
// "Upozornenie :" + path + kMetaNotApplied + what + ": " + reason
inline constexpr char kMetaNotApplied[] = " - neobnovené: ";
inline constexpr char kMetaOwner[] = "vlastník";
inline constexpr char kMetaMode[] = "prístupové práva";
inline constexpr char kMetaTimes[] = "čas";
inline constexpr char kMetaXattrs[] = "rozšírené atribúty";
inline constexpr char kMetaLink[] = "symbolický odkaz";
inline constexpr char kMetaHardLink[] = "pevný odkaz";
inline constexpr char kMetaFolder[] = "priečinok";
inline constexpr char kMetaSpecial[] = "špeciálny súbor";
inline constexpr char kMetaNeedsRoot[] = "vytvoriť ho môže len správca (root)";
inline constexpr char kMetaBadOwner[] = "neplatný vlastník";
inline constexpr char kMetaNotOwner[] = "zmeniť vlastníka môže len správca (root)";
inline constexpr char kMetaSetIdDropped[] =
    "bity setuid/setgid vynechané, súbor patril inému používateľovi";
inline constexpr char kMetaLinkOutside[] = "odkaz vedie mimo cieľového priečinka";
inline constexpr char kMetaFirstName[] = "prvé meno súboru nebolo obnovené";
// Followed by the parser's reason.
inline constexpr char kMetaTableRefused[] =
    "Upozornenie :tabuľka metadát zálohy je poškodená, metadáta sa neobnovia: ";
inline constexpr char kMetaTableDropped[] =
    "Upozornenie :tabuľka metadát (práva, vlastníci, odkazy) v zálohe nezostáva";
// Verify: path + one of these.
inline constexpr char kVerifyModeDiffers[] = " rozdiel v prístupových právach";
inline constexpr char kVerifyOwnerDiffers[] = " rozdiel vo vlastníkovi";
inline constexpr char kVerifyLinkDiffers[] = " rozdiel v cieli symbolického odkazu";
inline constexpr char kVerifyTimeDiffers[] = " rozdiel v čase zmeny";

}  // namespace vx::engine_txt

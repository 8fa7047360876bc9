#pragma once
// The archive layer's own texts: the messages of the errors a set's stream,
// its reader and its block codec raise.
// They are used verbatim: odd spellings, missing apostrophes, blanks and
// punctuation included.  Do not correct them; users, scripts, logs and tests
// know them as they are.  This is the one place of the layer where a
// translation would hook in.

namespace vx::txt::archive {

inline constexpr char kDiskFull[] = "Na disku nie je dostatok miesta";
inline constexpr char kCannotCreate[] = "nedá sa vytvoriť záložný súbor";
inline constexpr char kCannotOpenVolume[] = "Nemožno otvoriť súbor zálohy";
inline constexpr char kUserAbort[] = "Prerušené užívateľom";
inline constexpr char kReadIo[] = "I/O chyba počas čítania záložného súboru";
inline constexpr char kEarlyEnd[] = "Early end of file detected";
inline constexpr char kWriteIo[] = "I/O chyba počas zápisu záložného súboru";
inline constexpr char kFileMark[] = "Chyba páskového zariadenia - chýba značka súboru";
inline constexpr char kOtherTapeError[] = "Iná chyba páskového zariadenia";
inline constexpr char kDamagedSet[] = "Poškodený zálohový súbor";
inline constexpr char kNotASet[] = "Nie je to zálohový súbor";
inline constexpr char kEarlyEndInHeader[] = "Predčasný koniec súboru v hlavičke súboru";
inline constexpr char kBrokenFileHeader[] = "Porušená hlavička súboru";
inline constexpr char kEarlyEndInFile[] = "Predčasný koniec súboru pri čítaní súboru";
inline constexpr char kBadBlockLength[] = "Dekomprimovaný blok nemá správnu dĺžku";
inline constexpr char kRecordMissing[] = "Lesefehler aus Stream";
// New: a volume of another run (another set of the same name) where the next
// volume of this set was expected; the volume's file name follows.
inline constexpr char kForeignVolume[] = "Zväzok nepatrí k tejto zálohovej sade: ";
// New: a one-file set would pass the biggest file a FAT file system holds;
// follows "I/O chyba počas zápisu záložného súboru: NAME: ".
inline constexpr char kFatFileLimit[] =
    "súborový systém FAT neprijme súbor väčší ako 4 GiB - 1 bajt; rozdeľte zálohu na zväzky "
    "(SpanDisks=1, napríklad MaxSplitSize=4000000000)";

}  // namespace vx::txt::archive

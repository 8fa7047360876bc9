#pragma once
// The command line's texts in the system's own wording: the closing lines of
// a run, the progress line and the questions on the terminal.  The command
// line's usage and option messages are in help.cpp and options.cpp.
// They are used verbatim: odd spellings, missing apostrophes, blanks and
// punctuation included.  Do not correct them; users, scripts, logs and tests
// know them as they are.  This is the one place of the layer where a
// translation would hook in.

namespace vx::txt::cli {

// Closing lines: "<task>bola prerušená." / "<task>je ukončená.".
inline constexpr char kTaskBackup[] = "Záloha dát ";
inline constexpr char kTaskRestore[] = "Obnova dát ";
inline constexpr char kTaskVerify[] = "Kontrola dát ";
inline constexpr char kTaskStopped[] = "bola prerušená.";
inline constexpr char kTaskDone[] = "je ukončená.";
inline constexpr char kBackupErrors[] = "Chyba počas zálohovania: ";
inline constexpr char kRestoreErrors[] = "Chyba počas obnovy: ";

// The progress line.
inline constexpr char kDone[] = " hotovo";
inline constexpr char kLeft[] = " zostáva";
inline constexpr char kStillToGo[] = "  ešte ";

// Questions and their choices ("[letter]rest", the letters that pick it).
inline constexpr char kCantOpenQuestion[] = "nemôžem otvoriť súbor,\n";
inline constexpr char kCantReadQuestion[] = "Nedá sa čítať zo súboru,\n";
inline constexpr char kChoiceAbort[] = "[P]rerušiť";
inline constexpr char kChoiceRetry[] = "[O]pakovať";
inline constexpr char kChoiceIgnore[] = "[I]gnorovať";
inline constexpr char kChoiceOk[] = "[O]K";
inline constexpr char kChoiceCancel[] = "[S]torno";

// The password asked at the terminal (new), and asked again before a backup
// encrypts with it (new).
inline constexpr char kPasswordPrompt[] = "Heslo: ";
inline constexpr char kPasswordAgain[] = "Heslo ešte raz: ";

// Written by the signal handler when Ctrl+C stops a run.
inline constexpr char kInterrupting[] = "\nPrerušuje sa...\n";

}  // namespace vx::txt::cli

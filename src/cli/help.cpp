// The usage synopsis and the full help of vaultix-cli.
#include "cli/options.h"
#include "cli/schedule.h"

namespace vx {

std::string UsageText() {
  return "usage: vaultix-cli <operation> --set SET-FILE [options]\n"
         "       vaultix-cli <operation> --job JOB-FILE.sqt [options]\n"
         "       vaultix-cli <operation> --destination DIR --archive NAME [options]\n"
         "operations: backup, restore, verify, catalog, comment, delete\n"
         "schedules: vaultix-cli schedule | schedules | unschedule (see --help)\n"
         "vaultix-cli --help shows every option, set-file key and exit code.\n";
}

std::string HelpText() {
  return R"(vaultix-cli - backup, restore and check backup sets from the command line

USAGE
  vaultix-cli <operation> --set SET-FILE [options]
  vaultix-cli <operation> --job JOB-FILE.sqt [options]
  vaultix-cli <operation> --destination DIR --archive NAME [options]
  vaultix-cli --help | --version
  vaultix-cli schedule | schedules | unschedule ...   (see SCHEDULES)

OPERATIONS
  backup    Scan IncludeNames (minus ExcludeNames) and write the archive
            BackupDestination/ArchiveBaseName (numbered volumes .001, .002 ...
            with SpanDisks).
  restore   Write the selected files of the archive back: to their stored
            paths, or below RestoreTo with RedirectRestore (--restore-to).
            The selection is IncludeNames of the set file unless --include or
            --all is given; an empty selection restores nothing.
  verify    Unpack every file of the archive and compare it byte for byte
            with the file at its stored path (exit code 98 on a mismatch).
            With --json a line per file, {"path":"...","result":"ok" |
            "missing" | "different" | "failed"}, then {"summary":true,
            "files":N,"ok":N,"missing":N,"different":N,"failed":N,"exit":N}.
  catalog   Print one line per file of the archive, in archive order:
            size, checksum (8 hex digits), attributes (hex), stored time
            "yyyy/mm/dd hh:nn:ss" (local), stored path, separated by TABs.
            Nothing else goes to standard output. With --json one JSON
            object per line instead: {"size":N,"crc":"8 hex digits",
            "attributes":N,"time":"yyyy-mm-ddThh:nn:ss" (local),"path":"..."};
            path bytes that are not UTF-8 are written \u00XX and the object
            then also has "path_hex" (the path's bytes in hex).
  comment   Print the comment stored in the archive.
  delete    Remove files from the archive: --include names the files to
            keep, --exclude the files to remove (one of the two); without
            either, the set file's IncludeNames or ExcludeNames (exactly one
            of them filled).

OPTIONS
  --set FILE            the set file; without --set and --job the program's
                        defaults apply and the options name the rest: every
                        operation needs --destination and --archive, backup
                        also --include, restore --include or --all, delete
                        --include or --exclude (exit 64 names what is missing)
  --job FILE            a job file saved by the desktop program: backup runs
                        it as the desktop program does; restore (with
                        --restore-to), verify, catalog and comment read the
                        set it writes; not with delete, nor with --set; only
                        --quiet, --json, --dry-run, --log, --no-log,
                        --wait-lock, (backup) --mkdir and (restore)
                        --restore-to,
                        --include, --restore-mode may be added
  --log FILE            log into FILE (a new log each run, or appended when
                        the set file says LogFileMode=2)
  --append-log          append to the log instead of starting it anew
  --no-log              keep no log
  --password-file FILE  the password is the first line of FILE, so that it
                        need not sit in the set file; a backup given a
                        password is encrypted; without this option and
                        --password-command the environment variable
                        VAULTIX_PASSWORD_FILE names the file
  --password-command CMD
                        the password is the first line CMD (run by /bin/sh
                        -c) prints; a failing CMD ends the run with exit 1
  --encrypt             backup: encrypt (EncryptData on); with no password
                        given, it is asked twice at the terminal
                        Passwords: one that is needed and not given is asked
                        at the terminal without echo. restore and verify check
                        it on the first data blocks: a wrong one ends with
                        exit 14 before any file is written. The encryption
                        covers the files' data only: the stored paths,
                        sizes, times and the comment stay readable without
                        the password.
  --quiet, -q           no progress line and no closing summary; failures
                        are still reported on stderr
  --dry-run             backup, restore, delete: show what the run would do,
                        as TAB-separated lines, and change nothing (no
                        archive, no archive attribute, no restored file):
                        backup "take SIZE PATH" per file the scan takes,
                        "erase PATH" per file emptying the target folder
                        would remove; restore "restore", "replace" (a file
                        is there) or "skip" (newer on disk, or a refused
                        path, with the reason) with the stored path and its
                        target; delete "keep PATH" or "remove PATH"; then a
                        "total" line
  --json                catalog, verify: JSON lines on standard output (see
                        OPERATIONS)
  --destination DIR     the archive's folder (BackupDestination)
  --archive NAME        the archive's file name (ArchiveBaseName)
  --include ENTRY       replaces IncludeNames (repeatable); backup: a folder
                        and mask such as "/home/eva/docs/*.*", a blank and /S
                        at the end to descend; restore and delete: a stored
                        path, a mask, or a folder and mask. Without --set
                        and --job a backup also takes a folder ("~/docs",
                        with or without "/") with everything below it and a
                        file as it is, relative paths from the working
                        folder; a path that does not exist ends with exit 64
                        (see --ignore-missing); a restore or delete line
                        that is an absolute path also takes everything
                        stored below it. An empty ENTRY is refused (64).
  --exclude ENTRY       replaces ExcludeNames (repeatable); backup, delete;
                        without --set and --job a folder (one that exists,
                        or given with a trailing "/") leaves out the folder
                        and everything below it
  --no-hidden           backup: leave out names beginning with "."; without
                        --set and --job they are taken otherwise
  --ignore-missing      backup without --set and --job: go on without the
                        include paths that do not exist
  --recurse             RecurseSubDir on (every entry descends)
  --all                 restore: select every file of the archive; catalog:
                        list the set's metadata table too
  --comment TEXT        backup: comment stored in the archive
  --compress none|quick|max            backup: block compression
  --mode full|incremental|differential backup: which files are taken
  --restore-to DIR      restore below DIR (RedirectRestore on)
  --flat                with --restore-to: without the stored folders
  --restore-mode all|newer|newer-and-new
                        restore: all files, only files newer than on disk,
                        or newer and missing files
  --attributes          restore: give files their stored attributes
  --no-xattrs           backup: leave extended attributes (ACLs,
                        capabilities) out; restore: do not apply them
  --no-metadata         backup: no metadata table (modes, owners, links);
                        restore, verify: ignore it
  --follow-links        backup: take a link to a file as that file
  --mkdir               backup: create the destination folder when it is
                        missing (a one-off run creates nothing without it;
                        with --set or --job it is created anyway), only when
                        its parent exists and is no empty mount point
  --wait-lock SECONDS   wait up to SECONDS for a set another run uses
                        (0, the default: end with 18 at once)
  --help, -h            this text
  --version             the program's version
  Options take their value as the next argument or after "=".

QUESTIONS
  When standard input is a terminal (in the foreground), vaultix-cli asks for
  the next medium (OK / Storno) and about files that cannot be opened or read
  (Prerušiť / Opakovať / Ignorovať; a failed read: Prerušiť / Ignorovať)
  while HandleOpenErrors or HandleFileReadError is 0. With volumes cut by
  MaxSplitSize into one folder, AskForNextDisk=0 writes them without asking. Otherwise it never waits: the set file's answers
  apply; a file that cannot be opened with HandleOpenErrors=0 is tried 3 more
  times, one second apart, then skipped (logged as an error, and kept for the
  next incremental backup); a missing next or first volume ends the run with
  its error. Ctrl-C (SIGINT, SIGTERM, SIGHUP) stops the run at the next file
  (a backup: at the next data block) with exit code 12. On a terminal a progress line is shown on stderr.
  Output to a pipe whose reader has gone (as with | head -1) ends the run
  quietly with exit code 141.

SET FILE
  An INI file with the section [VAULTRex]; the program's own editor writes it,
  and it can be written by hand. Text values are escaped: every byte outside
  32..128, the apostrophe and the backslash are written \xNN (upper-case hex);
  a list is its lines each followed by \x09. Booleans are 0 or 1; integers are
  decimal or 0x hexadecimal; dates are "yyyy/mm/dd hh:nn:ss".
  Magicnumber=2059128029  required; anything else is "not a set file" (exit 99)
  LogFileMode           0 no log, 1 new log each run, 2 append
  LogFileName           text
  EncryptData           Boolean: encrypt the archive (password of 8..65 bytes)
  EncryptKey            text: the password (better: --password-file)
  CompressData          0 none, 1 quick, 2 maximal
  Comment               text, at most 255 bytes are stored
  RuninBackground       Boolean (no effect here)
  Messages              list: line 1 is the next-medium question, %d = disk,
                        %s = BackupDestination
  IncludeNames          list: what to back up ("/home/eva/*.* /S")
  ExcludeNames          list: what to leave out
  RecurseSubDir         Boolean: every entry descends into subfolders
  BackupHiddenSysFiles  Boolean: also names beginning with "."
  BackupOpenFiles       Boolean (stored only)
  BackupMode            0 full, 1 incremental, 2 differential, 3 files changed
                        since SpecialBackupDate
  SpecialBackupDate     date
  VerifyDuringBackup    Boolean: read every stored block back while writing
  HandleOpenErrors      0 ask / retry, 1 skip the file, 2 end the run
  HandleFileReadError   0 ask / end the run, 1 keep what was read, 2 end the run
  BackupDestination     text: folder of the archive
  ArchiveBaseName       text: file name of the archive (no extension with
                        SpanDisks)
  BackupToTape          Boolean: the archive goes to the tape drive
  BackupToFTP           Boolean: the archive goes to an FTP server
  FTP_Hostname, FTP_username, FTP_password (text), FTP_port (integer)
  EraseTargetDir        Boolean: empty the destination folder first
  SpanDisks             Boolean: numbered volumes
  KeepArchiveFlags      Boolean: do not mark files as backed up
  AskForFirstDisk       Boolean: ask for medium 1 before writing
  TapeFileMarks         Boolean (stored only)
  EjectTape             Boolean: unload the tape after a backup
  RedirectRestore       Boolean: restore below RestoreTo
  RestoreTo             text
  FlatRestore           Boolean: restore without the stored folders
  RestoreMode           0 all, 1 newer, 2 newer and new
  RestoreAttributes     Boolean
  StoreMetadata         Boolean: the metadata table (default on)
  StoreXattrs           Boolean: extended attributes in it (default on)
  FollowLinks           Boolean: take a link to a file as that file
  Read only by vaultix-cli:
  MaxSplitSize          integer: bytes per volume with SpanDisks (0 = until
                        the medium is full)
  NoFileCRCs            Boolean: no checksums
  AskForNextDisk        Boolean, default 1: ask for every further medium
  UseExtStatistic       Boolean: 64-bit progress counters

EXIT CODES
   0  success
   1  Chyba spôsobená neplatnou hodnotou nastavení (a setting is invalid)
   2  Chyba - plný disk (disk full)
   3  Interná chyba komprimovaných dát (compressed data damaged)
   4  Chyba - súbor má otvorený iný proces (a file could not be opened)
   5  Chyba pri čítaní súboru (a file could not be read)
   6  Chyba pri zápise do zálovovacieho súboru (writing the archive failed)
   7  Chyba pri vytváraní zálohovacieho súboru (the archive cannot be created)
   8  Chyba - poškodená hlavička zálohovacieho súboru (not an archive)
   9  Chyba pri čítaní zálohového súboru (reading the archive failed)
  10  Chyba pri použití páskového zariadenia (tape error)
  11  Chyba pri vytváraní Temp súboru (a temporary or target file failed)
  12  Prerušené volajúcou aplikáciou / užívateľom (cancelled)
  13  Chyba pri detekcii prvého média (first volume missing)
  14  Heslo je neplatné alebo krátke (wrong password, none given for an
      encrypted set, or too short or too long)
  15  Chyba počas FTP komunikácie (FTP error)
  16  Záloha dát je ukončená, niektoré položky neboli zálohované (the set is
      complete without some selected items: skipped, vanished, unreadable or
      changed while read; the count and the log are named on stderr)
  17  Záloha je nová, ale archívne atribúty neboli zaznamenané (the new set is
      in place, but the archive attributes could not be recorded: the next
      incremental backup takes those files again)
  18  Záložná sada je práve používaná inou úlohou (another run is using the
      set; --wait-lock SECONDS waits for it)
  64  malformed command line (usage on stderr)
  98  Chyba pri verifikácii súboru (verify found differences or data a restore
      would refuse; a backup whose VerifyDuringBackup check failed for a file)
  99  Ostatné nešpecifikované chyby (anything else; a missing set file, a set
      file or log that is not a regular file)

EXAMPLE
  /home/eva/daily.set:
    [VAULTRex]
    Magicnumber=2059128029
    LogFileMode=1
    LogFileName=/home/eva/backup/daily.log
    CompressData=1
    IncludeNames=/home/eva/docs/*.* /S\x09/home/eva/mail/*.*\x09
    ExcludeNames=*.tmp\x09
    BackupMode=1
    BackupDestination=/mnt/backup/
    ArchiveBaseName=daily.arc
    HandleOpenErrors=1

  crontab line (every night at 02:30):
    30 2 * * * /usr/local/bin/vaultix-cli backup --set /home/eva/daily.set --quiet
)" + ScheduleHelpText();
}

}  // namespace vx

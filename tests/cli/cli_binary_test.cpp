// vaultix-cli as a program: exit codes, what it prints, and that it never
// waits for a person who is not there.
#include <sys/stat.h>

#include <set>

#include "cli/cli_fixture.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "support/utils.h"

namespace vxtest {
namespace {

using CliProgram = CliFixture;

TEST_F(CliProgram, MalformedCommandLinesExit64WithUsage) {
  std::string set = MakeSet();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"backup"},                                         // no --set and nothing to back up
      {"frobnicate", "--set", set},                       // unknown operation
      {"backup", "--set", set, "--bogus"},                // unknown option
      {"catalog", "--set", set, "--restore-to", "/tmp"},  // option of another operation
      {"backup", "--set", set, "--compress", "huge"},     // bad enum value
      {"backup", "--set"},                                // option without its value
  };
  for (const auto& args : cases) {
    TCliRun r = Run(args);
    EXPECT_TRUE(r.exited) << Show(r);
    EXPECT_EQ(r.exitCode, 64) << Show(r);
    EXPECT_NE(r.err.find("usage: vaultix-cli"), std::string::npos) << Show(r);
    EXPECT_TRUE(r.out.empty()) << Show(r);
  }
}

TEST_F(CliProgram, HelpDocumentsEverySetFileKeyAndExitCode) {
  TCliRun r = Run({"--help"});
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  // Every key the engine writes into a set file, and the four keys only the
  // command line reads.
  vx::TVaultrex engine;
  std::string saved = Path("saved.set");
  engine.SaveSet(saved);
  std::vector<std::string> keys = {"MaxSplitSize", "NoFileCRCs", "AskForNextDisk",
                                   "UseExtStatistic"};
  for (const auto& line : vx::GetProfileSection(saved, "VAULTRex")) {
    keys.push_back(line.substr(0, line.find('=')));
  }
  EXPECT_GT(keys.size(), 40u);
  for (const auto& key : keys) {
    if (key == "Created") continue;  // written on save, never read
    EXPECT_NE(r.out.find(key), std::string::npos) << "help lacks set-file key " << key;
  }
  std::vector<int> codes = {0, 98, 99};
  for (int c = 1; c <= 16; ++c) codes.push_back(c);
  for (int code : codes) {
    if (code == 0) continue;
    EXPECT_NE(r.out.find(vx::TVaultrex::ErrorText(code)), std::string::npos)
        << "help lacks exit code " << code;
  }
  for (const char* op : {"backup", "restore", "verify", "catalog", "comment", "delete"}) {
    EXPECT_NE(r.out.find(op), std::string::npos) << op;
  }
}

TEST_F(CliProgram, MissingOrForeignSetFileExits99WithTheMessage) {
  Write("foreign.set", "[Other]\nkey=1\n");
  TCliRun foreign = Run({"backup", "--set", Path("foreign.set")});
  EXPECT_EQ(foreign.exitCode, 99) << Show(foreign);
  EXPECT_NE(foreign.err.find("Vadný formát súboru"), std::string::npos) << Show(foreign);
  std::string bad = MakeSet({{"MaxSplitSize", "-5"}}, "negative.set");
  TCliRun r = Run({"backup", "--set", bad});
  EXPECT_EQ(r.exitCode, 1) << Show(r);
  EXPECT_NE(r.err.find("MaxSplitSize"), std::string::npos) << Show(r);
}

TEST_F(CliProgram, CatalogPrintsOneTabSeparatedLinePerFileAndNothingElse) {
  ::chmod(Path("src/a.txt").c_str(), 0444);
  std::string set = MakeSet();
  TCliRun b = Run({"backup", "--set", set, "--quiet"});
  ASSERT_EQ(b.exitCode, 0) << Show(b);

  TCliRun c = Run({"catalog", "--set", set});
  ASSERT_EQ(c.exitCode, 0) << Show(c);
  std::vector<std::string> lines = Lines(c.out);
  ASSERT_EQ(lines.size(), 3u) << c.out;

  // The same order as the archive's directory, read by the engine itself.
  vx::TVaultrex engine;
  engine.LoadSet(set);
  ASSERT_EQ(engine.Catalog(), 0);
  ASSERT_EQ(engine.FileList().size(), 3u);

  std::set<std::string> seen;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> f = Fields(lines[i]);
    ASSERT_EQ(f.size(), 5u) << lines[i];
    const std::string& path = f[4];
    EXPECT_EQ(path, engine.FileList()[i].path);
    seen.insert(path);
    EXPECT_EQ(std::stoll(f[0]), vx::GetFileSize64(path)) << lines[i];
    ASSERT_EQ(f[1].size(), 8u) << lines[i];
    EXPECT_EQ(std::stoul(f[1], nullptr, 16), vx::CalcFileCRC(path)) << lines[i];
    unsigned long attr = std::stoul(f[2], nullptr, 16);
    EXPECT_EQ((attr & vx::faReadOnly) != 0, path == Path("src/a.txt")) << lines[i];
    int y, mo, d, h, mi, s;
    vx::DecodeDateTime(vx::DosToDateTime(vx::GetFileDate(path)), y, mo, d, h, mi, s);
    char when[32];
    std::snprintf(when, sizeof when, "%04d/%02d/%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    EXPECT_EQ(f[3], when) << lines[i];
  }
  EXPECT_EQ(seen, (std::set<std::string>{Path("src/a.txt"), Path("src/sub/b.txt"),
                                         Path("src/sub/c.bin")}));
}

TEST_F(CliProgram, CommentPrintsTheStoredComment) {
  std::string set = MakeSet();
  const std::string comment = "Mesačná záloha 'A' \\ B";
  ASSERT_EQ(Run({"backup", "--set", set, "--comment", comment}).exitCode, 0);
  TCliRun r = Run({"comment", "--set", set});
  EXPECT_EQ(r.exitCode, 0) << Show(r);
  EXPECT_EQ(r.out, comment + "\n");
}

TEST_F(CliProgram, PasswordFileEncryptsAndDecrypts) {
  std::string set = MakeSet({{"CompressData", "0"}});
  Write("pw", "correct horse battery\n");
  Write("wrong", "some other password\n");
  ::chmod(Path("pw").c_str(), 0600);
  TCliRun b = Run({"backup", "--set", set, "--password-file", Path("pw")});
  ASSERT_EQ(b.exitCode, 0) << Show(b);
  EXPECT_EQ(b.err.find("warning"), std::string::npos) << Show(b);
  EXPECT_EQ(Read("arc/job.arc").find("MARKER-PLAIN-TEXT"), std::string::npos)
      << "the archive holds the data in plain text";
  // The directory is not encrypted: the catalog needs no password.
  EXPECT_EQ(Run({"catalog", "--set", set}).exitCode, 0);

  TCliRun good = Run({"restore", "--set", set, "--all", "--restore-to", Path("good"),
                      "--password-file", Path("pw")});
  ASSERT_EQ(good.exitCode, 0) << Show(good);
  EXPECT_EQ(ReadAbs(Path("good") + Path("src/sub/b.txt")), Read("src/sub/b.txt"));

  Run({"restore", "--set", set, "--all", "--restore-to", Path("bad"), "--password-file",
       Path("wrong")});
  EXPECT_NE(ReadAbs(Path("bad") + Path("src/sub/b.txt")), Read("src/sub/b.txt"));

  TCliRun missing = Run({"restore", "--set", set, "--all", "--password-file", Path("none")});
  EXPECT_EQ(missing.exitCode, 1) << Show(missing);
}

TEST_F(CliProgram, VerifyExits98OnADifferenceAnd0OtherwiseWithLogs) {
  std::string set = MakeSet();
  ASSERT_EQ(Run({"backup", "--set", set, "--log", Path("b.log")}).exitCode, 0);
  EXPECT_NE(Read("b.log").find("Zálohované 3 súbory"), std::string::npos) << Read("b.log");

  TCliRun same = Run({"verify", "--set", set, "--log", Path("v1.log")});
  EXPECT_EQ(same.exitCode, 0) << Show(same);
  EXPECT_NE(Read("v1.log").find("3 Súbor/y skontrolované OK"), std::string::npos);

  std::string data = Read("src/sub/b.txt");
  data[100] = 'X';
  Write("src/sub/b.txt", data);
  TCliRun diff = Run({"verify", "--set", set, "--log", Path("v2.log")});
  EXPECT_EQ(diff.exitCode, 98) << Show(diff);
  EXPECT_NE(diff.err.find(vx::TVaultrex::ErrorText(98)), std::string::npos) << Show(diff);
}

TEST_F(CliProgram, AppendLogKeepsEarlierRuns) {
  std::string set = MakeSet();
  ASSERT_EQ(Run({"backup", "--set", set, "--log", Path("x.log")}).exitCode, 0);
  int first = vx::CountTextLines(Path("x.log"));
  ASSERT_GT(first, 0);
  ASSERT_EQ(Run({"verify", "--set", set, "--log", Path("x.log"), "--append-log"}).exitCode, 0);
  EXPECT_GT(vx::CountTextLines(Path("x.log")), first);
  ASSERT_EQ(Run({"backup", "--set", set, "--log", Path("x.log")}).exitCode, 0);
  EXPECT_EQ(vx::CountTextLines(Path("x.log")), first) << "a new log starts afresh";
}

TEST_F(CliProgram, DeleteByExcludeLeavesTheOtherFiles) {
  std::string set = MakeSet();
  ASSERT_EQ(Run({"backup", "--set", set}).exitCode, 0);
  TCliRun d = Run({"delete", "--set", set, "--exclude", "*.bin", "--no-log"});
  ASSERT_EQ(d.exitCode, 0) << Show(d);
  TCliRun c = Run({"catalog", "--set", set});
  ASSERT_EQ(c.exitCode, 0) << Show(c);
  EXPECT_EQ(Lines(c.out).size(), 2u) << c.out;
  EXPECT_EQ(c.out.find("c.bin"), std::string::npos) << c.out;
}

// Without --include or --exclude, delete uses the set file's lists, exactly
// one of which must be filled.
TEST_F(CliProgram, DeleteWithoutSelectionOptionsUsesTheSetFilesLists) {
  const std::string set = MakeSet();
  ASSERT_EQ(Run({"backup", "--set", set}).exitCode, 0);
  TCliRun both =
      Run({"delete", "--set", MakeSet({{"ExcludeNames", "*.bin\\x09"}}, "both.set"), "--no-log"});
  EXPECT_EQ(both.exitCode, 1) << Show(both);
  EXPECT_NE(both.err.find("Chyba spôsobená neplatnou hodnotou nastavení"), std::string::npos)
      << Show(both);
  TCliRun d =
      Run({"delete", "--set",
           MakeSet({{"IncludeNames", ""}, {"ExcludeNames", "*.bin\\x09"}}, "del.set"), "--no-log"});
  ASSERT_EQ(d.exitCode, 0) << Show(d);
  TCliRun c = Run({"catalog", "--set", set});
  EXPECT_EQ(Lines(c.out).size(), 2u) << c.out;
  EXPECT_EQ(c.out.find("c.bin"), std::string::npos) << c.out;
}

// A restore in which files fail ends with 9 and says on stderr how many.
TEST_F(CliProgram, RestoreWithFailedFilesExits9AndCountsThem) {
  const std::string set = MakeSet({{"CompressData", "0"}});
  ASSERT_EQ(Run({"backup", "--set", set}).exitCode, 0);
  fs::create_directories(Path("out") + Path("src/a.txt"));  // a folder where a file goes
  fs::create_directories(Path("out") + Path("src/sub/b.txt"));
  TCliRun r = Run({"restore", "--set", set, "--all", "--restore-to", Path("out"), "--quiet"});
  EXPECT_EQ(r.exitCode, 9) << Show(r);
  EXPECT_NE(r.err.find("Chyba počas obnovy: 2\n"), std::string::npos) << Show(r);
  EXPECT_EQ(ReadAbs(Path("out") + Path("src/sub/c.bin")), Read("src/sub/c.bin"));
}

TEST_F(CliProgram, VolumesAreWrittenAndReadWithoutAnyQuestion) {
  std::string set = MakeSet({{"SpanDisks", "1"},
                             {"ArchiveBaseName", "vol"},
                             {"MaxSplitSize", "20000"},
                             {"CompressData", "0"}});
  TCliRun b = Run({"backup", "--set", set});
  ASSERT_EQ(b.exitCode, 0) << Show(b);
  ASSERT_TRUE(fs::exists(Path("arc/vol.003"))) << "expected several volumes";
  TCliRun r = Run({"restore", "--set", set, "--all", "--restore-to", Path("out")});
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  EXPECT_EQ(ReadAbs(Path("out") + Path("src/sub/c.bin")), Read("src/sub/c.bin"));

  // A later volume missing: the run ends with its error instead of waiting.
  fs::rename(Path("arc/vol.002"), Path("vol.002"));
  TCliRun gap = Run({"verify", "--set", set});
  EXPECT_TRUE(gap.exited) << Show(gap);
  EXPECT_NE(gap.exitCode, 0) << Show(gap);
  fs::rename(Path("vol.002"), Path("arc/vol.002"));

  // The first volume missing: first-medium error.
  fs::rename(Path("arc/vol.001"), Path("vol.001"));
  for (const char* op : {"restore", "verify", "comment"}) {
    std::vector<std::string> args = {op, "--set", set};
    if (std::string(op) == "restore") args.push_back("--all");
    TCliRun r1 = Run(args);
    EXPECT_TRUE(r1.exited) << op << Show(r1);
    EXPECT_EQ(r1.exitCode, 13) << op << Show(r1);
  }
  TCliRun cat = Run({"catalog", "--set", set});
  EXPECT_TRUE(cat.exited) << Show(cat);
  EXPECT_EQ(cat.exitCode, 99) << Show(cat);
  EXPECT_TRUE(cat.out.empty());
}

TEST_F(CliProgram, AskedOnTheTerminalForTheFirstVolume) {
  std::string set = MakeSet({{"SpanDisks", "1"}, {"ArchiveBaseName", "vol"}});
  ASSERT_EQ(Run({"backup", "--set", set}).exitCode, 0);
  fs::rename(Path("arc/vol.001"), Path("vol.001"));
  TCliCall call;
  call.args = {"verify", "--set", set, "--no-log"};
  call.env = {{"VAULTIX_STATE_DIR", Path("state")}, {"LC_ALL", "C"}};
  // OK while the volume is still missing asks again; Storno gives up.
  TCliRun r = RunCliOnTerminal(call, {{"[S]torno?", "o\n"}, {"[S]torno?", "s\n"}});
  EXPECT_TRUE(r.exited) << Show(r);
  EXPECT_EQ(r.exitCode, 13) << Show(r);
  std::size_t first = r.err.find("Prosím vložte disk č. 1");
  ASSERT_NE(first, std::string::npos) << Show(r);
  EXPECT_NE(r.err.find("Prosím vložte disk č. 1", first + 1), std::string::npos) << Show(r);
}

TEST_F(CliProgram, ProgressLineOnlyOnATerminalAndNotWithQuiet) {
  std::string set = MakeSet();
  TCliCall call;
  call.args = {"backup", "--set", set};
  call.env = {{"VAULTIX_STATE_DIR", Path("state")}, {"LC_ALL", "C"}};
  TCliRun tty = RunCliOnTerminal(call, {});
  ASSERT_EQ(tty.exitCode, 0) << Show(tty);
  EXPECT_NE(tty.err.find("100%"), std::string::npos) << Show(tty);
  EXPECT_NE(tty.err.find("Záloha dát je ukončená."), std::string::npos) << Show(tty);

  call.args.push_back("--quiet");
  TCliRun quiet = RunCliOnTerminal(call, {});
  ASSERT_EQ(quiet.exitCode, 0) << Show(quiet);
  EXPECT_EQ(quiet.err.find("hotovo"), std::string::npos) << Show(quiet);

  TCliRun piped = Run({"backup", "--set", set});
  ASSERT_EQ(piped.exitCode, 0) << Show(piped);
  EXPECT_EQ(piped.err.find("hotovo"), std::string::npos) << Show(piped);
}

TEST_F(CliProgram, UnopenableFileIsRetriedThenSkippedWhenNobodyCanBeAsked) {
  if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "needs root to run the program as an unprivileged user";
  }
  fs::permissions(root_, fs::perms::all);
  for (const char* d : {"src", "src/sub", "state"}) fs::permissions(Path(d), fs::perms::all);
  fs::create_directories(Path("arc"));
  fs::permissions(Path("arc"), fs::perms::all);
  ::chmod(Path("src/sub/b.txt").c_str(), 0);  // nobody may open it

  TCliCall asNobody;
  asNobody.runAsUser = "nobody";
  TCliRun r = Run({"backup", "--set", MakeSet(), "--log", Path("arc/n.log")}, asNobody);
  EXPECT_EQ(r.exitCode, 16) << Show(r);  // finished without b.txt
  EXPECT_NE(r.err.find("skipped after 4 tries"), std::string::npos) << Show(r);
  std::string log = Read("arc/n.log");
  EXPECT_NE(log.find("CHYBA #1: Súbor " + Path("src/sub/b.txt") +
                     " nie je zazálohovaný - chyba pri otvorení súboru"),
            std::string::npos)
      << log;

  TCliRun abort =
      Run({"backup", "--set", MakeSet({{"HandleOpenErrors", "2"}}, "abort.set")}, asNobody);
  EXPECT_EQ(abort.exitCode, 4) << Show(abort);

  // With a person at the terminal the question is asked: retry, then ignore.
  TCliCall onTerminal = asNobody;
  onTerminal.args = {"backup", "--set", MakeSet({}, "tty.set"), "--log", Path("arc/t.log")};
  onTerminal.env = {{"VAULTIX_STATE_DIR", Path("state")}, {"LC_ALL", "C"}};
  TCliRun asked = RunCliOnTerminal(onTerminal, {{"[I]gnorovať?", "o\n"}, {"[I]gnorovať?", "i\n"}});
  EXPECT_EQ(asked.exitCode, 16) << Show(asked);
  EXPECT_NE(asked.err.find("nemôžem otvoriť súbor,"), std::string::npos) << Show(asked);
  EXPECT_NE(Read("arc/t.log").find("CHYBA #1: Súbor " + Path("src/sub/b.txt")), std::string::npos);

  // Ctrl-C at the question: the run stops as cancelled, not as a failed open.
  TCliRun stopped = RunCliOnTerminal(onTerminal, {{"[I]gnorovať?", "\x03"}});
  EXPECT_TRUE(stopped.exited) << Show(stopped);
  EXPECT_EQ(stopped.exitCode, 12) << Show(stopped);
  EXPECT_NE(stopped.err.find("Prerušuje sa..."), std::string::npos) << Show(stopped);
}

// As `vaultix-cli catalog ... | head -1`: the reader has gone, which ends
// the run quietly with the code a shell gives a process killed by SIGPIPE.
TEST_F(CliProgram, AClosedOutputPipeEndsQuietlyWith141) {
  std::string set = MakeSet();
  ASSERT_EQ(Run({"backup", "--set", set}).exitCode, 0);
  TCliCall call;
  call.closeStdoutReader = true;
  for (const char* operation : {"catalog", "comment"}) {
    TCliRun r = Run({operation, "--set", set}, call);
    EXPECT_TRUE(r.exited) << Show(r);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 141) << Show(r);
    EXPECT_EQ(r.err, "") << Show(r);
  }
}

}  // namespace
}  // namespace vxtest

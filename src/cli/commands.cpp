#include "cli/commands.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "archive/errors.h"
#include "cli/configure.h"
#include "cli/job.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/password.h"
#include "cli/progress.h"
#include "cli/schedule.h"
#include "cli/signals.h"
#include "cli/texts.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/hooks.h"
#include "support/version.h"

namespace vx {
namespace {

// Tries of opening a file, after the first, when nobody can be asked.
constexpr int kOpenRetries = 3;

// Restores the default question box when a run ends, however it ends.
struct TQuestionBoxScope {
  explicit TQuestionBoxScope(std::function<TBoxAnswer(const std::string&)> hook) {
    SetQuestionBoxHook(std::move(hook));
  }
  ~TQuestionBoxScope() {
    SetQuestionBoxHook([](const std::string&) { return TBoxAnswer::Unavailable; });
  }
  TQuestionBoxScope(const TQuestionBoxScope&) = delete;
  TQuestionBoxScope& operator=(const TQuestionBoxScope&) = delete;
};

// A stop signal ends the process at once while the output after the run is
// written (a write may wait for ever on a pipe nobody reads).
struct TStopExitsScope {
  TStopExitsScope() { SetStopSignalExits(true); }
  ~TStopExitsScope() { SetStopSignalExits(false); }
  TStopExitsScope(const TStopExitsScope&) = delete;
  TStopExitsScope& operator=(const TStopExitsScope&) = delete;
};

// Lets the engine see a stop signal at every data block while a run lasts.
struct TStopHookScope {
  TStopHookScope() {
    SetStopRequestHook([] { return CancelRequested(); });
  }
  ~TStopHookScope() { SetStopRequestHook(nullptr); }
  TStopHookScope(const TStopHookScope&) = delete;
  TStopHookScope& operator=(const TStopHookScope&) = delete;
};

TExtBackupStatistic Widen(const TBackupStatistic& s) {
  TExtBackupStatistic e;
  e.PercentDone = s.PercentDone;
  e.TotalBytes = s.TotalBytes;
  e.BytesRead = s.BytesRead;
  e.BytesWritten = s.BytesWritten;
  e.BytesVerified = s.BytesVerified;
  e.FilesDone = s.FilesDone;
  e.CurrentFile = s.CurrentFile;
  e.CurrentFileSize = s.CurrentFileSize;
  return e;
}

// Everything the engine's events need during one run.
struct TRunContext {
  TCliEnvironment& env;
  TVaultrex& engine;
  bool quiet = false;
  std::unique_ptr<TProgressLine> progress;
  TPrompt prompt;
  TBoundedOpenRetry openRetry;

  TRunContext(TCliEnvironment& e, TVaultrex& v, bool q)
      : env(e),
        engine(v),
        quiet(q),
        prompt(e.readLine, e.err),
        openRetry(kOpenRetries, e.retryPause, [this](const std::string& file) {
          Note("cannot open " + file + "; skipped after " + std::to_string(kOpenRetries + 1) +
               " tries");
        }) {}

  void ClearLine() {
    if (progress) progress->Finish();
  }
  void Note(const std::string& text) {
    if (quiet) return;
    ClearLine();
    env.err << "vaultix-cli: " << text << "\n" << std::flush;
  }
};

void AttachEvents(TRunContext& ctx, TCliOperation op) {
  TVaultrex& e = ctx.engine;
  auto stopScan = [](const std::string&, TReaction& r) {
    if (CancelRequested()) r = AW_ABORT;
  };
  e.OnStartFileScan = stopScan;
  e.OnScanNextDir = stopScan;
  e.OnScanNextFile = stopScan;
  // Times and speed cover the copying, not the scan.
  e.OnEndFileScan = [&ctx](const std::string&, TReaction& r) {
    if (ctx.progress) ctx.progress->Restart();
    if (CancelRequested()) r = AW_ABORT;
  };
  e.OnResetAttributes = [](const TExtBackupStatistic&, bool& cancel) {
    if (CancelRequested()) cancel = true;
  };
  e.OnExtStatistic = [&ctx](const TExtBackupStatistic& s, bool& cancel) {
    if (ctx.progress) ctx.progress->Statistic(s);
    if (CancelRequested()) cancel = true;
  };
  e.OnStatistic = [&ctx](const TBackupStatistic& s, bool& cancel) {
    if (ctx.progress) ctx.progress->Statistic(Widen(s));
    if (CancelRequested()) cancel = true;
  };
  e.OnNextBlock = [&ctx](const std::string& name, std::int64_t done, std::int64_t total) {
    if (ctx.progress) ctx.progress->Block(name, done, total);
  };

  // The default answer AW_RETRY means "ask": the person at the terminal, or,
  // without one, a few more tries before the file is skipped.  The explicit
  // answers AW_IGNORE and AW_ABORT of the set file are used as they are.
  // While a stop is pending the file is skipped, so that the statistics
  // report right after it ends the run as cancelled (12), not as failed (4, 5).
  if (ctx.env.interactive) {
    if (e.HandleOpenError == AW_RETRY) {
      e.OnCantOpenFile = [&ctx](const std::string& file, TReaction& r) {
        ctx.ClearLine();
        if (!CancelRequested()) r = AskFileOnTerminal(ctx.prompt, kCantOpenQuestion, file);
        if (CancelRequested()) r = AW_IGNORE;
      };
    }
    if (e.HandleFileReadError == AW_RETRY) {
      e.OnCantReadFromFile = [&ctx](const std::string& file, TReaction& r) {
        ctx.ClearLine();
        if (!CancelRequested()) r = AskFileOnTerminal(ctx.prompt, kCantReadQuestion, file);
        if (CancelRequested()) r = AW_IGNORE;
      };
    }
  } else if (e.HandleOpenError == AW_RETRY) {
    e.OnCantOpenFile = [&ctx](const std::string& file, TReaction& r) {
      r = CancelRequested() ? AW_IGNORE : ctx.openRetry.Answer(file);
    };
  }

  if (ctx.progress == nullptr && ctx.env.progress && !ctx.quiet &&
      (op == TCliOperation::Backup || op == TCliOperation::Restore ||
       op == TCliOperation::Verify)) {
    // A backup counts the bytes read from disk; restore and verify count the
    // sizes of the files done (BytesWritten), which is what TotalBytes sums.
    auto count = op == TCliOperation::Backup ? TProgressLine::TCount::BytesRead
                                             : TProgressLine::TCount::BytesWritten;
    TVaultrex* engine = &e;
    ctx.progress = std::make_unique<TProgressLine>(
        ctx.env.err, count, ctx.env.terminalWidth, [] { return TickCountMs(); },
        [engine, op] {
          std::int64_t sum = 0;
          for (const auto& r : engine->FileList()) {
            if (op == TCliOperation::Restore && r.mark != 0) continue;
            sum += r.fullSize;
          }
          return sum;
        });
  }
}

const char* TaskText(TCliOperation op) {
  switch (op) {
    case TCliOperation::Backup:
      return txt::cli::kTaskBackup;
    case TCliOperation::Restore:
      return txt::cli::kTaskRestore;
    case TCliOperation::Verify:
      return txt::cli::kTaskVerify;
    default:
      return nullptr;
  }
}

int ExceptionCode(const std::exception& ex) {
  return ResultCodeOf(ex,
                      {TFurther::FileWrite, TFurther::UserAbortion, TFurther::VerificationFailed,
                       TFurther::WrongMedium, TFurther::WrongPassword, TFurther::FTP});
}

// --dry-run: the selection of the real run, printed as TAB-separated lines;
// nothing is written and no archive attribute changes.
int DryRun(TRunContext& ctx, const TCliOptions& o) {
  TVaultrex& e = ctx.engine;
  std::ostream& out = ctx.env.out;
  switch (o.operation) {
    case TCliOperation::Backup: {
      std::vector<std::string> erased;
      e.PreviewBackup(erased);
      std::int64_t bytes = 0;
      for (const auto& r : e.FileList()) {
        out << "take\t" << r.fullSize << '\t' << EscapeControls(r.path) << '\n';
        bytes += r.fullSize;
      }
      for (const auto& path : erased) out << "erase\t" << EscapeControls(path) << '\n';
      out << "total\t" << e.FileList().size() << " files\t" << bytes << " bytes\n";
      return 0;
    }
    case TCliOperation::Restore: {
      const int code = e.Catalog();
      if (code != 0) return code;
      std::size_t files = 0;
      std::int64_t bytes = 0;
      for (const auto& r : e.FileList()) {
        if (!e.SelectedForRestore(r.path)) continue;
        const TVaultrex::TRestorePlan plan = e.PlanRestore(r);
        const std::string what = !plan.restore ? "skip" : plan.exists ? "replace" : "restore";
        out << what << '\t' << EscapeControls(r.path) << '\t' << EscapeControls(plan.target);
        if (!plan.refusal.empty()) out << '\t' << plan.refusal;
        out << '\n';
        if (plan.restore) {
          ++files;
          bytes += r.fullSize;
        }
      }
      out << "total\t" << files << " files\t" << bytes << " bytes\n";
      return 0;
    }
    case TCliOperation::Delete: {
      // The same refusal as the delete itself: exactly one list.
      if (e.IncludeNames.empty() == e.ExcludeNames.empty()) return 1;
      const int code = e.Catalog();
      if (code != 0) return code;
      std::size_t kept = 0;
      for (const auto& r : e.FileList()) {
        const bool keep = e.KeptByDelete(r.path);
        kept += keep ? 1 : 0;
        out << (keep ? "keep\t" : "remove\t") << EscapeControls(r.path) << '\n';
      }
      out << "total\t" << kept << " kept\t" << e.FileList().size() - kept << " removed\n";
      return 0;
    }
    default:
      return 99;
  }
}

int RunOperation(TRunContext& ctx, const TCliOptions& o) {
  TVaultrex& e = ctx.engine;
  if (o.dryRun) return DryRun(ctx, o);
  switch (o.operation) {
    case TCliOperation::Backup:
      return e.Backup();
    case TCliOperation::Restore:
      return e.Restore();
    case TCliOperation::Verify:
      return e.Verify();
    case TCliOperation::Delete:
      return e.DeleteFiles();
    case TCliOperation::Catalog: {
      const int code = e.Catalog();
      if (code == 0) {
        const TStopExitsScope stopExits;
        for (const auto& r : e.FileList()) {
          // A stop that came before this line, or a reader that has gone.
          if (CancelRequested()) return EVX_UserAbortion::kCode;
          if (!ctx.env.out) break;
          ctx.env.out << (o.json ? FormatCatalogJson(r) : FormatCatalogLine(r)) << '\n';
        }
      }
      return code;
    }
    case TCliOperation::Comment: {
      std::string comment;
      const int code = e.RetrieveComment(comment);
      // Bytes from a set never reach a terminal as control sequences.
      if (code == 0) ctx.env.out << EscapeControls(comment, false) << '\n';
      return code;
    }
  }
  return 99;
}

}  // namespace

std::string FormatCatalogLine(const TDirRecord& r) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  DecodeDateTime(r.time, year, month, day, hour, minute, second);
  char head[96];
  std::snprintf(head, sizeof head, "%u\t%08X\t%X\t%04d/%02d/%02d %02d:%02d:%02d\t",
                static_cast<unsigned>(static_cast<std::uint32_t>(r.size)),
                static_cast<unsigned>(r.crc), static_cast<unsigned>(r.attr), year, month, day, hour,
                minute, second);
  return head + EscapeControls(r.path);
}

std::string EscapeControls(const std::string& path, bool backslash) {
  std::string line;
  for (unsigned char c : path) {
    if (c < 32 || c == 127 || (backslash && c == '\\')) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      line += esc;
    } else {
      line += static_cast<char>(c);
    }
  }
  return line;
}

int RunCli(const std::vector<std::string>& args, TCliEnvironment& env) {
  // schedule, schedules, unschedule: cli/schedule.cpp
  if (IsScheduleCommand(args)) return RunScheduleCommand(args, env);

  TCliParse parse = ParseCommandLine(args);
  if (!parse.ok) {
    env.err << "vaultix-cli: " << parse.error << "\n" << UsageText() << std::flush;
    return kExitUsage;
  }
  const TCliOptions& o = parse.options;
  if (o.help) {
    env.out << HelpText() << std::flush;
    return env.out ? 0 : 99;
  }
  if (o.version) {
    if (VersionString(VS_FileVersion).empty()) ReadVersionInfo();
    env.out << "vaultix-cli " << VersionString(VS_FileVersion) << "\n" << std::flush;
    return env.out ? 0 : 99;
  }

  TVaultrex engine;
  try {
    const std::string warnings =
        o.jobFile.empty() ? ConfigureEngine(engine, o) : ConfigureFromJob(engine, o);
    if (!warnings.empty()) env.err << warnings << std::flush;
  } catch (const ECliUsage& ex) {
    env.err << "vaultix-cli: " << ex.what() << "\n" << std::flush;
    return kExitUsage;
  } catch (const ECliSetting& ex) {
    env.err << "vaultix-cli: " << ex.what() << "\n" << std::flush;
    return 1;
  } catch (const EVX_ParameterError& ex) {
    // A set-file value out of its range: the key is named.
    env.err << "vaultix-cli: " << (o.jobFile.empty() ? o.setFile : o.jobFile) << ": "
            << TVaultrex::ErrorText(1) << ": " << ex.what() << "\n"
            << std::flush;
    return 1;
  } catch (const std::exception& ex) {
    // A job file's messages name the file themselves.
    env.err << "vaultix-cli: " << (o.jobFile.empty() ? o.setFile + ": " : "") << ex.what() << "\n"
            << std::flush;
    return 99;
  }
  // A set file without prompt text still gets a readable next-medium question.
  if (engine.Messages.empty() || engine.Messages.front().empty()) {
    engine.SetMessageLines(TVaultrex().Messages);
  }

  if (!o.dryRun) {
    const int asked = AskPassword(engine, o, env);
    if (asked != 0) return asked;
  }

  TRunContext ctx(env, engine, o.quiet);
  AttachEvents(ctx, o.operation);
  TStopHookScope stopHook;
  TQuestionBoxScope box([&ctx](const std::string& text) {
    if (!ctx.env.interactive) return TBoxAnswer::Unavailable;
    if (CancelRequested()) return TBoxAnswer::Abort;
    ctx.ClearLine();
    return AskBoxOnTerminal(ctx.prompt, text);
  });

  // verify --json: a line per file as it is checked, a summary at the end.
  TVerifyTally tally;
  const bool verifyJson = o.json && o.operation == TCliOperation::Verify;
  if (verifyJson) {
    engine.OnFileVerified = [&](const std::string& path, TVaultrex::TVerifyOutcome outcome) {
      tally.Count(outcome);
      ctx.ClearLine();
      env.out << FormatVerifyJson(path, outcome) << '\n' << std::flush;
    };
    engine.OnMetadataDiffers = [&](const std::string& path, TVaultrex::TMetaDifference what) {
      tally.Count(what);
      ctx.ClearLine();
      env.out << FormatMetaDifferenceJson(path, what) << '\n' << std::flush;
    };
  }

  int code = 99;
  std::string failure;
  try {
    code = RunOperation(ctx, o);
    // Reading a set's directory has no code of its own for a stop (its
    // abort is 99): a stop that ended it is reported as one.
    const bool readsDirectory = o.operation == TCliOperation::Catalog ||
                                o.operation == TCliOperation::Comment ||
                                (o.dryRun && o.operation != TCliOperation::Backup);
    if (readsDirectory && code == kOtherErrorCode && CancelRequested()) {
      code = EVX_UserAbortion::kCode;
    }
  } catch (const EVX_Error& ex) {
    code = ExceptionCode(ex);
    failure = ex.what();
  } catch (const std::exception& ex) {
    code = 99;
    failure = ex.what();
  } catch (...) {
    code = 99;
    failure = "unknown failure";
  }
  ctx.ClearLine();
  if (verifyJson) env.out << FormatVerifySummary(tally, code) << '\n';

  env.out << std::flush;
  if (!env.out) {
    // A reader that stopped reading (`| head -1`) is no failure to report.
    if ((code == 0 || code == EVX_UserAbortion::kCode) && env.outputClosed && env.outputClosed()) {
      env.err << std::flush;
      return kExitClosedPipe;
    }
    env.err << "vaultix-cli: cannot write to standard output\n" << std::flush;
    if (code == 0) code = 99;
  }

  if (!failure.empty()) env.err << "vaultix-cli: " << failure << "\n";
  const char* task = o.dryRun ? nullptr : TaskText(o.operation);
  if (code == kPartialCode) {
    // Finished, but without some of the selection: said also with --quiet,
    // as it explains the exit code.
    env.err << TVaultrex::ErrorText(code) << "\n";
    env.err << "vaultix-cli: " << engine.NotTakenCount() << " item(s) not backed up; "
            << (engine.LogFileMode != LFM_NoLog ? "see the log " + engine.LogFileName
                                                : std::string("no log was written"))
            << "\n";
  } else if (code != 0) {
    if (task != nullptr) env.err << task << txt::cli::kTaskStopped << "\n";
    env.err << TVaultrex::ErrorText(code);
    // What ended the run: a refused setting says which check refused it, a
    // file or set that could not be opened its path and the system's reason.
    const std::string& why = engine.LastFailure();
    if (code != EVX_UserAbortion::kCode && failure.empty() && !why.empty() &&
        why != TVaultrex::ErrorText(code)) {
      env.err << ": " << why;
    }
    env.err << "\n";
    const std::string note = PasswordNote(code, o, engine);
    if (!note.empty()) env.err << "vaultix-cli: " << note << "\n";
  } else if (!o.quiet && task != nullptr) {
    // A backup that ends with 0 got its set committed: a stop that came
    // after the point of no return did not stop it.
    const bool stopped = CancelRequested() && o.operation != TCliOperation::Backup;
    env.err << task << (stopped ? txt::cli::kTaskStopped : txt::cli::kTaskDone) << "\n";
  }
  if (!o.quiet && o.operation == TCliOperation::Backup && engine.ErrorCount() > 0) {
    env.err << txt::cli::kBackupErrors << engine.ErrorCount() << "\n";
  }
  // How many selected files did not come back whole; shown also with --quiet,
  // as it explains the failing exit code.
  if (o.operation == TCliOperation::Restore && engine.ErrorCount() > 0) {
    env.err << txt::cli::kRestoreErrors << engine.ErrorCount() << "\n";
  }
  // Said even with --quiet: these files are not in the set.
  if (o.operation == TCliOperation::Backup && engine.FoldersNotRead() > 0) {
    env.err << "vaultix-cli: " << engine.FoldersNotRead()
            << " folder(s) could not be opened; their files are not backed up (see the log)\n";
  }
  // (Not when the mode left every file out: then nothing had changed.)
  if (o.operation == TCliOperation::Backup && code == 0 && engine.FileList().empty() &&
      engine.LeftOutCount() == 0) {
    env.err << (o.dryRun
                    ? "vaultix-cli: the include entries find nothing\n"
                    : "vaultix-cli: no file was backed up: the include entries found nothing\n");
  }
  if (o.dryRun && !o.quiet && code == 0) env.err << "vaultix-cli: dry run: nothing was written\n";
  if (!o.quiet && task != nullptr && engine.LogFileMode != LFM_NoLog) {
    env.err << "log: " << engine.LogFileName << "\n";
  }
  env.err << std::flush;
  return code;
}

}  // namespace vx

// The engine's configuration model: defaults, result texts and codes, the
// 32-bit statistics, the next-disk question and the statistics report.
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "archive/errors.h"
#include "engine/vaultrex.h"
#include "platform/hooks.h"

namespace vx {
namespace {

TEST(EngineModel, NewComponentHasDocumentedDefaults) {
  TVaultrex v;
  EXPECT_TRUE(v.AskForNextDisk);
  ASSERT_EQ(v.Messages.size(), 1u);
  EXPECT_EQ(v.Messages[0],
            "Prosím vložte disk č. %d do zariadenia %s a stlačte OK alebo tlačítkom Storno "
            "prerušte operáciu.");
  const bool flags[] = {
      v.DebugAttrib,          v.EncryptData,     v.RunInBackground,    v.RecurseSubDir,
      v.BackupHiddenSysFiles, v.BackupOpenFiles, v.VerifyDuringBackup, v.BackupToTape,
      v.BackupToFTP,          v.EraseTargetDir,  v.SpanDisks,          v.KeepArchiveFlags,
      v.AskForFirstDisk,      v.NoFileCRCs,      v.TapeFileMarks,      v.EjectTape,
      v.UseExtStatistic,      v.RedirectRestore, v.FlatRestore,        v.RestoreAttributes};
  for (bool f : flags) EXPECT_FALSE(f);
  EXPECT_EQ(v.LogFileMode, LFM_NoLog);
  EXPECT_EQ(v.CompressData, CDM_NoCompression);
  EXPECT_EQ(v.BackupMode, BM_Full);
  EXPECT_EQ(v.RestoreMode, RM_All);
  EXPECT_EQ(v.HandleOpenError, AW_RETRY);
  EXPECT_EQ(v.HandleFileReadError, AW_RETRY);
  EXPECT_EQ(v.MaxSplitSize, 0);
  EXPECT_EQ(v.ExtendedErrorCode(), 0);
  EXPECT_TRUE(v.IncludeNames.empty() && v.ExcludeNames.empty() && v.FileList().empty());
  EXPECT_EQ(v.FTPConnection.Port, 0);
}

TEST(EngineModel, ErrorTextCoversEveryCodeAndUnknownNumbers) {
  EXPECT_EQ(TVaultrex::ErrorText(14), "Heslo je neplatné alebo krátke");
  EXPECT_EQ(TVaultrex::ErrorText(12), "Prerušené volajúcou aplikáciou / užívateľom");
  EXPECT_EQ(TVaultrex::ErrorText(2), "Chyba - plný disk ");
  EXPECT_EQ(TVaultrex::ErrorText(98), "Chyba pri verifikácii súboru");
  EXPECT_EQ(TVaultrex::ErrorText(99), "Ostatné nešpecifikované chyby");
  EXPECT_EQ(TVaultrex::ErrorText(42), "Iná chyba (Error code 42)");
  EXPECT_EQ(TVaultrex::ErrorText(16), "Záloha dát je ukončená, niektoré položky neboli zálohované");
  EXPECT_EQ(TVaultrex::ErrorText(17), "Záloha je nová, ale archívne atribúty neboli zaznamenané");
  EXPECT_EQ(TVaultrex::ErrorText(18), "Záložná sada je práve používaná inou úlohou");
  EXPECT_EQ(TVaultrex::ErrorText(19), "Iná chyba (Error code 19)");
  EXPECT_EQ(TVaultrex::ErrorText(-1), "Iná chyba (Error code -1)");
}

TEST(EngineModel, ResultCodeFollowsTheClassChain) {
  const std::initializer_list<TFurther> all = {TFurther::FileWrite,          TFurther::UserAbortion,
                                               TFurther::VerificationFailed, TFurther::WrongMedium,
                                               TFurther::WrongPassword,      TFurther::FTP};
  // The common chain first, whatever the operation adds.
  EXPECT_EQ(ResultCodeOf(EVX_ZipError("x"), all), 3);
  EXPECT_EQ(ResultCodeOf(EVX_DiskFullError("x"), {}), 2);
  EXPECT_EQ(ResultCodeOf(EVX_NoProperBackup("x"), {}), 8);
  EXPECT_EQ(ResultCodeOf(EVX_TapeError("x"), {}), 10);
  EXPECT_EQ(ResultCodeOf(EVX_FileWriteError("x"), all), 11);
  EXPECT_EQ(ResultCodeOf(EVX_UserAbortion("x"), all), 12);
  EXPECT_EQ(ResultCodeOf(EVX_WrongPassword("x"), all), 14);
  EXPECT_EQ(ResultCodeOf(EVX_VerificationFailed("x"), all), 98);
  // Classes an operation does not name, and foreign exceptions, are 99.
  EXPECT_EQ(ResultCodeOf(EVX_UserAbortion("x"), {TFurther::FTP}), 99);
  EXPECT_EQ(ResultCodeOf(EVX_FileWriteError("x"), {}), 99);
  EXPECT_EQ(ResultCodeOf(EVX_CRCError("x"), all), 99);
  EXPECT_EQ(ResultCodeOf(std::runtime_error("x"), all), 99);
}

TEST(EngineModel, ShortStatisticKeepsOnlyValuesBelowTheLimit) {
  TExtBackupStatistic ext;
  ext.PercentDone = 57;
  ext.TotalBytes = 2147483647LL;    // at the limit: not copied
  ext.BytesRead = 2147483646LL;     // just below: copied
  ext.BytesWritten = 5000000000LL;  // far beyond
  ext.BytesVerified = 123;
  ext.FilesDone = 9;
  ext.CurrentFile = "/home/eva/a.txt";
  ext.CurrentFileSize = 3000000000LL;
  const TBackupStatistic s = ToBackupStatistic(ext);
  EXPECT_EQ(s.PercentDone, 57);
  EXPECT_EQ(s.TotalBytes, 0);
  EXPECT_EQ(s.BytesRead, 2147483646);
  EXPECT_EQ(s.BytesWritten, 0);
  EXPECT_EQ(s.BytesVerified, 123);
  EXPECT_EQ(s.FilesDone, 9);
  EXPECT_EQ(s.CurrentFile, "/home/eva/a.txt");
  EXPECT_EQ(s.CurrentFileSize, 0);
  EXPECT_EQ(ext.TotalBytes, 2147483647LL);
}

TEST(EngineModel, ReportStatisticChoosesTheEventAndReturnsTheCancel) {
  TVaultrex v;
  TExtBackupStatistic ext;
  ext.TotalBytes = 3000000000LL;
  ext.FilesDone = 4;
  EXPECT_FALSE(v.ReportStatistic(ext));  // nobody listens

  int shortCalls = 0;
  int extCalls = 0;
  v.OnStatistic = [&](const TBackupStatistic& s, bool& cancel) {
    ++shortCalls;
    EXPECT_EQ(s.TotalBytes, 0);
    EXPECT_EQ(s.FilesDone, 4);
    cancel = true;
  };
  v.OnExtStatistic = [&](const TExtBackupStatistic& s, bool& cancel) {
    ++extCalls;
    EXPECT_EQ(s.TotalBytes, 3000000000LL);
    EXPECT_FALSE(cancel);  // preset
  };
  EXPECT_TRUE(v.ReportStatistic(ext));
  EXPECT_EQ(shortCalls, 1);
  EXPECT_EQ(extCalls, 0);

  v.UseExtStatistic = true;
  EXPECT_FALSE(v.ReportStatistic(ext));
  EXPECT_EQ(shortCalls, 1);
  EXPECT_EQ(extCalls, 1);

  v.OnExtStatistic = nullptr;  // the short event is not a fallback
  EXPECT_FALSE(v.ReportStatistic(ext));
  EXPECT_EQ(shortCalls, 1);
}

class EngineAskForDisk : public ::testing::Test {
 protected:
  void TearDown() override { SetQuestionBoxHook(nullptr); }
};

TEST_F(EngineAskForDisk, SwitchedOffReturnsAtOnceWithThePreset) {
  TVaultrex v;
  v.AskForNextDisk = false;
  bool called = false;
  v.OnNextDisk = [&](int, TReaction& r) {
    called = true;
    r = AW_ABORT;
  };
  SetQuestionBoxHook([&](const std::string&) {
    called = true;
    return TBoxAnswer::Abort;
  });
  TReaction r = AW_RETRY;
  EXPECT_FALSE(v.AskForDisk(2, r));
  EXPECT_EQ(r, AW_RETRY);
  EXPECT_FALSE(called);

  // Switched on, the handler answers and the box is not shown.
  v.AskForNextDisk = true;
  int asked = 0;
  v.OnNextDisk = [&](int diskNo, TReaction& answer) {
    asked = diskNo;
    answer = AW_ABORT;
  };
  EXPECT_TRUE(v.AskForDisk(3, r));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(r, AW_ABORT);
  EXPECT_FALSE(called);
}

TEST_F(EngineAskForDisk, QuestionBoxShowsThePromptAndMapsItsButtons) {
  TVaultrex v;
  v.BackupDestination = "/media/usb";
  std::string shown;
  TBoxAnswer next = TBoxAnswer::Ok;
  SetQuestionBoxHook([&](const std::string& text) {
    shown = text;
    return next;
  });

  TReaction r = AW_RETRY;
  EXPECT_TRUE(v.AskForDisk(2, r));
  EXPECT_EQ(r, AW_IGNORE);
  EXPECT_EQ(shown,
            "Prosím vložte disk č. 2 do zariadenia /media/usb a stlačte OK alebo tlačítkom Storno "
            "prerušte operáciu.");

  next = TBoxAnswer::Abort;
  r = AW_RETRY;
  EXPECT_TRUE(v.AskForDisk(7, r));
  EXPECT_EQ(r, AW_ABORT);

  next = TBoxAnswer::Closed;
  r = AW_RETRY;
  EXPECT_TRUE(v.AskForDisk(7, r));
  EXPECT_EQ(r, AW_RETRY);

  next = TBoxAnswer::Unavailable;
  r = AW_IGNORE;
  EXPECT_FALSE(v.AskForDisk(7, r));
  EXPECT_EQ(r, AW_IGNORE);

  v.SetMessageLines({"Disk %d, %s, 100%%"});
  next = TBoxAnswer::Ok;
  EXPECT_TRUE(v.AskForDisk(12, r));
  EXPECT_EQ(shown, "Disk 12, /media/usb, 100%");
}

}  // namespace
}  // namespace vx

// The operation frame: each exception's result code for an operation's
// further codes, what leaves an operation under each policy, and the checks
// of a reading operation's settings.
#include "engine/operation_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/errors.h"
#include "engine/read_set.h"
#include "engine/vaultrex.h"

namespace vx {
namespace {

struct TCodeCase {
  std::function<void()> raise;
  int withAllFurther;
  int withNone;
};

TEST(OperationFrame, EachExceptionMapsToItsCodeWhenTheOperationHasIt) {
  static constexpr int kAll[] = {11, 12, 13, 14, 15, 98};
  const TCodeCase cases[] = {
      {[] { throw EVX_ParameterError("x"); }, 1, 1},
      {[] { throw EVX_DiskFullError("x"); }, 2, 2},
      {[] { throw EVX_ZipError("x"); }, 3, 3},
      {[] { throw EVX_FileOpenError("x"); }, 4, 4},
      {[] { throw EVX_FileReadError("x"); }, 5, 5},
      {[] { throw EVX_BackupWriteError("x"); }, 6, 6},
      {[] { throw EVX_CreateStreamError("x"); }, 7, 7},
      {[] { throw EVX_NoProperBackup("x"); }, 8, 8},
      {[] { throw EVX_BackupReadError("x"); }, 9, 9},
      {[] { throw EVX_TapeError("x"); }, 10, 10},
      {[] { throw EVX_FileWriteError("x"); }, 11, 99},
      {[] { throw EVX_UserAbortion("x"); }, 12, 99},
      {[] { throw EVX_WrongMedium("x"); }, 13, 99},
      {[] { throw EVX_WrongPassword("x"); }, 14, 99},
      {[] { throw EVX_FTPError("x"); }, 15, 99},
      {[] { throw EVX_VerificationFailed("x"); }, 98, 99},
      {[] { throw EVX_CRCError("x"); }, 99, 99},
      {[] { throw std::runtime_error("x"); }, 99, 99},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    try {
      cases[i].raise();
    } catch (const std::exception& e) {
      EXPECT_EQ(ResultCodeFor(e, kAll), cases[i].withAllFurther) << "case " << i;
      EXPECT_EQ(ResultCodeFor(e, {}), cases[i].withNone) << "case " << i;
    }
  }
}

struct TPolicyCase {
  TForeignPolicy policy;
  std::function<void()> raise;
  int code;
  bool leaves;
};

TEST(OperationFrame, WhatLeavesAnOperationFollowsItsPolicy) {
  static constexpr int kAbortOnly[] = {12};
  const auto unmapped = [] { throw EVX_FTPError("ftp"); };
  const auto foreign = [] { throw std::logic_error("bug"); };
  const auto mapped = [] { throw EVX_UserAbortion("stop"); };
  const TPolicyCase cases[] = {
      {TForeignPolicy::Keep, foreign, 99, false},
      {TForeignPolicy::Keep, unmapped, 99, false},
      {TForeignPolicy::RethrowNonEngine, foreign, 99, true},
      {TForeignPolicy::RethrowNonEngine, unmapped, 99, false},
      {TForeignPolicy::RethrowUnmapped, unmapped, 99, true},
      {TForeignPolicy::RethrowUnmapped, mapped, 12, false},
      {TForeignPolicy::RethrowUnmapped, [] { throw 7; }, 99, true},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    TVaultrex engine;
    TOperationFrame frame(engine, {kAbortOnly, cases[i].policy});
    const int code = frame.Run(cases[i].raise);
    EXPECT_EQ(code, cases[i].code) << "case " << i;
    bool left = false;
    try {
      EXPECT_EQ(frame.Finish(code), code);
    } catch (...) {
      left = true;
    }
    EXPECT_EQ(left, cases[i].leaves) << "case " << i;
  }
}

TEST(OperationFrame, CancelFromTheStatisticsEndsTheRunAsAnAbortion) {
  TVaultrex engine;
  engine.OnStatistic = [](const TBackupStatistic&, bool& cancel) { cancel = true; };
  static constexpr int kAbortOnly[] = {12};
  TOperationFrame frame(engine, {kAbortOnly});
  TExtBackupStatistic stat;
  TDirRecord record;
  record.path = "/a";
  const int code = frame.Run([&] {
    frame.StartBlockReports(stat);
    frame.FileRead(record);
  });
  EXPECT_EQ(code, 12);
  EXPECT_EQ(frame.Failure(), "Prerušené užívateľom");
  EXPECT_EQ(stat.FilesDone, 1);
  EXPECT_EQ(stat.PercentDone, 100);  // nothing to read: all is done
}

// During one big file of a reading run the reports between blocks count
// the file's blocks so far: the bytes and the percentage move before the
// file's end, and a cancel given there ends the run inside the file.
TEST(OperationFrame, ReportsBetweenBlocksCountTheFileSoFar) {
  constexpr std::int64_t kBlock = 32768;
  constexpr int kBlocks = 100;
  struct TCase {
    int cancelAtReport;  // 0: never
  };
  for (const TCase c : {TCase{0}, TCase{2}}) {
    TVaultrex engine;
    engine.UseExtStatistic = true;
    std::vector<TExtBackupStatistic> reports;
    engine.OnExtStatistic = [&](const TExtBackupStatistic& s, bool& cancel) {
      reports.push_back(s);
      cancel = static_cast<int>(reports.size()) == c.cancelAtReport;
    };
    static constexpr int kAbortOnly[] = {12};
    TOperationFrame frame(engine, {kAbortOnly});
    TExtBackupStatistic stat;
    TDirRecord small, big;
    small.path = "/small";
    small.fullSize = 1000;
    big.path = "/big";
    big.fullSize = kBlocks * kBlock - 5;  // the last block is not full
    TOperationFrame::ResetStatistic(stat, small.fullSize + big.fullSize);
    int blocksRead = 0;
    const int code = frame.Run([&] {
      frame.StartBlockReports(stat);
      frame.FileStarts(small);
      frame.FileRead(small);
      frame.FileStarts(big);
      for (int i = 0; i < kBlocks; ++i, ++blocksRead) frame.BlockRead();
      frame.FileRead(big);
    });
    SCOPED_TRACE(c.cancelAtReport);
    // Every 32 blocks at least, more often when a quarter second passes.
    ASSERT_GE(reports.size(), c.cancelAtReport ? 2u : 5u);
    std::int64_t last = small.fullSize;
    for (std::size_t i = 1; i + (c.cancelAtReport ? 0 : 1) < reports.size(); ++i) {
      const TExtBackupStatistic& r = reports[i];
      const std::int64_t ofBig = r.BytesWritten - small.fullSize;
      EXPECT_GT(r.BytesWritten, last);
      EXPECT_EQ(ofBig % kBlock, 0);
      EXPECT_LT(ofBig, big.fullSize);
      EXPECT_EQ(r.PercentDone, std::lround(static_cast<double>(r.BytesWritten) * 100.0 /
                                           static_cast<double>(stat.TotalBytes)));
      EXPECT_EQ(r.CurrentFile, "/big");
      last = r.BytesWritten;
    }
    if (c.cancelAtReport) {
      EXPECT_EQ(code, 12);
      EXPECT_LE(blocksRead, 2 * 32);
    } else {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(reports.back().BytesWritten, small.fullSize + big.fullSize);
      EXPECT_EQ(reports.back().PercentDone, 100);
    }
  }
}

struct TSettingsCase {
  bool tape, ftp, span;
  std::string base;
  std::string key;
  int code;  // 0: accepted
};

TEST(ReadSettings, OnlyASplitSetOnDiskRefusesAnExtensionAndShortKeysAreWrongPasswords) {
  const TSettingsCase cases[] = {
      {false, false, true, "set.arc", "", 1},      {false, false, true, "set", "", 0},
      {false, true, true, "set.arc", "", 0},       {true, false, true, "set.arc", "", 0},
      {false, false, false, "set.arc", "", 0},     {false, false, false, "set", "1234567", 14},
      {false, false, false, "set", "12345678", 0}, {false, false, false, "", "", 1},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    TVaultrex engine;
    engine.BackupDestination = "/tmp";
    engine.BackupToTape = cases[i].tape;
    engine.BackupToFTP = cases[i].ftp;
    engine.SpanDisks = cases[i].span;
    engine.ArchiveBaseName = cases[i].base;
    engine.EncryptData = !cases[i].key.empty();
    engine.EncryptKey = cases[i].key;
    int code = 0;
    try {
      CheckReadSettings(engine, {"place", "password", "extension", "short"});
    } catch (const EVX_Error& e) {
      code = e.Code();
    }
    EXPECT_EQ(code, cases[i].code) << "case " << i;
  }
}

}  // namespace
}  // namespace vx

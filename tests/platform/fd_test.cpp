#include "platform/fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "common/files.h"
#include "common/temp_folder.h"

namespace vx {
namespace {

using test::TTempFolder;

bool IsOpenDescriptor(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

struct TPipe {
  TFd read, write;
  TPipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
    read.Reset(fds[0]);
    write.Reset(fds[1]);
  }
};

TEST(Fd, ClosesOnDestructionAndMovesOwnership) {
  TPipe p;
  const int fd = p.read.Get();
  {
    TFd moved(std::move(p.read));
    EXPECT_FALSE(p.read.IsOpen());
    EXPECT_EQ(moved.Get(), fd);
    TFd assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(IsOpenDescriptor(fd));  // no move closed it
  }
  EXPECT_FALSE(IsOpenDescriptor(fd));
}

TEST(Fd, ReleaseKeepsTheDescriptorOpen) {
  TPipe p;
  const int fd = p.write.Release();
  EXPECT_FALSE(p.write.IsOpen());
  EXPECT_TRUE(IsOpenDescriptor(fd));
  EXPECT_EQ(::close(fd), 0);
}

TEST(Fd, CloseReportsTheError) {
  TPipe p;
  EXPECT_EQ(p.write.Close(), 0);
  EXPECT_FALSE(p.write.IsOpen());
  EXPECT_EQ(p.write.Close(), 0);  // nothing held
  // A descriptor closed behind the owner's back: close(2) fails, and says so.
  TFd stale(p.read.Get());
  ASSERT_EQ(::close(p.read.Release()), 0);
  EXPECT_EQ(stale.Close(), EBADF);
}

// A pipe takes at most 64 KiB at a time: a larger write comes back short and
// has to be continued, and the reader sees it arrive in pieces.
TEST(Fd, WholeBuffersCrossAPipeInShortTransfers) {
  TPipe p;
  std::vector<unsigned char> sent(1 << 20);
  for (std::size_t i = 0; i < sent.size(); ++i)
    sent[i] = static_cast<unsigned char>(i * 7 + i / 251);
  auto writer = std::async(std::launch::async, [&] {
    const TIoResult r = WriteAll(p.write.Get(), sent.data(), sent.size());
    p.write.Reset();
    return r;
  });
  std::vector<unsigned char> got(sent.size() + 100);
  const TIoResult r = ReadAll(p.read.Get(), got.data(), got.size());
  const TIoResult w = writer.get();
  EXPECT_TRUE(w.Complete());
  EXPECT_EQ(w.done, sent.size());
  EXPECT_EQ(r.status, TIoStatus::kEndOfFile);
  ASSERT_EQ(r.done, sent.size());
  got.resize(r.done);
  EXPECT_EQ(got, sent);
}

TEST(Fd, ReadAllOfExactlyTheRestIsCompleteThenEndOfFile) {
  TPipe p;
  ASSERT_TRUE(WriteAll(p.write.Get(), "abcdef", 6).Complete());
  p.write.Reset();
  char buf[6];
  const TIoResult first = ReadAll(p.read.Get(), buf, sizeof buf);
  EXPECT_TRUE(first.Complete());
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  const TIoResult second = ReadAll(p.read.Get(), buf, sizeof buf);
  EXPECT_EQ(second.status, TIoStatus::kEndOfFile);
  EXPECT_EQ(second.done, 0u);
}

// ReadAtLeast ends on a short read only once `enough` bytes are in.  The
// pipe's read end does not wait: a read past what was written fails with
// EAGAIN, which shows whether ReadAtLeast asked again.
struct TReadAtLeastCase {
  const char* name;
  std::string written;
  bool writerClosed;
  std::size_t len, enough;
  std::size_t done;
  TIoStatus status;
};
void PrintTo(const TReadAtLeastCase& c, std::ostream* os) { *os << c.name; }

class FdReadAtLeast : public ::testing::TestWithParam<TReadAtLeastCase> {};

TEST_P(FdReadAtLeast, StopsAtAShortReadOnlyPastEnough) {
  const TReadAtLeastCase& c = GetParam();
  TPipe p;
  ASSERT_EQ(::fcntl(p.read.Get(), F_SETFL, O_NONBLOCK), 0);
  ASSERT_TRUE(WriteAll(p.write.Get(), c.written.data(), c.written.size()).Complete());
  if (c.writerClosed) p.write.Reset();
  std::string buf(c.len, '\0');
  const TIoResult r = ReadAtLeast(p.read.Get(), buf.data(), c.len, c.enough);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.done, c.done);
  if (c.status == TIoStatus::kError) {
    EXPECT_EQ(r.error, EAGAIN);
  }
  EXPECT_EQ(buf.substr(0, r.done), c.written.substr(0, r.done));
}

INSTANTIATE_TEST_SUITE_P(
    Fd, FdReadAtLeast,
    ::testing::Values(
        TReadAtLeastCase{"ShortPastEnoughEnds", "abcde", false, 6, 5, 5, TIoStatus::kEndOfFile},
        TReadAtLeastCase{"ShortBeforeEnoughAsksAgain", "abc", false, 6, 5, 3, TIoStatus::kError},
        TReadAtLeastCase{"EndBeforeEnough", "abc", true, 6, 5, 3, TIoStatus::kEndOfFile},
        TReadAtLeastCase{"MoreThanAskedFillsTheBuffer", "abcdefgh", false, 6, 5, 6,
                         TIoStatus::kComplete},
        TReadAtLeastCase{"EnoughAsLenAsksAgainAsReadAll", "abcde", false, 6, 6, 5,
                         TIoStatus::kError}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Fd, TransferErrorsCarryTheErrno) {
  TPipe p;
  char buf[4] = {};
  // Reading the write end and writing the read end both fail with EBADF.
  const TIoResult r = ReadAll(p.write.Get(), buf, sizeof buf);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(r.error, EBADF);
  const TIoResult w = WriteAll(p.read.Get(), buf, sizeof buf);
  EXPECT_TRUE(w.Failed());
  EXPECT_EQ(w.error, EBADF);
}

TEST(Fd, WriteAllToAFullDeviceFails) {
  TFd full = OpenFd("/dev/full", O_WRONLY);
  if (!full) GTEST_SKIP() << "no /dev/full";
  const TIoResult w = WriteAll(full.Get(), "x", 1);
  EXPECT_TRUE(w.Failed());
  EXPECT_EQ(w.error, ENOSPC);
  EXPECT_EQ(w.done, 0u);
}

struct OpenCase {
  const char* name;
  TOpenStatus status;
  int error;
};
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class OpenRegular : public ::testing::TestWithParam<OpenCase> {
 protected:
  void SetUp() override {
    test::WriteFile(dir / "file", "content");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
  }
  TTempFolder dir;
};

// The FIFO has no writer: a blocking open would wait for ever.
TEST_P(OpenRegular, TellsTheCasesApart) {
  const OpenCase& c = GetParam();
  auto opened = std::async(std::launch::async, [&] { return OpenRegularForReading(dir / c.name); });
  ASSERT_EQ(opened.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  TOpenResult r = opened.get();
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.error, c.error);
  EXPECT_EQ(r.fd.IsOpen(), c.status == TOpenStatus::kOpened);
}

INSTANTIATE_TEST_SUITE_P(Fd, OpenRegular,
                         ::testing::Values(OpenCase{"file", TOpenStatus::kOpened, 0},
                                           OpenCase{"fifo", TOpenStatus::kNotRegular, 0},
                                           OpenCase{"folder", TOpenStatus::kNotRegular, 0},
                                           OpenCase{"missing", TOpenStatus::kOpenFailed, ENOENT},
                                           OpenCase{"file/below", TOpenStatus::kOpenFailed,
                                                    ENOTDIR}),
                         [](const auto& test) {
                           std::string n = test.param.name;
                           for (char& ch : n)
                             if (ch == '/') ch = '_';
                           return n;
                         });

TEST(Fd, RegularFileOpensBlockingAndCloseOnExec) {
  TTempFolder dir;
  test::WriteFile(dir / "f", "hello");
  TOpenResult r = OpenRegularForReading(dir / "f");
  ASSERT_EQ(r.status, TOpenStatus::kOpened);
  EXPECT_EQ(::fcntl(r.fd.Get(), F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(::fcntl(r.fd.Get(), F_GETFD) & FD_CLOEXEC, 0);
  char buf[16];
  const TIoResult read = ReadAll(r.fd.Get(), buf, sizeof buf);
  EXPECT_EQ(read.status, TIoStatus::kEndOfFile);
  EXPECT_EQ(std::string(buf, read.done), "hello");
}

}  // namespace
}  // namespace vx

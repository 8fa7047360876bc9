// Round-trip throughput of a set on an FTP server (the stock pyftpdlib
// daemon) and on tgt's virtual tape over iSCSI, both started on loopback by
// the program and stopped at its end.  Prints the figures; not a test.
//   bench_remote_throughput ftp  [MiB]   (default 100)
//   bench_remote_throughput tape [MiB]   (default 256, whole 32 MiB files)
// The tape needs root and the tgt package.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/ftp_server.h"
#include "common/temp_folder.h"
#include "common/tgt_target.h"
#include "devices/ftp_client.h"
#include "engine/vaultrex.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vx;

void Rate(const char* what, double mib, Clock::time_point a, Clock::time_point b) {
  const double s = std::chrono::duration<double>(b - a).count();
  std::printf("%-16s %.0f MiB in %.2f s = %.1f MiB/s\n", what, mib, s, mib / s);
}

// Every file of src restored below out and equal to its original.
bool SameFiles(const std::string& src, const std::string& out, int files) {
  for (int i = 0; i < files; ++i) {
    const std::string p = src + "/f" + std::to_string(i);
    if (test::ReadFile(out + p) != test::ReadFile(p)) {
      std::fprintf(stderr, "%s came back different\n", p.c_str());
      return false;
    }
  }
  return true;
}

int Ftp(int mib) {
  test::TFtpServer server;
  if (!server.StartPlain()) {
    std::fprintf(stderr, "pyftpdlib did not start\n");
    return 1;
  }
  std::filesystem::create_directory(server.root() + "/sets");
  test::TStateScope state;
  test::TTempFolder dir{"bench-ftp"};
  const std::string src = dir / "src";
  test::WriteFile(src + "/f0", test::NoiseBytes(static_cast<std::size_t>(mib) << 20, 11));
  auto point = [&](TVaultrex& v) {
    v.BackupToFTP = true;
    v.FTPConnection = {"127.0.0.1", server.port(), test::kFtpUser, test::kFtpPassword};
    v.BackupDestination = "/sets";
    v.ArchiveBaseName = "Backup";
  };
  TVaultrex backup;
  point(backup);
  backup.IncludeNames = {src + "/*"};
  const auto t0 = Clock::now();
  if (backup.Backup() != 0) return std::fprintf(stderr, "backup failed\n"), 1;
  const auto t1 = Clock::now();
  TVaultrex restore;
  point(restore);
  restore.RedirectRestore = true;
  restore.RestoreTo = dir / "out";
  restore.IncludeNames = {"*"};
  restore.RecurseSubDir = true;
  if (restore.Restore() != 0) return std::fprintf(stderr, "restore failed\n"), 1;
  const auto t2 = Clock::now();
  if (!SameFiles(src, dir / "out", 1)) return 1;
  Rate("ftp backup", mib, t0, t1);
  Rate("ftp restore", mib, t1, t2);
  Rate("ftp round trip", mib, t0, t2);
  return 0;
}

int Tape(int mib) {
  const int files = std::max(1, mib / 32);
  const std::size_t fileSize = 32u << 20;
  test::TTgtTarget tgt(files * 32 + 44);
  if (!tgt.Ready()) return std::fprintf(stderr, "%s\n", tgt.Error().c_str()), 1;
  test::TScopedEnv tape("VAULTIX_TAPE", tgt.Url());
  test::TStateScope state;
  test::TTempFolder dir{"bench-tape"};
  const std::string src = dir / "src";
  for (int i = 0; i < files; ++i)
    test::WriteFile(src + "/f" + std::to_string(i),
                    test::NoiseBytes(fileSize, static_cast<std::uint32_t>(10 + i)));
  TVaultrex backup;
  backup.BackupToTape = true;
  backup.IncludeNames = {src + "/*"};
  const auto t0 = Clock::now();
  if (backup.Backup() != 0) return std::fprintf(stderr, "tape backup failed\n"), 1;
  const auto t1 = Clock::now();
  TVaultrex restore;
  restore.BackupToTape = true;
  restore.RedirectRestore = true;
  restore.RestoreTo = dir / "out";
  restore.IncludeNames = {"*"};
  if (restore.Restore() != 0) return std::fprintf(stderr, "tape restore failed\n"), 1;
  const auto t2 = Clock::now();
  if (!SameFiles(src, dir / "out", files)) return 1;
  // The same backup into a disk file, for comparison.
  TVaultrex disk;
  disk.IncludeNames = {src + "/*"};
  disk.BackupDestination = dir / "disk";
  disk.ArchiveBaseName = "set";
  const auto t3 = Clock::now();
  if (disk.Backup() != 0) return std::fprintf(stderr, "disk backup failed\n"), 1;
  const auto t4 = Clock::now();
  const double total = files * 32.0;
  Rate("tape backup", total, t0, t1);
  Rate("tape restore", total, t1, t2);
  Rate("disk backup", total, t3, t4);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  const int mib = argc > 2 ? std::atoi(argv[2]) : (what == "tape" ? 256 : 100);
  if ((what != "ftp" && what != "tape") || mib <= 0) {
    std::fprintf(stderr, "usage: %s ftp|tape [MiB]\n", argv[0]);
    return 2;
  }
  return what == "ftp" ? Ftp(mib) : Tape(mib);
}

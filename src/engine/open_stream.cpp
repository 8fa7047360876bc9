// Opening the archive stream of an operation on its destination.
#include "engine/destinations.h"
#include "engine/vaultrex.h"
#include "platform/paths.h"

namespace vx {

std::unique_ptr<TArchiveStream> TVaultrex::OpenStream(TStreamMode mode, const std::string& baseName,
                                                      std::int64_t sizeLimit) {
  TNextVolumeAsk ask = [this](int volumeNo, TReaction& answer) {
    return AskForDisk(volumeNo, answer);
  };
  // Tape: the first tape drive, rewound; the set starts at the beginning of
  // the tape whatever the base name.
  if (BackupToTape) return std::make_unique<TArchiveStream>(mode, OpenTapeDestination(mode));
  // FTP: one file on the server; with SpanDisks the base name loses its
  // extension there too, as it does on disk.
  if (BackupToFTP)
    return std::make_unique<TArchiveStream>(
        mode,
        OpenFtpDestination(mode, FTPConnection, SpanDisks ? RemoveFileExt(baseName) : baseName,
                           [this](const std::string& line) { WriteLog(line); }));
  // Disk: one file, or numbered volumes with SpanDisks.  Erasing the target
  // folder only ever happens while writing, and takes only this program's
  // sets and logs, never the running log.
  return std::make_unique<TArchiveStream>(mode, baseName, SpanDisks, sizeLimit,
                                          mode == TStreamMode::Write && EraseTargetDir,
                                          std::move(ask), EraseRules());
}

}  // namespace vx

#pragma once
// The non-disk destinations of the archive stream.  Each opens its device and
// turns every failure while connecting or opening into the engine error the
// stream reports for it.
#include <memory>
#include <string>

#include "archive/archive_stream.h"
#include "engine/types.h"

namespace vx {

// EVX_FTPError "nemožno vytvoriť FTP spojenie" when anything fails while
// connecting or opening remotePath.
std::unique_ptr<TArchiveDestination> OpenFtpDestination(TStreamMode mode,
                                                        const TFTPConnection& connection,
                                                        const std::string& remotePath);

// Finds the tape drive, rewinds (waiting) and sets 32,768-byte blocks.
// EVX_TapeError with the message of the drive's answer when there is none.
std::unique_ptr<TArchiveDestination> OpenTapeDestination(TStreamMode mode);

}  // namespace vx

#pragma once
// The non-disk destinations of the archive stream.  Each opens its device and
// turns every failure while connecting or opening into the engine error the
// stream reports for it.
#include <functional>
#include <memory>
#include <string>

#include "archive/archive_stream.h"
#include "engine/types.h"

namespace vx {

// Receives the FTP client's notices and the reason a value was refused.
using TFtpLogSink = std::function<void(const std::string&)>;

// EVX_FTPError "nemožno vytvoriť FTP spojenie" when anything fails while
// connecting or opening remotePath.  A host, user name, password or remote
// path holding CR, LF or NUL is refused before anything is sent (the reason
// goes to log).
std::unique_ptr<TArchiveDestination> OpenFtpDestination(TStreamMode mode,
                                                        const TFTPConnection& connection,
                                                        const std::string& remotePath,
                                                        const TFtpLogSink& log = {});

class TSCSITape;

// The tape destination over a drive that is already open, rewound and set
// to 32,768-byte blocks.
std::unique_ptr<TArchiveDestination> MakeTapeDestination(std::unique_ptr<TSCSITape> tape);

// Finds the tape drive, rewinds (waiting) and sets 32,768-byte blocks.
// EVX_TapeError with the message of the drive's answer when there is none.
std::unique_ptr<TArchiveDestination> OpenTapeDestination(TStreamMode mode);

}  // namespace vx

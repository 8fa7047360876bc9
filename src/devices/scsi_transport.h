#pragma once
// One way of reaching a SCSI device: it executes one command descriptor block
// at a time, synchronously, and reports how the command ended together with
// the raw sense data of a failed command.  Two kinds exist: SG_IO on a Linux
// SCSI generic device (/dev/sg*) and iSCSI through libiscsi.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// Direction of the data phase.  A command with a data length of 0 moves no
// data whatever its direction.
enum class TScsiDirection : std::uint8_t { In, Out };

enum class TScsiOutcome : std::uint8_t {
  Good,            // the command completed
  CheckCondition,  // the device ended it with sense data
  Failed,          // anything else: transport error, busy, lost connection ...
};

struct TScsiResult {
  TScsiOutcome Outcome = TScsiOutcome::Failed;
  std::vector<std::uint8_t> Sense;  // raw sense data (CheckCondition only)
  // Bytes of the data phase that were not moved (the transport's residual
  // count); 0 when all of them were.
  std::size_t Residue = 0;
};

// The longest a command with this operation code may take before the
// transport gives it up (a time-out ends as TScsiOutcome::Failed): hours for
// rewind, space, unload and erase, which wind the whole tape; half an hour
// for writing file marks (the drive writes out its buffer); a quarter of an
// hour for reading or writing one block (the drive's own error recovery
// included); a minute for everything else.
unsigned ScsiCommandTimeoutSeconds(std::uint8_t opcode);

// Caps every command's time-out at seconds (0: no cap), process-wide.  Lets
// a test of a silent device end in seconds instead of minutes.
void SetScsiTimeoutCap(unsigned seconds);

class TScsiTransport {
 public:
  virtual ~TScsiTransport() = default;
  // Executes cdb (cdbLen bytes) with a data phase of dataLen bytes from or
  // into data.  Waits until the command has ended, at most timeoutSeconds
  // (then Failed); never throws.
  virtual TScsiResult Execute(const std::uint8_t* cdb, std::size_t cdbLen, TScsiDirection dir,
                              std::uint8_t* data, std::size_t dataLen, unsigned timeoutSeconds) = 0;
  // The device as the user named it (path or URL).
  virtual std::string Name() const = 0;
};

// Sense byte 2 (filemark 0x80, end-of-medium 0x40, length indicator 0x20,
// sense key in the low four bits) of raw sense data in fixed format; for
// descriptor-format sense the same byte is put together from the sense key
// and the stream-commands descriptor.  -1 when the data hold no sense key.
int SenseByte2(const std::uint8_t* sense, std::size_t len);

// Opens a SCSI generic device node.  nullptr, with a reason in error, when the
// node cannot be opened or is no SCSI generic device.
std::unique_ptr<TScsiTransport> OpenSgTransport(const std::string& path, std::string& error);

// Connects and logs in to the LUN of an iSCSI URL
// (iscsi://host[:port]/target-iqn/lun).  nullptr, with a reason in error, when
// the URL is malformed or the target cannot be reached.
std::unique_ptr<TScsiTransport> OpenIscsiTransport(const std::string& url, std::string& error);

}  // namespace vx

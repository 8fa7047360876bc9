#pragma once
// The SCSI tape drive.  TASPI32 reaches the SCSI devices the user named
// (VAULTIX_TAPE) or every SCSI generic device node, one command at a time;
// TSCSITape finds the first sequential-access device among them and offers
// block-level tape operations built from 6-byte SCSI sequential-access
// commands.  A failed command's sense key becomes a typed exception.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/scsi_transport.h"

namespace vx {

// The SCSI pass-through cannot be used at all (a device entry that is neither
// a device node nor an iSCSI URL).
class TASPIException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TP_TapeException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#define VX_TAPE_ERROR(Name)                   \
  class Name : public TP_TapeException {      \
   public:                                    \
    using TP_TapeException::TP_TapeException; \
  };
VX_TAPE_ERROR(TPT_MediumError)     // sense key 3
VX_TAPE_ERROR(TPT_HardwareError)   // sense key 4
VX_TAPE_ERROR(TPT_UnitAttention)   // sense key 6
VX_TAPE_ERROR(TPT_DataProtection)  // sense key 7
VX_TAPE_ERROR(TPT_TapeFull)        // sense key 13
#undef VX_TAPE_ERROR

// Opens one device by its name; nullptr (reason in error) when it cannot.
using TTransportOpener =
    std::function<std::unique_ptr<TScsiTransport>(const std::string& device, std::string& error)>;

// The devices named by a VAULTIX_TAPE value: entries separated by commas or
// blanks (an iSCSI URL itself contains ":").
std::vector<std::string> ParseTapeDeviceList(const std::string& value);
// Every SCSI generic node /dev/sgN of the folder, in the order of N.
std::vector<std::string> ScsiGenericNodes(const std::string& devFolder = "/dev");
// Opens a /dev path with SG_IO and an iscsi:// URL with libiscsi.
std::unique_ptr<TScsiTransport> OpenScsiDevice(const std::string& device, std::string& error);

class TASPI32 {
 public:
  // The devices of VAULTIX_TAPE, or every /dev/sg* when it is unset or empty.
  // TASPIException when an entry is neither an absolute path nor an iSCSI URL.
  TASPI32();
  // The given devices, opened with opener.
  TASPI32(const std::vector<std::string>& devices, const TTransportOpener& opener);
  ~TASPI32();
  TASPI32(const TASPI32&) = delete;
  TASPI32& operator=(const TASPI32&) = delete;

  // Some device was named or found.
  bool Available() const { return available_; }
  // 1 when at least one device could be opened (they all hang off one
  // pass-through "adapter"), else 0.
  int AdapterCount() const { return adapterCount_; }
  // Targets are the devices in list order; -1 or a device that could not be
  // opened has no target.
  int TargetCount() const { return static_cast<int>(devices_.size()); }
  std::string DeviceName(int target) const;
  // Why devices could not be opened, one line per device.
  const std::vector<std::string>& OpenErrors() const { return openErrors_; }

  // 0 when the command completed; sense byte 2 when it ended with sense data;
  // 9 for any other outcome (also for a target without a device, and for a
  // command the transport gave up after its time-out).  moved, when given,
  // receives the bytes of the data phase that really moved (0 when the
  // command did not complete).  Lets the caller's user interface run once the
  // command has ended.
  int ExecSCSI(int target, std::uint8_t* buffer, int cdbLen, const std::uint8_t* cdb, bool send,
               std::uint32_t dataLen, std::uint32_t* moved = nullptr);
  // Peripheral device type (0..31) from INQUIRY, or -1.
  int DeviceType(int target);
  // The first sequential-access device (type 1), or -1.
  int FindTape();

 private:
  void OpenAll(const std::vector<std::string>& devices, const TTransportOpener& opener);

  bool available_ = false;
  int adapterCount_ = 0;
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<TScsiTransport>> devices_;
  std::vector<std::string> openErrors_;
};

class TSCSITape {
 public:
  // Creates its TASPI32 from the environment (TASPIException passes).
  TSCSITape();
  explicit TSCSITape(std::unique_ptr<TASPI32> aspi);
  // Rewinds without waiting; never throws.
  ~TSCSITape();
  TSCSITape(const TSCSITape&) = delete;
  TSCSITape& operator=(const TSCSITape&) = delete;

  // A command that answers a file mark (0x80) again and again is repeated at
  // most this many times; the last answer is then returned.
  static constexpr int kMaxFilemarkRepeats = 8;
  // The result of a block that was moved only in part.
  static constexpr int kPartialBlock = 9;

  // 0 ready; -1 no device named or found; -2 none of them could be opened;
  // -3 no tape drive among them.  Takes the drive's pending unit-attention
  // reports (TEST UNIT READY) and sets 8,192-byte blocks (its failure
  // passes as a TP_TapeException).
  int Open();
  // kPartialBlock when the drive took only part of the block.
  int WriteBlock(const std::uint8_t* buffer, std::uint32_t length);
  // count is the number of bytes really read; whatever of the buffer the
  // drive did not fill is zeroed, so no stale bytes are handed on.
  // kPartialBlock when the block came only in part.
  int ReadBlock(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& count);
  int WriteFilemark();
  int FlushWrites();
  // Raises TP_TapeException (or one of its sense-key classes) when the drive
  // does not accept the block length.
  void SetBlockSize(std::uint32_t length);
  int Unload();
  int SkipFilemarks(int count);
  int Rewind(bool wait);

  int Target() const { return target_; }
  std::uint32_t BlockSize() const { return blockSize_; }
  TASPI32& Aspi() { return *aspi_; }

  // When not empty, every command appends a line to this text file.
  std::string TraceFileName;

 private:
  int Exec(const std::uint8_t (&cdb)[6], std::uint8_t* data, bool send, std::uint32_t len,
           std::uint32_t* moved = nullptr);
  void TakeUnitAttention();
  void Trace(const std::string& line) const;

  int target_ = -1;
  std::uint32_t blockSize_ = 0;
  std::unique_ptr<TASPI32> aspi_;
};

// Raises the exception of a command's result (sense key 3, 4, 6, 7 or 13
// with only the filemark bit ignored), its message made of the key's text
// and context ("during write block"); any other result is left alone.
void CheckTapeSense(int result, const std::string& context);

}  // namespace vx

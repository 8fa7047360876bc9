// The tape drive as the destination of the archive stream.  Every failure of
// the drive ends the operation as a tape error: a block the drive did not take
// or give back is never passed over in silence.
#include "archive/errors.h"
#include "devices/scsi_tape.h"
#include "engine/destinations.h"
#include "engine/texts.h"
#include "platform/hooks.h"

namespace vx {
namespace {

constexpr std::uint32_t kTapeBlockSize = 32768;
constexpr const char* kNoFileMark = "Chyba páskového zariadenia - chýba značka súboru";
constexpr const char* kOtherTapeError = "Iná chyba páskového zariadenia";
constexpr std::uint8_t kEndOfMedium = 0x40;

class TTapeDestination final : public TArchiveDestination {
 public:
  explicit TTapeDestination(std::unique_ptr<TSCSITape> tape) : tape_(std::move(tape)) {}

  void SendBlock(const std::uint8_t* block, std::size_t len) override {
    const int r =
        Guarded([&] { return Drive().WriteBlock(block, static_cast<std::uint32_t>(len)); });
    // A write that reached the end of the medium did not surely land.
    if (r & kEndOfMedium) throw EVX_TapeError("Volume full during write block");
    if (r != 0) throw EVX_TapeError(kOtherTapeError);
  }

  void FetchBlock(std::uint8_t* block, std::size_t len) override {
    std::uint32_t got = 0;
    const int r =
        Guarded([&] { return Drive().ReadBlock(block, static_cast<std::uint32_t>(len), got); });
    if (r != 0 || got != len) throw EVX_TapeError(kOtherTapeError);
  }

  void FinishWrite() override {
    // A successful unload has written whatever the drive still held; after a
    // failed one the buffer is still to be written out.
    if (unloaded_) return;
    if (Guarded([&] { return Drive().FlushWrites(); }) != 0) throw EVX_TapeError(kOtherTapeError);
  }

  void Close() noexcept override {
    tape_.reset();  // rewinds without waiting
  }

  bool IsTape() const override { return true; }

  void WriteFileMark() override {
    int r;
    try {
      r = Drive().WriteFilemark();
    } catch (const TP_TapeException&) {
      throw EVX_TapeError(kNoFileMark);
    }
    if (r != 0) throw EVX_TapeError(kNoFileMark);
  }

  void SkipFilemarks(int count) override {
    // A skip that falls short would hand the next file's reader another
    // file's data.
    if (Guarded([&] { return Drive().SkipFilemarks(count); }) != 0)
      throw EVX_TapeError(kOtherTapeError);
  }

  void Unload() override {
    // An eject the drive did not carry out is a failure the user must hear
    // of (the tape is still in the drive); the closing flush still follows.
    if (Guarded([&] { return Drive().Unload(); }) != 0) throw EVX_TapeError(kOtherTapeError);
    unloaded_ = true;
  }

 private:
  TSCSITape& Drive() {
    if (!tape_) throw EVX_TapeError(kOtherTapeError);
    return *tape_;
  }

  // A command that ended because a stop was asked for (the transport gives
  // up its wait then) ends the operation as cancelled, not as a tape error.
  template <class F>
  static int Guarded(F&& command) {
    int r = 0;
    try {
      r = command();
    } catch (const TP_TapeException& e) {
      if (StopRequested()) throw EVX_UserAbortion(engine_txt::kAborted);
      throw EVX_TapeError(e.what());
    }
    if (r != 0 && StopRequested()) throw EVX_UserAbortion(engine_txt::kAborted);
    return r;
  }

  std::unique_ptr<TSCSITape> tape_;
  bool unloaded_ = false;
};

}  // namespace

std::unique_ptr<TArchiveDestination> MakeTapeDestination(std::unique_ptr<TSCSITape> tape) {
  return std::make_unique<TTapeDestination>(std::move(tape));
}

std::unique_ptr<TArchiveDestination> OpenTapeDestination(TStreamMode /*mode*/) {
  std::unique_ptr<TSCSITape> tape;
  try {
    tape = std::make_unique<TSCSITape>();
  } catch (const TASPIException&) {
    throw EVX_CreateStreamError("nedá sa vytvoriť záložný súbor");
  }
  try {
    switch (tape->Open()) {
      case -1:
        throw EVX_TapeError("ASPI-Manager nenájdený");
      case -2:
        throw EVX_TapeError("SCSI host adapter nenájdený");
      case -3:
        throw EVX_TapeError("Žiadne SCSI páskové zariadenie");
      case -9:
        throw EVX_TapeError(kOtherTapeError);
      default:
        break;
    }
    // A drive that cannot rewind (no tape in it, for one) would be written or
    // read at an unknown place.
    if (tape->Rewind(true) != 0) throw EVX_TapeError(kOtherTapeError);
    tape->SetBlockSize(kTapeBlockSize);
  } catch (const TP_TapeException& e) {
    throw EVX_TapeError(e.what());
  }
  return MakeTapeDestination(std::move(tape));
}

}  // namespace vx

// libFuzzer entry: any bytes as the answers of a SCSI device.  Every command
// the tape driver sends (INQUIRY, TEST UNIT READY, MODE SELECT, READ, ...)
// takes its answer from the input: how it ended, the sense data, the
// residue and the bytes a reading command receives.  The driver then opens
// the drive and goes through its operations; only tape exceptions may leave
// them, and no read may hand on more bytes than it asked for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/scsi_tape.h"
#include "devices/scsi_transport.h"

namespace {

struct TInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  std::uint8_t Byte() { return at < size ? data[at++] : 0; }
  bool Done() const { return at >= size; }
};

class TFuzzTransport final : public vx::TScsiTransport {
 public:
  explicit TFuzzTransport(TInput& in) : in_(in) {}
  vx::TScsiResult Execute(const std::uint8_t*, std::size_t, vx::TScsiDirection dir,
                          std::uint8_t* data, std::size_t dataLen,
                          unsigned timeoutSeconds) override {
    vx::TScsiResult r;
    if (timeoutSeconds == 0 || in_.Done()) return r;  // Failed
    const std::uint8_t how = in_.Byte();
    r.Outcome = static_cast<vx::TScsiOutcome>(how % 3);
    if (r.Outcome == vx::TScsiOutcome::CheckCondition) {
      const std::size_t n = std::min<std::size_t>(in_.Byte(), in_.size - in_.at);
      r.Sense.assign(in_.data + in_.at, in_.data + in_.at + n);
      in_.at += n;
    }
    if (how & 0x80) r.Residue = (static_cast<std::size_t>(in_.Byte()) << 8) | in_.Byte();
    if (dir == vx::TScsiDirection::In && data != nullptr) {
      const std::size_t n = std::min(dataLen, in_.size - in_.at);
      std::memcpy(data, in_.data + in_.at, n);
      in_.at += n;
    }
    return r;
  }
  std::string Name() const override { return "fuzz"; }

 private:
  TInput& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TInput in{data, size};
  vx::SenseByte2(data, size);
  auto aspi = std::make_unique<vx::TASPI32>(
      std::vector<std::string>{"/dev/sg0", "/dev/sg1"},
      [&in](const std::string&, std::string&) -> std::unique_ptr<vx::TScsiTransport> {
        return std::make_unique<TFuzzTransport>(in);
      });
  vx::TSCSITape tape(std::move(aspi));
  try {
    if (tape.Open() != 0) return 0;
    tape.Rewind(true);
    tape.SetBlockSize(512);
  } catch (const vx::TP_TapeException&) {
    return 0;
  }
  std::vector<std::uint8_t> block(512, 0xEE);
  for (int i = 0; i < 32 && !in.Done(); ++i) {
    try {
      switch (in.Byte() % 5) {
        case 0: {
          std::uint32_t count = 0;
          const int r = tape.ReadBlock(block.data(), 512, count);
          if (count > 512 || (r != 0 && count != 0 && r != vx::TSCSITape::kPartialBlock))
            __builtin_trap();
          break;
        }
        case 1:
          tape.WriteBlock(block.data(), 512);
          break;
        case 2:
          tape.SkipFilemarks(in.Byte());
          break;
        case 3:
          tape.WriteFilemark();
          tape.FlushWrites();
          break;
        default:
          tape.Unload();
          break;
      }
    } catch (const vx::TP_TapeException&) {
    }
  }
  return 0;
}

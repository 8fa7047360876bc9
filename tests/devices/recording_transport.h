#pragma once
// A SCSI transport for tests: records every command block it is given and
// answers from a script, so that the bytes a tape operation sends and the way
// it treats each answer can be checked without a drive.
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "devices/scsi_tape.h"
#include "devices/scsi_transport.h"

namespace vx::test {

struct TRecordedCommand {
  std::vector<std::uint8_t> Cdb;
  TScsiDirection Direction = TScsiDirection::In;
  std::size_t Length = 0;
  std::vector<std::uint8_t> DataOut;  // what the command sent
  unsigned TimeoutSeconds = 0;
};

struct TScriptedAnswer {
  TScsiResult Result;
  std::vector<std::uint8_t> DataIn;  // copied into the caller's buffer
};

// A completed command that moved all but residue bytes.
inline TScsiResult GoodWithResidue(std::size_t residue) {
  TScsiResult r;
  r.Outcome = TScsiOutcome::Good;
  r.Residue = residue;
  return r;
}

// Fixed-format sense data whose byte 2 is byte2.
inline TScsiResult CheckCondition(std::uint8_t byte2) {
  TScsiResult r;
  r.Outcome = TScsiOutcome::CheckCondition;
  r.Sense = {0x70, 0x00, byte2, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  return r;
}

inline TScsiResult Good() {
  TScsiResult r;
  r.Outcome = TScsiOutcome::Good;
  return r;
}

// What one scripted device saw and is to answer.  INQUIRY is answered with
// DeviceType without touching the script; every other command takes the next
// scripted answer, or completes when the script is used up.
struct TDeviceScript {
  int DeviceType = 1;
  std::vector<TRecordedCommand> Commands;
  std::deque<TScriptedAnswer> Answers;

  void Answer(TScsiResult r, std::vector<std::uint8_t> data = {}) {
    Answers.push_back({std::move(r), std::move(data)});
  }
};

class TRecordingTransport final : public TScsiTransport {
 public:
  TRecordingTransport(std::shared_ptr<TDeviceScript> script, std::string name)
      : script_(std::move(script)), name_(std::move(name)) {}

  TScsiResult Execute(const std::uint8_t* cdb, std::size_t cdbLen, TScsiDirection dir,
                      std::uint8_t* data, std::size_t dataLen, unsigned timeoutSeconds) override {
    if (cdbLen > 0 && cdb[0] == 0x12) {
      if (data != nullptr && dataLen > 0) {
        std::memset(data, 0, dataLen);
        data[0] = static_cast<std::uint8_t>(script_->DeviceType);
      }
      return Good();
    }
    TRecordedCommand rec;
    rec.Cdb.assign(cdb, cdb + cdbLen);
    rec.Direction = dir;
    rec.Length = dataLen;
    rec.TimeoutSeconds = timeoutSeconds;
    if (dir == TScsiDirection::Out && data != nullptr) rec.DataOut.assign(data, data + dataLen);
    script_->Commands.push_back(std::move(rec));
    if (script_->Answers.empty()) return Good();
    TScriptedAnswer a = std::move(script_->Answers.front());
    script_->Answers.pop_front();
    if (dir == TScsiDirection::In && data != nullptr && !a.DataIn.empty())
      std::memcpy(data, a.DataIn.data(), std::min(dataLen, a.DataIn.size()));
    return a.Result;
  }

  std::string Name() const override { return name_; }

 private:
  std::shared_ptr<TDeviceScript> script_;
  std::string name_;
};

// A TASPI32 over scripted devices; a null script stands for a device that
// cannot be opened.
inline std::unique_ptr<TASPI32> ScriptedAspi(
    const std::vector<std::shared_ptr<TDeviceScript>>& scripts) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < scripts.size(); ++i) names.push_back("/dev/sg" + std::to_string(i));
  return std::make_unique<TASPI32>(
      names,
      [&scripts](const std::string& device, std::string& error) -> std::unique_ptr<TScsiTransport> {
        const std::size_t i = std::stoul(device.substr(7));
        if (!scripts[i]) {
          error = device + ": No such device";
          return nullptr;
        }
        return std::make_unique<TRecordingTransport>(scripts[i], device);
      });
}

// A tape on one scripted drive, opened (so its INQUIRY and first block-size
// command are already recorded and cleared from the script's log).
inline std::unique_ptr<TSCSITape> OpenScriptedTape(const std::shared_ptr<TDeviceScript>& drive) {
  auto tape = std::make_unique<TSCSITape>(ScriptedAspi({drive}));
  tape->Open();
  drive->Commands.clear();
  return tape;
}

}  // namespace vx::test

#include "devices/scsi_tape.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devices/texts.h"
#include "platform/hooks.h"
#include "support/strings.h"

namespace vx {
namespace {

constexpr int kOtherOutcome = 9;
constexpr std::uint8_t kFilemarkBit = 0x80;
constexpr int kIllegalRequest = 5;
constexpr std::uint8_t kPageFormat = 0x10;
constexpr int kUnitAttention = 6;
constexpr int kMaxUnitAttentions = 4;

std::string Format(const char* fmt, int a) {
  char line[128];
  std::snprintf(line, sizeof line, fmt, a);
  return line;
}

std::string Format(const char* fmt, int a, int b) {
  char line[128];
  std::snprintf(line, sizeof line, fmt, a, b);
  return line;
}

bool IsIscsiUrl(const std::string& s) {
  static const std::string scheme = "iscsi://";
  if (s.size() < scheme.size()) return false;
  return std::equal(scheme.begin(), scheme.end(), s.begin(), [](char a, char b) {
    return a == std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

// ---- Device list ----

std::vector<std::string> ParseTapeDeviceList(const std::string& value) {
  return SplitWords(value, ", \t\n\v\f\r");
}

std::vector<std::string> ScsiGenericNodes(const std::string& devFolder) {
  std::vector<std::pair<long, std::string>> found;
  if (DIR* dir = ::opendir(devFolder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() < 3 || name.compare(0, 2, "sg") != 0) continue;
      if (!std::all_of(name.begin() + 2, name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        continue;
      std::string path = devFolder;
      path += '/';
      path += name;
      found.emplace_back(std::strtol(name.c_str() + 2, nullptr, 10), std::move(path));
    }
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> out;
  out.reserve(found.size());
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

std::unique_ptr<TScsiTransport> OpenScsiDevice(const std::string& device, std::string& error) {
  if (IsIscsiUrl(device)) return OpenIscsiTransport(device, error);
  return OpenSgTransport(device, error);
}

// ---- TASPI32 ----

TASPI32::TASPI32() {
  const char* env = std::getenv("VAULTIX_TAPE");
  std::vector<std::string> devices =
      env != nullptr ? ParseTapeDeviceList(env) : std::vector<std::string>{};
  if (devices.empty()) {
    devices = ScsiGenericNodes();
  } else {
    for (const auto& d : devices)
      if (d.front() != '/' && !IsIscsiUrl(d))
        throw TASPIException(txt::devices::kBadTapeDeviceHead + d +
                             txt::devices::kBadTapeDeviceTail);
  }
  OpenAll(devices, OpenScsiDevice);
}

TASPI32::TASPI32(const std::vector<std::string>& devices, const TTransportOpener& opener) {
  OpenAll(devices, opener);
}

TASPI32::~TASPI32() = default;

void TASPI32::OpenAll(const std::vector<std::string>& devices, const TTransportOpener& opener) {
  available_ = !devices.empty();
  for (const auto& name : devices) {
    std::string error;
    auto transport = opener(name, error);
    if (!transport)
      openErrors_.push_back(error.empty() ? name + txt::devices::kCannotBeOpened : error);
    names_.push_back(name);
    devices_.push_back(std::move(transport));
  }
  adapterCount_ =
      std::any_of(devices_.begin(), devices_.end(), [](const auto& d) { return d != nullptr; }) ? 1
                                                                                                : 0;
}

std::string TASPI32::DeviceName(int target) const {
  if (target < 0 || target >= TargetCount()) return {};
  return names_[static_cast<std::size_t>(target)];
}

int TASPI32::ExecSCSI(int target, std::uint8_t* buffer, int cdbLen, const std::uint8_t* cdb,
                      bool send, std::uint32_t dataLen, std::uint32_t* moved) {
  int result = kOtherOutcome;
  if (moved != nullptr) *moved = 0;
  if (target >= 0 && target < TargetCount() && cdbLen > 0 &&
      devices_[static_cast<std::size_t>(target)] != nullptr) {
    const TScsiResult r = devices_[static_cast<std::size_t>(target)]->Execute(
        cdb, static_cast<std::size_t>(cdbLen), send ? TScsiDirection::Out : TScsiDirection::In,
        buffer, dataLen, ScsiCommandTimeoutSeconds(cdb[0]));
    if (r.Outcome == TScsiOutcome::Good) {
      result = 0;
      // A residue larger than the data phase is nonsense: nothing moved.
      if (moved != nullptr)
        *moved = r.Residue >= dataLen ? 0 : dataLen - static_cast<std::uint32_t>(r.Residue);
    } else if (r.Outcome == TScsiOutcome::CheckCondition) {
      const int byte2 = SenseByte2(r.Sense.data(), r.Sense.size());
      result = byte2 >= 0 ? byte2 : kOtherOutcome;
    }
  }
  // The transports wait for the command synchronously; the user interface
  // gets its turn once it has ended.
  ProcessMessages();
  return result;
}

int TASPI32::DeviceType(int target) {
  const std::uint8_t cdb[6] = {0x12, 0x00, 0x00, 0x00, 0x20, 0x00};
  std::uint8_t answer[32] = {};
  if (ExecSCSI(target, answer, 6, cdb, false, sizeof answer) != 0) return -1;
  return answer[0] & 0x1F;
}

int TASPI32::FindTape() {
  for (int target = 0; target < TargetCount(); ++target)
    if (DeviceType(target) == 1) return target;
  return -1;
}

// ---- TSCSITape ----

TSCSITape::TSCSITape() : aspi_(std::make_unique<TASPI32>()) {}

TSCSITape::TSCSITape(std::unique_ptr<TASPI32> aspi) : aspi_(std::move(aspi)) {}

TSCSITape::~TSCSITape() {
  try {
    Rewind(false);
  } catch (...) {
    // A tape that cannot even rewind is left where it is.
  }
}

int TSCSITape::Open() {
  if (!aspi_->Available()) return -1;
  if (aspi_->AdapterCount() == 0) return -2;
  target_ = aspi_->FindTape();
  if (target_ < 0) return -3;
  TakeUnitAttention();
  SetBlockSize(8192);
  return 0;
}

void TSCSITape::TakeUnitAttention() {
  // A drive reports a reset, a power-on or a changed tape once, to the first
  // command that follows; a tape driver takes these reports when it opens the
  // drive, so that they do not fail the first real command.
  const std::uint8_t cdb[6] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};  // TEST UNIT READY
  for (int i = 0; i < kMaxUnitAttentions; ++i) {
    const int r = Exec(cdb, nullptr, false, 0);
    Trace(Format(txt::devices::kTraceTestUnitReady, r));
    if ((r & 0x0F) != kUnitAttention) break;
  }
}

int TSCSITape::Exec(const std::uint8_t (&cdb)[6], std::uint8_t* data, bool send, std::uint32_t len,
                    std::uint32_t* moved) {
  // A command without a drive goes to target 0xFF, which never answers.
  return aspi_->ExecSCSI(target_ < 0 ? 0xFF : target_, data, 6, cdb, send, len, moved);
}

void TSCSITape::Trace(const std::string& line) const {
  if (TraceFileName.empty()) return;
  std::FILE* f = std::fopen(TraceFileName.c_str(), "ab");
  if (f == nullptr) f = std::fopen(TraceFileName.c_str(), "wb");
  if (f == nullptr) return;
  std::fputs(line.c_str(), f);
  std::fputs("\r\n", f);
  std::fclose(f);
}

int TSCSITape::WriteBlock(const std::uint8_t* buffer, std::uint32_t length) {
  const std::uint8_t cdb[6] = {0x0A, 0x01, 0x00, 0x00, 0x01, 0x00};
  // The transports never write into an outgoing buffer.
  std::uint32_t moved = 0;
  int r = Exec(cdb, const_cast<std::uint8_t*>(buffer), true, length, &moved);
  // A block the drive took only in part is not on the tape.
  if (r == 0 && moved != length) r = kPartialBlock;
  Trace(Format(txt::devices::kTraceWriteBlock, static_cast<int>(length), r));
  CheckTapeSense(r, txt::devices::kDuringWriteBlock);
  return r;
}

int TSCSITape::ReadBlock(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& count) {
  const std::uint8_t cdb[6] = {0x08, 0x01, 0x00, 0x00, 0x01, 0x00};
  int r = kOtherOutcome;
  std::uint32_t moved = 0;
  // A read that meets a file mark has passed it: read on, but not for ever
  // on a drive that answers nothing else.
  for (int i = 0; i <= kMaxFilemarkRepeats; ++i) {
    r = Exec(cdb, buffer, false, length, &moved);
    if (r == 0 && moved != length) r = kPartialBlock;
    Trace(Format(txt::devices::kTraceReadBlock, static_cast<int>(length), r));
    if (r != kFilemarkBit) break;
  }
  // Only the bytes the drive delivered are handed on; the rest of the
  // buffer holds no stale data.
  count = r == 0 || r == kPartialBlock ? moved : 0;
  if (buffer != nullptr && count < length) std::memset(buffer + count, 0, length - count);
  CheckTapeSense(r, txt::devices::kDuringReadBlock);
  return r;
}

int TSCSITape::WriteFilemark() {
  const std::uint8_t cdb[6] = {0x10, 0x01, 0x00, 0x00, 0x01, 0x00};
  const int r = Exec(cdb, nullptr, false, 0);
  Trace(Format(txt::devices::kTraceFileMark, r));
  CheckTapeSense(r, txt::devices::kDuringWriteFileMark);
  return r;
}

int TSCSITape::FlushWrites() {
  const std::uint8_t cdb[6] = {0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
  const int r = Exec(cdb, nullptr, false, 0);
  CheckTapeSense(r, txt::devices::kDuringFlushWrite);
  Trace(Format(txt::devices::kTraceFlush, r));
  return r;
}

void TSCSITape::SetBlockSize(std::uint32_t length) {
  blockSize_ = length;
  if (target_ < 0) return;
  std::uint8_t cdb[6] = {0x15, 0x00, 0x00, 0x00, 0x0C, 0x00};
  std::uint8_t params[12] = {0x00,
                             0x00,
                             0x10,
                             0x08,
                             0x00,
                             0x00,
                             0x00,
                             0x00,
                             0x00,
                             static_cast<std::uint8_t>(length >> 16),
                             static_cast<std::uint8_t>(length >> 8),
                             static_cast<std::uint8_t>(length)};
  int r = Exec(cdb, params, true, sizeof params);
  Trace(Format(txt::devices::kTraceSetBlockSize, static_cast<int>(length), r));
  if (r == kIllegalRequest) {
    // Drives of the SPC-3 generation refuse a parameter list whose page
    // format is left open; the same list with the page-format bit suits them.
    cdb[1] = kPageFormat;
    r = Exec(cdb, params, true, sizeof params);
    Trace(Format(txt::devices::kTraceSetBlockSize, static_cast<int>(length), r));
  }
  CheckTapeSense(r, txt::devices::kDuringSetBlockSize);
  // Any other refusal leaves the drive at a block length the stream does not
  // expect: every block would be read or written wrongly.
  if (r != 0) throw TP_TapeException(Format(txt::devices::kSetBlockSizeError, r));
}

int TSCSITape::Unload() {
  if (target_ < 0) return kOtherOutcome;
  const std::uint8_t cdb[6] = {0x1B, 0x00, 0x00, 0x00, 0x00, 0x00};
  const int r = Exec(cdb, nullptr, false, 0);
  CheckTapeSense(r, txt::devices::kDuringUnload);
  return r;
}

int TSCSITape::SkipFilemarks(int count) {
  if (target_ < 0) return kOtherOutcome;
  const auto n = static_cast<std::uint32_t>(count) & 0xFFFFFFu;
  const std::uint8_t cdb[6] = {0x11,
                               0x01,
                               static_cast<std::uint8_t>(n >> 16),
                               static_cast<std::uint8_t>(n >> 8),
                               static_cast<std::uint8_t>(n),
                               0x00};
  int r = kOtherOutcome;
  for (int i = 0; i <= kMaxFilemarkRepeats; ++i) {
    r = Exec(cdb, nullptr, false, 0);
    Trace(Format(txt::devices::kTraceSkip, count, r));
    if (r != kFilemarkBit) break;
  }
  CheckTapeSense(r, txt::devices::kDuringSkipBlocks);
  return r;
}

int TSCSITape::Rewind(bool wait) {
  const std::uint8_t cdb[6] = {
      0x01, static_cast<std::uint8_t>(wait ? 0x00 : 0x01), 0x00, 0x00, 0x00, 0x00};
  const int r = Exec(cdb, nullptr, false, 0);
  Trace(Format(txt::devices::kTraceRewind, r));
  CheckTapeSense(r, txt::devices::kDuringRewind);
  return r;
}

void CheckTapeSense(int result, const std::string& context) {
  switch (result & 0x7F) {
    case 3:
      throw TPT_MediumError(std::string(txt::devices::kMediumError) + context);
    case 4:
      throw TPT_HardwareError(std::string(txt::devices::kHardwareError) + context);
    case 6:
      throw TPT_UnitAttention(std::string(txt::devices::kUnitAttention) + context);
    case 7:
      throw TPT_DataProtection(std::string(txt::devices::kWriteProtection) + context);
    case 13:
      throw TPT_TapeFull(std::string(txt::devices::kVolumeFull) + context);
    default:
      break;
  }
}

}  // namespace vx

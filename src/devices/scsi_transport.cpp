#include "devices/scsi_transport.h"

#include <atomic>

namespace vx {

namespace {
std::atomic<unsigned> gTimeoutCap{0};

unsigned UncappedTimeoutSeconds(std::uint8_t opcode) {
  switch (opcode) {
    case 0x01:  // REWIND
    case 0x11:  // SPACE
    case 0x19:  // ERASE
    case 0x1B:  // LOAD / UNLOAD
    case 0x2B:  // LOCATE
      return 4 * 3600;
    case 0x10:  // WRITE FILEMARKS
      return 30 * 60;
    case 0x08:  // READ
    case 0x0A:  // WRITE
      return 15 * 60;
    default:
      return 60;
  }
}
}  // namespace

unsigned ScsiCommandTimeoutSeconds(std::uint8_t opcode) {
  const unsigned t = UncappedTimeoutSeconds(opcode);
  const unsigned cap = gTimeoutCap;
  return cap != 0 && cap < t ? cap : t;
}

void SetScsiTimeoutCap(unsigned seconds) { gTimeoutCap = seconds; }

int SenseByte2(const std::uint8_t* sense, std::size_t len) {
  if (sense == nullptr || len < 1) return -1;
  const int code = sense[0] & 0x7F;
  if (code == 0x70 || code == 0x71) {
    if (len < 3) return -1;
    return sense[2];
  }
  if (code == 0x72 || code == 0x73) {
    if (len < 2) return -1;
    int byte2 = sense[1] & 0x0F;
    // Descriptors follow the 8-byte header; the stream-commands descriptor
    // (type 04h) carries the filemark, end-of-medium and length bits.
    std::size_t end = len;
    if (len >= 8 && 8u + sense[7] < end) end = 8u + sense[7];
    std::size_t at = 8;
    while (at + 2 <= end) {
      const std::size_t descLen = 2u + sense[at + 1];
      if (sense[at] == 0x04 && at + 3 < end) {
        byte2 |= sense[at + 3] & 0xE0;
        break;
      }
      at += descLen;
    }
    return byte2;
  }
  return -1;
}

}  // namespace vx

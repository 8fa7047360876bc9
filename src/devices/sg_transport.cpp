// SG_IO on a Linux SCSI generic device node: each node is one device.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "devices/scsi_transport.h"
#include "devices/texts.h"
#include "platform/fd.h"

namespace vx {
namespace {

constexpr unsigned char kCheckCondition = 0x02;
constexpr std::size_t kSenseMax = 64;

class TSgTransport final : public TScsiTransport {
 public:
  TSgTransport(TFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

  TScsiResult Execute(const std::uint8_t* cdb, std::size_t cdbLen, TScsiDirection dir,
                      std::uint8_t* data, std::size_t dataLen, unsigned timeoutSeconds) override {
    TScsiResult result;
    if (cdbLen == 0 || cdbLen > 16 || dataLen > UINT_MAX) return result;
    unsigned char cmd[16] = {};
    std::memcpy(cmd, cdb, cdbLen);
    unsigned char sense[kSenseMax] = {};
    sg_io_hdr_t hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.cmd_len = static_cast<unsigned char>(cdbLen);
    hdr.cmdp = cmd;
    hdr.mx_sb_len = sizeof sense;
    hdr.sbp = sense;
    hdr.dxfer_len = static_cast<unsigned int>(dataLen);
    hdr.dxferp = data;
    if (dataLen == 0)
      hdr.dxfer_direction = SG_DXFER_NONE;
    else
      hdr.dxfer_direction = dir == TScsiDirection::Out ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
    // The kernel aborts a command that runs longer (milliseconds); the
    // outcome is then not OK and the command reads as failed.
    hdr.timeout = timeoutSeconds >= UINT_MAX / 1000 ? UINT_MAX - 1 : timeoutSeconds * 1000;
    int rc;
    do {
      rc = ::ioctl(fd_.Get(), SG_IO, &hdr);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return result;
    if (hdr.resid > 0) result.Residue = static_cast<std::size_t>(hdr.resid);
    if ((hdr.info & SG_INFO_OK_MASK) == SG_INFO_OK) {
      result.Outcome = TScsiOutcome::Good;
    } else if (hdr.status == kCheckCondition && hdr.sb_len_wr > 0) {
      result.Outcome = TScsiOutcome::CheckCondition;
      result.Sense.assign(sense, sense + hdr.sb_len_wr);
    }
    return result;
  }

  std::string Name() const override { return path_; }

 private:
  TFd fd_;
  std::string path_;
};

}  // namespace

std::unique_ptr<TScsiTransport> OpenSgTransport(const std::string& path, std::string& error) {
  TFd fd = OpenFd(path, O_RDWR | O_NONBLOCK);
  if (!fd) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  int version = 0;
  if (::ioctl(fd.Get(), SG_GET_VERSION_NUM, &version) < 0 || version < 30000) {
    error = path + txt::devices::kNotScsiGeneric;
    return nullptr;
  }
  // SG_IO itself always blocks; the node is kept non-blocking only so that
  // opening never waits for a busy device.
  return std::make_unique<TSgTransport>(std::move(fd), path);
}

}  // namespace vx

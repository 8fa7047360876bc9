// iSCSI through libiscsi: one session to one LUN, commands sent synchronously.
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "devices/scsi_transport.h"
#include "devices/texts.h"
#include "platform/hooks.h"

namespace vx {
namespace {

constexpr const char* kInitiatorName = "iqn.2026-01.org.vaultix:initiator";
constexpr int kLoginTimeoutSeconds = 30;

class TIscsiTransport final : public TScsiTransport {
 public:
  TIscsiTransport(iscsi_context* ctx, int lun, std::string url)
      : ctx_(ctx), lun_(lun), url_(std::move(url)) {}
  ~TIscsiTransport() override {
    // A session whose command ran out is not waited on for a logout.
    if (!broken_) iscsi_logout_sync(ctx_);
    iscsi_destroy_context(ctx_);
  }
  TIscsiTransport(const TIscsiTransport&) = delete;
  TIscsiTransport& operator=(const TIscsiTransport&) = delete;

  TScsiResult Execute(const std::uint8_t* cdb, std::size_t cdbLen, TScsiDirection dir,
                      std::uint8_t* data, std::size_t dataLen, unsigned timeoutSeconds) override {
    TScsiResult result;
    if (cdbLen == 0 || cdbLen > SCSI_CDB_MAX_SIZE || dataLen > 0x7FFFFFFF) return result;
    unsigned char cmd[SCSI_CDB_MAX_SIZE] = {};
    std::memcpy(cmd, cdb, cdbLen);
    int xfer = SCSI_XFER_NONE;
    if (dataLen > 0) xfer = dir == TScsiDirection::Out ? SCSI_XFER_WRITE : SCSI_XFER_READ;
    scsi_task* task =
        scsi_create_task(static_cast<int>(cdbLen), cmd, xfer, static_cast<int>(dataLen));
    if (task == nullptr) return result;
    iscsi_data out{};
    iscsi_data* outPtr = nullptr;
    if (xfer == SCSI_XFER_READ) {
      // Data go straight into the caller's buffer; task->datain then holds
      // only what the response carries (the sense data of a failed command).
      if (scsi_task_add_data_in_buffer(task, static_cast<int>(dataLen), data) != 0) {
        scsi_free_scsi_task(task);
        return result;
      }
    } else if (xfer == SCSI_XFER_WRITE) {
      out.size = dataLen;
      out.data = data;
      outPtr = &out;
    }
    if (!Run(task, outPtr, timeoutSeconds)) {
      scsi_free_scsi_task(task);
      return result;
    }
    if (task->residual_status == SCSI_RESIDUAL_UNDERFLOW) result.Residue = task->residual;
    if (task->status == SCSI_STATUS_GOOD) {
      result.Outcome = TScsiOutcome::Good;
    } else if (task->status == SCSI_STATUS_CHECK_CONDITION) {
      // The response's data segment: a 2-byte big-endian length, then the
      // sense bytes.  libiscsi's parsed form lacks the filemark, EOM and ILI
      // bits, so the raw bytes are handed on.
      const scsi_data& in = task->datain;
      if (in.data != nullptr && in.size >= 2) {
        std::size_t len = (static_cast<std::size_t>(in.data[0]) << 8) | in.data[1];
        if (len > static_cast<std::size_t>(in.size) - 2)
          len = static_cast<std::size_t>(in.size) - 2;
        result.Sense.assign(in.data + 2, in.data + 2 + len);
      }
      result.Outcome = TScsiOutcome::CheckCondition;
    }
    scsi_free_scsi_task(task);
    return result;
  }

  std::string Name() const override { return url_; }

 private:
  struct TWait {
    bool finished = false;
    int status = 0;
  };

  static void Done(iscsi_context*, int status, void*, void* privateData) {
    auto* wait = static_cast<TWait*>(privateData);
    wait->status = status;
    wait->finished = true;
  }

  // Sends the task and services the connection until it has ended,
  // timeoutSeconds have passed or a stop is asked for.  libiscsi's own synchronous wait does not
  // look at the clock while the target is silent, so the wait is done here.
  // A task that runs out is withdrawn, and the session is not used again: an
  // answer could still come for it.
  bool Run(scsi_task* task, iscsi_data* out, unsigned timeoutSeconds) {
    if (broken_) return false;
    TWait wait;
    if (iscsi_scsi_command_async(ctx_, lun_, task, &TIscsiTransport::Done, out, &wait) != 0)
      return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!wait.finished) {
      // A stop asked for ends the wait within a poll round: the task is
      // withdrawn as after a time-out.
      if (StopRequested()) {
        iscsi_scsi_cancel_task(ctx_, task);
        broken_ = true;
        return false;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        iscsi_scsi_cancel_task(ctx_, task);
        broken_ = true;
        return false;
      }
      pollfd pfd{iscsi_get_fd(ctx_), static_cast<short>(iscsi_which_events(ctx_)), 0};
      const int r = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 1000)));
      if (r < 0 && errno != EINTR) break;
      if (iscsi_service(ctx_, r > 0 ? pfd.revents : 0) < 0) break;
    }
    if (!wait.finished) {
      iscsi_scsi_cancel_task(ctx_, task);
      broken_ = true;
      return false;
    }
    task->status = wait.status;
    return true;
  }

  bool broken_ = false;
  iscsi_context* ctx_;
  int lun_;
  std::string url_;
};

}  // namespace

std::unique_ptr<TScsiTransport> OpenIscsiTransport(const std::string& url, std::string& error) {
  iscsi_context* ctx = iscsi_create_context(kInitiatorName);
  if (ctx == nullptr) {
    error = url + txt::devices::kNoIscsiContext;
    return nullptr;
  }
  iscsi_url* parsed = iscsi_parse_full_url(ctx, url.c_str());
  if (parsed == nullptr) {
    error = url + ": " + iscsi_get_error(ctx);
    iscsi_destroy_context(ctx);
    return nullptr;
  }
  iscsi_set_session_type(ctx, ISCSI_SESSION_NORMAL);
  iscsi_set_header_digest(ctx, ISCSI_HEADER_DIGEST_NONE_CRC32C);
  iscsi_set_targetname(ctx, parsed->target);
  // A bounded wait for the login; every command then has its own deadline.
  iscsi_set_timeout(ctx, kLoginTimeoutSeconds);
  const int lun = parsed->lun;
  const int rc = iscsi_full_connect_sync(ctx, parsed->portal, lun);
  iscsi_destroy_url(parsed);
  if (rc != 0) {
    error = url + ": " + iscsi_get_error(ctx);
    iscsi_destroy_context(ctx);
    return nullptr;
  }
  iscsi_set_timeout(ctx, 0);
  return std::make_unique<TIscsiTransport>(ctx, lun, url);
}

}  // namespace vx

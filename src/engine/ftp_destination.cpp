// The archive stream's FTP destination: one file on an FTP server, written or
// read in one passive binary transfer.
#include "archive/errors.h"
#include "devices/ftp_client.h"
#include "engine/destinations.h"

namespace vx {

namespace {

constexpr const char* kNoConnection = "nemožno vytvoriť FTP spojenie";
constexpr const char* kDiskFull = "Na disku nie je dostatok miesta";
constexpr const char* kEarlyEnd = "Zistený predčasný koniec súboru";
constexpr const char* kWriteFailed = "Chyba pri zápise do zálovovacieho súboru";

class TFtpDestination : public TArchiveDestination {
 public:
  void Open(TStreamMode mode, const TFTPConnection& connection, const std::string& remotePath,
            const TFtpLogSink& log) {
    ftp_.OnNotice = log;
    // Every value is checked before the first byte goes to the server.
    CheckFtpValue("remote path", remotePath);
    ftp_.Connect(connection.HostName, connection.UserName, connection.Port, connection.Password);
    if (mode == TStreamMode::Write)
      ftp_.OpenWrite(remotePath);
    else
      ftp_.OpenRead(remotePath);
  }

  void SendBlock(const std::uint8_t* block, std::size_t len) override {
    int sent = -1;
    ftp_.WriteData(block, static_cast<int>(len), sent);
    if (sent != static_cast<int>(len)) throw EVX_DiskFullError(kDiskFull);
  }

  void FetchBlock(std::uint8_t* block, std::size_t len) override {
    int received = 0;
    ftp_.ReadData(block, static_cast<int>(len), received);
    if (received < static_cast<int>(len)) throw EVX_BackupReadError(kEarlyEnd);
  }

  // The server confirms that it holds the whole file; without that the
  // upload has failed, whatever was sent.
  void FinishWrite() override {
    try {
      ftp_.CloseFile();
    } catch (const TVFTPException&) {
      throw EVX_BackupWriteError(kWriteFailed);
    }
  }

  // A read may stop before the end of the file (a catalog reads only the
  // directory); the server's verdict on that transfer does not matter, so
  // closing just drops the connections.
  void Close() noexcept override { ftp_.Disconnect(); }

 private:
  TV_FTP ftp_;
};

}  // namespace

std::unique_ptr<TArchiveDestination> OpenFtpDestination(TStreamMode mode,
                                                        const TFTPConnection& connection,
                                                        const std::string& remotePath,
                                                        const TFtpLogSink& log) {
  auto destination = std::make_unique<TFtpDestination>();
  try {
    destination->Open(mode, connection, remotePath, log);
  } catch (const TVFTPUnsafeValue& e) {
    // The reason is worth more than the general text: say it in the log.
    if (log) log(std::string("FTP: ") + e.what());
    throw EVX_FTPError(kNoConnection);
  } catch (const std::exception&) {
    throw EVX_FTPError(kNoConnection);
  }
  return destination;
}

}  // namespace vx

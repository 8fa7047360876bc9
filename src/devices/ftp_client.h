#pragma once
// TV_FTP: a minimal FTP client through which the archive stream writes one
// archive file to an FTP server or reads one back, as one binary transfer in
// passive mode over IPv4.  Every failure it detects is a TVFTPException.
//
// A control reply (all its lines) and a data send wait at most
// replyTimeoutMs (60 s by default), a data read at most dataTimeoutMs (5 s),
// so no call hangs on a dead or silent server.  A reply has one deadline and
// a size cap however fast its bytes arrive.  The data connection always goes
// to the control connection's peer.  User name, password, host and remote
// path are refused before anything is sent when they hold CR, LF or NUL.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/fd.h"

namespace vx {

class TVFTPException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value that would end an FTP command line early (CR, LF or NUL in the user
// name, password, host or remote path): refused before anything is sent.
class TVFTPUnsafeValue : public TVFTPException {
 public:
  using TVFTPException::TVFTPException;
};

// Throws TVFTPUnsafeValue naming `what` when value holds CR, LF or NUL.
void CheckFtpValue(const char* what, const std::string& value);

// Reads control replies line by line from a source of bytes.  CR is dropped,
// LF ends a line.  A reply of several lines ("220-...") ends at its line of
// three digits and a space; lines that announce more ("220-", " text") keep
// it open.  Once the source has failed (closed, error, time-out) or a reply
// has grown beyond maxReplyBytes, no further line is delivered until
// ClearFailure: every reply then reads as code 999.
class TFtpReplyReader {
 public:
  static constexpr std::size_t kDefaultMaxReplyBytes = std::size_t{64} * 1024;
  // Gives the next byte; false when none comes.
  using TByteSource = std::function<bool(char&)>;

  explicit TFtpReplyReader(std::size_t maxReplyBytes = kDefaultMaxReplyBytes)
      : maxReplyBytes_(maxReplyBytes) {}

  // One whole reply: the code of its first line (999 when that line is no
  // number, or when the reply did not end within the cap or the source).
  // Text() is the first line from its fifth character on.
  int Read(const TByteSource& next);
  const std::string& Text() const { return text_; }
  bool Failed() const { return failed_; }
  // The reply ran over the cap.
  bool Overflowed() const { return overflowed_; }
  void ClearFailure() {
    failed_ = false;
    overflowed_ = false;
  }
  void Fail() { failed_ = true; }

 private:
  bool ReadLine(const TByteSource& next, std::string& line);

  std::size_t maxReplyBytes_;
  std::size_t replyBytes_ = 0;
  std::string text_;
  bool failed_ = false;
  bool overflowed_ = false;
};

// 1-based position of the n-th occurrence of separator in text; with fewer
// occurrences a position beyond the end of text; n <= 0 gives 0.
int FindNth(const std::string& separator, const std::string& text, int n);

// Reads the data address out of the text of a 227 reply: what lies between
// the first "(" and the first ")" after it, "h1,h2,h3,h4,p1,p2".  Returns false
// when the numbers are malformed.  address is in network byte order.
bool ParsePassiveReply(const std::string& replyText, std::uint32_t& address, int& port);

// The value that stands for "no address" (255.255.255.255).
inline constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

// Dotted IPv4 text first, then a name lookup; kNoAddress when neither gives
// an address (an empty host, and the dotted form of 255.255.255.255, too).
std::uint32_t ResolveHost(const std::string& host);

class TV_FTP {
 public:
  static constexpr int kDefaultReplyTimeoutMs = 60000;
  static constexpr int kDefaultDataTimeoutMs = 5000;

  // Negative time-outs take the process-wide defaults (see SetDefaultTimeouts).
  explicit TV_FTP(int replyTimeoutMs = -1, int dataTimeoutMs = -1,
                  std::size_t maxReplyBytes = TFtpReplyReader::kDefaultMaxReplyBytes);
  ~TV_FTP();
  TV_FTP(const TV_FTP&) = delete;
  TV_FTP& operator=(const TV_FTP&) = delete;

  // The time-outs of clients created later without explicit values.  Lets a
  // test of a silent server finish in a second instead of a minute.
  static void SetDefaultTimeouts(int replyTimeoutMs, int dataTimeoutMs);
  static int DefaultReplyTimeoutMs();
  static int DefaultDataTimeoutMs();

  // Resolves, connects the control socket, logs in and sets binary type.
  void Connect(const std::string& host, const std::string& user, int port,
               const std::string& password);
  // Changes to the folder of remotePath, opens the passive data connection
  // and sends STOR / RETR with the file name.
  void OpenWrite(const std::string& remotePath);
  void OpenRead(const std::string& remotePath);
  // Sends length bytes on the data connection; sent is the number of bytes
  // that went out, -1 when the first send failed.
  void WriteData(const void* buffer, int length, int& sent);
  // Receives until size bytes have arrived, the server ends the data
  // connection, or the data time-out has passed; received is the total.
  void ReadData(void* buffer, int size, int& received);
  // Ends the transfer and checks the server's closing reply.
  void CloseFile();
  // Closes whichever sockets are open.  Never throws.
  void Disconnect() noexcept;

  // Splits a remote path at its last "/", "\" or ":": the folder keeps the
  // separator, the name is the rest.
  static void SplitRemotePath(const std::string& remotePath, std::string& folder,
                              std::string& name);

  // Receives notices meant for the log (a PASV reply that named another
  // host than the server's).
  std::function<void(const std::string&)> OnNotice;

  // Inspection.
  const std::string& ReplyText() const { return reader_.Text(); }
  bool ReceiveError() const { return reader_.Failed(); }
  bool HasDataConnection() const { return dataSocket_.IsOpen(); }
  std::uint32_t Address() const { return address_; }  // network byte order
  int Port() const { return port_; }

 private:
  TFd OpenSocket(int port);
  void SendText(const std::string& text);
  bool ReceiveByte(char& c);
  int GetReply();
  void EnterPassive();
  void Open(const std::string& remotePath, const char* command);

  int replyTimeoutMs_;
  int dataTimeoutMs_;
  std::chrono::steady_clock::time_point replyDeadline_{};
  bool timedOut_ = false;  // the current reply's deadline has passed
  TFtpReplyReader reader_;
  int port_ = 0;
  std::uint32_t address_ = kNoAddress;
  TFd controlSocket_;
  TFd dataSocket_;
  // Control bytes received but not yet consumed.
  char inBuf_[512];
  std::size_t inPos_ = 0;
  std::size_t inLen_ = 0;
};

}  // namespace vx

#include "devices/ftp_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "devices/texts.h"
#include "support/strings.h"

namespace vx {

namespace {

std::atomic<int> gDefaultReplyTimeoutMs{TV_FTP::kDefaultReplyTimeoutMs};
std::atomic<int> gDefaultDataTimeoutMs{TV_FTP::kDefaultDataTimeoutMs};

using Clock = std::chrono::steady_clock;

// Reply lines are kept up to this length; the rest of a longer line is read
// and dropped.
constexpr std::size_t kMaxLine = 4096;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// The number in the first three characters of a reply line; 999 when they
// are not one (an empty or cut line included).
int ReplyCode(const std::string& line) {
  std::string head = line.substr(0, 3);
  return AllDigits(head) ? std::stoi(head) : 999;
}

// A line that announces more lines of the same reply: its first hyphen is the
// fourth character ("220-Welcome"), or it begins with a space.
bool AnnouncesMore(const std::string& line) {
  return line.find('-') == 3 || (!line.empty() && line[0] == ' ');
}

// A line that can close a reply of several lines: three digits, then a space
// or nothing.
bool ClosesReply(const std::string& line) {
  return line.size() >= 3 && AllDigits(line.substr(0, 3)) && (line.size() == 3 || line[3] == ' ');
}

void CloseSocket(TFd& fd, int how) noexcept {
  if (!fd) return;
  ::shutdown(fd.Get(), how);
  fd.Reset();
}

bool ParseByte(const std::string& text, int& value) {
  const std::string digits = Trim(text, " ");
  if (!AllDigits(digits) || digits.size() > 3) return false;
  value = std::stoi(digits);
  return value <= 255;
}

}  // namespace

void CheckFtpValue(const char* what, const std::string& value) {
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw TVFTPUnsafeValue(std::string(txt::devices::kUnsafeValueHead) + what +
                           txt::devices::kUnsafeValueTail);
}

bool TFtpReplyReader::ReadLine(const TByteSource& next, std::string& line) {
  // Once a receive has failed, the connection is not trusted again until
  // ClearFailure: no line is delivered, the caller's line stays as it was.
  if (failed_) return false;
  std::string collected;
  char c;
  while (next(c)) {
    if (++replyBytes_ > maxReplyBytes_) {
      overflowed_ = true;
      break;
    }
    if (c == '\r') continue;
    if (c == '\n') {
      line = std::move(collected);
      return true;
    }
    if (collected.size() < kMaxLine) collected.push_back(c);
  }
  failed_ = true;
  return false;
}

int TFtpReplyReader::Read(const TByteSource& next) {
  replyBytes_ = 0;
  overflowed_ = false;
  std::string line;
  ReadLine(next, line);
  int code = ReplyCode(line);
  text_ = line.size() > 4 ? line.substr(4) : std::string();
  // "220-..." opens a reply of several lines: besides the lines that announce
  // more, free text lines in between belong to it too, up to a line of three
  // digits and a space.
  bool opened = line.size() >= 4 && AllDigits(line.substr(0, 3)) && line[3] == '-';
  std::string last = line;
  while (!failed_ && (AnnouncesMore(last) || (opened && !ClosesReply(last)))) {
    if (!ReadLine(next, last)) break;
  }
  // A reply that never ends within its cap is unreadable as a whole.
  return overflowed_ ? 999 : code;
}

int FindNth(const std::string& separator, const std::string& text, int n) {
  if (n <= 0) return 0;
  if (separator.empty()) return static_cast<int>(text.size()) + 1;
  std::size_t from = 0;
  for (int i = 1;; ++i) {
    std::size_t at = text.find(separator, from);
    if (at == std::string::npos) return static_cast<int>(text.size()) + 1;
    if (i == n) return static_cast<int>(at) + 1;
    from = at + separator.size();
  }
}

bool ParsePassiveReply(const std::string& replyText, std::uint32_t& address, int& port) {
  std::size_t open = replyText.find('(');
  if (open == std::string::npos) return false;
  std::size_t close = replyText.find(')', open + 1);
  if (close == std::string::npos) return false;
  std::string inner = replyText.substr(open + 1, close - open - 1);

  int p = FindNth(",", inner, 4);  // 1-based
  if (p > static_cast<int>(inner.size())) return false;
  std::string host = inner.substr(0, p - 1);
  for (char& c : host)
    if (c == ',') c = '.';
  std::string rest = inner.substr(p);
  std::size_t comma = rest.find(',');
  if (comma == std::string::npos) return false;
  int high = 0, low = 0;
  if (!ParseByte(rest.substr(0, comma), high) || !ParseByte(rest.substr(comma + 1), low))
    return false;
  std::uint32_t a = ::inet_addr(host.c_str());
  if (a == kNoAddress) return false;
  address = a;
  port = high * 256 + low;
  return true;
}

std::uint32_t ResolveHost(const std::string& host) {
  if (host.empty()) return kNoAddress;
  try {
    std::uint32_t a = ::inet_addr(host.c_str());
    if (a != INADDR_NONE) return a;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
      return kNoAddress;
    std::uint32_t found = kNoAddress;
    if (list->ai_addr != nullptr && list->ai_addrlen >= sizeof(sockaddr_in))
      found = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return found;
  } catch (...) {
    return kNoAddress;
  }
}

TV_FTP::TV_FTP(int replyTimeoutMs, int dataTimeoutMs, std::size_t maxReplyBytes)
    : replyTimeoutMs_(replyTimeoutMs >= 0 ? replyTimeoutMs : DefaultReplyTimeoutMs()),
      dataTimeoutMs_(dataTimeoutMs >= 0 ? dataTimeoutMs : DefaultDataTimeoutMs()),
      reader_(maxReplyBytes) {}

TV_FTP::~TV_FTP() { Disconnect(); }

void TV_FTP::SetDefaultTimeouts(int replyTimeoutMs, int dataTimeoutMs) {
  gDefaultReplyTimeoutMs = replyTimeoutMs;
  gDefaultDataTimeoutMs = dataTimeoutMs;
}
int TV_FTP::DefaultReplyTimeoutMs() { return gDefaultReplyTimeoutMs; }
int TV_FTP::DefaultDataTimeoutMs() { return gDefaultDataTimeoutMs; }

TFd TV_FTP::OpenSocket(int port) {
  const char* failure = txt::devices::kCouldntOpenSocket;
  if (port < 0 || port > 65535) throw TVFTPException(failure);
  TFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket) throw TVFTPException(failure);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = address_;
  // Connect without blocking, so an address that never answers costs at
  // most the reply time-out.
  const int fd = socket.Get();
  bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
  if (!ok && errno == EINPROGRESS) {
    pollfd pfd{fd, POLLOUT, 0};
    auto deadline = Clock::now() + std::chrono::milliseconds(replyTimeoutMs_);
    int r;
    do {
      r = ::poll(&pfd, 1, MillisecondsLeft(deadline));
    } while (r < 0 && errno == EINTR);
    int err = 0;
    socklen_t len = sizeof err;
    ok = r == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
  }
  if (ok) {
    int flags = ::fcntl(fd, F_GETFL);
    ok = flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
  }
  if (!ok) throw TVFTPException(failure);
  // A send that cannot go on (the server stopped reading) gives up after the
  // reply time-out instead of blocking for ever.
  timeval tv{replyTimeoutMs_ / 1000, (replyTimeoutMs_ % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return socket;
}

void TV_FTP::SendText(const std::string& text) {
  if (!controlSocket_) return;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::send(controlSocket_.Get(), text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // the reply read that follows reports the broken connection
    }
  }
}

bool TV_FTP::ReceiveByte(char& c) {
  if (inPos_ < inLen_) {
    c = inBuf_[inPos_++];
    return true;
  }
  if (!controlSocket_) return false;
  for (;;) {
    // Checked before every receive: a server that keeps bytes coming must
    // not stretch the reply beyond its deadline.
    if (Clock::now() >= replyDeadline_) {
      timedOut_ = true;
      break;
    }
    pollfd pfd{controlSocket_.Get(), POLLIN, 0};
    int r = ::poll(&pfd, 1, MillisecondsLeft(replyDeadline_));
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) {
      timedOut_ = true;
      break;
    }
    if (r < 0) break;  // poll failure
    ssize_t n = ::recv(controlSocket_.Get(), inBuf_, sizeof inBuf_, 0);
    if (n > 0) {
      inPos_ = 0;
      inLen_ = static_cast<std::size_t>(n);
      c = inBuf_[inPos_++];
      return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    break;  // closed by the server, or failed
  }
  return false;
}

int TV_FTP::GetReply() {
  // The whole reply, however many lines it has and however fast its bytes
  // come, must arrive before one deadline.
  replyDeadline_ = Clock::now() + std::chrono::milliseconds(replyTimeoutMs_);
  timedOut_ = false;
  const int code = reader_.Read([this](char& c) { return ReceiveByte(c); });
  return timedOut_ ? 999 : code;
}

void TV_FTP::Connect(const std::string& host, const std::string& user, int port,
                     const std::string& password) {
  CheckFtpValue("host", host);
  CheckFtpValue("user name", user);
  CheckFtpValue("password", password);
  Disconnect();
  inPos_ = inLen_ = 0;
  port_ = port;
  address_ = ResolveHost(host);
  if (address_ == kNoAddress) throw TVFTPException(txt::devices::kCouldntResolve + host);
  controlSocket_ = OpenSocket(port);
  GetReply();  // the greeting, whatever its code

  SendText("USER " + user + "\r\n");
  int code = GetReply();
  if (code > 200 && code != 331)
    throw TVFTPException(std::string("USER") + txt::devices::kResultedIn + std::to_string(code));
  SendText("PASS " + password + "\r\n");
  code = GetReply();
  if (code > 230)
    throw TVFTPException(std::string("PASS") + txt::devices::kResultedIn + std::to_string(code));
  SendText("TYPE I\r\n");
  code = GetReply();
  if (code > 200)
    throw TVFTPException(std::string("TYPE I") + txt::devices::kResultedIn + std::to_string(code));
}

void TV_FTP::SplitRemotePath(const std::string& remotePath, std::string& folder,
                             std::string& name) {
  std::size_t cut = remotePath.find_last_of("/\\:");
  if (cut == std::string::npos) {
    folder.clear();
    name = remotePath;
  } else {
    folder = remotePath.substr(0, cut + 1);
    name = remotePath.substr(cut + 1);
  }
}

void TV_FTP::EnterPassive() {
  SendText("PASV\r\n");
  if (GetReply() != 227) throw TVFTPException("FTP" + ReplyText());
  std::uint32_t address = 0;
  int port = 0;
  CloseSocket(dataSocket_, SHUT_RDWR);
  if (!ParsePassiveReply(ReplyText(), address, port)) return;
  // The data connection goes to the server we are talking to, whatever host
  // the reply names: a hostile or confused server must not send the backup
  // data to a third machine.  Only the port is taken from the reply.
  sockaddr_in peer{};
  socklen_t peerLen = sizeof peer;
  if (::getpeername(controlSocket_.Get(), reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0 &&
      peer.sin_family == AF_INET)
    address_ = peer.sin_addr.s_addr;
  if (address != address_ && OnNotice) {
    char named[INET_ADDRSTRLEN] = {};
    char used[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, named, sizeof named);
    ::inet_ntop(AF_INET, &address_, used, sizeof used);
    OnNotice(std::string(txt::devices::kPasvHostNamed) + named + txt::devices::kPasvAddressUsed +
             used + txt::devices::kPasvInstead);
  }
  try {
    dataSocket_ = OpenSocket(port);
  } catch (const TVFTPException&) {
    dataSocket_.Reset();
  }
}

void TV_FTP::Open(const std::string& remotePath, const char* command) {
  CheckFtpValue("remote path", remotePath);
  std::string folder, name;
  SplitRemotePath(remotePath, folder, name);
  SendText("CWD " + folder + "\r\n");
  int code = GetReply();
  if (code > 250)
    throw TVFTPException(std::string("CWD") + txt::devices::kResultedIn + std::to_string(code));

  EnterPassive();
  // Without a data connection the transfer cannot work; a server would only
  // wait for it after STOR / RETR, so give up now.
  if (!dataSocket_) throw TVFTPException(txt::devices::kCouldntOpenSocket);

  SendText("TYPE I\r\n");
  code = GetReply();
  if (code > 200)
    throw TVFTPException(std::string("TYPE I") + txt::devices::kResultedIn + std::to_string(code));
  SendText(std::string(command) + " " + name + "\r\n");
  code = GetReply();
  if (code > 200)
    throw TVFTPException(std::string(command) + txt::devices::kResultedIn + std::to_string(code));
}

void TV_FTP::OpenWrite(const std::string& remotePath) { Open(remotePath, "STOR"); }

void TV_FTP::OpenRead(const std::string& remotePath) {
  reader_.ClearFailure();
  Open(remotePath, "RETR");
}

void TV_FTP::WriteData(const void* buffer, int length, int& sent) {
  sent = -1;
  if (!dataSocket_ || length < 0) return;
  const char* p = static_cast<const char*>(buffer);
  int total = 0;
  ssize_t n = 0;
  while (total < length) {
    n = ::send(dataSocket_.Get(), p + total, static_cast<std::size_t>(length - total),
               MSG_NOSIGNAL);
    if (n > 0) {
      total += static_cast<int>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  sent = (total == 0 && n < 0) ? -1 : total;
}

void TV_FTP::ReadData(void* buffer, int size, int& received) {
  received = 0;
  if (!dataSocket_ || size <= 0) return;
  char* p = static_cast<char*>(buffer);
  auto deadline = Clock::now() + std::chrono::milliseconds(dataTimeoutMs_);
  int total = 0;
  while (total < size) {
    pollfd pfd{dataSocket_.Get(), POLLIN, 0};
    int r = ::poll(&pfd, 1, MillisecondsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;  // the time-out has passed
    ssize_t n = ::recv(dataSocket_.Get(), p + total, static_cast<std::size_t>(size - total), 0);
    if (n > 0) {
      total += static_cast<int>(n);
    } else if (n == 0) {
      break;  // the server has ended the data connection
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      break;
    }
  }
  received = total;
}

void TV_FTP::CloseFile() {
  CloseSocket(dataSocket_, SHUT_RDWR);
  int code = GetReply();
  if (code > 226 && code != 250)
    throw TVFTPException(std::string(txt::devices::kCloseFile) + txt::devices::kResultedIn +
                         std::to_string(code));
}

void TV_FTP::Disconnect() noexcept {
  CloseSocket(controlSocket_, SHUT_WR);
  CloseSocket(dataSocket_, SHUT_WR);
  inPos_ = inLen_ = 0;
}

}  // namespace vx

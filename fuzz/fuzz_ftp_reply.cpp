// libFuzzer entry: any bytes as what an FTP server sends on the control
// connection.  Replies are read one after the other, as the client reads
// them (multi-line replies, a small size cap so that its edge is reached),
// and every reply text goes through the PASV parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/ftp_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  auto next = [&](char& c) {
    if (at >= size) return false;
    c = static_cast<char>(data[at++]);
    return true;
  };
  vx::TFtpReplyReader reader(1024);
  for (int reply = 0; reply < 64 && at < size; ++reply) {
    const int code = reader.Read(next);
    if (code < 0 || code > 999) __builtin_trap();
    std::uint32_t address = 0;
    int port = -1;
    if (vx::ParsePassiveReply(reader.Text(), address, port) && (port < 0 || port > 65535))
      __builtin_trap();
    vx::FindNth(",", reader.Text(), 4);
    if (reader.Failed()) reader.ClearFailure();
  }
  return 0;
}

// TCrypto: turns a byte array, a string or a file into 8-byte block
// operations in ECB, CBC or CFB mode.
#include "archive/crypto.h"

#include <fcntl.h>
#include <string.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>
#include <system_error>

#include "platform/fd.h"

namespace vx {
namespace {

constexpr std::size_t kFileChunk = 4096;

std::size_t RoundUp8(std::size_t n) { return (n + 7) & ~static_cast<std::size_t>(7); }

void Wipe(std::string& s) {
  if (!s.empty()) explicit_bzero(s.data(), s.size());
  s.clear();
}

// Reads until count bytes or the end of the file; throws on a read error.
std::size_t ReadFull(int fd, std::uint8_t* p, std::size_t count, const std::string& path) {
  const TIoResult r = ReadAll(fd, p, count);
  if (r.Failed()) throw std::system_error(r.error, std::generic_category(), "cannot read " + path);
  return r.done;
}

void WriteFull(int fd, const std::uint8_t* p, std::size_t count, const std::string& path) {
  const TIoResult r = WriteAll(fd, p, count);
  if (r.Failed()) throw std::system_error(r.error, std::generic_category(), "cannot write " + path);
}

}  // namespace

TCrypto::TCrypto() = default;

TCrypto::~TCrypto() {
  Wipe(key_);
  Wipe(scheduledKey_);
  if (!chain_.empty()) explicit_bzero(chain_.data(), chain_.size());
}

void TCrypto::SetKey(const std::string& key) {
  Wipe(key_);
  key_ = key;
}

void TCrypto::Prepare(bool continued) {
  // The schedule depends on the key alone, so it is rebuilt only when the key
  // differs from the one it was built from; the result is the same as
  // building it at every call.
  if (!continued || !scheduleValid_) {
    if (!scheduleValid_ || scheduledKey_ != key_) {
      SetupKey();
      Wipe(scheduledKey_);
      scheduledKey_ = key_;
      scheduleValid_ = true;
    }
  }
  if (CipherMode == ECBMode) return;
  if (chain_.empty()) chain_.assign(blockSize_, 0);
  if (continued) return;
  if (IVector.empty()) {
    std::mt19937 gen(std::random_device{}());
    std::uniform_int_distribution<int> dist(0, 92);
    for (std::size_t i = 0; i < blockSize_; ++i)
      IVector.push_back(static_cast<char>(33 + dist(gen)));
  }
  // A shorter vector leaves the rest of the register zero.
  std::fill(chain_.begin(), chain_.end(), 0);
  std::memcpy(chain_.data(), IVector.data(), std::min(IVector.size(), blockSize_));
}

void TCrypto::Encrypt(bool continued) {
  Prepare(continued);
  switch (InputType) {
    case SourceFile:
      RunFile(true);
      return;
    case SourceString:
      if (InputString.size() > 0xFFFF)
        throw std::length_error("TCrypto: input string longer than 65535 bytes");
      if (OutputArray == nullptr) throw std::invalid_argument("TCrypto: no output array");
      InputLength = static_cast<std::uint16_t>(InputString.size());
      staging_.assign(InputString.begin(), InputString.end());
      EncipherBuffer();
      return;
    case SourceByteArray:
      if (InputLength > 0 && (InputArray == nullptr || OutputArray == nullptr))
        throw std::invalid_argument("TCrypto: no input or output array");
      if (DirectEcb(true)) return;
      staging_.assign(InputArray, InputArray + InputLength);
      EncipherBuffer();
      return;
  }
}

void TCrypto::Decrypt(bool continued) {
  Prepare(continued);
  switch (InputType) {
    case SourceFile:
      RunFile(false);
      return;
    case SourceString:
      throw std::invalid_argument("TCrypto: string input can only be encrypted");
    case SourceByteArray:
      if (InputLength > 0 && (InputArray == nullptr || OutputArray == nullptr))
        throw std::invalid_argument("TCrypto: no input or output array");
      if (DirectEcb(false)) return;
      staging_.assign(InputArray, InputArray + InputLength);
      DecipherBuffer();
      return;
  }
}

namespace {

// ECB and CBC work on whole blocks: pad the staged input with zeros.  The
// rounded length must still fit InputLength.
std::size_t PadStaging(std::vector<std::uint8_t>& staging, std::uint16_t& inputLength) {
  std::size_t n = RoundUp8(inputLength);
  if (n > 0xFFFF) throw std::length_error("TCrypto: padded input longer than 65535 bytes");
  staging.resize(n, 0);
  inputLength = static_cast<std::uint16_t>(n);
  return n;
}

}  // namespace

// ECB from a byte array straight to the output, without the staging copy:
// whole blocks in bulk, the last partial block padded with zeros as
// EncipherBuffer pads it.  Only when the input and the output are the same
// place or lie apart (a partly overlapping output would see its own
// results); false leaves the work to the staged path.
bool TCrypto::DirectEcb(bool encrypt) {
  if (CipherMode != ECBMode) return false;
  const std::size_t n = InputLength;
  if (n == 0) return false;
  const std::uint8_t* in = InputArray;
  std::uint8_t* out = OutputArray;
  const std::size_t padded = RoundUp8(n);
  const auto inAt = reinterpret_cast<std::uintptr_t>(in);
  const auto outAt = reinterpret_cast<std::uintptr_t>(out);
  if (in != out && inAt < outAt + padded && outAt < inAt + n) return false;
  if (padded > 0xFFFF) throw std::length_error("TCrypto: padded input longer than 65535 bytes");
  const std::size_t whole = n / 8;
  EcbBlocks(in, out, whole, encrypt);
  if (const std::size_t rest = n - whole * 8; rest != 0) {
    std::uint8_t last[8] = {};
    std::memcpy(last, in + whole * 8, rest);
    EcbBlocks(last, last, 1, encrypt);
    std::memcpy(out + whole * 8, last, 8);
    explicit_bzero(last, sizeof last);
  }
  InputLength = static_cast<std::uint16_t>(padded);
  return true;
}

void TCrypto::EcbBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                        bool encrypt) {
  std::uint8_t b[8];
  for (std::size_t i = 0; i < blocks; ++i) {
    std::memcpy(b, in + i * 8, 8);
    if (encrypt)
      EncipherBlock(b);
    else
      DecipherBlock(b);
    std::memcpy(out + i * 8, b, 8);
  }
  explicit_bzero(b, sizeof b);
}

// CFB with a 64-bit register, no padding: segments of up to 8 bytes; the
// segment's cipher text (the output when encrypting, the input when
// decrypting) is shifted into the register.  Safe when the output is the
// staging buffer itself.
void TCrypto::CfbBuffer(bool encrypt) {
  std::uint8_t* out = OutputArray;
  const std::size_t n = InputLength;
  std::uint8_t ks[8];
  std::uint8_t cipherText[8];
  for (std::size_t i = 0; i < n; i += 8) {
    const std::size_t seg = std::min<std::size_t>(8, n - i);
    std::memcpy(ks, chain_.data(), 8);
    EncipherBlock(ks);
    for (std::size_t k = 0; k < seg; ++k) {
      const std::uint8_t in = staging_[i + k];
      const std::uint8_t o = in ^ ks[k];
      cipherText[k] = encrypt ? o : in;
      out[i + k] = o;
    }
    std::memmove(chain_.data(), chain_.data() + seg, 8 - seg);
    std::memcpy(chain_.data() + 8 - seg, cipherText, seg);
  }
}

void TCrypto::EncipherBuffer() {
  std::uint8_t* out = OutputArray;
  if (CipherMode == CFBMode) return CfbBuffer(true);
  std::size_t n = PadStaging(staging_, InputLength);
  if (CipherMode == ECBMode) {
    EcbBlocks(staging_.data(), staging_.data(), n / 8, true);
    if (n > 0) std::memcpy(out, staging_.data(), n);
    return;
  }
  for (std::size_t i = 0; i < n; i += 8) {
    std::uint8_t* b = staging_.data() + i;
    if (CipherMode == CBCMode)
      for (int k = 0; k < 8; ++k) b[k] ^= chain_[k];
    EncipherBlock(b);
    if (CipherMode == CBCMode) std::memcpy(chain_.data(), b, 8);
  }
  if (n > 0) std::memcpy(out, staging_.data(), n);
}

void TCrypto::DecipherBuffer() {
  std::uint8_t* out = OutputArray;
  if (CipherMode == CFBMode) return CfbBuffer(false);
  std::size_t n = PadStaging(staging_, InputLength);
  if (CipherMode == ECBMode) {
    EcbBlocks(staging_.data(), staging_.data(), n / 8, false);
    if (n > 0) std::memcpy(out, staging_.data(), n);
    return;
  }
  std::uint8_t cipherText[8] = {};
  for (std::size_t i = 0; i < n; i += 8) {
    std::uint8_t* b = staging_.data() + i;
    if (CipherMode == CBCMode) std::memcpy(cipherText, b, 8);
    DecipherBlock(b);
    if (CipherMode == CBCMode) {
      for (int k = 0; k < 8; ++k) b[k] ^= chain_[k];
      std::memcpy(chain_.data(), cipherText, 8);
    }
  }
  if (n > 0) std::memcpy(out, staging_.data(), n);
}

// The file is processed in 4096-byte chunks in place; ECB and CBC pad the
// last chunk, so the output may be up to 7 bytes longer than the input.
void TCrypto::RunFile(bool encrypt) {
  const TFd in = OpenFd(InputFilePath, O_RDONLY);
  if (!in) throw std::system_error(errno, std::generic_category(), "cannot open " + InputFilePath);
  TFd out = OpenFd(OutputFilePath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!out)
    throw std::system_error(errno, std::generic_category(), "cannot create " + OutputFilePath);
  std::vector<std::uint8_t> chunk(kFileChunk + 8);
  std::uint8_t* const savedOut = OutputArray;
  OutputArray = chunk.data();
  try {
    for (;;) {
      std::size_t got = ReadFull(in.Get(), chunk.data(), kFileChunk, InputFilePath);
      InputLength = static_cast<std::uint16_t>(got);
      if (got > 0) {
        staging_.assign(chunk.data(), chunk.data() + got);
        if (encrypt)
          EncipherBuffer();
        else
          DecipherBuffer();
        WriteFull(out.Get(), chunk.data(), InputLength, OutputFilePath);
      }
      if (got < kFileChunk) break;
    }
  } catch (...) {
    OutputArray = savedOut;
    throw;
  }
  OutputArray = savedOut;
  if (const int err = out.Close(); err != 0)
    throw std::system_error(err, std::generic_category(), "cannot write " + OutputFilePath);
}

}  // namespace vx

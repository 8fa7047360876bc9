#pragma once
// The block cipher family: TCrypto turns a byte array, a string or a file into
// 8-byte block operations in ECB, CBC or CFB mode; TBlowFish supplies the key
// schedule and the block transformation.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vx {

enum TSourceType : std::uint8_t { SourceFile, SourceByteArray, SourceString };
enum TCipherMode : std::uint8_t { ECBMode, CBCMode, CFBMode };

class TCrypto {
 public:
  TCrypto();
  virtual ~TCrypto();  // wipes the key
  TCrypto(const TCrypto&) = delete;
  TCrypto& operator=(const TCrypto&) = delete;

  // Properties.
  void SetKey(const std::string& key);  // write-only
  TSourceType InputType = SourceByteArray;
  std::string InputFilePath;
  std::string OutputFilePath;
  std::string InputString;
  std::uint16_t InputLength = 0;
  TCipherMode CipherMode = ECBMode;
  std::string IVector;

  // Byte-array input and output (the output also receives SourceString results).
  const std::uint8_t* InputArray = nullptr;
  std::uint8_t* OutputArray = nullptr;

  // With continued false the key schedule is rebuilt (skipped when the key has
  // not changed since the last build: same result) and the chaining register
  // is reloaded from IVector.
  void Encrypt(bool continued = false);
  void Decrypt(bool continued = false);

 protected:
  virtual void EncipherBlock(std::uint8_t block[8]) = 0;
  virtual void DecipherBlock(std::uint8_t block[8]) = 0;
  virtual void SetupKey() = 0;
  virtual void EncipherBuffer();
  virtual void DecipherBuffer();
  // ECB over `blocks` whole 8-byte blocks from in to out (the same place or
  // apart).  The default calls EncipherBlock/DecipherBlock per block; a
  // cipher may run several blocks at once, with the same result.
  virtual void EcbBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                         bool encrypt);

  std::string key_;
  std::vector<std::uint8_t> staging_;
  std::size_t blockSize_ = 8;
  std::vector<std::uint8_t> chain_;  // allocated at the first CBC or CFB call
  bool scheduleValid_ = false;
  std::string scheduledKey_;

 private:
  void CfbBuffer(bool encrypt);
  bool DirectEcb(bool encrypt);
  void Prepare(bool continued);
  void RunFile(bool encrypt);
};

class TBlowFish : public TCrypto {
 public:
  TBlowFish();
  ~TBlowFish() override;

  // For tests: the raw block transformation with the current schedule.
  void EncryptBlock(std::uint8_t block[8]) { EncipherBlock(block); }
  void DecryptBlock(std::uint8_t block[8]) { DecipherBlock(block); }
  void BuildSchedule() { SetupKey(); }

 protected:
  void EncipherBlock(std::uint8_t block[8]) override;
  void DecipherBlock(std::uint8_t block[8]) override;
  void SetupKey() override;
  void EcbBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                 bool encrypt) override;

 private:
  std::array<std::uint32_t, 18> p_{};
  std::array<std::array<std::uint32_t, 256>, 4> s_{};
};

}  // namespace vx

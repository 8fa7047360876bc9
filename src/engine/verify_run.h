#pragma once
// Verify: unpacks every file of a set and compares it, block by block as it
// is unpacked, byte for byte with the file at its stored path.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/format.h"
#include "engine/operation_frame.h"
#include "engine/read_set.h"
#include "engine/vaultrex.h"

namespace vx {

class TVerifyRun {
 public:
  explicit TVerifyRun(TVaultrex& engine);
  int Run();

 private:
  void Body();
  void VerifyFile(const TDirRecord& record);
  // The metadata table (the set's last entry) against the disk: each item's
  // mode, owner, link text and modification time.
  void VerifyMetadata(const TDirRecord& record);
  // Logs and counts a file whose stored data cannot be trusted.
  void Failed(const TDirRecord& record, const std::string& reason);
  // Counts and logs a comparison's code; gives the outcome reported.
  TVaultrex::TVerifyOutcome Count(const TDirRecord& record, int code, int openError = 0);
  void WriteSummary() const;

  TVaultrex& engine_;
  TOperationFrame frame_;
  std::unique_ptr<TReadSet> set_;
  std::vector<std::uint8_t> diskBytes_;
  int ok_ = 0;
  int missing_ = 0;
  int different_ = 0;
  int other_ = 0;
  // Items whose metadata differ, per kind.
  int modeDiffers_ = 0;
  int ownerDiffers_ = 0;
  int linkDiffers_ = 0;
  int timeDiffers_ = 0;
  bool failed_ = false;
};

}  // namespace vx

#pragma once
// DeleteFiles: removes files from a backup set without unpacking it.
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/format.h"
#include "engine/operation_frame.h"
#include "platform/temp_files.h"

namespace vx {

class TVaultrex;
class TReadSet;

class TDeleteRun {
 public:
  explicit TDeleteRun(TVaultrex& engine);
  int Run();

 private:
  void CheckSettings() const;
  void Body();
  // Writes the new archive: the header as read, the kept records, and the
  // kept files' blocks as stored.  Returns the kept records.
  std::vector<TDirRecord> CopyKept(TReadSet& set, TArchiveStream& out);
  void WriteDirectory(TArchiveStream& out, const std::vector<TDirRecord>& kept) const;
  void ReplaceOneFileSet(const std::string& setFile);
  void CopyBackVolumes(const std::string& archivePath);
  // Makes the entries of the set's folder durable; a failure fails the run.
  void FlushSetFolder(const std::string& setFile) const;

  TVaultrex& engine_;
  TOperationFrame frame_;
  std::unique_ptr<TTempFile> temp_;
  bool copyBackStarted_ = false;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace vx

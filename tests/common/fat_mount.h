#pragma once
// A small FAT file system for tests, mounted through FUSE (fusefat) in a
// fresh folder and unmounted by the destructor: names that differ only in
// letter case are one file there.  Ready() is false, with the reason in
// Error(), where FUSE, mkfs.vfat or fusefat is missing.
#include <string>

#include "common/temp_folder.h"

namespace vx::test {

class TFatMount {
 public:
  explicit TFatMount(int sizeMb = 40);
  ~TFatMount();
  TFatMount(const TFatMount&) = delete;
  TFatMount& operator=(const TFatMount&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Error() const { return error_; }
  // The mounted folder.
  std::string Path() const { return mount_; }

 private:
  TTempFolder dir_{"fat"};
  std::string mount_;
  bool ready_ = false;
  std::string error_;
};

}  // namespace vx::test

#include "common/fat_mount.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vx::test {
namespace {

// Runs a shell command; true when it ended with 0.
bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

TFatMount::TFatMount(int sizeMb) {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) {
    error_ = "/dev/fuse cannot be opened";
    return;
  }
  const std::string image = dir_ / "fat.img";
  mount_ = dir_ / "mnt";
  ::mkdir(mount_.c_str(), 0700);
  if (!Shell("truncate -s " + std::to_string(sizeMb) + "M '" + image + "' && mkfs.vfat '" + image +
             "' >/dev/null 2>&1")) {
    error_ = "mkfs.vfat (dosfstools) is missing or failed";
    return;
  }
  if (!Shell("fusefat -o rw+ '" + image + "' '" + mount_ + "' >/dev/null 2>&1")) {
    error_ = "fusefat is missing or could not mount the image";
    return;
  }
  ready_ = true;
}

TFatMount::~TFatMount() {
  if (ready_) (void)Shell("fusermount3 -u '" + mount_ + "' 2>/dev/null || umount '" + mount_ + "'");
}

}  // namespace vx::test

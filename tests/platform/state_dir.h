#pragma once
// Points the archive-bit store at a private folder for one test and puts the
// environment back afterwards.
#include <cstdlib>
#include <string>

#include "support/scratch_dir.h"

namespace vx::test {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) ::setenv(name_.c_str(), old_.c_str(), 1);
    else ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, old_;
  bool had_ = false;
};

struct StateDir {
  ScratchDir dir;
  ScopedEnv env{"VAULTIX_STATE_DIR", dir / "state"};
};

}  // namespace vx::test

#pragma once
// The engine's exception classes.  Each stands for one result code and carries
// it, so that an operation maps an exception to its code without asking for
// the class; the archive stream raises them too.
#include <stdexcept>
#include <string>
#include <system_error>

namespace vx {

// The system's reason for an errno value, worded as strerror(3) words it
// ("No such file or directory", "Too many open files").
inline std::string SystemReason(int error) { return std::generic_category().message(error); }

// A message that names what failed and why: "<text>: <path>: <reason>".
// The text stays as it is; the path and the system's reason follow it.
inline std::string WithReason(const std::string& text, const std::string& path, int error) {
  return text + ": " + path + ": " + SystemReason(error);
}

// The code of an exception no operation has a code of its own for.
inline constexpr int kOtherErrorCode = 99;

class EVX_Error : public std::runtime_error {
 public:
  explicit EVX_Error(const std::string& what, int code = kOtherErrorCode)
      : std::runtime_error(what), code_(code) {}
  explicit EVX_Error(const char* what, int code = kOtherErrorCode)
      : std::runtime_error(what), code_(code) {}
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

#define VX_ENGINE_ERROR(Name, ResultCode)                                   \
  class Name : public EVX_Error {                                           \
   public:                                                                  \
    static constexpr int kCode = ResultCode;                                \
    explicit Name(const std::string& what) : EVX_Error(what, ResultCode) {} \
    explicit Name(const char* what) : EVX_Error(what, ResultCode) {}        \
  };

VX_ENGINE_ERROR(EVX_ParameterError, 1)
VX_ENGINE_ERROR(EVX_DiskFullError, 2)
VX_ENGINE_ERROR(EVX_ZipError, 3)
VX_ENGINE_ERROR(EVX_FileOpenError, 4)
VX_ENGINE_ERROR(EVX_FileReadError, 5)
VX_ENGINE_ERROR(EVX_BackupWriteError, 6)
VX_ENGINE_ERROR(EVX_CreateStreamError, 7)
VX_ENGINE_ERROR(EVX_NoProperBackup, 8)
VX_ENGINE_ERROR(EVX_BackupReadError, 9)
VX_ENGINE_ERROR(EVX_TapeError, 10)
VX_ENGINE_ERROR(EVX_FileWriteError, 11)
VX_ENGINE_ERROR(EVX_UserAbortion, 12)
VX_ENGINE_ERROR(EVX_WrongMedium, 13)
VX_ENGINE_ERROR(EVX_WrongPassword, 14)
VX_ENGINE_ERROR(EVX_FTPError, 15)
// Another run writes the set (or reads it while this one would write it).
VX_ENGINE_ERROR(EVX_SetInUse, 18)
VX_ENGINE_ERROR(EVX_VerificationFailed, 98)
// A restored file's checksum differs: the restore logs it for that file and
// goes on; it has no result code of its own.
VX_ENGINE_ERROR(EVX_CRCError, kOtherErrorCode)

#undef VX_ENGINE_ERROR

}  // namespace vx

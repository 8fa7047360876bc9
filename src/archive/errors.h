#pragma once
// The engine's exception classes.  Each carries only a message text and stands
// for one result code; the archive stream raises them too.
#include <stdexcept>
#include <string>

namespace vx {

class EVX_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#define VX_ENGINE_ERROR(Name)                 \
  class Name : public EVX_Error {             \
   public:                                    \
    using EVX_Error::EVX_Error;               \
  };

VX_ENGINE_ERROR(EVX_ParameterError)      // 1
VX_ENGINE_ERROR(EVX_DiskFullError)       // 2
VX_ENGINE_ERROR(EVX_ZipError)            // 3
VX_ENGINE_ERROR(EVX_FileOpenError)       // 4
VX_ENGINE_ERROR(EVX_FileReadError)       // 5
VX_ENGINE_ERROR(EVX_BackupWriteError)    // 6
VX_ENGINE_ERROR(EVX_CreateStreamError)   // 7
VX_ENGINE_ERROR(EVX_NoProperBackup)      // 8
VX_ENGINE_ERROR(EVX_BackupReadError)     // 9
VX_ENGINE_ERROR(EVX_TapeError)           // 10
VX_ENGINE_ERROR(EVX_FileWriteError)      // 11
VX_ENGINE_ERROR(EVX_UserAbortion)        // 12
VX_ENGINE_ERROR(EVX_WrongMedium)         // 13
VX_ENGINE_ERROR(EVX_WrongPassword)       // 14
VX_ENGINE_ERROR(EVX_FTPError)            // 15
VX_ENGINE_ERROR(EVX_VerificationFailed)  // 98
VX_ENGINE_ERROR(EVX_CRCError)            // checksum mismatch of one restored file

#undef VX_ENGINE_ERROR

}  // namespace vx

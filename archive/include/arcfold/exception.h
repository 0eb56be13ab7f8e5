// The component's one exception type: a specific code (NativeError), its
// message category (ErrorCode) and the composed English message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/wide.h"

namespace arcfold {

class TAFBaseArchiver;

// One argument of CreateFmt: a wide string for "%s", an integer for "%d".
using TAFFmtArg = std::variant<afp::WideString, std::string, int64_t>;

// The specific codes of the component's failures (EAFException::NativeError,
// the NativeError of a failure event). The numbers are stored in messages and
// seen by callers, so they never change; codes of one message share its name.
enum class NativeError : int {
  kUnknown = 0,
  kPutItemOutOfBounds = 1,
  kGetItemOutOfBounds = 2,
  kItemRefOutOfBounds = 3,
  kDeleteItemOutOfBounds = 4,
  kInvalidCompressionLevel = 5,
  kNilPointer = 6,
  kSavedItemOutOfBounds = 7,
  kInvalidSizeOrChecksum = 8,
  kBlankFileName = 9,
  kBlankFileNameForMode = 10,
  kFileNotFound = 11,
  kArchiveFileNotFound = 12,
  kArchiveNotOpen = 13,
  kArchiveNotOpen14 = 14,
  kFileNotFound15 = 15,
  kItemOutOfBounds = 16,
  kNoSFXStub = 17,
  kFileNotFound18 = 18,
  kCannotCreateFile = 19,
  kCannotCreateDirectory = 20,
  kDeletedItemOutOfBounds = 21,
  kDeleteOutsideUpdate = 22,
  kCannotCreateFile23 = 23,
  kUpdatedItemOutOfBounds = 24,
  kUpdateItemOutsideUpdate = 25,
  kUpdateNotEnded = 26,
  kCannotDeleteFile = 27,
  kInMemoryCreateOnly = 28,
  kBlankFileNameLeavingMemory = 29,
  kFileNotFound30 = 30,
  kVolumesNeedCreateMode = 31,
  kReadOnlyArchive = 32,
  kCannotOpenFile = 33,
  kInvalidCompressedSize = 34,
  kInvalidArchiveFile = 35,
  kCannotCreateOutputFile = 36,
  kVolumesAlreadyWritten = 37,
  kFileNotFound38 = 38,
  kUnableToCreateDirectory = 39,
  kNoZip64EndRecord = 40,
  kZip64Refused = 41,
  kFileNotFound42 = 42,
  kZip64RefusedForItem = 43,
  kVolumesNotRecoverable = 44,
  kVolumeNotFound = 45,
  kWriteToStreamFailed = 46,
  kSFXStubExceedsVolume = 47,
  kArchiveDamaged = 48,
  kMakeSFXOnVolumes = 49,
  kAlreadyHasSFXStub = 50,
  kVolumesOnCustomStream = 51,
  kSpannedArchiveModified = 52,
  kFileNotFound53 = 53,
  kFileNotFound54 = 54,
  kDeflate64Unsupported = 55,
  kMakeSFXFailed = 56,
  kItemsPastArchiveEnd = 57,
  kNameIndexGap = 58,
  kDuplicateName = 59,
  kCannotDeleteFolder = 60,
  kFileNameTooLong = 61,
  kMultipleTransactions = 62,
  kInvalidInitVectorIndex = 63,
  kInvalidInitVectorIndex64 = 64,
  kDiskFull = 65,
  kDiskFull66 = 66,
  kInvalidPassword = 67,
};

// A code as a number (what events and NativeError() carry) is compared with
// its name directly.
constexpr bool operator==(int code, NativeError name) { return code == static_cast<int>(name); }

class EAFException : public std::runtime_error {
 public:
  static EAFException Create(int native_error, const TAFBaseArchiver* archiver = nullptr);
  static EAFException CreateFmt(int native_error, const TAFBaseArchiver* archiver, const std::vector<TAFFmtArg>& args);
  static EAFException Create(arcfold::NativeError code, const TAFBaseArchiver* archiver = nullptr) {
    return Create(static_cast<int>(code), archiver);
  }
  static EAFException CreateFmt(arcfold::NativeError code, const TAFBaseArchiver* archiver,
                                const std::vector<TAFFmtArg>& args) {
    return CreateFmt(static_cast<int>(code), archiver, args);
  }
  // The same failure again, from what a failure event was given (its codes
  // and its finished message), so that it can be raised later.
  static EAFException Reraised(int native_error, int error_code, const std::string& message) {
    return EAFException(error_code, native_error, message);
  }
  static EAFException Reraised(arcfold::NativeError code, int error_code, const std::string& message) {
    return Reraised(static_cast<int>(code), error_code, message);
  }

  int ErrorCode() const { return error_code_; }
  int NativeError() const { return native_error_; }

  // The category of a specific code (0 for a code not in the table).
  static int CategoryOf(int native_error);
  static int CategoryOf(arcfold::NativeError code) { return CategoryOf(static_cast<int>(code)); }
  // The message table text of a category (empty outside 0..40).
  static const char* MessageText(int error_code);
  static constexpr int kMessageCount = 41;
  static constexpr int kCodeCount = 68;

 private:
  EAFException(int error_code, int native_error, const std::string& message)
      : std::runtime_error(message), error_code_(error_code), native_error_(native_error) {}
  int error_code_;
  int native_error_;
};

// Builds the message without raising (shared by both constructors).
std::string ComposeAFMessage(int native_error, const std::string& component_name, const std::vector<TAFFmtArg>* args);

// A failure of the archive stream (read past end, write refused, ...): these
// travel as their own type, as stream class errors do.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// An inflate failure.
class EDecompressionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace arcfold

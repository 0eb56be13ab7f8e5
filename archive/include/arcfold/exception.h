/// @file
/// The library's exceptions. Every one derives from arcfold::EAFError (a
/// std::runtime_error): the component's own EAFException, with its specific
/// code and message category, and the stream and decompression failures.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "arcfold/export.h"
#include "arcfold/platform/wide.h"

namespace arcfold {

class TAFBaseArchiver;

/// One argument of CreateFmt: a wide string for "%s", an integer for "%d".
using TAFFmtArg = std::variant<afp::WideString, std::string, int64_t>;

/// The specific codes of the component's failures (EAFException::NativeError,
/// the NativeError of a failure event). The numbers are stored in messages and
/// seen by callers, so they never change; codes of one message share its name.
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

/// A code as a number (what events and NativeError() carry) is compared with
/// its name directly.
constexpr bool operator==(int code, NativeError name) { return code == static_cast<int>(name); }

/// The base of every exception the library throws: catch it to catch them
/// all. what() is the English message (paths in it are spelled with the
/// platform's separator); NativeError() the number that says which failure
/// it was: an EAFException's specific code (arcfold::NativeError), or for a
/// file that could not be opened the system's error number (errno,
/// GetLastError()); 0 when there is none.
class ARCFOLD_API EAFError : public std::runtime_error {
 public:
  /// A failure with its message and its number (0: none).
  explicit EAFError(const std::string& message, int native_error = 0)
      : std::runtime_error(message), native_error_(native_error) {}
  /// The failure's number (see the class); 0 when there is none.
  int NativeError() const { return native_error_; }

 private:
  int native_error_;
};

/// A failure the component detects, with its specific code (NativeError(),
/// one of arcfold::NativeError), its message category (ErrorCode()) and the
/// composed message ("Arcfold: Archive is not open - Native error: 00013").
class ARCFOLD_API EAFException : public EAFError {
 public:
  /// The failure of a specific code, its message naming the archiver's
  /// component (archiver may be null).
  ///@{
  static EAFException Create(int native_error, const TAFBaseArchiver* archiver = nullptr);
  static EAFException Create(arcfold::NativeError code, const TAFBaseArchiver* archiver = nullptr) {
    return Create(static_cast<int>(code), archiver);
  }
  ///@}
  /// As Create, with the message's "%s" and "%d" filled from args in order.
  ///@{
  static EAFException CreateFmt(int native_error, const TAFBaseArchiver* archiver, const std::vector<TAFFmtArg>& args);
  static EAFException CreateFmt(arcfold::NativeError code, const TAFBaseArchiver* archiver,
                                const std::vector<TAFFmtArg>& args) {
    return CreateFmt(static_cast<int>(code), archiver, args);
  }
  ///@}
  /// The same failure again, from what a failure event was given (its codes
  /// and its finished message), so that it can be raised later.
  ///@{
  static EAFException Reraised(int native_error, int error_code, const std::string& message) {
    return EAFException(error_code, native_error, message);
  }
  static EAFException Reraised(arcfold::NativeError code, int error_code, const std::string& message) {
    return Reraised(static_cast<int>(code), error_code, message);
  }
  ///@}

  /// The message category (0..40), the index of MessageText.
  int ErrorCode() const { return error_code_; }

  /// The category of a specific code (0 for a code not in the table).
  ///@{
  static int CategoryOf(int native_error);
  static int CategoryOf(arcfold::NativeError code) { return CategoryOf(static_cast<int>(code)); }
  ///@}
  /// The message table text of a category (empty outside 0..40).
  static const char* MessageText(int error_code);
  static constexpr int kMessageCount = 41;  ///< The categories, 0..40.
  static constexpr int kCodeCount = 68;     ///< The specific codes, 0..67.

 private:
  EAFException(int error_code, int native_error, const std::string& message)
      : EAFError(message, native_error), error_code_(error_code) {}
  int error_code_;
};

/// The message of a specific code as EAFException composes it ("%s" and
/// "%d" filled from args when it is not null), without raising it.
ARCFOLD_API std::string ComposeAFMessage(int native_error, const std::string& component_name,
                                         const std::vector<TAFFmtArg>* args);

/// A failure of an archive stream (read past its end, a write refused, a
/// file that cannot be opened): these travel as their own types, as stream
/// class errors do. NativeError() is the system's error number when the
/// system gave one.
class ARCFOLD_API EStreamError : public EAFError {
 public:
  using EAFError::EAFError;
};
/// A file that cannot be opened or created; the message names it, and
/// NativeError() is the system's error number (errno, GetLastError()).
class ARCFOLD_API EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
/// A read that got fewer bytes than it needed, or a stream that cannot read.
class ARCFOLD_API EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
/// A write that moved fewer bytes than it was given, or a stream that
/// cannot write.
class ARCFOLD_API EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
/// An inflate failure.
class ARCFOLD_API EDecompressionError : public EAFError {
 public:
  using EAFError::EAFError;
};

}  // namespace arcfold

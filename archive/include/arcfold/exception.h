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

class EAFException : public std::runtime_error {
 public:
  static EAFException Create(int native_error, const TAFBaseArchiver* archiver = nullptr);
  static EAFException CreateFmt(int native_error, const TAFBaseArchiver* archiver, const std::vector<TAFFmtArg>& args);
  // The same failure again, from what a failure event was given (its codes
  // and its finished message), so that it can be raised later.
  static EAFException Reraised(int native_error, int error_code, const std::string& message) {
    return EAFException(error_code, native_error, message);
  }

  int ErrorCode() const { return error_code_; }
  int NativeError() const { return native_error_; }

  // The category of a specific code (0 for a code not in the table).
  static int CategoryOf(int native_error);
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

// Event dispatchers: the assigned handler, or the built-in default.
#include <fmt/format.h>

#include <algorithm>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "items/path_parts.h"
#include "platform/files.h"

namespace arcfold {

using paths::Backslashed;

namespace {

std::string U8(const afp::WideString& s) { return afp::ToUtf8(s); }

}  // namespace

void TAFBaseArchiver::DoAfterOpen() {
  if (AfterOpen) AfterOpen(this);
}

void TAFBaseArchiver::DoArchiveBusy(const afp::WideString& file_name, bool& cancel) {
  cancel = false;
  if (OnArchiveBusy) OnArchiveBusy(this, file_name, cancel);
}

void TAFBaseArchiver::DoOverallProgress(double progress, TAFProcessOperation op, TAFProgressPhase phase, bool& cancel) {
  if (OnOverallProgress)
    OnOverallProgress(this, progress, op, phase, cancel);
  else
    cancel = false;
}

void TAFBaseArchiver::DoFileProgress(const afp::WideString& file_name, double progress, TAFProcessOperation op,
                                     TAFProgressPhase phase, bool& cancel) {
  if (OnFileProgress)
    OnFileProgress(this, Backslashed(file_name), progress, op, phase, cancel);
  else
    cancel = false;
}

void TAFBaseArchiver::DoCopyTempFileProgress(double progress, TAFProgressPhase phase, bool& cancel) {
  cancel = false;
  if (OnCopyTempFileProgress) OnCopyTempFileProgress(this, progress, phase, cancel);
}

void TAFBaseArchiver::DoConfirmOverwrite(const afp::WideString& source, afp::WideString& dest, bool& confirm) {
  if (OnConfirmOverwrite) {
    OnConfirmOverwrite(this, source, dest, confirm);
    return;
  }
  std::string text = fmt::format("Overwrite file \"{}\" with \"{}\"", U8(dest), U8(source));
  switch (Session().PromptsInUse().Ask(text, afp::PromptButtons::YesNoNoToAllYesToAll)) {
    case afp::PromptAnswer::Yes: confirm = true; break;
    case afp::PromptAnswer::YesToAll:
      confirm = true;
      Options().OverwriteMode = omAlways;
      break;
    case afp::PromptAnswer::NoToAll:
      confirm = false;
      Options().OverwriteMode = omNever;
      break;
    default: confirm = false; break;
  }
}

void TAFBaseArchiver::DoConfirmProcessFile(const afp::WideString& file_name, TAFProcessOperation op, bool& confirm) {
  confirm = true;
  if (OnConfirmProcessFile) OnConfirmProcessFile(this, file_name, op, confirm);
}

void TAFBaseArchiver::DoPassword(const afp::WideString& file_name, std::string& new_password, bool& skip) {
  if (OnPassword) {
    OnPassword(this, file_name, new_password, skip);
    return;
  }
  std::string caption = fmt::format("Password for \"{}\"", U8(file_name));
  std::string entered;
  if (Session().PromptsInUse().AskPassword(caption, "Enter password: ", entered)) {
    new_password = entered;
    skip = false;
  } else {
    skip = true;
  }
}

void TAFBaseArchiver::DoProcessFileFailure(const afp::WideString& file_name, TAFProcessOperation op, int native_error,
                                           int error_code, const afp::WideString& message, TAFAction& action) {
  action = fxaIgnore;
  if (OnProcessFileFailure) {
    OnProcessFileFailure(this, file_name, op, native_error, error_code, message, action);
    return;
  }
  afp::PromptAnswer answer;
  if (native_error == NativeError::kVolumeNotFound) {
    action = fxaAbort;
    return;
  } else if (native_error == NativeError::kFileNameTooLong) {
    answer = Session().PromptsInUse().Ask(U8(message), afp::PromptButtons::AbortIgnore);
  } else {
    answer = Session().PromptsInUse().Ask(fmt::format("{}. File processing error, possibly disk is full", U8(message)),
                                          afp::PromptButtons::AbortRetryIgnore);
  }
  action = answer == afp::PromptAnswer::Retry ? fxaRetry : answer == afp::PromptAnswer::Ignore ? fxaIgnore : fxaAbort;
}

namespace {
bool AskOk(afp::Prompts& p, const std::string& text) {
  return p.Ask(text, afp::PromptButtons::OkCancel) == afp::PromptAnswer::Ok;
}
}  // namespace

void TAFBaseArchiver::DoRequestBlankVolume(int volume_number, afp::WideString& volume_file_name, bool& cancel) {
  cancel = false;
  VolumeFileName(volume_file_name, std::max(volume_number, 0), false);
  if (OnRequestBlankVolume) {
    OnRequestBlankVolume(this, std::max(volume_number, 0) + 1, volume_file_name, cancel);
    return;
  }
  if (SpanningMode() != smSpanning) return;
  cancel =
      !AskOk(Session().PromptsInUse(), fmt::format("Please insert a blank disk #{}", std::max(volume_number, 0) + 1));
}

void TAFBaseArchiver::DoRequestFirstVolume(afp::WideString& volume_file_name, bool& cancel) {
  cancel = false;
  const afp::WideString given = volume_file_name;
  VolumeFileName(volume_file_name, 0, !OnRequestFirstVolume);
  if (OnRequestFirstVolume) {
    OnRequestFirstVolume(this, volume_file_name, cancel);
    return;
  }
  if (SpanningMode() == smSpanning) {
    cancel = !AskOk(Session().PromptsInUse(), "Please insert the first disk");
    // The disk now in the drive decides which naming finds the volume.
    volume_file_name = given;
    VolumeFileName(volume_file_name, 0, true);
  } else {
    cancel = OpenMode() != fmCreate && !afp::FileExists(volume_file_name);
  }
}

void TAFBaseArchiver::DoRequestLastVolume(afp::WideString& volume_file_name, bool& cancel) {
  cancel = false;
  VolumeFileName(volume_file_name, -1, !OnRequestLastVolume);
  if (OnRequestLastVolume) {
    OnRequestLastVolume(this, volume_file_name, cancel);
    return;
  }
  if (SpanningMode() != smSpanning) {
    cancel = !afp::FileExists(volume_file_name);
    return;
  }
  cancel = !AskOk(Session().PromptsInUse(), "Please insert the last disk");
  while (!cancel && !afp::FileExists(volume_file_name))
    cancel = !AskOk(Session().PromptsInUse(),
                    fmt::format("File '{}' not found on inserted disk. Please insert last disk with "
                                "required file",
                                U8(volume_file_name)));
}

void TAFBaseArchiver::DoRequestMiddleVolume(int volume_number, afp::WideString& volume_file_name, bool& cancel) {
  cancel = false;
  const afp::WideString given = volume_file_name;
  VolumeFileName(volume_file_name, volume_number, !OnRequestMiddleVolume);
  if (OnRequestMiddleVolume) {
    OnRequestMiddleVolume(this, volume_number + 1, volume_file_name, cancel);
    return;
  }
  if (SpanningMode() == smSpanning)
    cancel = !AskOk(Session().PromptsInUse(), fmt::format("Please insert disk #{}", volume_number + 1));
  else
    cancel = !afp::FileExists(volume_file_name);
  volume_file_name = given;
  VolumeFileName(volume_file_name, volume_number, true);
}

void TAFBaseArchiver::DoDiskFull(int volume_number, const afp::WideString& volume_file_name, bool& cancel) {
  cancel = false;
  if (OnDiskFull) {
    OnDiskFull(this, volume_number + 1, volume_file_name, cancel);
    return;
  }
  if (SpanningMode() != smSpanning) throw EAFException::Create(NativeError::kDiskFull);
  int64_t required = SpanningOptions().LimitOf(std::max(volume_number, 0));
  int64_t available = afp::FreeDiskSpace(volume_file_name);
  cancel = !AskOk(Session().PromptsInUse(),
                  fmt::format("Disk is full. Required free space: {} bytes, but available only: {} "
                              "bytes. Clean the disk or find another blank disk",
                              required, available));
}

void TAFBaseArchiver::DoStoreFile(afp::WideString& file_name, int32_t& attr, std::string& comment,
                                  const afp::WideString& original) {
  if (!OnStoreFile) return;
  file_name = Backslashed(file_name);
  OnStoreFile(this, file_name, attr, comment, original);
  std::replace(file_name.begin(), file_name.end(), u'\\', u'/');
}

void TAFBaseArchiver::DoExtractFile(afp::WideString& file_name, uint32_t& attr, const std::string& comment) {
  file_name = Backslashed(file_name);
  if (OnExtractFile) OnExtractFile(this, file_name, attr, comment);
}

}  // namespace arcfold

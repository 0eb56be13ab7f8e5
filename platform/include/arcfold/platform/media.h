/// @file
/// What the volumes of a multi-volume archive need to know of the medium
/// they are written to or read from. A program (or a test) may stand its own
/// media in, such as a set of removable disks that a handler "inserts".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "arcfold/platform/export.h"
#include "arcfold/platform/files.h"

namespace afp {

/// The drives volumes are written to and read from (TAFBaseArchiver::Media).
class ARCFOLD_API VolumeMedia {
 public:
  virtual ~VolumeMedia() = default;
  /// The drive of path takes disks that are changed (a volume per disk).
  virtual bool IsRemovable(std::u16string_view path) { return IsRemovablePath(path); }
  /// Bytes that may still be written on the drive of path; -1 when unknown.
  virtual int64_t FreeSpace(std::u16string_view path) { return FreeDiskSpace(path); }
  /// Gives the medium of path a label; false when it cannot.
  virtual bool SetLabel(std::u16string_view path, const std::string& label) { return SetVolumeLabel(path, label); }
  /// The spelling under which a volume's file is found (see ExistingSpelling).
  virtual WideString Spelling(std::u16string_view path) { return ExistingSpelling(path); }
};

/// The operating system's own drives.
ARCFOLD_API VolumeMedia& SystemMedia();

}  // namespace afp

// Turning a path on disk into the name an item is stored under.
#pragma once

#include "arcfold/types.h"
#include "platform/wide.h"

namespace arcfold {

// The absolute, "\"-separated form of path, against the current folder when
// it is relative, with "." and ".." segments resolved by their text.
afp::WideString ExpandFileName(const afp::WideString& path);

// The stored name ("/" separators) of source under base by the StorePath
// mode: no path, the path relative to base (the full one when source is not
// below base), the full path, or the full path with its drive. Drive or
// share and the leading separator are cut except for spFullPathWithDrive.
// Empty when nothing remains.
afp::WideString StoredNameForFile(const afp::WideString& source, const afp::WideString& base, TAFStorePathMode mode);

}  // namespace arcfold

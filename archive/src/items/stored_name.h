// Turning a path on disk into the name an item is stored under.
#pragma once

#include "arcfold/types.h"
#include "platform/wide.h"

namespace arcfold {

// The absolute, "\"-separated form of path, against the current folder when
// it is relative, with "." and ".." segments resolved by their text.
afp::WideString ExpandFileName(const afp::WideString& path);

// The deepest folder (ending in "\") that holds both expanded paths; empty
// when they are on different drives or shares. Folder names compare as the
// system's file names do.
afp::WideString CommonFolder(const afp::WideString& a, const afp::WideString& b);

// The stored name ("/" separators) of source under base by the StorePath
// mode: no path, the path relative to base (a source beside or above base:
// relative to the folder that holds both; on another drive: the full path),
// the full path, or the full path with its drive. Drive or
// share and the leading separator are cut except for spFullPathWithDrive.
// Empty when nothing remains.
afp::WideString StoredNameForFile(const afp::WideString& source, const afp::WideString& base, TAFStorePathMode mode);
// StoredNameForFile with the base already expanded, ending in "\": one
// expansion for all the files added under one base.
afp::WideString StoredNameUnder(const afp::WideString& source, const afp::WideString& base_folder,
                                TAFStorePathMode mode);

}  // namespace arcfold

// An extracted file while it is being made: a new file with a name of its
// own beside where it will go, then the item's time and attributes put on
// it before it is renamed into place.
#pragma once

#include <cstdint>
#include <memory>

#include "arcfold/stream.h"
#include "platform/wide.h"

namespace arcfold {

struct TDirItem;

// A new, empty file in `folder` under a name nobody else uses; null when
// the folder refuses it. `path` receives its name.
std::unique_ptr<TFileStream> CreateFileBeside(const afp::WideString& folder, afp::WideString& path);

// The item's modification time, then its attributes (`attr`, with the
// permission bits of Unix-made archives) when `set_attributes`, through the
// open handle: one call each, no path lookup.
void FinishFile(TFileStream& out, const TDirItem& item, uint32_t attr, bool set_attributes);

// Flushes out when its folder is on a removable drive. Whether the drive is
// one is asked once per folder: checked_for and removable keep the last
// answer (an empty checked_for: none yet).
void FlushIfRemovable(TFileStream& out, const afp::WideString& folder, afp::WideString& checked_for, bool& removable);

// Deletes a file made here that is not wanted after all, read-only or not
// (Windows refuses to delete a read-only file).
void DiscardFile(const afp::WideString& path);

}  // namespace arcfold

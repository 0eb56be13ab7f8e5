// The overwrite rules, one for both directions: extraction replacing a file
// on disk by an item, updating replacing an item by a file.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/wide.h"

namespace arcfold {

class TAFBaseArchiver;

// One side of an overwrite: the one that is there, or the one that would
// replace it.
struct OverwriteSide {
  afp::WideString name;               // as the overwrite question shows it
  std::function<int32_t()> dos_time;  // asked only when the mode compares times
};

// Whether incoming may replace existing (whose attributes are
// existing_attributes): never a read-only one unless ReplaceReadOnly, then
// as OverwriteMode says; omPrompt asks the overwrite question, whose handler
// may change existing.name.
bool MayOverwrite(TAFBaseArchiver& archiver, uint32_t existing_attributes, OverwriteSide& existing,
                  const OverwriteSide& incoming);

}  // namespace arcfold

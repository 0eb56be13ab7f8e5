#include "items/overwrite_rule.h"

#include "arcfold/arcfold.h"
#include "platform/files.h"

namespace arcfold {

bool MayOverwrite(TAFBaseArchiver& archiver, uint32_t existing_attributes, OverwriteSide& existing,
                  const OverwriteSide& incoming) {
  const TAFOptions& options = archiver.Options();
  if (!options.ReplaceReadOnly && (existing_attributes & afp::kAttrReadOnly)) return false;
  switch (options.OverwriteMode) {
    case omAlways: return true;
    case omNever: return false;
    case omIfNewer: return incoming.dos_time() > existing.dos_time();
    case omIfOlder: return incoming.dos_time() < existing.dos_time();
    case omPrompt: {
      bool confirm = false;
      archiver.DoConfirmOverwrite(incoming.name, existing.name, confirm);
      return confirm;
    }
  }
  return false;
}

}  // namespace arcfold

// The listing of an archive's items, printed as it is walked: each line
// goes out before the next item is looked at, so memory does not grow
// with the number of items.
#pragma once

#include <cstdint>
#include <cstdio>

#include "arcfold/arcfold.h"
#include "masks.h"

namespace arcfold_cli {

enum class ListFormat { Plain, Long, Json };

struct ListTotals {
  int64_t items = 0, size = 0, packed = 0;
  bool stopped = false;  // a stop request ended the listing early
};

// The first item at or after from that masks select (every item without
// masks); -1 when none does.
int NextSelected(const arcfold::TAFBaseArchiver& a, const NameMasks& masks, int from);
// Lists the items masks select, from the first of them.
ListTotals PrintListing(const arcfold::TAFBaseArchiver& a, const NameMasks& masks, int first, ListFormat format,
                        std::FILE* out);

}  // namespace arcfold_cli

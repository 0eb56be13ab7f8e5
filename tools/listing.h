// The listing of an archive's items, printed as the archive's directory is
// read: each line goes out before the next item is read, so memory does not
// grow with the number of items.
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

// A listing printed as its items come: the header with the first item,
// each item's line (or JSON object) at once, the totals at the end.
class ListingPrinter {
 public:
  ListingPrinter(ListFormat format, std::FILE* out) : format_(format), out_(out) {}
  void Add(const arcfold::TDirItem& item);
  // The totals (after the header, when no item came).
  void Finish();
  const ListTotals& Totals() const { return totals_; }
  void SetStopped() { totals_.stopped = true; }

 private:
  ListFormat format_;
  std::FILE* out_;
  ListTotals totals_;
  bool header_printed_ = false;
};

}  // namespace arcfold_cli

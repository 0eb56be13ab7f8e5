// The tool's one rule for the masks of every command (list, extract, test,
// delete, and the exclusions of add, update and move):
// - a mask without "/" is matched against the last part of a name, at any
//   depth ("*.txt" selects "a.txt" and "docs/sub/b.txt");
// - a mask with "/" is matched against the whole name ("docs/*.txt");
// - a mask that selects a folder selects all that the folder holds, whether
//   or not the archive has an item for the folder itself; a mask that ends
//   in "/" selects folders only.
// "*" and "?" work as in the archive component ("*" may span "/"), and
// letter case does not matter.
#pragma once

#include <string>
#include <vector>

#include "platform/wide.h"

namespace arcfold_cli {

class NameMasks {
 public:
  explicit NameMasks(const std::vector<std::string>& masks);
  bool Empty() const { return masks_.empty(); }
  // Whether a mask selects name ("/" separators; a folder ends in "/"),
  // itself or through a folder that holds it.
  bool Selects(const afp::WideString& name) const;

 private:
  struct Mask {
    afp::WideString text;
    bool whole_path = false;    // it has a "/": matched against whole names
    bool folders_only = false;  // it ends in "/"
  };
  std::vector<Mask> masks_;
};

}  // namespace arcfold_cli

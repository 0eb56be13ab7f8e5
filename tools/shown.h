// Text from an archive as the tool prints it.
#pragma once

#include <string>

#include "platform/wide.h"

namespace arcfold_cli {

// Control characters (C0, DEL and C1) shown escaped, so that a name cannot
// move the cursor, clear the screen or retitle the terminal.
std::string Printable(const std::string& utf8);
// An item's name as listings show it: with "/" separators, escaped.
std::string ShownName(const afp::WideString& name);
// A name in a message or question: with the separator of this system's
// paths, escaped.
std::string ShownPath(const afp::WideString& name);
std::string ShownPath(const std::string& utf8);

}  // namespace arcfold_cli

/// @file
/// Wide (UTF-16) strings as the component keeps names, and their UTF-8 form.
#pragma once

#include <string>
#include <string_view>

#include "arcfold/platform/export.h"

namespace afp {

/// A name or path in UTF-16, as the component keeps them ("afp" is the platform layer's namespace).
using WideString = std::u16string;

/// UTF-16 -> UTF-8. Unpaired surrogates are encoded on their own (3 bytes each)
/// so that nothing is lost.
ARCFOLD_API std::string ToUtf8(std::u16string_view s);
/// UTF-8 -> UTF-16. Malformed bytes become U+FFFD.
ARCFOLD_API WideString FromUtf8(std::string_view s);

/// Convenience for ASCII literals in code and tests.
inline WideString W(std::string_view ascii_or_utf8) { return FromUtf8(ascii_or_utf8); }

}  // namespace afp

// The wildcard matcher: the input is a name and a mask split at the first
// NUL character. Work is |name| x |mask| at most, so nothing may hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "arcfold/search.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  size_t cut = text.find(u'\0');
  if (cut == std::u16string::npos) return 0;
  std::u16string name = text.substr(0, cut), mask = text.substr(cut + 1);
  bool a = arcfold::WildcardMatch(name, mask, true);
  bool b = arcfold::WildcardMatch(name, mask, false);
  if (b && !a) __builtin_trap();  // a case-sensitive match is also a case-blind one
  (void)arcfold::MaskMatch(name, mask);
  return 0;
}

// The name decoders: stored bytes in every code page rule, the two unicode
// name fields, and the UTF-8 cut used when names are written.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "directory/name_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const afp::CodePagePair pages[] = {{1252, 437}, {1250, 852}};
  const afp::CodePagePair& cp = pages[data[0] & 1];
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  afp::WideString name = arcfold::DecodeItemName(bytes, cp, (data[0] & 2) != 0);
  arcfold::TStoredName back = arcfold::EncodeItemName(name, cp, (data[0] & 4) != 0);
  (void)arcfold::Utf8Cut(name, data[0]);
  (void)arcfold::ClassifyUtf8(back.bytes);
  afp::WideString parsed;
  arcfold::ParseUnicodeNameField(data + 1, size - 1, parsed);
  arcfold::ParseInfoZipUnicodePath(data + 1, size - 1, bytes.substr(0, bytes.size() / 2), parsed);
  return 0;
}

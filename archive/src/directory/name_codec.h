// Item names: UTF-16 in memory, 8-bit bytes in the headers (a single-byte
// code page or UTF-8 with flag bit 11), and the two unicode-name extra fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/wide.h"

namespace arcfold {

// 0 = all bytes below 0x80, 1 = well-formed UTF-8 with a byte of 0x80 or
// above, 2 = not well-formed.
int ClassifyUtf8(std::string_view bytes);

// UTF-8 form cut to at most max_bytes, after the last whole character.
std::string Utf8Cut(std::u16string_view name, size_t max_bytes = 254);

struct TStoredName {
  std::string bytes;
  bool utf8 = false;  // flag bit 11 must be set
};

// Name to header bytes. The name is kept in the single-byte page the bytes
// will be in (OEM when oem_names, else ANSI) when it fits there exactly;
// otherwise, or when the item is already flagged UTF-8, it becomes UTF-8.
TStoredName EncodeItemName(std::u16string_view name, const afp::CodePagePair& pages, bool oem_names,
                           bool already_utf8 = false, size_t max_utf8_bytes = 254);

// Header bytes to name. Well-formed UTF-8 decodes as UTF-8 whatever the flag
// says; other bytes decode from the OEM page when oem_convert, else ANSI.
afp::WideString DecodeItemName(std::string_view bytes, const afp::CodePagePair& pages, bool oem_convert);

// The component's own unicode-name field (0x554E): data part only.
// n is bounded by the data size; a wrong signature or a too-large n fails.
bool ParseUnicodeNameField(const uint8_t* data, size_t size, afp::WideString& name);
// Whole field with its 4-byte header.
std::vector<uint8_t> BuildUnicodeNameField(std::u16string_view name);

// Info-ZIP Unicode Path field (0x7075), data part: version 1 and the CRC-32 of
// the header's name bytes must match.
bool ParseInfoZipUnicodePath(const uint8_t* data, size_t size, std::string_view header_name, afp::WideString& name);

}  // namespace arcfold

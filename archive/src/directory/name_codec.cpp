#include "directory/name_codec.h"

#include "arcfold/records.h"
#include "codec/crc32.h"

namespace arcfold {

int ClassifyUtf8(std::string_view s) {
  size_t i = 0;
  bool high = false;
  auto cont = [&](size_t k) { return k < s.size() && (static_cast<uint8_t>(s[k]) & 0xC0) == 0x80; };
  auto in = [&](size_t k, uint8_t lo, uint8_t hi) {
    return k < s.size() && static_cast<uint8_t>(s[k]) >= lo && static_cast<uint8_t>(s[k]) <= hi;
  };
  while (i < s.size()) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    high = true;
    if (b >= 0xC2 && b <= 0xDF && cont(i + 1))
      i += 2;
    else if (b == 0xE0 && in(i + 1, 0xA0, 0xBF) && cont(i + 2))
      i += 3;
    else if (b >= 0xE1 && b <= 0xEF && cont(i + 1) && cont(i + 2))
      i += 3;
    else if (b == 0xF0 && in(i + 1, 0x90, 0xBF) && cont(i + 2) && cont(i + 3))
      i += 4;
    else if (b >= 0xF1 && b <= 0xF3 && cont(i + 1) && cont(i + 2) && cont(i + 3))
      i += 4;
    else if (b == 0xF4 && in(i + 1, 0x80, 0x8F) && cont(i + 2) && cont(i + 3))
      i += 4;
    else
      return 2;
  }
  return high ? 1 : 0;
}

std::string Utf8Cut(std::u16string_view name, size_t max_bytes) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    size_t n = 1;
    if (name[i] >= 0xD800 && name[i] <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF)
      n = 2;
    std::string piece = afp::ToUtf8(name.substr(i, n));
    if (out.size() + piece.size() > max_bytes) break;
    out += piece;
    i += n - 1;
  }
  return out;
}

TStoredName EncodeItemName(std::u16string_view name, const afp::CodePagePair& pages, bool oem_names, bool already_utf8,
                           size_t max_utf8_bytes) {
  TStoredName out;
  if (!already_utf8) {
    bool lossless = false;
    const auto& page = afp::CodePage::Get(oem_names ? pages.oem : pages.ansi);
    std::string bytes = page.Encode(name, &lossless);
    if (lossless) {
      out.bytes = std::move(bytes);
      return out;
    }
  }
  out.bytes = Utf8Cut(name, max_utf8_bytes);
  out.utf8 = true;
  return out;
}

afp::WideString DecodeItemName(std::string_view bytes, const afp::CodePagePair& pages, bool oem_convert) {
  if (ClassifyUtf8(bytes) == 1) return afp::FromUtf8(bytes);
  return afp::CodePage::Get(oem_convert ? pages.oem : pages.ansi).Decode(bytes);
}

bool ParseUnicodeNameField(const uint8_t* data, size_t size, afp::WideString& name) {
  if (size < 8 || GetU32(data) != 0x5843554E) return false;
  uint32_t n = GetU32(data + 4);
  if (n > (size - 8) / 2) return false;
  name.resize(n);
  for (uint32_t i = 0; i < n; ++i) name[i] = static_cast<char16_t>(GetU16(data + 8 + 2 * i));
  return true;
}

std::vector<uint8_t> BuildUnicodeNameField(std::u16string_view name) {
  std::vector<uint8_t> out(12 + 2 * name.size());
  PutU16(out.data(), kExtraUnicodeName);
  PutU16(out.data() + 2, static_cast<uint16_t>(8 + 2 * name.size()));
  PutU32(out.data() + 4, 0x5843554E);
  PutU32(out.data() + 8, static_cast<uint32_t>(name.size()));
  for (size_t i = 0; i < name.size(); ++i) PutU16(out.data() + 12 + 2 * i, name[i]);
  return out;
}

bool ParseInfoZipUnicodePath(const uint8_t* data, size_t size, std::string_view header_name, afp::WideString& name) {
  if (size < 5 || data[0] != 1) return false;
  if (GetU32(data + 1) != Crc32(header_name.data(), header_name.size())) return false;
  std::string_view utf8(reinterpret_cast<const char*>(data + 5), size - 5);
  if (ClassifyUtf8(utf8) == 2) return false;
  name = afp::FromUtf8(utf8);
  return true;
}

}  // namespace arcfold

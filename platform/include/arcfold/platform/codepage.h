/// @file
/// Single-byte code pages for the ANSI and OEM forms of item names, and the
/// locale-aware character case services the name index and masks rely on.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "arcfold/platform/export.h"
#include "arcfold/platform/wide.h"

namespace afp {

/// One single-byte code page (e.g. 1252, 437, 852), decoded through iconv once
/// and then used as lookup tables.
class ARCFOLD_API CodePage {
 public:
  /// Throws std::invalid_argument for a page iconv does not know.
  static const CodePage& Get(int number);

  /// The page's number.
  int Number() const { return number_; }
  /// The character of byte b.
  char16_t ToWide(unsigned char b) const { return to_wide_[b]; }
  /// Returns false and gives '?' when the character has no byte in this page.
  bool FromWide(char16_t c, char& out) const;

  /// The text of bytes in this page.
  WideString Decode(std::string_view bytes) const;
  /// lossless is set to false when some character had no byte in this page.
  std::string Encode(std::u16string_view s, bool* lossless = nullptr) const;

 private:
  explicit CodePage(int number);
  int number_;
  std::array<char16_t, 256> to_wide_{};
  std::array<unsigned char, 65536> from_wide_{};  ///< 0 = not mappable (except for U+0000)
};

/// The ANSI/OEM pair of one component instance. The Windows defaults of a
/// Western system are 1252/437; Hungarian systems use 1250/852.
struct ARCFOLD_API CodePagePair {
  /// The ANSI page's number.
  int ansi = 1252;
  /// The OEM page's number.
  int oem = 437;

  /// ANSI bytes to text.
  WideString AnsiToWide(std::string_view bytes) const { return CodePage::Get(ansi).Decode(bytes); }
  /// Text to ANSI bytes (lossless as CodePage::Encode).
  std::string WideToAnsi(std::u16string_view s, bool* lossless = nullptr) const {
    return CodePage::Get(ansi).Encode(s, lossless);
  }
  /// The OemToChar/CharToOem pair: bytes of one page to bytes of the other.
  ///@{
  std::string OemToAnsi(std::string_view bytes) const;
  std::string AnsiToOem(std::string_view bytes) const;
  ///@}
};

/// The system's pair (the user's locale), or 1252/437 where it has none.
ARCFOLD_API CodePagePair DefaultCodePages();

/// Unicode simple case mapping over the whole BMP.
///@{
ARCFOLD_API char16_t CharLower(char16_t c);
ARCFOLD_API char16_t CharUpper(char16_t c);
ARCFOLD_API WideString LowerCase(std::u16string_view s);
ARCFOLD_API WideString UpperCase(std::u16string_view s);
///@}
/// Whether two characters are equal for the user's locale, ignoring case.
ARCFOLD_API bool CharsEqualIgnoreCase(char16_t a, char16_t b);

}  // namespace afp

#include "listing.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/console.h"
#include "platform/files.h"
#include "shown.h"

namespace arcfold_cli {

namespace {

// The ratio column: what compression saved, negative for an item that grew.
// Sizes come from the archive and may be anything, so it is kept in bounds.
constexpr double kLowestRatio = -999.9;
constexpr double kHighestRatio = 100.0;
constexpr int kHostUnix = 3;

std::string DosDateTimeText(uint16_t date, uint16_t time) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", ((date >> 9) & 0x7F) + 1980, (date >> 5) & 0x0F,
                     date & 0x1F, (time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2);
}

std::string AttrText(uint32_t a) {
  std::string s = ".....";
  if (a & afp::kAttrDirectory) s[0] = 'D';
  if (a & afp::kAttrReadOnly) s[1] = 'R';
  if (a & afp::kAttrHidden) s[2] = 'H';
  if (a & afp::kAttrSystem) s[3] = 'S';
  if (a & afp::kAttrArchive) s[4] = 'A';
  return s;
}

// What one item shows, taken from the directory once.
struct Row {
  int64_t size, packed;
  double ratio;
  uint16_t date, time;
  uint32_t attrs;
  bool encrypted;
  std::string name;  // "/" separators, not yet escaped
};

Row RowOf(const arcfold::TDirItem& it) {
  Row r{};
  r.size = it.UncompressedSize();
  r.packed = it.CompressedSize();
  r.ratio = r.size > 0 ? (1.0 - static_cast<double>(r.packed) / static_cast<double>(r.size)) * 100.0 : 0.0;
  r.ratio = std::clamp(r.ratio, kLowestRatio, kHighestRatio);
  r.date = it.HeaderImage.Date();
  r.time = it.HeaderImage.Time();
  r.attrs = it.HeaderImage.ExternalAttributes();
  r.encrypted = it.HeaderImage.Flags() & arcfold::kFlagEncrypted;
  r.name = afp::ToUtf8(it.ItemName);
  std::replace(r.name.begin(), r.name.end(), '\\', '/');
  return r;
}

// PPMd items are named, though not read.
constexpr uint16_t kMethodPPMd = 98;

std::string MethodText(uint16_t method) {
  switch (method) {
    case arcfold::kMethodStored: return "Stored";
    case arcfold::kMethodDeflate: return "Deflate";
    case arcfold::kMethodDeflate64: return "Deflate64";
    case arcfold::kMethodBZip2: return "BZip2";
    case arcfold::kMethodLZMA: return "LZMA";
    case arcfold::kMethodZstd: return "Zstd";
    case arcfold::kMethodXz: return "XZ";
    case kMethodPPMd: return "PPMd";
    default: return fmt::format("m{}", method);
  }
}

std::string EncryptionText(const arcfold::TDirItem& it) {
  if (!(it.HeaderImage.Flags() & arcfold::kFlagEncrypted)) return "-";
  switch (it.CryptoAlgorithm) {
    case arcfold::caAES_128: return "AES-128";
    case arcfold::caAES_192: return "AES-192";
    case arcfold::caAES_256: return "AES-256";
    default: return "classic";
  }
}

// The Unix mode of an item made on Unix (its permission bits and type), or
// "-" for items of other systems.
std::string UnixModeText(const arcfold::TDirItem& it) {
  if ((it.HeaderImage.VersionMadeBy() >> 8) != kHostUnix) return "-";
  return fmt::format("{:06o}", it.HeaderImage.ExternalAttributes() >> 16);
}

// Lines put together by hand: printf-style formatting would be a third of
// the time of listing 100,000 items.
class LineBuilder {
 public:
  void Right(int64_t v, int width) {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, v);
    Pad(width - static_cast<int>(r.ptr - digits));
    out_.append(digits, r.ptr);
  }
  void Pad(int n) {
    for (; n > 0; --n) out_.push_back(' ');
  }
  void Two(int v) {
    out_.push_back(static_cast<char>('0' + v / 10 % 10));
    out_.push_back(static_cast<char>('0' + v % 10));
  }
  void Text(std::string_view s) { out_.append(s.data(), s.data() + s.size()); }
  void Left(std::string_view s, int width) {
    Text(s);
    Pad(width - static_cast<int>(s.size()));
  }
  void Char(char c) { out_.push_back(c); }
  void Ratio(double ratio) {
    const long tenths = std::lround(ratio * 10);
    const long whole = std::labs(tenths) / 10;
    Pad(3 - static_cast<int>(fmt::formatted_size("{}", whole)) - (tenths < 0 ? 1 : 0));
    if (tenths < 0) Char('-');
    Right(whole, 0);
    Char('.');
    Char(static_cast<char>('0' + std::labs(tenths) % 10));
    Char('%');
  }
  void DateTime(uint16_t dd, uint16_t dt) {
    const int year = ((dd >> 9) & 0x7F) + 1980;
    Two(year / 100);
    Two(year % 100);
    Char('-');
    Two((dd >> 5) & 0x0F);
    Char('-');
    Two(dd & 0x1F);
    Char(' ');
    Two((dt >> 11) & 0x1F);
    Char(':');
    Two((dt >> 5) & 0x3F);
    Char(':');
    Two((dt & 0x1F) * 2);
  }
  void Flush(std::FILE* out) {
    std::fwrite(out_.data(), 1, out_.size(), out);
    out_.clear();
  }

 private:
  fmt::memory_buffer out_;
};

void PrintLine(LineBuilder& b, const arcfold::TDirItem& it, const Row& r, ListFormat format) {
  b.Right(r.size, 12);
  b.Char(' ');
  b.Right(r.packed, 12);
  b.Char(' ');
  b.Ratio(r.ratio);
  b.Char(' ');
  if (format == ListFormat::Long) {
    b.Left(MethodText(it.ActualMethod), 9);
    b.Char(' ');
    b.Text(fmt::format("{:08x}", it.HeaderImage.Crc32()));
    b.Char(' ');
    b.Left(EncryptionText(it), 7);
    b.Char(' ');
  }
  b.DateTime(r.date, r.time);
  b.Char(' ');
  b.Text(AttrText(r.attrs));
  b.Char(' ');
  if (format == ListFormat::Long) {
    b.Left(UnixModeText(it), 6);
  } else {
    b.Char(r.encrypted ? '*' : ' ');
  }
  b.Char(' ');
  b.Text(Printable(r.name));
  b.Char('\n');
}

void PrintJsonItem(std::FILE* out, const arcfold::TDirItem& it, const Row& r, bool first) {
  const nlohmann::json item = {{"name", r.name},
                               {"size", r.size},
                               {"packed_size", r.packed},
                               {"ratio", r.ratio},
                               {"modified", DosDateTimeText(r.date, r.time)},
                               {"attributes", r.attrs},
                               {"crc32", fmt::format("{:08x}", it.HeaderImage.Crc32())},
                               {"method", it.ActualMethod},
                               {"encrypted", r.encrypted},
                               {"encryption", EncryptionText(it)},
                               {"directory", it.IsDirectory()}};
  // The object as an element of an array indented by two.
  std::string text = item.dump(2);
  std::string indented = "  ";
  for (char c : text) {
    indented.push_back(c);
    if (c == '\n') indented += "  ";
  }
  std::fputs(first ? "[\n" : ",\n", out);
  std::fputs(indented.c_str(), out);
}

void PrintHeader(std::FILE* out, ListFormat format) {
  if (format == ListFormat::Long) {
    std::fputs(
        "        Size       Packed  Ratio Method    CRC-32   Crypto  Modified            Attr  Mode   Name\n"
        "------------ ------------ ------ --------- -------- ------- ------------------- ----- ------ ----\n",
        out);
  } else if (format == ListFormat::Plain) {
    std::fputs(
        "        Size       Packed  Ratio Modified            Attr    Name\n"
        "------------ ------------ ------ ------------------- ----- - ----\n",
        out);
  }
}

void PrintFooter(std::FILE* out, ListFormat format, const ListTotals& t) {
  if (format == ListFormat::Json) {
    std::fputs(t.items == 0 ? "[]\n" : "\n]\n", out);
    return;
  }
  std::fputs(format == ListFormat::Long
                 ? "------------ ------------                                                                  ----\n"
                 : "------------ ------------                                     ----\n",
             out);
  std::fprintf(out, "%12lld %12lld        %lld item(s)\n", static_cast<long long>(t.size),
               static_cast<long long>(t.packed), static_cast<long long>(t.items));
}

}  // namespace

void ListingPrinter::Add(const arcfold::TDirItem& it) {
  if (!header_printed_) PrintHeader(out_, format_);
  header_printed_ = true;
  const Row r = RowOf(it);
  if (format_ == ListFormat::Json) {
    PrintJsonItem(out_, it, r, totals_.items == 0);
  } else {
    LineBuilder line;
    PrintLine(line, it, r, format_);
    line.Flush(out_);
  }
  ++totals_.items;
  totals_.size += r.size;
  totals_.packed += r.packed;
}

void ListingPrinter::Finish() {
  if (!header_printed_) PrintHeader(out_, format_);
  header_printed_ = true;
  PrintFooter(out_, format_, totals_);
}

}  // namespace arcfold_cli

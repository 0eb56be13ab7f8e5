#include "arcfold/exception.h"

#include <fmt/format.h>

#include "arcfold/arcfold.h"

namespace arcfold {

namespace {

// A path from a root is shown as the system spells it ("/tmp/x.zip" on
// POSIX, where the library holds it as "\tmp\x.zip"); item names and
// other texts stay as they are.
std::string Shown(const afp::WideString& text) {
  const bool rooted = !text.empty() && (text[0] == u'\\' || text[0] == u'/');
  return rooted ? afp::NativePath(text) : afp::ToUtf8(text);
}

const char* const kMessages[EAFException::kMessageCount] = {
    "Unknown error",
    "Index out of bounds",
    "Invalid compression mode. Mode must be in [0-9] range",
    "Unexpected nil pointer",
    "Invalid size or check sum of file or unsupported compression format",
    "File name is blank. Specify appropriate file name",
    "File \"%s\" not found",
    "Archive is not open",
    "SFXStub property is not specified",
    "Cannot create file \"%s\"",
    "Cannot create directory \"%s\"",
    "Internal error. Update is not started",
    "Cannot open file \"%s\"",
    "Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    "Cannot delete file \"%s\"",
    "In-memory archive can be created only",
    "File is open in read-only mode",
    "Invalid compressed size, rfs.size = %d, count = %d",
    "Invalid archive file.",
    "Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    "Archive is open. You should close it beore performing this operation.",
    "Unable to create directory",
    "Cannot find 64-bit directory end record",
    "Cannot compress file '%s'. Zip64 mode is not enabled",
    "Cannot open archive file. Opening aborted or invalid file",
    "Write to stream error",
    "Cannot place SFX stub on volume. Volume size limit is too small",
    "Archive is damaged. Open failed",
    "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of MakeSFX",
    "Archive already has SFX stub",
    "Multi-volume archive is not allowed for custom stream",
    ("Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files several "
     "times"),
    "Deflate64 compression method is not supported",
    "MakeSFX error",
    "Hashed list of file names is invalid",
    "Cannot delete folder \"%s\"",
    "File name is too long: \r\n\"%s\"",
    "Multiple transactions are not supported for multi-volume archives",
    "Invalid InitVector index = %d. Index should be >= 0 and < %d",
    "Disk is full. There is not enough free space on disk.",
    "Invalid password. Cannot decompress encrypted file.",
};

// (specific code, category), one pair per code 0..67 in ascending order.
const int kCodeCategory[EAFException::kCodeCount][2] = {
    {0, 0},   {1, 1},   {2, 1},   {3, 1},   {4, 1},   {5, 2},   {6, 3},   {7, 1},   {8, 4},   {9, 5},
    {10, 5},  {11, 6},  {12, 6},  {13, 7},  {14, 7},  {15, 6},  {16, 1},  {17, 8},  {18, 6},  {19, 9},
    {20, 10}, {21, 1},  {22, 11}, {23, 9},  {24, 1},  {25, 11}, {26, 13}, {27, 14}, {28, 15}, {29, 5},
    {30, 6},  {31, 6},  {32, 16}, {33, 12}, {34, 17}, {35, 18}, {36, 19}, {37, 20}, {38, 6},  {39, 21},
    {40, 22}, {41, 23}, {42, 6},  {43, 23}, {44, 24}, {45, 24}, {46, 25}, {47, 26}, {48, 27}, {49, 28},
    {50, 29}, {51, 30}, {52, 31}, {53, 6},  {54, 6},  {55, 32}, {56, 33}, {57, 27}, {58, 34}, {59, 34},
    {60, 35}, {61, 36}, {62, 37}, {63, 38}, {64, 38}, {65, 39}, {66, 39}, {67, 40},
};

// "%s" takes the next argument as text, "%d" as a number; a missing argument
// leaves the placeholder empty, "%%" is a percent sign.
std::string FormatTable(const std::string& text, const std::vector<TAFFmtArg>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == 'd' || text[i + 1] == '%')) {
      char kind = text[++i];
      if (kind == '%') {
        out += '%';
        continue;
      }
      if (next >= args.size()) continue;
      const TAFFmtArg& a = args[next++];
      if (auto* w = std::get_if<afp::WideString>(&a))
        out += Shown(*w);
      else if (auto* s = std::get_if<std::string>(&a))
        out += *s;
      else
        out += std::to_string(std::get<int64_t>(a));
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

int EAFException::CategoryOf(int native_error) {
  for (const auto& pair : kCodeCategory)
    if (pair[0] == native_error) return pair[1];
  return 0;
}

const char* EAFException::MessageText(int error_code) {
  return error_code >= 0 && error_code < kMessageCount ? kMessages[error_code] : "";
}

std::string ComposeAFMessage(int native_error, const std::string& component_name, const std::vector<TAFFmtArg>* args) {
  std::string text = EAFException::MessageText(EAFException::CategoryOf(native_error));
  if (args) text = FormatTable(text, *args);
  if (!component_name.empty()) text = fmt::format("{}: {}", component_name, text);
  std::string code = fmt::format("{:5d}", native_error);
  for (auto& c : code)
    if (c == ' ') c = '0';
  return text + " - Native error: " + code;
}

EAFException EAFException::Create(int native_error, const TAFBaseArchiver* archiver) {
  std::string name = archiver ? archiver->Name() : std::string();
  return EAFException(CategoryOf(native_error), native_error, ComposeAFMessage(native_error, name, nullptr));
}

EAFException EAFException::CreateFmt(int native_error, const TAFBaseArchiver* archiver,
                                     const std::vector<TAFFmtArg>& args) {
  std::string name = archiver ? archiver->Name() : std::string();
  return EAFException(CategoryOf(native_error), native_error, ComposeAFMessage(native_error, name, &args));
}

}  // namespace arcfold

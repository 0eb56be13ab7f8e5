// Lists an archive's items, then extracts them all below a folder.
//   list_and_extract ARCHIVE FOLDER
#include <cstdio>

#include "arcfold/arcfold.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: list_and_extract ARCHIVE FOLDER\n");
    return 2;
  }
  arcfold::TArcfold zip;
  zip.SetFileName(afp::FromUtf8(argv[1]));
  zip.SetBaseDir(afp::FromUtf8(argv[2]));
  zip.Options().OverwriteMode = arcfold::omAlways;
  int failures = 0;
  zip.OnProcessFileFailure = [&](arcfold::TAFBaseArchiver*, const std::u16string& name, arcfold::TAFProcessOperation,
                                 int, int, const std::u16string& message, arcfold::TAFAction& action) {
    std::fprintf(stderr, "%s: %s\n", afp::ToUtf8(name).c_str(), afp::ToUtf8(message).c_str());
    ++failures;
    action = arcfold::fxaIgnore;
  };
  try {
    zip.OpenArchive(arcfold::fmOpenRead | arcfold::fmShareDenyNone);
    for (int i = 0; i < zip.ItemCount(); ++i) {
      const arcfold::TDirItem& item = zip.Item(i);
      std::printf("%10lld  %s\n", static_cast<long long>(item.UncompressedSize()), afp::ToUtf8(item.ItemName).c_str());
    }
    zip.ExtractFiles(u"*.*");
    zip.CloseArchive();
  } catch (const arcfold::EAFError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  return failures ? 1 : 0;
}

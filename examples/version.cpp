// Prints the library's version, then lists the archive given, if any.
//   version [ARCHIVE]
#include "arcfold/version.h"

#include <cstdio>

#include "arcfold/arcfold.h"

int main(int argc, char** argv) {
  std::printf("arcfold %s\n", ARCFOLD_VERSION_STRING);
  if (argc < 2) return 0;
  arcfold::TArcfold zip;
  zip.SetFileName(afp::FromUtf8(argv[1]));
  try {
    zip.OpenArchive(arcfold::fmOpenRead | arcfold::fmShareDenyNone);
    for (int i = 0; i < zip.ItemCount(); ++i)
      std::printf("%10lld  %s\n", static_cast<long long>(zip.Item(i).UncompressedSize()),
                  afp::ToUtf8(zip.Item(i).ItemName).c_str());
    zip.CloseArchive();
  } catch (const arcfold::EAFError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  return 0;
}

// Prints one entry of an archive, extracts the archive below FOLDER with
// progress, then shows a cancel: an extraction stopped at its first report.
//   read_extract ARCHIVE PASSWORD NAME FOLDER
#include <cstdio>
#include <filesystem>
#include <string>

#include "arcfold/archive.h"

int main(int argc, char** argv) {
  if (argc != 5) return std::fprintf(stderr, "usage: read_extract ARCHIVE PASSWORD NAME FOLDER\n"), 2;
  try {
    auto archive = arcfold::Archive::open(argv[1]);
    archive.set_password(argv[2]);
    const auto entry = archive.find(argv[3]);
    if (!entry) return std::fprintf(stderr, "%s: no entry %s\n", argv[1], argv[3]), 1;
    std::fputs(archive.read_string(*entry).c_str(), stdout);
    archive.extract(argv[4], [](const arcfold::Progress& p) {
      std::fprintf(stderr, "%5.1f%%  %s\n", p.overall_percent, std::string(p.entry).c_str());
      return true;
    });
    try {
      archive.extract(std::filesystem::path(argv[4]) / "cancelled", [](const arcfold::Progress&) { return false; });
    } catch (const arcfold::Cancelled& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
  } catch (const std::exception& e) {
    return std::fprintf(stderr, "%s\n", e.what()), 1;
  }
}

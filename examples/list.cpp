// Lists an archive: size, packed size, date and name of each entry.
//   list ARCHIVE
#include <chrono>
#include <cstdio>
#include <ctime>

#include "arcfold/archive.h"

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: list ARCHIVE\n"), 2;
  try {
    for (const arcfold::Entry& e : arcfold::Archive::open(argv[1])) {
      const std::time_t t = std::chrono::system_clock::to_time_t(e.modified);
      char when[20];
      std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", std::localtime(&t));
      std::printf("%10llu %10llu  %s  %s\n", static_cast<unsigned long long>(e.size),
                  static_cast<unsigned long long>(e.compressed_size), when, e.name.c_str());
    }
  } catch (const std::exception& e) {
    return std::fprintf(stderr, "%s\n", e.what()), 1;
  }
}

// Creates an archive from two buffers and a file, all encrypted with
// AES-256, then deletes one of the entries again.
//   create ARCHIVE FILE PASSWORD
#include <cstdio>

#include "arcfold/archive.h"

int main(int argc, char** argv) {
  if (argc != 4) return std::fprintf(stderr, "usage: create ARCHIVE FILE PASSWORD\n"), 2;
  try {
    auto archive = arcfold::Archive::create(argv[1]);
    const arcfold::AddOptions aes{.level = 9, .encryption = arcfold::Encryption::aes256, .password = argv[3]};
    archive.change()
        .add("hello.txt", "Hello, world!\n", aes)
        .add("notes/todo.txt", "1. write\n2. test\n", aes)
        .add_file(argv[2], "data.bin", aes)
        .commit();
    archive.change().remove("notes/todo.txt").commit();
  } catch (const std::exception& e) {
    return std::fprintf(stderr, "%s\n", e.what()), 1;
  }
}

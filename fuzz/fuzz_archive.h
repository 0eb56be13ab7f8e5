// What the fuzz targets share: an archive opened straight from the fuzzer's
// bytes, with every question answered so that nothing waits for a person.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "arcfold/arcfold.h"

namespace fuzzing {

class MemoryArchiver : public arcfold::TArcfold {
 public:
  MemoryArchiver();
  // Opens the bytes as an archive held in memory; false when they do not open.
  bool Open(const uint8_t* data, size_t size);
  // Writes the bytes to the file at path and opens that: extraction then
  // runs with helpers reading their own handles of the file.
  bool OpenAsFile(const afp::WideString& path, const uint8_t* data, size_t size);

 private:
  afp::SafeAnswerPrompts no_one_there_;
};

}  // namespace fuzzing

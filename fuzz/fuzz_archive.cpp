#include "fuzz_archive.h"

#include "arcfold/stream.h"
#include "component/session.h"

namespace fuzzing {

MemoryArchiver::MemoryArchiver() {
  PromptUI = &no_one_there_;
  SetPassword("password");
  SetInMemory(true);
  OnPassword = [](arcfold::TAFBaseArchiver*, const afp::WideString&, std::string&, bool& skip) { skip = true; };
  OnProcessFileFailure = [](arcfold::TAFBaseArchiver*, const afp::WideString&, arcfold::TAFProcessOperation, int, int,
                            const afp::WideString&, arcfold::TAFAction& action) { action = arcfold::fxaIgnore; };
}

bool MemoryArchiver::Open(const uint8_t* data, size_t size) {
  auto content = std::make_unique<arcfold::TMemoryStream>();
  content->Data().assign(data, data + size);
  try {
    Session().OpenInMemory(std::move(content));
  } catch (const std::exception&) {
    return false;  // refusing bytes is fine; crashing, leaking or hanging is not
  }
  return true;
}

bool MemoryArchiver::OpenAsFile(const afp::WideString& path, const uint8_t* data, size_t size) {
  try {
    {
      arcfold::TFileStream file(path, arcfold::fmCreate);
      file.WriteBuffer(data, static_cast<int64_t>(size));
    }
    SetInMemory(false);
    SetFileName(path);
    OpenArchive();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace fuzzing

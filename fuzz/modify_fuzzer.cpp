// Changing an archive: the commit reads the old local headers, descriptors
// and central records of arbitrary bytes while it deletes, renames and adds
// items, then the result is read and tested again.
#include <cstddef>
#include <cstdint>

#include "fuzz_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::MemoryArchiver a;
  if (!a.Open(data, size) || a.ItemCount() == 0) return 0;
  try {
    a.BeginUpdate();
    const afp::WideString first = a.Item(0).ItemName;
    if (a.ItemCount() > 1) a.RenameFile(a.Item(a.ItemCount() - 1).ItemName, u"renamed by the fuzzer");
    a.AddFromBuffer(u"added by the fuzzer", "fuzz", 4);
    a.DeleteFiles(first);
    a.EndUpdate();
    a.TestFiles(u"*.*");
  } catch (const arcfold::EAFException&) {
  } catch (const arcfold::EStreamError&) {
  }
  return 0;
}

// Helpers shared by the tests: temporary folders, files, archives built by
// hand, and running peer tools.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "arcfold/arcfold.h"

namespace testutil {

// A fresh folder under the system temp dir, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Removes path and all it holds, read-only files included.
void RemoveAll(const std::string& path);
// The names of the entries of a folder, sorted.
std::vector<std::string> Entries(const std::string& dir);
// Makes a folder and its missing parents.
void MakeDir(const std::string& path);
// The paths below folder (any depth) of entries whose names start with one
// of the prefixes, sorted; "" when there are none.
std::string FindNamed(const std::string& folder, const std::vector<std::string>& prefixes);
// A volume's expected name: the letter of a numbered extension (".z01") is
// lower case where names are case sensitive, upper case (".Z01") elsewhere.
std::string VolumeSpelling(std::string name);
// Runs a shell command; returns its exit status and (optionally) its stdout.
int Sh(const std::string& command, std::string* out = nullptr);
// Sets an environment variable of this process; "" removes it.
void SetEnv(const std::string& name, const std::string& value);
// The 7-Zip command on this machine ("7zz" or "7z"), or empty.
std::string SevenZip();
std::string Quote(const std::string& s);
// Bytes that do not compress, the same for the same seed.
std::string RandomBytes(size_t n, unsigned seed);

// Builds a ZIP archive byte by byte, for cases no tool would write.
struct RawEntry {
  std::string name;
  std::string data;  // the item's content; deflated when method is 8
  uint16_t method = 0;
  bool raw = false;  // data is written as is, whatever the method
  uint16_t flags = 0;
  uint32_t external = 0x20;
  uint16_t time = 0x6000, date = 0x5A21;
  std::string central_extra;
  std::string local_extra;
  int64_t crc = -1;    // -1: computed
  int64_t usize = -1;  // -1: data size
  uint16_t version_made = 20;
};
std::string BuildZip(const std::vector<RawEntry>& entries, const std::string& comment = "",
                     const std::string& prefix = "", bool offsets_include_prefix = true);
std::string Deflate(const std::string& data);
// A stored item encrypted under password, classic or AES (AE-2, key_bits
// 128, 192 or 256). What the writer draws at random (the classic header's
// filler, the AES salt) is fixed here: whether a wrong password passes the
// check (one byte, or the two-byte verifier) is then the same in every run.
RawEntry ClassicEntry(const std::string& name, const std::string& content, const std::string& password);
RawEntry AesEntry(const std::string& name, const std::string& content, const std::string& password, int key_bits = 256);

afp::WideString W(const std::string& utf8);

// Extracts every item of zip into out with password, answering failures
// with Ignore; returns "name: message" for each failure and each password
// question (which a right password never brings).
std::vector<std::string> ExtractAll(const std::string& zip, const std::string& out, const std::string& password);

// The native error code f raises as EAFException, or -1 when it raises none.
int NativeOf(const std::function<void()>& f);
std::string U(const afp::WideString& w);

}  // namespace testutil

#include "test_util.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "arcfold/records.h"
#include "codec/crc32.h"
#include "crypto/aes_transform.h"
#include "crypto/classic_cipher.h"
#include "crypto/crypto_primitives.h"
#include "platform/files.h"

namespace testutil {

namespace fs = std::filesystem;

// Paths are UTF-8 everywhere in the tests; Windows would read a plain
// string in its ANSI page.
fs::path Fs(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0;; ++attempt) {
    const std::string name = "arcfold-test-" + std::to_string(stamp) + "-" + std::to_string(counter++);
    const fs::path p = fs::temp_directory_path() / name;
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      const auto u8 = p.generic_u8string();
      path_.assign(u8.begin(), u8.end());
      return;
    }
    if (attempt > 100) throw std::runtime_error("cannot make a temporary folder");
  }
}

TempDir::~TempDir() { RemoveAll(path_); }

void RemoveAll(const std::string& path) {
  std::error_code ec;
  // Read-only files and folders are made writable first, or they stay behind.
  for (auto it = fs::recursive_directory_iterator(Fs(path), ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code ignored;
    if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(Fs(path), ec);
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(Fs(dir), ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const auto u8 = it->path().filename().u8string();
    names.emplace_back(u8.begin(), u8.end());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void MakeDir(const std::string& path) {
  std::error_code ec;
  fs::create_directories(Fs(path), ec);
}

std::string FindNamed(const std::string& folder, const std::vector<std::string>& prefixes) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(Fs(folder), ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const auto u8 = it->path().filename().u8string();
    const std::string name(u8.begin(), u8.end());
    for (const auto& p : prefixes)
      if (name.rfind(p, 0) == 0) {
        const auto whole = it->path().generic_u8string();
        found.emplace_back(whole.begin(), whole.end());
        break;
      }
  }
  std::sort(found.begin(), found.end());
  std::string out;
  for (const auto& f : found) out += f + "\n";
  return out;
}

std::string VolumeSpelling(std::string name) {
  const size_t dot = name.find_last_of('.');
  if (!afp::kCaseSensitiveNames && dot != std::string::npos && dot + 2 < name.size() &&
      std::isdigit(static_cast<unsigned char>(name[dot + 2])))
    name[dot + 1] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[dot + 1])));
  return name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(Fs(path), std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(Fs(path), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(Fs(path), ec));
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int Sh(const std::string& command, std::string* out) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (out) out->append(buf, n);
  int status = ::pclose(p);
#ifdef _WIN32
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
  ::_putenv_s(name.c_str(), value.c_str());
#else
  if (value.empty())
    ::unsetenv(name.c_str());
  else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::string SevenZip() {
  if (Sh("command -v 7zz >/dev/null 2>&1") == 0) return "7zz";
  if (Sh("command -v 7z >/dev/null 2>&1") == 0) return "7z";
  return "";
}

std::string Deflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

namespace {
void U16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void U32(std::string& s, uint32_t v) {
  U16(s, static_cast<uint16_t>(v));
  U16(s, static_cast<uint16_t>(v >> 16));
}
}  // namespace

std::string BuildZip(const std::vector<RawEntry>& entries, const std::string& comment, const std::string& prefix,
                     bool offsets_include_prefix) {
  std::string body, central;
  std::vector<uint32_t> offsets;
  for (const auto& e : entries) {
    std::string stored = (e.method == 8 && !e.raw) ? Deflate(e.data) : e.data;
    uint32_t crc = e.crc >= 0 ? static_cast<uint32_t>(e.crc) : arcfold::Crc32(e.data.data(), e.data.size());
    uint32_t usize = e.usize >= 0 ? static_cast<uint32_t>(e.usize) : static_cast<uint32_t>(e.data.size());
    offsets.push_back(static_cast<uint32_t>(body.size() + (offsets_include_prefix ? prefix.size() : 0)));
    std::string l;
    U32(l, arcfold::kSigLocal);
    U16(l, 20);
    U16(l, e.flags);
    U16(l, e.method);
    U16(l, e.time);
    U16(l, e.date);
    // With flag bit 3 the local header leaves CRC and sizes to a data
    // descriptor after the data, as streaming writers do.
    const bool descriptor = (e.flags & 8) != 0;
    U32(l, descriptor ? 0 : crc);
    U32(l, descriptor ? 0 : static_cast<uint32_t>(stored.size()));
    U32(l, descriptor ? 0 : usize);
    U16(l, static_cast<uint16_t>(e.name.size()));
    U16(l, static_cast<uint16_t>(e.local_extra.size()));
    body += l + e.name + e.local_extra + stored;
    if (descriptor) {
      std::string d;
      U32(d, arcfold::kSigDataDescriptor);
      U32(d, crc);
      U32(d, static_cast<uint32_t>(stored.size()));
      U32(d, usize);
      body += d;
    }
    std::string c;
    U32(c, arcfold::kSigCentral);
    U16(c, e.version_made);
    U16(c, 20);
    U16(c, e.flags);
    U16(c, e.method);
    U16(c, e.time);
    U16(c, e.date);
    U32(c, crc);
    U32(c, static_cast<uint32_t>(stored.size()));
    U32(c, usize);
    U16(c, static_cast<uint16_t>(e.name.size()));
    U16(c, static_cast<uint16_t>(e.central_extra.size()));
    U16(c, 0);
    U16(c, 0);
    U16(c, 0);
    U32(c, e.external);
    U32(c, offsets.back());
    central += c + e.name + e.central_extra;
  }
  std::string end;
  U32(end, arcfold::kSigEnd);
  U16(end, 0);
  U16(end, 0);
  U16(end, static_cast<uint16_t>(entries.size()));
  U16(end, static_cast<uint16_t>(entries.size()));
  U32(end, static_cast<uint32_t>(central.size()));
  U32(end, static_cast<uint32_t>(body.size() + (offsets_include_prefix ? prefix.size() : 0)));
  U16(end, static_cast<uint16_t>(comment.size()));
  return prefix + body + central + end + comment;
}

RawEntry ClassicEntry(const std::string& name, const std::string& content, const std::string& password) {
  const uint32_t crc = arcfold::Crc32(content.data(), content.size());
  std::array<uint8_t, 12> header{0x5A, 0x13, 0xC7, 0x88, 0x2E, 0x91, 0x04, 0xB6, 0x3F, 0xE0};
  header[10] = static_cast<uint8_t>(crc >> 16);
  header[11] = static_cast<uint8_t>(crc >> 24);
  arcfold::TZipClassicKeys keys;
  keys.Init(password);
  keys.EncryptBuffer(header.data(), header.size());
  std::string data = content;
  keys.EncryptBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size());
  RawEntry e{.name = name, .data = std::string(header.begin(), header.end()) + data, .raw = true, .flags = 1};
  e.crc = crc;
  e.usize = static_cast<int64_t>(content.size());
  return e;
}

RawEntry AesEntry(const std::string& name, const std::string& content, const std::string& password, int key_bits) {
  using arcfold::TAESCryptoTransform;
  const size_t key_len = static_cast<size_t>(key_bits / 8);
  std::vector<uint8_t> salt(key_len / 2);
  for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<uint8_t>(0xA5 ^ (i * 29));
  const std::vector<uint8_t> keys = TAESCryptoTransform::DefaultDerive(password, salt, 2 * key_len + 2);
  std::string header(salt.begin(), salt.end());
  header += {static_cast<char>(keys[2 * key_len]), static_cast<char>(keys[2 * key_len + 1])};
  // The counter mode's keystream is the same both ways: the transform that
  // reads this header encrypts the content as it would decrypt it.
  TAESCryptoTransform cipher(key_bits, 2, arcfold::kMethodStored);
  cipher.SetTransformMode(arcfold::TAFCryptoTransform::kDecrypt);
  arcfold::TMemoryStream header_stream;
  header_stream.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
  header_stream.SetPosition(0);
  cipher.ReadHeader(header_stream);
  if (!cipher.CheckPassword(password)) throw std::logic_error("the AES verifier does not fit its own password");
  std::string data = content;
  auto* bytes = reinterpret_cast<uint8_t*>(data.data());
  cipher.DecryptBlock(bytes, 0, bytes, 0, data.size());
  uint8_t code[20];
  arcfold::crypto::HmacSha1(keys.data() + key_len, key_len).Mac(bytes, data.size(), code);
  const std::vector<uint8_t> extra = arcfold::BuildExtraArea({cipher.BuildExtraField()});
  RawEntry e{.name = name,
             .data = header + data + std::string(code, code + 10),
             .method = arcfold::kMethodAES,
             .raw = true,
             .flags = 1,
             .central_extra = std::string(extra.begin(), extra.end()),
             .local_extra = std::string(extra.begin(), extra.end()),
             .crc = 0};  // AE-2: the code stands for the CRC
  e.usize = static_cast<int64_t>(content.size());
  return e;
}

std::vector<std::string> ExtractAll(const std::string& zip, const std::string& out, const std::string& password) {
  using namespace arcfold;
  std::vector<std::string> problems;
  TArcfold a;
  a.SetFileName(W(zip));
  a.OpenArchive(fmOpenRead);
  a.SetBaseDir(W(out));
  a.SetPassword(password);
  a.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString& n, TAFProcessOperation, int, int,
                               const afp::WideString& m, TAFAction& act) {
    problems.push_back(U(n) + ": " + U(m));
    act = fxaIgnore;
  };
  a.OnPassword = [&](TAFBaseArchiver*, const afp::WideString& n, std::string&, bool& skip) {
    problems.push_back(U(n) + ": password asked");
    skip = true;
  };
  a.ExtractFiles(u"*.*");
  return problems;
}

int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const arcfold::EAFException& e) {
    return e.NativeError();
  }
  return -1;
}

afp::WideString W(const std::string& utf8) { return afp::FromUtf8(utf8); }
std::string U(const afp::WideString& w) { return afp::ToUtf8(w); }

}  // namespace testutil

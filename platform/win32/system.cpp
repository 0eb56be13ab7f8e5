#include "platform/system.h"

#include "windows_api.h"
#include <fcntl.h>
#include <io.h>

#include <random>

#include "wide_path.h"

namespace afp {

using win32::Wide;

namespace {

// One argument of a command line as the C runtime splits it again:
// quoted, with the backslashes before a quote doubled.
std::wstring QuotedArgument(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& args, const std::string& workdir) {
  std::wstring command = QuotedArgument(Wide(program));
  for (const std::string& a : args) command += L" " + QuotedArgument(Wide(a));
  const std::wstring dir = Wide(workdir);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                        nullptr, dir.empty() ? nullptr : dir.c_str(), &si, &pi))
    return false;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return true;
}

std::FILE* CreateTempFile(const std::string& prefix, std::string& path) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr int kAttempts = 100;
  std::random_device seed;
  std::mt19937 pick(seed());
  std::uniform_int_distribution<size_t> letter(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    path = prefix;
    for (int i = 0; i < 6; ++i) path += kLetters[letter(pick)];
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_WRONLY);
    if (fd < 0) {
      ::CloseHandle(h);
      ::DeleteFileW(Wide(path).c_str());
      return nullptr;
    }
    std::FILE* f = ::_fdopen(fd, "wb");
    if (!f) {
      ::_close(fd);
      ::DeleteFileW(Wide(path).c_str());
    }
    return f;
  }
  return nullptr;
}

bool MakeExecutable(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace afp

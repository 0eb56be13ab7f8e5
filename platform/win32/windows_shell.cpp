#include "platform/win32/windows_shell.h"

#include "windows_api.h"
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/wide.h"
#include "wide_path.h"

namespace afp::win32 {

namespace {

std::wstring FolderOf(const std::wstring& file) {
  const size_t cut = file.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : file.substr(0, cut);
}

// COM for the calling thread, for as long as a shell object is used.
struct ComScope {
  HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~ComScope() {
    if (SUCCEEDED(hr)) ::CoUninitialize();
  }
};

}  // namespace

bool ShellOpen(const std::string& file) {
  const std::wstring f = Wide(file);
  const std::wstring dir = FolderOf(f);
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", f.c_str(), nullptr, dir.empty() ? nullptr : dir.c_str(), SW_SHOWNORMAL));
  return result > 32;
}

std::string DesktopFolder() {
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &pidl)) || !pidl) return std::string();
  wchar_t path[MAX_PATH] = {};
  const bool got = ::SHGetPathFromIDListW(pidl, path);
  ::CoTaskMemFree(pidl);
  return got ? ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(path))) : std::string();
}

void CreateShortcut(const std::string& target, const std::string& link_path, const std::string& description,
                    const std::string& arguments) {
  ComScope com;
  IShellLinkW* link = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
    return;
  const std::wstring t = Wide(target);
  link->SetPath(t.c_str());
  link->SetWorkingDirectory(FolderOf(t).c_str());
  link->SetDescription(Wide(description).c_str());
  link->SetArguments(Wide(arguments).c_str());
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    file->Save(Wide(link_path).c_str(), TRUE);
    file->Release();
  }
  link->Release();
}

}  // namespace afp::win32

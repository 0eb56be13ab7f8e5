#include "platform/win32/urlmon_download.h"

#include "windows_api.h"
#include <urlmon.h>
#include <wininet.h>

#include "platform/files.h"

namespace afp::win32 {

bool DownloadToFile(const std::string& url, const std::string& target) {
  const WideString wurl = FromUtf8(url);
  const auto* url_w = reinterpret_cast<const wchar_t*>(wurl.c_str());
  // A cached copy would hide a new release on the site.
  ::DeleteUrlCacheEntryW(url_w);
  const WideString final_name = FromUtf8(target);
  const WideString partial = final_name + u".part";
  DeleteFile(partial);
  const HRESULT hr =
      ::URLDownloadToFileW(nullptr, url_w, reinterpret_cast<const wchar_t*>(partial.c_str()), 0, nullptr);
  // Only a complete download takes the target's name.
  if (hr != S_OK || !ReplaceFile(partial, final_name)) {
    DeleteFile(partial);
    return false;
  }
  return true;
}

}  // namespace afp::win32

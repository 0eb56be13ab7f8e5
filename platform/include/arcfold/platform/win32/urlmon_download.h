// Downloading a file through the Windows URL moniker service. Windows only.
#pragma once

#include <string>

namespace afp::win32 {

// Fetches url into target with URLDownloadToFile, after dropping the URL's
// cache entry; the data goes to a temporary name beside the target that is
// renamed once complete, so a failed attempt leaves no target.
bool DownloadToFile(const std::string& url, const std::string& target);

}  // namespace afp::win32

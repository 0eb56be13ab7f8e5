#include "platform/win32/urlmon_download.h"

#include "seams/download.h"

namespace afp {

bool UrlmonDownloader::Download(const std::string& url, const std::string& target) {
  return win32::DownloadToFile(url, target);
}

}  // namespace afp

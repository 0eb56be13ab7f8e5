// Downloading a URL into a file.
#pragma once

#include <string>

namespace afp {

class Downloader {
 public:
  virtual ~Downloader() = default;
  // Fetches url (bypassing caches) into target. The target appears only when
  // a complete 2xx response arrived: a failed or partial attempt leaves no
  // file, so "does the target exist" tells the truth afterwards.
  virtual bool Download(const std::string& url, const std::string& target) = 0;
};

// libcurl: redirects followed, bounded connect and transfer times.
class CurlDownloader : public Downloader {
 public:
  explicit CurlDownloader(long connect_timeout_s = 15, long transfer_timeout_s = 600)
      : connect_timeout_s_(connect_timeout_s), transfer_timeout_s_(transfer_timeout_s) {}
  bool Download(const std::string& url, const std::string& target) override;

 private:
  long connect_timeout_s_;
  long transfer_timeout_s_;
};

// Windows: URLDownloadToFile after the URL's cache entry is dropped, into a
// temporary name beside the target that is renamed once complete.
class UrlmonDownloader : public Downloader {
 public:
  bool Download(const std::string& url, const std::string& target) override;
};

}  // namespace afp

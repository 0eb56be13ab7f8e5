#include <curl/curl.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/system.h"
#include "seams/download.h"

namespace afp {

namespace {

size_t WriteToFile(char* data, size_t size, size_t count, void* file) {
  return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

bool CurlDownloader::Download(const std::string& url, const std::string& target) {
  GlobalInit();
  std::string temp;
  FILE* f = CreateTempFile(target + ".part-", temp);
  if (!f) return false;
  CURL* curl = curl_easy_init();
  bool ok = false;
  if (curl) {
    // Caches between here and the site must not answer with an old copy.
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connect_timeout_s_);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, transfer_timeout_s_);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, f);
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    ok = rc == CURLE_OK && status >= 200 && status < 300;
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
  }
  ok = (std::fclose(f) == 0) && ok;
  if (ok) ok = std::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) std::remove(temp.c_str());
  return ok;
}

}  // namespace afp

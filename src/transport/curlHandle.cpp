#include "transport/curlHandle.h"

#include <cstring>
#include <mutex>

namespace Hypervale {
namespace curl {

bool EnsureGlobalInit() {
  static std::once_flag once;
  static CURLcode result = CURLE_FAILED_INIT;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result == CURLE_OK;
}

void SlistCleanup::operator()(curl_slist* list) const {
  for (curl_slist* line = list; line; line = line->next) {
    if (line->data) std::memset(line->data, 0, std::strlen(line->data));
  }
  curl_slist_free_all(list);
}

bool AppendHeader(HeaderList& list, const char* line) {
  curl_slist* appended = curl_slist_append(list.get(), line);
  if (!appended) return false;
  list.release();
  list.reset(appended);
  return true;
}

}  // namespace curl
}  // namespace Hypervale

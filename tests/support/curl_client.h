// One libcurl easy handle against a loopback test server, for the tests of the servers
// themselves; like the library's transport it reuses its connections across calls.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace hvtest {

struct CurlAsk {
  std::string method = "GET";
  std::string url;
  std::string body{};
  std::vector<std::string> headers{};  // "Name: value"
  const char* user = nullptr;          // Basic authentication when set
  const char* password = nullptr;
};

struct CurlReply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string head;
  std::string body;
  long newConnections = -1;
};

class CurlClient {
 public:
  // Trusts `caFile` when given; gives up on any call after `timeoutMs`.
  explicit CurlClient(const std::string& caFile = "", long timeoutMs = 10000)
      : curl_(curl_easy_init(), curl_easy_cleanup) {
    curl_easy_setopt(curl_.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_.get(), CURLOPT_TIMEOUT_MS, timeoutMs);
    if (!caFile.empty()) curl_easy_setopt(curl_.get(), CURLOPT_CAINFO, caFile.c_str());
  }

  CurlReply send(const CurlAsk& ask) {
    CURL* curl = curl_.get();
    CurlReply reply;
    curl_easy_setopt(curl, CURLOPT_URL, ask.url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, ask.user);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, ask.password);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    if (ask.method != "GET") {
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(ask.body.size()));
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, ask.body.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST,
                     ask.method == "GET" || ask.method == "POST" ? nullptr : ask.method.c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        curl_slist_append(nullptr, "Content-Type: application/xml"), curl_slist_free_all);
    for (const std::string& line : ask.headers) {
      headers.reset(curl_slist_append(headers.release(), line.c_str()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.head);
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &reply.newConnections);
    return reply;
  }
  CurlReply get(const std::string& url) { return send(CurlAsk{"GET", url}); }

 private:
  static size_t Append(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
  }

  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl_;
};

}  // namespace hvtest

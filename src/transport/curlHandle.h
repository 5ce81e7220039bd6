// Owners for the libcurl resources a request uses, and libcurl's one-time initialisation.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace Hypervale {
namespace curl {

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
// Header lines may carry credentials or the session cookie: overwritten before they are freed.
struct SlistCleanup {
  void operator()(curl_slist* list) const;
};

using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using HeaderList = std::unique_ptr<curl_slist, SlistCleanup>;

// curl_global_init exactly once per process, safe when several facades connect from several
// threads at once. Returns false when libcurl could not be initialised.
bool EnsureGlobalInit();

// Appends a line to a header list; the list keeps its old lines when the append fails.
bool AppendHeader(HeaderList& list, const char* line);

}  // namespace curl
}  // namespace Hypervale

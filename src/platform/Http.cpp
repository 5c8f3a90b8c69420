#include "platform/Http.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TSink {
  CURL* Curl;
  std::string* Body;
  const std::function<void(const char*, size_t)>* OnBody;
  bool Failed = false;
};

size_t OnData(char* data, size_t size, size_t n, void* user) {
  auto* sink = static_cast<TSink*>(user);
  try {
    long status = 0;
    curl_easy_getinfo(sink->Curl, CURLINFO_RESPONSE_CODE, &status);
    // an error page never reaches the caller's sink; the request fails below
    if (*sink->OnBody && status < 400)
      (*sink->OnBody)(data, size * n);
    else
      sink->Body->append(data, size * n);
  } catch (...) {
    sink->Failed = true;  // a short count makes curl abort; the caller learns why below
    return 0;
  }
  return size * n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* cancel = static_cast<std::atomic<bool>*>(user);
  return cancel && cancel->load() ? 1 : 0;  // non-zero aborts the transfer
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

THttpResponse THttpClient::Request(const std::string& method, const std::string& url,
                                   const std::vector<std::string>& headers, const std::string& body) {
  GlobalInit();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw EHttpError("HTTP request failed: cannot create a client");
  CURL* c = curl.get();
  THttpResponse response;
  char errorText[CURL_ERROR_SIZE] = {0};

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // worker threads: no SIGALRM for DNS time-outs
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeoutMs));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(TimeoutMs));
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnData);
  TSink sink{c, &response.Body, &OnBody};
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  if (Http10) curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, CancelFlag);

  if (method == "GET") {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  } else if (method == "POST") {
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  } else {
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (!body.empty()) {
      curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
      curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
  }
  std::unique_ptr<curl_slist, SlistDeleter> list;
  for (const std::string& h : headers) {
    curl_slist* next = curl_slist_append(list.get(), h.c_str());
    if (!next) throw EHttpError("HTTP request failed: out of memory");
    list.release();
    list.reset(next);
  }
  if (list) curl_easy_setopt(c, CURLOPT_HTTPHEADER, list.get());

  CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    std::string why = errorText[0] ? errorText : curl_easy_strerror(rc);
    if (rc == CURLE_ABORTED_BY_CALLBACK) why = "cancelled";
    if (sink.Failed) why = "the response could not be stored";
    throw EHttpError("HTTP request failed: " + why + " (" + url + ")");
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.Status);
  if (response.Status >= 400)
    throw EHttpError("HTTP request failed: status " + std::to_string(response.Status) + " (" + url + ")");
  return response;
}

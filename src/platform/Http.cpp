#include "platform/Http.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

std::once_flag GlobalInitOnce;

struct TSink {
  CURL* Curl;
  std::string* Body;
  const std::function<void(const char*, size_t)>* OnBody;
  size_t Limit = 0;
  size_t Received = 0;
  bool Failed = false;
  bool TooLong = false;
  bool CutAtLimit = false;
};

size_t OnData(char* data, size_t size, size_t n, void* user) {
  auto* sink = static_cast<TSink*>(user);
  const size_t before = sink->Received;
  sink->Received += size * n;
  if (sink->Limit && sink->Received > sink->Limit) {
    sink->TooLong = true;  // stop reading: a never-ending body must not fill the memory
    if (sink->CutAtLimit && !*sink->OnBody) sink->Body->append(data, sink->Limit - before);
    return 0;
  }
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

void HttpGlobalInit() {
  std::call_once(GlobalInitOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string UrlForDisplay(const std::string& url) {
  std::string u = url.substr(0, url.find_first_of("?#"));
  size_t start = u.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t slash = u.find('/', start);
  size_t at = u.rfind('@', slash == std::string::npos ? u.size() : slash);
  if (at != std::string::npos && at >= start) u.erase(start, at + 1 - start);
  std::string clean;
  for (char ch : u.substr(0, 200)) {
    auto c = static_cast<unsigned char>(ch);
    clean += c < 0x20 || c == 0x7f ? '?' : ch;
  }
  return clean;
}

THttpResponse THttpClient::Request(const std::string& method, const std::string& url,
                                   const std::vector<std::string>& headers, const std::string& body) {
  HttpGlobalInit();
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
  // a redirect never leads to a file or another protocol
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnData);
  TSink sink{c, &response.Body, &OnBody};
  sink.Limit = MaxBodyBytes;
  sink.CutAtLimit = CutAtLimit;
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
  if (rc == CURLE_WRITE_ERROR && sink.TooLong && sink.CutAtLimit && !sink.Failed) {
    rc = CURLE_OK;  // the part under the limit is the reply
    response.Cut = true;
  }
  if (rc != CURLE_OK) {
    std::string why = errorText[0] ? errorText : curl_easy_strerror(rc);
    if (rc == CURLE_ABORTED_BY_CALLBACK) why = "cancelled";
    if (sink.Failed) why = "the response could not be stored";
    if (sink.TooLong) why = "the reply is longer than " + std::to_string(MaxBodyBytes) + " bytes";
    throw EHttpError("HTTP request failed: " + why + " (" + UrlForDisplay(url) + ")", why);
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.Status);
  if (response.Status >= 400) {
    const std::string why = "status " + std::to_string(response.Status);
    throw EHttpError("HTTP request failed: " + why + " (" + UrlForDisplay(url) + ")", why);
  }
  return response;
}

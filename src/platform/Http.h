#pragma once
// A small blocking HTTP client over libcurl for the game's online requests. Every request has a
// connect time-out and a time-out for the whole transfer, and can be cancelled from another
// thread, so no request can hold the program up for long (at exit, say).
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/Exceptions.h"

// A request that could not be made or that the server answered with a status of 400 or more.
KT_DECLARE_EXCEPTION(EHttpError, Exception)

struct THttpResponse {
  long Status = 0;   // the HTTP status code
  std::string Body;  // the body as received
};

class THttpClient {
public:
  uint32_t ConnectTimeoutMs = 10000;
  uint32_t TimeoutMs = 30000;  // whole transfer, connect included
  // Set from any thread to abort the request in progress (it then fails with EHttpError).
  std::atomic<bool>* CancelFlag = nullptr;
  // Speak HTTP/1.0 instead of 1.1 (the game server's POST scripts expect it).
  bool Http10 = false;
  // When set, the body is handed over piece by piece as it arrives instead of being kept in
  // THttpResponse::Body.
  std::function<void(const char* data, size_t size)> OnBody;

  // One request. `headers` are complete "Name: value" lines. Raises EHttpError on failure.
  THttpResponse Request(const std::string& method, const std::string& url,
                        const std::vector<std::string>& headers = {}, const std::string& body = {});
  std::string Get(const std::string& url) { return Request("GET", url).Body; }
  // A POST of `body` as it stands; `headers` should name its Content-Type.
  std::string Post(const std::string& url, const std::vector<std::string>& headers, const std::string& body) {
    return Request("POST", url, headers, body).Body;
  }
};

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
// The message names the host and path only: queries can carry the player's data.
class EHttpError : public Exception {
public:
  explicit EHttpError(std::string message, std::string cause = {})
      : Exception(std::move(message)), Cause(cause.empty() ? Message : std::move(cause)) {}
  std::string Cause;  // why, without the address ("cancelled", "status 404", ...)
};

// The address as it may be shown or logged: scheme, host and path; no user name, query or
// fragment.
std::string UrlForDisplay(const std::string& url);

struct THttpResponse {
  long Status = 0;   // the HTTP status code
  std::string Body;  // the body as received
  bool Cut = false;  // the body went on past MaxBodyBytes and was cut there (CutAtLimit)
};

// The library's one-time set-up. It reads the environment and is not thread-safe: the program
// calls it on its main thread before any other thread starts (a request does it too, if nobody has).
void HttpGlobalInit();

class THttpClient {
public:
  uint32_t ConnectTimeoutMs = 10000;
  uint32_t TimeoutMs = 30000;  // whole transfer, connect included
  // Set from any thread to abort the request in progress (it then fails with EHttpError).
  std::atomic<bool>* CancelFlag = nullptr;
  // The most body bytes taken; a longer body fails the request as soon as the limit is passed
  // (0: no limit).
  size_t MaxBodyBytes = 0;
  // With a limit: a longer body ends the transfer there and counts as received, its first
  // MaxBodyBytes bytes kept (THttpResponse::Cut tells).
  bool CutAtLimit = false;
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

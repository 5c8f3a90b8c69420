#include "engine/Inet.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "base/Exceptions.h"
#include "base/Random.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "platform/Http.h"
#include "platform/ShellServices.h"
#include "platform/Smtp.h"
#include "platform/WinInet.h"

namespace {

const char* const OfflineText = "Operation Failed: Can't connect to the Internet";
const char* const ScrambleAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-";

// Time-outs of every request: connecting, and the whole transfer. Uploads carry a replay file.
std::atomic<uint32_t> ConnectTimeoutMs{15000};
std::atomic<uint32_t> TransferTimeoutMs{60000};
constexpr uint32_t UploadTimeoutFactor = 3;

thread_local std::atomic<bool>* CurrentCancelFlag = nullptr;

std::string DeploymentValue(const char* envName, const char* builtIn) {
  const char* v = std::getenv(envName);
  return v && *v ? std::string(v) : std::string(builtIn);
}

THttpClient NewClient(uint32_t timeoutMs) {
  THttpClient client;
  client.ConnectTimeoutMs = ConnectTimeoutMs;
  client.TimeoutMs = timeoutMs;
  client.CancelFlag = CurrentCancelFlag;
  return client;
}

// A failure of a request that was cancelled is the cancel.
template <class F>
auto Cancellable(F&& request) {
  try {
    return request();
  } catch (const std::exception&) {
    if (CurrentCancelFlag && CurrentCancelFlag->load()) throw ERequestCancelled("The request was cancelled");
    throw;
  }
}

// The headers of both POST forms; the Host header comes from the URL.
std::vector<std::string> PostHeaders(const std::string& host, size_t length, const std::string& contentType) {
  return {
      "Accept: */*",
      "Connection: Keep-Alive",
      "Content-Length: " + std::to_string(length),
      "Content-Type: " + contentType,
      "Referer: http://" + host,
      "User-Agent: NVX/2.0 (Win)",
      "Expect:",  // send the body at once, without waiting for a go-ahead
  };
}


std::string ReadWholeStream(TStream& stream) {
  std::string bytes;
  stream.SetPosition(0);
  char buffer[65536];
  for (;;) {
    int32_t n = stream.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

}  // namespace

void SetThreadCancelFlag(std::atomic<bool>* flag) { CurrentCancelFlag = flag; }
std::atomic<bool>* ThreadCancelFlag() { return CurrentCancelFlag; }

void SetRequestTimeouts(uint32_t connectMs, uint32_t transferMs) {
  ConnectTimeoutMs = connectMs;
  TransferTimeoutMs = transferMs;
}

std::string TextExcerpt(const std::string& text, size_t max, bool keepLineBreaks) {
  std::string out;
  size_t n = text.size() < max ? text.size() : max;
  // Cut at a whole character: the excerpt goes into the log and into boxes as UTF-8.
  for (int back = 0; back < 4 && n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80; ++back)
    --n;
  out.reserve(n + 3);
  for (size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    const bool lineBreak = keepLineBreaks && (c == '\r' || c == '\n');
    out += (c < 0x20 || c == 0x7f) && !lineBreak ? '?' : text[i];
  }
  if (text.size() > max) out += "...";
  return out;
}

std::string ErrorReportMailServer() { return DeploymentValue("KESTRUNE_MAIL_SERVER", "mail.orvalent.example"); }
std::string ErrorReportAddress() {
  return DeploymentValue("KESTRUNE_REPORT_ADDRESS", "kestrune-reports@orvalent.example");
}

void OpenURLInBrowser(const std::string& url) {
  if (ShellOpenURL(url)) return;
  Log("Unable to start Browser.", ltWarning);
  SetClipboardText(url);
  ShowMessageBox(
      "Unable to start Browser. The web address was copied to the clipboard, you may paste it manually into "
      "your browser.",
      TMessageKind::Error);
}

bool OpenWebAddress(const std::string& url) {
  if (!IsWebAddress(url)) {
    Log("Refused to open an address that is not a web page: " + TextExcerpt(url, 80), ltWarning);
    return false;
  }
  OpenURLInBrowser(url);
  return true;
}

bool IsConnected() { return InternetGetConnectedState(); }

void AutoDial() { InternetAutodial(); }

std::string HttpGetText(const std::string& url, size_t maxBytes) {
  THttpClient client = NewClient(TransferTimeoutMs);
  client.MaxBodyBytes = maxBytes;
  return ToCrLf(Cancellable([&] { return client.Get(url); }));
}

std::string HttpGetTextCut(const std::string& url, size_t maxBytes, bool& cut) {
  THttpClient client = NewClient(TransferTimeoutMs);
  client.MaxBodyBytes = maxBytes;
  client.CutAtLimit = true;
  THttpResponse response = Cancellable([&] { return client.Request("GET", url); });
  cut = response.Cut;
  return ToCrLf(response.Body);
}

void HttpGetToStream(const std::string& url, TStream& stream) {
  THttpClient client = NewClient(TransferTimeoutMs);
  client.OnBody = [&stream](const char* data, size_t size) {
    stream.WriteBuffer(data, static_cast<int32_t>(size));
  };
  Cancellable([&] { return client.Request("GET", url); });
}

std::string HttpPostForm(const std::string& host, const std::string& path, const std::string& formText) {
  AutoDial();
  if (!IsConnected()) throw Exception(OfflineText);
  THttpClient client = NewClient(TransferTimeoutMs);
  client.Http10 = true;
  client.MaxBodyBytes = kDefaultTextReplyLimit;
  return Cancellable([&] {
    return client.Post("http://" + host + path,
                       PostHeaders(host, formText.size(), "application/x-www-form-urlencoded"), formText);
  });
}

void HttpPostMultipart(const std::string& host, const std::string& path, const std::string& boundary,
                       TStream& body, TStream& response) {
  AutoDial();
  if (!IsConnected()) {
    ShowMessageBox(OfflineText);
    return;
  }
  std::string bytes = ReadWholeStream(body);
  THttpClient client = NewClient(TransferTimeoutMs * UploadTimeoutFactor);
  client.Http10 = true;
  client.MaxBodyBytes = kDefaultTextReplyLimit;
  client.OnBody = [&response](const char* data, size_t size) {
    response.WriteBuffer(data, static_cast<int32_t>(size));
  };
  Cancellable([&] {
    return client.Request("POST", "http://" + host + path,
                          PostHeaders(host, bytes.size(), "multipart/form-data; boundary=" + boundary), bytes);
  });
}

void SendErrorReportMail(const std::string& senderAddress, const std::string& bodyText,
                         const std::string& attachmentFile, const TRequestRun& run, const TTellUser& tell) {
  auto say = [&tell](const std::string& text, TMessageKind kind) {
    if (tell) tell(text, kind);
    else ShowMessageBox(text, kind);
  };
  AutoDial();
  if (!IsConnected()) {
    Log(OfflineText, ltInfo);
    say(OfflineText, TMessageKind::Information);
    return;
  }
  try {
    TMailMessage message;
    message.From = senderAddress;
    message.To = ErrorReportAddress();
    message.Subject = "QV Error Report";
    message.Body = bodyText;
    message.AttachmentFile = attachmentFile;
    message.Priority = 3;
    const std::string server = ErrorReportMailServer();
    auto send = [&] {
      TSmtpClient client;
      client.Server = server;
      client.ConnectTimeoutMs = ConnectTimeoutMs;
      client.TimeoutMs = TransferTimeoutMs * UploadTimeoutFactor;
      client.CancelFlag = CurrentCancelFlag;
      Cancellable([&] {
        client.Send(message);
        return 0;
      });
    };
    if (run) run(send);
    else send();
  } catch (const ERequestCancelled&) {
    Log("Sending the error report was cancelled", ltInfo);
    return;
  } catch (const std::exception& e) {
    Log(std::string("Error sending email: ") + e.what(), ltWarning);
    say("Error sending email", TMessageKind::Error);
    return;
  }
  say("Thanks for your help!", TMessageKind::Information);
}

std::string ScrambleFormField(const std::string& text) {
  std::string b = text;
  if (b.size() % 64 != 0) b.append(64 - b.size() % 64, ' ');
  std::string o;
  o.reserve(b.size() * 2);
  for (size_t k = 0; k < b.size(); k += 64) {
    uint8_t p[64];
    for (int i = 0; i < 64; ++i) p[i] = static_cast<uint8_t>(i);
    for (int n = 0; n < 1000; ++n) {
      uint32_t a = Random(64);
      uint32_t c = Random(64);
      std::swap(p[a], p[c]);
    }
    char s[64];
    for (int i = 0; i < 64; ++i) s[p[i]] = b[k + static_cast<size_t>(i)];
    for (int i = 0; i < 64; ++i) o += ScrambleAlphabet[p[i]];
    o.append(s, 64);
  }
  static const char hex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(o.size() * 2);
  for (char ch : o) {
    auto u = static_cast<unsigned char>(ch);
    if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z')) {
      result += ch;
    } else {
      result += '%';
      result += hex[u >> 4];
      result += hex[u & 15];
    }
  }
  return result;
}

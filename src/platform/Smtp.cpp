#include "platform/Smtp.h"

#include <curl/curl.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "base/SysUtils.h"

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct MimeDeleter {
  void operator()(curl_mime* m) const { curl_mime_free(m); }
};

// Header values come from the user: a line break in one would start a header (or the body)
// of the user's choosing.
std::string HeaderValue(const std::string& s) {
  std::string out;
  for (char ch : s) out += (ch == '\r' || ch == '\n') ? ' ' : ch;
  return out;
}

// An envelope address: no line breaks, no angle brackets of its own.
std::string EnvelopeAddress(const std::string& s) {
  std::string out;
  for (char ch : s)
    if (ch != '\r' && ch != '\n' && ch != '<' && ch != '>') out += ch;
  // trim blanks the user may have typed around it
  size_t a = out.find_first_not_of(" \t"), b = out.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : "<" + out.substr(a, b - a + 1) + ">";
}

std::string DateHeader() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[64];
  std::snprintf(buf, sizeof buf, "Date: %s, %02d %s %04d %02d:%02d:%02d +0000", days[tm.tm_wday], tm.tm_mday,
                months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}


// "host", "host:port", "[v6]", "[v6]:port" or a bare v6 address; port 25 when none is given.
std::string ServerAuthority(const std::string& server) {
  if (server.front() == '[') return server.find("]:") == std::string::npos ? server + ":25" : server;
  size_t colon = server.find(':');
  if (colon == std::string::npos) return server + ":25";
  if (server.find(':', colon + 1) != std::string::npos) return "[" + server + "]:25";
  return server;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* cancel = static_cast<std::atomic<bool>*>(user);
  return cancel && cancel->load() ? 1 : 0;  // non-zero aborts the dialogue
}

}  // namespace

void TSmtpClient::Send(const TMailMessage& m) {
  GlobalInit();
  if (Server.empty()) throw ESmtpError("No mail server is set");
  std::string recipient = EnvelopeAddress(m.To);
  if (recipient.empty()) throw ESmtpError("No recipient is set");
  // Read here, never through a link (curl would follow one), and with a bound: no attachment of
  // this program is larger.
  constexpr std::size_t kMaxAttachmentBytes = 64u << 20;
  std::string attachment;
  if (!m.AttachmentFile.empty() &&
      (!ReadFileBytes(m.AttachmentFile, attachment, kMaxAttachmentBytes + 1) || attachment.size() > kMaxAttachmentBytes))
    throw ESmtpError("Cannot open the attachment " + m.AttachmentFile);

  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw ESmtpError("Cannot create a mail client");
  CURL* c = curl.get();
  char errorText[CURL_ERROR_SIZE] = {0};

  std::string url = "smtp://" + ServerAuthority(Server);
  std::string from = EnvelopeAddress(m.From);

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeoutMs));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(TimeoutMs));
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.empty() ? "<>" : from.c_str());
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, CancelFlag);

  std::unique_ptr<curl_slist, SlistDeleter> rcpt(curl_slist_append(nullptr, recipient.c_str()));
  if (!rcpt) throw ESmtpError("Out of memory");
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());

  std::vector<std::string> lines = {
      DateHeader(),
      "From: " + HeaderValue(m.From),
      "To: " + HeaderValue(m.To),
      "Subject: " + HeaderValue(m.Subject),
      "X-Priority: " + std::to_string(m.Priority < 1 ? 1 : m.Priority > 5 ? 5 : m.Priority),
  };
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  for (const std::string& h : lines) {
    curl_slist* next = curl_slist_append(headers.get(), h.c_str());
    if (!next) throw ESmtpError("Out of memory");
    headers.release();
    headers.reset(next);
  }
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

  std::unique_ptr<curl_mime, MimeDeleter> mime(curl_mime_init(c));
  if (!mime) throw ESmtpError("Out of memory");
  std::string body = ToCrLf(m.Body);  // SMTP wants CR LF
  curl_mimepart* text = curl_mime_addpart(mime.get());
  curl_mime_data(text, body.data(), body.size());
  curl_mime_type(text, "text/plain; charset=windows-1252");
  curl_mime_encoder(text, "quoted-printable");  // 8-bit text and long lines survive any relay
  if (!m.AttachmentFile.empty()) {
    curl_mimepart* file = curl_mime_addpart(mime.get());
    if (curl_mime_data(file, attachment.data(), attachment.size()) != CURLE_OK ||
        curl_mime_filename(file, ExtractFileName(m.AttachmentFile).c_str()) != CURLE_OK)
      throw ESmtpError("Out of memory");
    curl_mime_type(file, "application/octet-stream");
    curl_mime_encoder(file, "base64");
  }
  curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get());

  CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    std::string why = errorText[0] ? errorText : curl_easy_strerror(rc);
    if (rc == CURLE_ABORTED_BY_CALLBACK) why = "cancelled";
    throw ESmtpError("Sending mail through " + Server + " failed: " + why);
  }
}

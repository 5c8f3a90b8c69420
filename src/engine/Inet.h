#pragma once
// Every contact with the network: the browser, the connection state, plain HTTP requests, the
// two POST forms of the online services, the error-report mail and the form-field scrambler.
// All calls block on the calling thread; each request makes and frees its own client.
#include <string>

class TStream;

// The error-report mail: server ("host" or "host:port", port 25 by default) and recipient.
// Program constants, overridden by KESTRUNE_MAIL_SERVER and KESTRUNE_REPORT_ADDRESS.
std::string ErrorReportMailServer();
std::string ErrorReportAddress();

// Opens the address in the user's browser; when that fails, logs it, puts the address on the
// clipboard and tells the user.
void OpenURLInBrowser(const std::string& url);
bool IsConnected();
void AutoDial();

// One GET; the body with every line break as CR LF. Failures raise.
std::string HttpGetText(const std::string& url);
// One GET; the body written into `stream` as received. Failures raise.
void HttpGetToStream(const std::string& url, TStream& stream);
// A url-encoded form POST to http://host+path; the response body. Offline or failed: raises.
std::string HttpPostForm(const std::string& host, const std::string& path, const std::string& formText);
// A multipart POST of the whole `body` stream, framed by the caller with `boundary`; the
// response body goes into `response`. Offline: tells the user and returns. Failures raise.
void HttpPostMultipart(const std::string& host, const std::string& path, const std::string& boundary,
                       TStream& body, TStream& response);
// Mails the report (with the file attached when its name is not empty) and tells the user how
// it went; never raises.
void SendErrorReportMail(const std::string& senderAddress, const std::string& bodyText,
                         const std::string& attachmentFile);

// Scrambles text for a form or query value; draws 2000 numbers per 64-byte block from the
// process-wide random generator, so it belongs on the thread that owns it.
std::string ScrambleFormField(const std::string& text);

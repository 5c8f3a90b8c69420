#pragma once
// Every contact with the network: the browser, the connection state, plain HTTP requests, the
// two POST forms of the online services, the error-report mail and the form-field scrambler.
// All calls block on the calling thread; each request makes and frees its own client.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/Exceptions.h"
#include "platform/ShellServices.h"

class TStream;

// A request that the user (or the program's end) cancelled: silent, like every abort.
KT_DECLARE_EXCEPTION(ERequestCancelled, EAbort)

// Runs one blocking request: the shell's runner puts it on a worker thread; empty runs it here.
using TRequestRun = std::function<void(const std::function<void()>& request)>;

// The cancel flag of the requests made on this thread; the shell's request runner sets it on
// its worker thread so Cancel reaches the transfer. Null: not cancellable.
void SetThreadCancelFlag(std::atomic<bool>* flag);
std::atomic<bool>* ThreadCancelFlag();
// Time-outs of every request (connecting, whole transfer); tests shorten them.
void SetRequestTimeouts(uint32_t connectMs, uint32_t transferMs);

// The most bytes of a text reply unless the caller names its own limit.
constexpr size_t kDefaultTextReplyLimit = 1024 * 1024;

// A short excerpt of text from outside (a server reply, a file) for the log and messages:
// control characters become '?' (line breaks stay when `keepLineBreaks`), and more than `max`
// bytes are cut at a whole character with "...".
std::string TextExcerpt(const std::string& text, size_t max = 120, bool keepLineBreaks = false);

// The error-report mail: server ("host" or "host:port", port 25 by default) and recipient.
// Program constants, overridden by KESTRUNE_MAIL_SERVER and KESTRUNE_REPORT_ADDRESS.
std::string ErrorReportMailServer();
std::string ErrorReportAddress();

// Opens the address in the user's browser; when that fails, logs it, puts the address on the
// clipboard and tells the user.
void OpenURLInBrowser(const std::string& url);
bool IsConnected();
void AutoDial();

// Opens an address that came from outside (the server, a page) in the browser, but only when it
// is an http or https address; anything else is refused and logged. True when opened.
bool OpenWebAddress(const std::string& url);

// One GET; the body with every line break as CR LF. Failures raise, and so does a body longer
// than maxBytes (the transfer stops there).
std::string HttpGetText(const std::string& url, size_t maxBytes = kDefaultTextReplyLimit);
// The same, but a longer body is cut to its first maxBytes bytes (`cut` tells) instead of failing.
std::string HttpGetTextCut(const std::string& url, size_t maxBytes, bool& cut);
// One GET; the body written into `stream` as received. Failures raise.
void HttpGetToStream(const std::string& url, TStream& stream);
// A url-encoded form POST to http://host+path; the response body. Offline or failed: raises.
std::string HttpPostForm(const std::string& host, const std::string& path, const std::string& formText);
// A multipart POST of the whole `body` stream, framed by the caller with `boundary`; the
// response body goes into `response`. Offline: tells the user and returns. Failures raise.
void HttpPostMultipart(const std::string& host, const std::string& path, const std::string& boundary,
                       TStream& body, TStream& response);
// Mails the report (with the file attached when its name is not empty) and tells the user how
// it went, through `tell` (a box over the caller's window; unset: ShowMessageBox); never raises.
// The mail dialogue goes through `run` (a worker thread in the program); a cancelled send tells
// nothing more.
using TTellUser = std::function<void(const std::string& text, TMessageKind kind)>;
void SendErrorReportMail(const std::string& senderAddress, const std::string& bodyText,
                         const std::string& attachmentFile, const TRequestRun& run = {},
                         const TTellUser& tell = {});

// Scrambles text for a form or query value; draws 2000 numbers per 64-byte block from the
// process-wide random generator, so it belongs on the thread that owns it.
std::string ScrambleFormField(const std::string& text);

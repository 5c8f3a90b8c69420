#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/Random.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "platform/Http.h"
#include "platform/ShellServices.h"
#include "platform/Smtp.h"
#include "platform/WinInet.h"
#include "support/TestServers.h"
#include "support/TestSupport.h"

namespace {

const std::string Offline = "Operation Failed: Can't connect to the Internet";

uint32_t StepSeed(uint32_t seed, int steps) {
  for (int i = 0; i < steps; ++i) seed = seed * 134775813u + 1u;
  return seed;
}

// Undoes the %XX escapes of the scrambler's output.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string Base64Decode(const std::string& s) {
  static const std::string abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char ch : s) {
    size_t v = abc.find(ch);
    if (v == std::string::npos) continue;  // line breaks, padding
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

// Captures what the helpers show and log, and restores the defaults afterwards.
class Inet : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = TestDir();
    LogName = Dir + "qv.log";
    SetLogFile(LogName);
    SetMessageBoxHook([this](const std::string& text, TMessageKind kind) {
      Messages.push_back((kind == TMessageKind::Error ? "E:" : "I:") + text);
    });
  }
  void TearDown() override {
    SetMessageBoxHook(nullptr);
    SetShellOpenHook(nullptr);
    SetClipboardHook(nullptr);
    SetConnectedStateHook(nullptr);
    unsetenv("KESTRUNE_MAIL_SERVER");
    unsetenv("KESTRUNE_REPORT_ADDRESS");
    SetLogFile("");
  }
  std::string Dir, LogName;
  std::vector<std::string> Messages;
};

class InetHttp : public Inet {
protected:
  static void SetUpTestSuite() { Server = new TTestServer("http_server.py"); }
  static void TearDownTestSuite() {
    delete Server;
    Server = nullptr;
  }
  static std::string Url(const std::string& path) { return "http://" + Server->HostPort() + path; }
  static TTestServer* Server;
};
TTestServer* InetHttp::Server = nullptr;

}  // namespace

// ---- scrambler ----

TEST(ScrambleFormField, WorkedExampleFromSeedZero) {
  RandSeed = 0;
  std::string out = ScrambleFormField("abc");
  ASSERT_EQ(out.size(), 254u);
  const std::string alphabetPart = "HiaprRKBZPx4Ok1S8Q7u3CDV0n%2BGNmeJEIXhv%2DWYwzbLdost9qcA5gUj2FfM6lyT";
  EXPECT_EQ(out.substr(0, alphabetPart.size()), alphabetPart);
  std::string scattered = Unescape(out.substr(alphabetPart.size()));
  ASSERT_EQ(scattered.size(), 64u);
  std::string expected(64, ' ');
  expected[7] = 'a';
  expected[34] = 'b';
  expected[26] = 'c';
  EXPECT_EQ(scattered, expected);
  EXPECT_EQ(RandSeed, StepSeed(0, 2000));
}

TEST(ScrambleFormField, EmptyTextDrawsNothing) {
  RandSeed = 12345;
  EXPECT_EQ(ScrambleFormField(""), "");
  EXPECT_EQ(RandSeed, 12345u);
}

TEST(ScrambleFormField, BlocksPermutationsAndDraws) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-";
  struct Case { size_t length; size_t blocks; } cases[] = {{1, 1}, {64, 1}, {65, 2}, {200, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string text;
    for (size_t i = 0; i < c.length; ++i) text += static_cast<char>(i % 251 + 1);  // every kind of byte
    RandSeed = 0xC0FFEE;
    std::string out = ScrambleFormField(text);
    EXPECT_EQ(RandSeed, StepSeed(0xC0FFEE, static_cast<int>(2000 * c.blocks)));
    RandSeed = 0xC0FFEE;
    EXPECT_EQ(ScrambleFormField(text), out) << "same seed, same output";

    // only letters, digits and %XX escapes in the result
    for (size_t i = 0; i < out.size(); ++i) {
      char ch = out[i];
      bool plain = (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
      if (!plain) {
        ASSERT_EQ(ch, '%') << "at " << i;
        ASSERT_LT(i + 2, out.size());
        EXPECT_TRUE(std::isxdigit(out[i + 1]) && std::isxdigit(out[i + 2]) && !std::islower(out[i + 1]) &&
                    !std::islower(out[i + 2]));
      }
    }
    EXPECT_EQ(out.find("%2b"), std::string::npos);

    // each block: the permutation in the alphabet, then the text bytes scattered by it
    std::string raw = Unescape(out);
    ASSERT_EQ(raw.size(), 128 * c.blocks);
    std::string restored;
    for (size_t k = 0; k < c.blocks; ++k) {
      std::string perm = raw.substr(128 * k, 64);
      EXPECT_EQ(std::set<char>(perm.begin(), perm.end()), std::set<char>(alphabet.begin(), alphabet.end()));
      for (size_t i = 0; i < 64; ++i) restored += raw[128 * k + 64 + alphabet.find(perm[i])];
    }
    std::string padded = text + std::string(64 * c.blocks - text.size(), ' ');
    EXPECT_EQ(restored, padded);
  }
}

TEST(ScrambleFormField, PlusAndMinusOfTheAlphabetAreEscaped) {
  RandSeed = 0;
  std::string out = ScrambleFormField("abc");
  std::string alphabetPart = out.substr(0, 68);
  EXPECT_EQ(alphabetPart.find('+'), std::string::npos);
  EXPECT_EQ(alphabetPart.find('-'), std::string::npos);
  EXPECT_NE(alphabetPart.find("%2B"), std::string::npos);
  EXPECT_NE(alphabetPart.find("%2D"), std::string::npos);
}

// ---- HTTP ----

TEST_F(InetHttp, GetTextTurnsEveryLineBreakIntoCrLf) {
  EXPECT_EQ(HttpGetText(Url("/lines")), "one\r\ntwo\r\nthree\r\nfour\r\n\r\nend");
}

TEST_F(InetHttp, GetToStreamWritesTheBodyAsReceived) {
  TMemoryStream stream;
  stream.WriteString("head:");
  HttpGetToStream(Url("/bytes"), stream);
  std::string expected;
  for (int i = 0; i < 64; ++i)
    for (int b = 0; b < 256; ++b) expected += static_cast<char>(b);
  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadString(static_cast<int32_t>(stream.GetSize())), "head:" + expected);
}

TEST_F(InetHttp, RequestFailuresRaise) {
  std::string refused = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/x";
  TMemoryStream stream;
  EXPECT_THROW(HttpGetText(refused), Exception);
  EXPECT_THROW(HttpGetToStream(refused, stream), Exception);
  EXPECT_THROW(HttpGetText(Url("/status/404")), Exception);
  EXPECT_THROW(HttpGetToStream(Url("/status/500"), stream), Exception);
  EXPECT_EQ(stream.GetSize(), 0) << "an error page never lands in the caller's stream";
  EXPECT_THROW(HttpPostForm(Server->HostPort(), "/status/503", "a=1"), Exception);
  TMemoryStream body, response;
  body.WriteString("x");
  EXPECT_THROW(HttpPostMultipart(Server->HostPort(), "/status/500", "B", body, response), Exception);
  EXPECT_EQ(response.GetSize(), 0);
  try {
    HttpGetText(refused);
  } catch (const Exception& e) {
    EXPECT_NE(e.Message.find("127.0.0.1"), std::string::npos) << e.Message;
  }
}

TEST_F(InetHttp, ClientGivesUpOnAStalledServer) {
  THttpClient client;
  client.TimeoutMs = 300;  // the server answers only after 10 s: without the time-out it succeeds
  EXPECT_THROW(client.Get(Url("/stall")), EHttpError);
}

namespace {
// The echo of the stand-in server: request line, header map, body.
struct TEcho {
  std::string RequestLine;
  std::map<std::string, std::string> Headers;  // names lower-cased
  std::string Body;
};
TEcho ParseEcho(const std::string& text) {
  TEcho e;
  size_t end = text.find("\r\n\r\n");
  EXPECT_NE(end, std::string::npos);
  std::string head = text.substr(0, end);
  e.Body = text.substr(end + 4);
  size_t pos = head.find("\r\n");
  e.RequestLine = head.substr(0, pos);
  while (pos != std::string::npos) {
    size_t next = head.find("\r\n", pos + 2);
    std::string line = head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
    size_t colon = line.find(": ");
    std::string name = line.substr(0, colon);
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    e.Headers[name] = line.substr(colon + 2);
    pos = next;
  }
  return e;
}
}  // namespace

TEST_F(InetHttp, PostFormSendsTheFixedHeadersAndTheFormAsItStands) {
  const std::string form = "name=" + ScrambleFormField("x") + "&a=%41+b";
  std::string host = Server->HostPort();
  TEcho e = ParseEcho(HttpPostForm(host, "/kestrune/score.php", form));
  EXPECT_EQ(e.RequestLine, "POST /kestrune/score.php HTTP/1.0");
  EXPECT_EQ(e.Headers["accept"], "*/*");
  EXPECT_EQ(e.Headers["connection"], "Keep-Alive");
  EXPECT_EQ(e.Headers["content-length"], std::to_string(form.size()));
  EXPECT_EQ(e.Headers["content-type"], "application/x-www-form-urlencoded");
  EXPECT_EQ(e.Headers["referer"], "http://" + host);
  EXPECT_EQ(e.Headers["user-agent"], "NVX/2.0 (Win)");
  EXPECT_EQ(e.Headers["host"], host);
  EXPECT_EQ(e.Headers.count("expect"), 0u);
  EXPECT_EQ(e.Body, form);
}

TEST_F(InetHttp, PostMultipartSendsTheWholeBodyStreamAndWritesTheResponse) {
  // binary content, bigger than one network buffer, with the stream's position at the end
  std::string framed = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"mybest.gmp\"\r\n\r\n";
  for (int i = 0; i < 100000; ++i) framed += static_cast<char>((i * 7) & 0xFF);
  framed += "\r\n--XyZ--\r\n";
  TMemoryStream body, response;
  body.WriteString(framed);
  response.WriteString("R:");
  HttpPostMultipart(Server->HostPort(), "/upload.php", "XyZ", body, response);
  response.SetPosition(0);
  std::string got = response.ReadString(static_cast<int32_t>(response.GetSize()));
  ASSERT_EQ(got.substr(0, 2), "R:");
  TEcho e = ParseEcho(got.substr(2));
  EXPECT_EQ(e.RequestLine, "POST /upload.php HTTP/1.0");
  EXPECT_EQ(e.Headers["content-type"], "multipart/form-data; boundary=XyZ");
  EXPECT_EQ(e.Headers["content-length"], std::to_string(framed.size()));
  EXPECT_EQ(e.Headers["user-agent"], "NVX/2.0 (Win)");
  EXPECT_EQ(e.Headers["referer"], "http://" + Server->HostPort());
  EXPECT_EQ(e.Body, framed);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Inet, OfflineBranchesOfThePosts) {
  SetConnectedStateHook([] { return false; });
  EXPECT_FALSE(IsConnected());
  // a port nobody listens on: a request that was made would fail with another message
  std::string host = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
  try {
    HttpPostForm(host, "/x", "a=1");
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, Offline);
  }
  TMemoryStream body, response;
  body.WriteString("data");
  EXPECT_NO_THROW(HttpPostMultipart(host, "/x", "B", body, response));
  EXPECT_EQ(response.GetSize(), 0);
  EXPECT_EQ(Messages, std::vector<std::string>{"I:" + Offline});
  SetConnectedStateHook(nullptr);
  EXPECT_TRUE(IsConnected());
}

// ---- error-report mail ----

namespace {
struct TMail {
  std::string Envelope, Data;
};
std::vector<TMail> Mails(const std::string& dir) {
  std::vector<TMail> out;
  for (int n = 1; FileExists(dir + "mail-" + std::to_string(n) + ".env"); ++n)
    out.push_back({ReadAll(dir + "mail-" + std::to_string(n) + ".env"),
                   ReadAll(dir + "mail-" + std::to_string(n) + ".eml")});
  return out;
}
bool HasHeader(const std::string& data, const std::string& line) {
  std::string head = data.substr(0, data.find("\r\n\r\n") + 2);
  return head.find("\r\n" + line + "\r\n") != std::string::npos || head.rfind(line + "\r\n", 0) == 0;
}
}  // namespace

class InetMail : public Inet {
protected:
  void SetUp() override {
    Inet::SetUp();
    SinkDir = Dir + "sink/";
    ForceDirectories(SinkDir);
  }
  void StartSink(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {SinkDir};
    args.insert(args.end(), extra.begin(), extra.end());
    Sink = std::make_unique<TTestServer>("smtp_sink.py", args);
    setenv("KESTRUNE_MAIL_SERVER", Sink->HostPort().c_str(), 1);
    setenv("KESTRUNE_REPORT_ADDRESS", "reports@test.example", 1);
  }
  std::string SinkDir;
  std::unique_ptr<TTestServer> Sink;
};

TEST_F(InetMail, ReportWithAttachment) {
  StartSink();
  std::string file = Dir + "qv.log";
  std::string content = "* Error: something\r\n";
  for (int i = 0; i < 3000; ++i) content += static_cast<char>(i & 0xFF);
  WriteAll(file, content);
  SendErrorReportMail("player@home.example", "It crashed.\nTwice.\n.\nReally.", file);
  EXPECT_EQ(Messages, std::vector<std::string>{"I:Thanks for your help!"});
  std::vector<TMail> mails = Mails(SinkDir);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].Envelope, "FROM <player@home.example>\nTO <reports@test.example>\n");
  const std::string& d = mails[0].Data;
  EXPECT_TRUE(HasHeader(d, "From: player@home.example")) << d.substr(0, 400);
  EXPECT_TRUE(HasHeader(d, "To: reports@test.example"));
  EXPECT_TRUE(HasHeader(d, "Subject: QV Error Report"));
  EXPECT_TRUE(HasHeader(d, "X-Priority: 3"));
  EXPECT_NE(d.find("It crashed.\r\nTwice.\r\n.\r\nReally."), std::string::npos) << "body with its lone dot line";
  EXPECT_NE(d.find("filename=\"qv.log\""), std::string::npos);
  // the attachment's base64 lines sit between its part headers and the closing boundary
  size_t part = d.find("filename=\"qv.log\"");
  size_t start = d.find("\r\n\r\n", part) + 4;
  size_t end = d.find("\r\n--", start);
  EXPECT_EQ(Base64Decode(d.substr(start, end - start)), content);
}

TEST_F(InetMail, ReportWithoutAttachmentCarriesTheBodyOnly) {
  StartSink();
  SendErrorReportMail("player@home.example", "No file this time.", "");
  std::vector<TMail> mails = Mails(SinkDir);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0].Data.find("No file this time."), std::string::npos);
  EXPECT_EQ(mails[0].Data.find("filename="), std::string::npos);
  EXPECT_EQ(Messages, std::vector<std::string>{"I:Thanks for your help!"});
}

TEST_F(InetMail, SenderTextCannotAddHeaders) {
  StartSink();
  SendErrorReportMail("me@home.example\r\nBcc: victim@else.example", "x", "");
  std::vector<TMail> mails = Mails(SinkDir);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].Envelope.find("TO <victim"), std::string::npos) << mails[0].Envelope;
  EXPECT_FALSE(HasHeader(mails[0].Data, "Bcc: victim@else.example"));
}

TEST_F(InetMail, FailuresAreLoggedAndShownNeverRaised) {
  struct Case { const char* name; bool sink; bool reject; bool missingFile; } cases[] = {
      {"refused", false, false, false},
      {"recipient rejected", true, true, false},
      {"attachment missing", true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Messages.clear();
    WriteAll(LogName, "");
    if (c.sink) {
      StartSink(c.reject ? std::vector<std::string>{"--reject-rcpt"} : std::vector<std::string>{});
    } else {
      Sink.reset();
      setenv("KESTRUNE_MAIL_SERVER", ("127.0.0.1:" + std::to_string(UnusedLoopbackPort())).c_str(), 1);
    }
    EXPECT_NO_THROW(SendErrorReportMail("p@home.example", "x", c.missingFile ? Dir + "nothere.txt" : ""));
    EXPECT_EQ(Messages, std::vector<std::string>{"E:Error sending email"});
    EXPECT_TRUE(FileHasLinePrefix(LogName, "* Warning: Error sending email: ")) << ReadAll(LogName);
    EXPECT_TRUE(Mails(SinkDir).empty());
  }
}

TEST_F(InetMail, OfflineLogsAndShowsWithoutSending) {
  StartSink();
  SetConnectedStateHook([] { return false; });
  SendErrorReportMail("p@home.example", "x", "");
  EXPECT_TRUE(Mails(SinkDir).empty());
  EXPECT_EQ(Messages, std::vector<std::string>{"I:" + Offline});
  EXPECT_TRUE(FileHasLine(LogName, "* Info: " + Offline));
}

TEST_F(InetMail, ClientGivesUpOnAStalledServer) {
  StartSink({"--stall"});
  TSmtpClient client;
  client.Server = Sink->HostPort();
  client.TimeoutMs = 300;  // the greeting comes after 120 s: without the time-out the mail goes
  TMailMessage m;
  m.From = "p@home.example";
  m.To = "reports@test.example";
  m.Body = "x";
  EXPECT_THROW(client.Send(m), ESmtpError);
}

TEST(InetDeployment, MailValuesHaveBuiltInDefaultsAndEnvironmentOverrides) {
  unsetenv("KESTRUNE_MAIL_SERVER");
  unsetenv("KESTRUNE_REPORT_ADDRESS");
  EXPECT_NE(ErrorReportMailServer().find(".example"), std::string::npos);
  EXPECT_NE(ErrorReportAddress().find("@"), std::string::npos);
  setenv("KESTRUNE_MAIL_SERVER", "127.0.0.1:2525", 1);
  EXPECT_EQ(ErrorReportMailServer(), "127.0.0.1:2525");
  unsetenv("KESTRUNE_MAIL_SERVER");
}

// ---- browser ----

TEST_F(Inet, BrowserFailureLogsCopiesTheAddressAndTellsTheUser) {
  std::vector<std::string> opened, clipped;
  SetShellOpenHook([&](const std::string& url) {
    opened.push_back(url);
    return false;
  });
  SetClipboardHook([&](const std::string& text) {
    clipped.push_back(text);
    return true;
  });
  OpenURLInBrowser("http://www.orvalent.example/ranking?x=1&y=2");
  EXPECT_EQ(opened, std::vector<std::string>{"http://www.orvalent.example/ranking?x=1&y=2"});
  EXPECT_EQ(clipped, opened);
  EXPECT_TRUE(FileHasLine(LogName, "* Warning: Unable to start Browser."));
  EXPECT_EQ(Messages, std::vector<std::string>{
                          "E:Unable to start Browser. The web address was copied to the clipboard, you may paste "
                          "it manually into your browser."});

  Messages.clear();
  SetShellOpenHook([](const std::string&) { return true; });
  OpenURLInBrowser("http://www.orvalent.example/");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Inet, DefaultOpenerStartsXdgOpenWithTheAddressAsOneArgument) {
  // a stand-in xdg-open first on PATH records its arguments; a second one fails
  std::string bin = Dir + "bin/";
  ForceDirectories(bin);
  std::string record = Dir + "args.txt";
  WriteAll(bin + "xdg-open", "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" >> '" + record + "'\n[ \"$1\" != fail ]\n");
  chmod((bin + "xdg-open").c_str(), 0755);
  const char* oldPath = std::getenv("PATH");
  std::string saved = oldPath ? oldPath : "";
  setenv("PATH", (bin + ":" + saved).c_str(), 1);
  bool ok = DefaultShellOpenURL("http://h.example/a b;$(touch x)&c");
  bool failed = DefaultShellOpenURL("fail");
  bool option = DefaultShellOpenURL("--help");
  setenv("PATH", saved.c_str(), 1);
  EXPECT_TRUE(ok);
  EXPECT_FALSE(failed);
  EXPECT_FALSE(option);
  EXPECT_EQ(ReadAll(record), "1|http://h.example/a b;$(touch x)&c|1|fail|");
  EXPECT_FALSE(FileExists("x"));
}

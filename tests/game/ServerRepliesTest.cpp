// The checks that stand between the game server's replies and the disk, the browser and the
// screen.
#include "game/ServerReplies.h"

#include <gtest/gtest.h>

#include "platform/Http.h"
#include "platform/ShellServices.h"

namespace {

TEST(ServerReplies, OnlyHttpAndHttpsAddressesMayLeaveForTheBrowser) {
  struct Case {
    const char* url;
    bool web;
  } cases[] = {
      {"http://www.example/help/index.asp", true},
      {"HTTPS://www.example/", true},
      {"http://127.0.0.1:8080/a?b=c#d", true},
      {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},
      {"mailto:a@b.example", false},
      {"ms-settings:privacy", false},
      {"http:/x", false},
      {"http://", false},
      {"http:///path", false},
      {"http://a b/", false},
      {"http://a.example/\x01", false},
      {"http://a.example\\evil", false},
      {"-http://a.example/", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsWebAddress(c.url), c.web) << c.url;
}

TEST(ServerReplies, AddressesInMessagesNameHostAndPathOnly) {
  EXPECT_EQ(UrlForDisplay("http://scores.example:81/hs/score3.php?cs=KTA%7Csecret#x"),
            "http://scores.example:81/hs/score3.php");
  EXPECT_EQ(UrlForDisplay("http://user:pw@host.example/a"), "http://host.example/a");
  EXPECT_EQ(UrlForDisplay("http://host.example/a\r\nb"), "http://host.example/a??b");
}

TEST(ServerReplies, TheFirstPlaceReplyNamesAPlainFileOrNothing) {
  struct Case {
    std::string reply;
    TFirstPlaceReply kind;
  } cases[] = {
      {"ok\r\n", TFirstPlaceReply::Current},
      {" ERR ", TFirstPlaceReply::Unavailable},
      {"best2.gmp", TFirstPlaceReply::NewFile},
      {"../env.dat", TFirstPlaceReply::Invalid},
      {"a/b.gmp", TFirstPlaceReply::Invalid},
      {"a\\b.gmp", TFirstPlaceReply::Invalid},
      {"a%2Fb", TFirstPlaceReply::Invalid},
      {"a\x01.gmp", TFirstPlaceReply::Invalid},
      {"a\x7f.gmp", TFirstPlaceReply::Invalid},
      {"a\tb.gmp", TFirstPlaceReply::Invalid},
      {"", TFirstPlaceReply::Invalid},
      {std::string(300, 'a'), TFirstPlaceReply::Invalid},
  };
  for (const Case& c : cases) {
    std::string name;
    EXPECT_EQ(ParseFirstPlaceReply(c.reply, name), c.kind) << c.reply;
  }
}

TEST(ServerReplies, TheScoreReplyKeepsOnlyValuesThatCannotBreakOutOfAnAddressOrARecord) {
  TScoreReply r = ParseScoreReply("junk\r\nSEITE = 12 \r\nid=abc-9\r\nUpload=best_game\r\n");
  EXPECT_EQ(r.Page, "12");
  EXPECT_EQ(r.ID, "abc-9");
  EXPECT_EQ(r.Upload, "best_game");
  r = ParseScoreReply("SEITE=1&uid=evil\r\nID=a|b\r\nUpload=f\" filename=\"x\r\n");
  EXPECT_EQ(r.Page, "");
  EXPECT_EQ(r.ID, "");
  EXPECT_EQ(r.Upload, "");
  EXPECT_EQ(ParseScoreReply("ID=" + std::string(40, 'x')).ID, std::string(32, 'x'));
  EXPECT_EQ(QueryEscape("a b&c=d/é.gmp"), "a%20b%26c%3Dd%2F%C3%A9.gmp");
}

TEST(ServerReplies, VersionReplyShowsAShortVersionAndOpensOnlyAWebPage) {
  TVersionReply v;
  EXPECT_FALSE(ParseVersionReply("9.0.0.0", v));
  ASSERT_TRUE(ParseVersionReply("1.2.0.0\r\nhttp://dl.example/new\r\nmore", v));
  EXPECT_EQ(v.Latest, "1.2.0.0");
  EXPECT_EQ(v.Page, "http://dl.example/new");
  ASSERT_TRUE(ParseVersionReply(std::string("1.2\x1b[0m") + std::string(100, '9') + "\nfile:///etc/passwd", v));
  EXPECT_EQ(v.Latest, "1.2?[0m" + std::string(33, '9'));
  EXPECT_EQ(v.Page, "");
  EXPECT_EQ(v.RawPage, "file:///etc/passwd");
}

}  // namespace

#include "shell/EmailCard.h"

#include "OnlineTestSupport.h"
#include "engine/Inet.h"
#include "shell/SimpleMapi.h"

namespace {

TEST(EmailCard, SenderAddressCheck) {
  struct Case {
    const char* address;
    bool ok;
  } cases[] = {
      {"me@home.example", true}, {"  me@home.example ", true}, {"a@b.c", true},   {"@home.example", false},
      {"me.home.example", false}, {"me@home", false},          {"me @home.example", false}, {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ValidCardSenderAddress(c.address), c.ok) << c.address;
}

TEST(EmailCard, RecordFields) {
  EXPECT_EQ(BuildCardRecord("a@x.example, b@y.example", "", " Zed ", " me@home.example ", ""),
            "a@x.example, b@y.example| |Zed|me@home.example| |");
  EXPECT_EQ(BuildCardRecord("a|b", "1 < 2\r\nyes|no", "Z|ed", "m|e", " id "),
            "a!b|1 &lt; 2<br>\nyes!no|Z!ed|m!e|id|");
}

TEST(EmailCard, AddressBookPicksAreAppended) {
  std::vector<TMapiRecipient> two(2);
  two[0].Address = "a@x.example";
  two[1].Address = "b@y.example";
  EXPECT_EQ(AppendRecipients("", two), "a@x.example, b@y.example");
  EXPECT_EQ(AppendRecipients("c@z.example,", two), "c@z.example,a@x.example, b@y.example");
  std::vector<TMapiRecipient> blank(1);
  EXPECT_EQ(AppendRecipients("c@z.example", blank), "c@z.example");
}

TEST(SimpleMapi, ErrorTextsAndTheMissingAddressBook) {
  EXPECT_EQ(EMapiError(3).Message, "MAPI Error: (3) \"MAPI login failure\"");
  EXPECT_EQ(EMapiError(26).Message, "MAPI Error: (26) \"Not supported\"");
  EXPECT_EQ(EMapiError(7).Message, "MAPI Error: (7) \"\"");
  EXPECT_EQ(EMapiError(99).Message, "MAPI Error: (99) \"\"");
  TMapiEmail mail;
  mail.LogOn("", "");
  EXPECT_TRUE(mail.LoggedOn());
  try {
    mail.Address("", 1);
    FAIL() << "no address book here";
  } catch (const EMapiError& e) {
    EXPECT_EQ(e.ErrorCode, kMapiNotSupported);
    EXPECT_NE(e.Message.find("no address book"), std::string::npos);
  }
  EXPECT_TRUE(mail.Recipients.empty());
}

using CardSend = OnlineTest;

TEST_F(CardSend, PostsTheScrambledRecordToTheCardScript) {
  GameEnvironment.UserID = "u9";
  EXPECT_TRUE(SendEmailCard("a@x.example", "Hi", "Zed", "me@home.example", Ui));
  EXPECT_EQ(Requests(), std::vector<std::string>{"POST /card.php"});
  std::string body = PostBody(0);
  EXPECT_EQ(body.rfind("cs=", 0), 0u);
  EXPECT_GT(body.size(), 10u);
  EXPECT_EQ(body.find('|'), std::string::npos) << "the record goes scrambled";
  EXPECT_EQ(Waits, std::vector<std::string>{"sends the email card."});
  EXPECT_EQ(WaitsEnded, 1);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(CardSend, RefusedAndFailedSends) {
  EXPECT_FALSE(SendEmailCard("a@x.example", "", "Zed", "@home.example", Ui));
  EXPECT_EQ(Messages, std::vector<std::string>{
                          "Please enter a valid email address to give your recipients the ability to reply to your card"});
  EXPECT_TRUE(Requests().empty());

  Messages.clear();
  ServeStatus("card.php", 500);
  EXPECT_FALSE(SendEmailCard("a@x.example", "", "Zed", "me@home.example", Ui));
  EXPECT_EQ(Messages, std::vector<std::string>{"There was an error sending the card email."});
  EXPECT_NE(GetLogText().find("There was an error sending the card email. ("), std::string::npos);
  EXPECT_EQ(WaitsEnded, 1);

  Messages.clear();
  ConnectionTestHook = [] { return false; };
  EXPECT_FALSE(SendEmailCard("a@x.example", "", "Zed", "me@home.example", Ui));
  EXPECT_EQ(Messages, std::vector<std::string>{"Unable to connect to the internet"});
  EXPECT_EQ(Requests().size(), 1u);
}

}  // namespace

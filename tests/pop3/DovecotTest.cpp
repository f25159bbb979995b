// The POP3 component against a real server: a private Dovecot on loopback,
// one fresh mailbox per test.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Exceptions.h"
#include "pop3/NMpop3.h"
#include "tests/pop3/support/DovecotServer.h"
#include "tests/support/ScriptedPeer.h"

namespace pelicore {
namespace {

using testing::DovecotServer;
using testing::SharedDovecot;
using testing::WireSize;

struct Letter {
  std::string Subject, From, MessageId, Text;
};

Letter MakeLetter(const std::string& Subject, const std::string& From, const std::string& MessageId,
                  const std::string& Body) {
  std::string Text = "Subject: " + Subject + "\nFrom: " + From + "\nMessage-ID: " + MessageId +
                     "\nTo: pelicore@example.test\n\n" + Body;
  return {" " + Subject, " " + From, MessageId, Text};
}

// Plain text, a line that needs dot-stuffing, an empty body, Japanese bytes.
const std::vector<Letter> kCorpus = {
    MakeLetter("Hello", "Alice <alice@example.test>", "<1@example.test>", "Hi there.\nSecond line.\n"),
    MakeLetter("Dots", "bob@example.test", "<2.dots@example.test>", "before\n.\n..twice\nafter\n"),
    MakeLetter("Empty body", "carol@example.test", "<3@example.test>", ""),
    MakeLetter("\xe4\xbb\xb6\xe5\x90\x8d", "dave@example.test", "<4@example.test>", "\xe6\x9c\xac\xe6\x96\x87\n"),
};

std::vector<std::string> Texts(const std::vector<Letter>& Letters) {
  std::vector<std::string> T;
  T.reserve(Letters.size());
  for (const Letter& L : Letters) T.push_back(L.Text);
  return T;
}

class Pop3AgainstDovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (DovecotServer::BinaryPath().empty()) GTEST_SKIP() << "dovecot is not installed (package dovecot-pop3d)";
    Server = &SharedDovecot();
    User = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Server->AddUser(User, "secret", Texts(kCorpus));
    Server->Start();
  }

  ComponentPtr<TNMPOP3> NewClient(const std::string& Password = "secret") {
    auto Pop = MakeComponent<TNMPOP3>(nullptr);
    Pop->Host = "127.0.0.1";
    Pop->Port = Server->Port();
    Pop->UserID = User;
    Pop->Password = Password;
    return Pop;
  }

  DovecotServer* Server = nullptr;
  std::string User;
};

TEST_F(Pop3AgainstDovecot, ReadsTheMailboxAsDelivered) {
  auto Pop = NewClient();
  Pop->Connect();
  EXPECT_EQ(Pop->MailCount, static_cast<std::int32_t>(kCorpus.size()));

  std::vector<std::pair<std::int32_t, std::int32_t>> Listed;
  Pop->OnList = [&](std::int32_t Msg, std::int32_t Size) { Listed.emplace_back(Msg, Size); };
  Pop->List();
  std::vector<std::pair<std::int32_t, std::int32_t>> Expected;
  for (std::size_t I = 0; I < kCorpus.size(); ++I)
    Expected.emplace_back(static_cast<std::int32_t>(I + 1), static_cast<std::int32_t>(WireSize(kCorpus[I].Text)));
  EXPECT_EQ(Listed, Expected);

  std::set<std::string> Identifiers;
  for (std::size_t I = 0; I < kCorpus.size(); ++I) {
    SCOPED_TRACE("message " + std::to_string(I + 1));
    const auto N = static_cast<std::int32_t>(I + 1);
    Pop->GetSummary(N);
    EXPECT_EQ(Pop->Summary->Subject, kCorpus[I].Subject);
    EXPECT_EQ(Pop->Summary->From, kCorpus[I].From);
    EXPECT_EQ(Pop->Summary->MessageId, kCorpus[I].MessageId);
    EXPECT_EQ(Pop->Summary->Bytes, static_cast<std::int32_t>(WireSize(kCorpus[I].Text)));
    ASSERT_GE(Pop->Summary->Header.Count(), 2);
    EXPECT_EQ(Pop->Summary->Header[Pop->Summary->Header.Count() - 1], ".");
    EXPECT_EQ(Pop->Summary->Header[Pop->Summary->Header.Count() - 2], "");

    const std::string Id = Pop->UniqueID(N);
    EXPECT_FALSE(Id.empty());
    EXPECT_EQ(Id.find_first_of(" \r\n"), std::string::npos);
    Identifiers.insert(Id);
  }
  EXPECT_EQ(Identifiers.size(), kCorpus.size());

  Pop->Disconnect();
  EXPECT_FALSE(Pop->Connected);
}

TEST_F(Pop3AgainstDovecot, DeletionTakesEffectOnlyAfterQuit) {
  const int Stored = Server->MessagesOnDisk(User);
  ASSERT_EQ(Stored, static_cast<int>(kCorpus.size()));

  // Abort closes without QUIT: the server forgets the mark.
  auto Pop = NewClient();
  Pop->Connect();
  Pop->DeleteMailMessage(1);
  Pop->Abort();
  EXPECT_FALSE(Pop->Connected);
  Pop->Connect();
  EXPECT_EQ(Pop->MailCount, Stored);
  EXPECT_EQ(Server->MessagesOnDisk(User), Stored);

  // Disconnect sends QUIT: the marked message is gone.
  int Successes = 0;
  Pop->OnSuccess = [&](TComponent*) { ++Successes; };
  Pop->DeleteMailMessage(2);
  EXPECT_EQ(Successes, 1);
  Pop->Disconnect();
  EXPECT_EQ(Server->MessagesOnDisk(User), Stored - 1);
  Pop->Connect();
  EXPECT_EQ(Pop->MailCount, Stored - 1);
  Pop->GetSummary(2);
  EXPECT_EQ(Pop->Summary->Subject, kCorpus[2].Subject);  // the old third is second now
  Pop->Disconnect();
}

TEST_F(Pop3AgainstDovecot, WrongPasswordFailsAfterQuit) {
  auto Pop = NewClient("wrong");
  std::vector<std::string> Events;
  Pop->OnAuthenticationFailed = [&](bool&) { Events.push_back("authentication failed"); };  // declines
  Pop->OnDisconnect = [&](TComponent*) { Events.push_back("disconnect"); };
  Pop->OnConnect = [&](TComponent*) { Events.push_back("connect"); };
  try {
    Pop->Connect();
    FAIL() << "Connect succeeded with a wrong password";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), "Authentication failed");
  }
  EXPECT_EQ(Events, (std::vector<std::string>{"authentication failed", "disconnect"}));
  EXPECT_FALSE(Pop->Connected);
  EXPECT_EQ(Pop->TransactionReply.substr(0, 3), "+OK");  // the reply to QUIT

  Pop->Password = "secret";  // the same component logs in afterwards
  Pop->Connect();
  EXPECT_EQ(Pop->MailCount, static_cast<std::int32_t>(kCorpus.size()));
  Pop->Disconnect();
}

TEST(Pop3WithoutServer, NothingListeningFailsAfterConnectionFailed) {
  auto Pop = MakeComponent<TNMPOP3>(nullptr);
  Pop->Host = "127.0.0.1";
  test::RefusingPort Nobody;
  Pop->Port = Nobody.Port();
  Pop->UserID = "user";
  Pop->Password = "secret";
  std::vector<std::string> Events;
  Pop->OnConnectionFailed = [&](TComponent*) { Events.push_back("connection failed"); };
  Pop->OnConnect = [&](TComponent*) { Events.push_back("connect"); };
  Pop->OnDisconnect = [&](TComponent*) { Events.push_back("disconnect"); };
  try {
    Pop->Connect();
    FAIL() << "Connect succeeded with nothing listening";
  } catch (const ESockError& E) {
    EXPECT_EQ(E.Message(), "Connection Failed");
  }
  EXPECT_EQ(Events, std::vector<std::string>{"connection failed"});
  EXPECT_FALSE(Pop->Connected);
}

}  // namespace
}  // namespace pelicore

// Logging in and out: greeting, credentials, the login loop, STAT, QUIT,
// RSET and Abort, with the exact bytes sent and the order of events.
#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "tests/pop3/Pop3Dialogue.h"

namespace pelicore {
namespace {

struct StatCase {
  const char* Greeting;
  const char* Stat;
  std::int32_t MailCount;
};

void PrintTo(const StatCase& C, std::ostream* Out) { *Out << Visible(C.Greeting) << " / " << Visible(C.Stat); }

class Pop3Login : public Pop3Dialogue, public ::testing::WithParamInterface<StatCase> {};

TEST_P(Pop3Login, LogsInAndReadsTheCount) {
  const StatCase& C = GetParam();
  Server(C.Greeting);
  Client("USER user\r\n").Server("+OK\r\n");
  Client("PASS pw\r\n").Server("+OK\r\n");
  Client("STAT\r\n").Server(C.Stat);
  Start();
  Pop->TZedadedar::OnConnect = Note("tcp connected");
  Pop->OnConnect = Note("logged in");

  Pop->Connect();
  EXPECT_EQ(Pop->MailCount, C.MailCount);
  EXPECT_TRUE(Pop->Connected);
  EXPECT_EQ(Log, (Events{"tcp connected", "logged in"}));
  Verify();
}

INSTANTIATE_TEST_SUITE_P(Replies, Pop3Login,
                         ::testing::Values(StatCase{"+OK ready\r\n", "+OK 3 1200\r\n", 3},
                                           // "+OK" is found anywhere in the first word
                                           StatCase{"+OK\r\n", "+OK\r\n", 0},
                                           StatCase{"x+OKx ready\r\n", "+OK 0 0\r\n", 0},
                                           StatCase{"+OK ready\r\n", "+OK 7\r\n", 7},
                                           StatCase{"+OK ready\r\n", "+OK many 1200\r\n", 0}));

TEST_F(Pop3Dialogue, RefusedGreetingIsThrownAfterQuit) {
  Server("-ERR too busy\r\n");
  Quit();
  Start();
  Pop->OnConnect = Note("logged in");
  Pop->OnDisconnect = Note("disconnected");
  NoteFailure([&] { Pop->Connect(); });
  EXPECT_EQ(Log, (Events{"disconnected", "exception: -ERR too busy\r\n"}));
  Verify();
}

// After a refused greeting the server often goes without answering the QUIT
// that follows; the user must still read the server's refusal.
struct RefusalCase {
  const char* Greeting;
  enum { Closes, Resets, Answers } AfterQuit;
  const char* QuitReply;  // for Answers
  const char* Thrown;
};

void PrintTo(const RefusalCase& C, std::ostream* Out) {
  *Out << Visible(C.Greeting) << " / " << (C.QuitReply ? Visible(C.QuitReply) : "no answer");
}

class Pop3Refusal : public Pop3Dialogue, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Pop3Refusal, TheServerWordsReachTheCaller) {
  const RefusalCase& C = GetParam();
  Server(C.Greeting);
  Client("QUIT\r\n");
  if (C.AfterQuit == RefusalCase::Closes) Close().ExpectClose();
  if (C.AfterQuit == RefusalCase::Resets) Reset();
  if (C.AfterQuit == RefusalCase::Answers) Server(C.QuitReply).ExpectClose();
  Start();
  Pop->OnConnect = Note("logged in");
  Pop->OnDisconnect = Note("disconnected");
  NoteFailure([&] { Pop->Connect(); });
  EXPECT_EQ(Log, (Events{"disconnected", std::string("exception: ") + C.Thrown}));
  EXPECT_FALSE(Pop->Connected);
  Verify();
}

INSTANTIATE_TEST_SUITE_P(
    Greetings, Pop3Refusal,
    ::testing::Values(RefusalCase{"-ERR too busy\r\n", RefusalCase::Closes, nullptr, "-ERR too busy\r\n"},
                      RefusalCase{"-ERR too busy\r\n", RefusalCase::Resets, nullptr, "-ERR too busy\r\n"},
                      // something that is no POP3 reply at all
                      RefusalCase{"HTTP/1.1 400 Bad Request\r\n", RefusalCase::Closes, nullptr,
                                  "HTTP/1.1 400 Bad Request\r\n"},
                      // an answered QUIT: only its own refusal replaces the greeting
                      RefusalCase{"-ERR too busy\r\n", RefusalCase::Answers, "+OK bye\r\n", "-ERR too busy\r\n"},
                      RefusalCase{"-ERR too busy\r\n", RefusalCase::Answers, "-ERR go away\r\n",
                                  "-ERR go away\r\n"}));

TEST_F(Pop3Dialogue, QuitAfterARefusalWaitsABoundedTimeWithoutATimeOut) {
  Pop->TimeOut = 0;  // no time-out of the caller's own
  Server("-ERR too busy\r\n");
  Client("QUIT\r\n").ExpectClose();  // the server reads QUIT and says nothing
  Start();
  NoteFailure([&] { Pop->Connect(); });
  EXPECT_EQ(Log, (Events{"exception: -ERR too busy\r\n"}));
  EXPECT_FALSE(Pop->Connected);
  EXPECT_EQ(Pop->TimeOut, 0) << "the caller's setting is put back";
  Verify();
}

TEST_F(Pop3Dialogue, HandlerThatLeavesTheUserEmptyIsAskedOnce) {
  Pop->UserID = "";
  int Asked = 0;
  Pop->OnAuthenticationNeeded = [&](bool& Handled) {
    ++Asked;
    Handled = true;  // but the name stays empty
  };
  Server("+OK\r\n");
  Client("USER \r\n").Server("+OK\r\n");
  Client("PASS pw\r\n").Server("+OK\r\n");
  Client("STAT\r\n").Server("+OK 0 0\r\n");
  Start();
  Pop->Connect();
  EXPECT_EQ(Asked, 1);
  Verify();
}

TEST_F(Pop3Dialogue, MissingCredentialsFailBeforeConnecting) {
  test::RefusingPort Nobody;  // a connect attempt would fail differently
  Pop->Port = Nobody.Port();
  Pop->OnConnectionFailed = Note("connection failed");
  Pop->Password = "";

  NoteFailure([&] { Pop->Connect(); });  // no handler
  Pop->OnAuthenticationNeeded = [&](bool&) { Log.push_back("asked"); };  // declines
  NoteFailure([&] { Pop->Connect(); });
  EXPECT_EQ(Log, (Events{"exception: Authentication failed", "asked", "exception: Authentication failed"}));
}

TEST_F(Pop3Dialogue, RefusedUserIsRetriedOnceAfterTheHandlerCorrectsIt) {
  Pop->UserID = "wrong";
  Pop->OnAuthenticationFailed = [&](bool& Handled) {
    Log.push_back("authentication failed");
    Pop->UserID = "user";
    Handled = true;
  };
  Pop->OnConnect = Note("logged in");
  Server("+OK ready\r\n");
  Client("USER wrong\r\n").Server("-ERR no such user\r\n");
  Client("USER user\r\n").Server("+OK\r\n");
  Client("PASS pw\r\n").Server("+OK\r\n");
  Client("STAT\r\n").Server("+OK 1 10\r\n");
  Start();
  Pop->Connect();
  EXPECT_EQ(Log, (Events{"authentication failed", "logged in"}));
  EXPECT_EQ(Pop->MailCount, 1);
  Verify();
}

TEST_F(Pop3Dialogue, SecondRefusalFailsWithoutAskingAgain) {
  Pop->OnAuthenticationFailed = [&](bool& Handled) {
    Log.push_back("authentication failed");
    Handled = true;
  };
  Pop->OnConnect = Note("logged in");
  Pop->OnDisconnect = Note("disconnected");
  Server("+OK ready\r\n");
  Client("USER user\r\n").Server("+OK\r\n");
  Client("PASS pw\r\n").Server("-ERR wrong password\r\n");
  Client("USER user\r\n").Server("+OK\r\n");
  Client("PASS pw\r\n").Server("-ERR wrong password\r\n");
  Quit();
  Start();
  NoteFailure([&] { Pop->Connect(); });
  EXPECT_EQ(Log, (Events{"authentication failed", "disconnected", "exception: Authentication failed"}));
  EXPECT_FALSE(Pop->Connected);
  Verify();
}

TEST_F(Pop3Dialogue, RefusedStatStillReportsTheLogin) {
  Server("+OK ready\r\n");
  Client("USER user\r\n").Server("+OK\r\n");
  Client("PASS pw\r\n").Server("+OK\r\n");
  Client("STAT\r\n").Server("-ERR mailbox locked\r\n");
  Quit();
  Start();
  Pop->OnConnect = [&](TComponent* Sender) {
    EXPECT_EQ(Sender, Pop.get());
    Log.push_back(Pop->Connected ? "logged in, connected" : "logged in, closed");
  };
  Pop->OnDisconnect = Note("disconnected");
  NoteFailure([&] { Pop->Connect(); });
  EXPECT_EQ(Log, (Events{"disconnected", "logged in, closed", "exception: -ERR mailbox locked\r\n"}));
  EXPECT_EQ(Pop->MailCount, 0);
  Verify();
}

TEST_F(Pop3Dialogue, DisconnectSendsQuitAndClosesWhateverTheReply) {
  Login();
  Client("QUIT\r\n").Server("-ERR could not delete\r\n");
  Peer.ExpectClose();
  Start();
  Pop->Connect();
  Pop->OnDisconnect = Note("disconnected");
  NoteFailure([&] { Pop->Disconnect(); });
  EXPECT_EQ(Log, (Events{"disconnected", "exception: -ERR could not delete\r\n"}));
  EXPECT_FALSE(Pop->Connected);

  NoteFailure([&] { Pop->Disconnect(); });  // not connected: nothing at all
  EXPECT_EQ(Log.back(), "no exception");
  EXPECT_EQ(Log.size(), 3u);
  Verify();
}

TEST_F(Pop3Dialogue, ResetUnmarksAndRaisesOnReset) {
  Login();
  Client("RSET\r\n").Server("+OK\r\n");
  Client("RSET\r\n").Server("-ERR not now\r\n");
  Start();
  Pop->Connect();
  Pop->OnReset = Note("reset");
  NoteFailure([&] { Pop->Reset(); });
  // A refusal leaves the marks in place: the caller must learn of it.
  NoteFailure([&] { Pop->Reset(); });
  EXPECT_EQ(Log, (Events{"reset", "no exception", "exception: -ERR not now\r\n"}));
  EXPECT_TRUE(Pop->Connected);
  Verify();
}

TEST_F(Pop3Dialogue, AbortFromAHandlerEndsTheWaitAndClosesWithoutQuit) {
  Login();
  Client("LIST \r\n").Server("+OK\r\n1 100\r\n");  // the rest never comes
  Start();
  Pop->Connect();
  Pop->OnList = [&](std::int32_t, std::int32_t) {
    Log.push_back("list");
    Pop->Abort();
  };
  Pop->OnDisconnect = Note("disconnected");
  NoteFailure([&] { Pop->List(); });
  EXPECT_EQ(Log, (Events{"list", "disconnected", "exception: Socket readln aborted"}));
  EXPECT_FALSE(Pop->Connected);

  Log.clear();
  NoteFailure([&] { Pop->List(); });  // the busy flag is clear again
  EXPECT_EQ(Log, (Events{"exception: Not Connected"}));
  Verify();
}

TEST_F(Pop3Dialogue, FreeingAConnectedComponentClosesWithoutQuit) {
  Login();
  Peer.ExpectClose();
  Start();
  Pop->Connect();
  Pop->OnDisconnect = Note("disconnected");
  Pop.reset();
  Verify();
  EXPECT_TRUE(Log.empty());
}

}  // namespace
}  // namespace pelicore

// The mailbox operations: LIST, TOP/LIST n summaries, UIDL and DELE, the busy
// rule, and replies that end early or run long.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/Exceptions.h"
#include "tests/pop3/Pop3Dialogue.h"

namespace pelicore {
namespace {

using Listing = std::vector<std::pair<std::int32_t, std::int32_t>>;

class Pop3List : public Pop3Dialogue, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(Pop3List, ReportsEveryLineBeforeTheDot) {
  // Delivered in pieces of the given size; the dialogue must not change.
  Login();
  // A bare LF ends a line too, and takes no digit with it.
  Client("LIST \r\n").Server("+OK 3 messages\r\n1 1200\r\n2 340\r\n3 56\n.\r\n", GetParam());
  Client("LIST \r\n").Server("+OK\r\n1 1200\r\n2 340\r\n.\r\n", GetParam());
  Client("UIDL 2\r\n").Server("+OK 2 uid-2\r\n");  // in step after the unread listing
  Start();
  Pop->Connect();

  Listing Listed;
  Pop->OnList = [&](std::int32_t Msg, std::int32_t Size) { Listed.emplace_back(Msg, Size); };
  Pop->List();
  EXPECT_EQ(Listed, (Listing{{1, 1200}, {2, 340}, {3, 56}}));

  Pop->OnList = nullptr;  // the listing is still read up to its end
  Pop->List();
  EXPECT_EQ(Pop->UniqueID(2), "uid-2");
  Verify();
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, Pop3List, ::testing::Values(0, 1, 2, 7));

TEST_F(Pop3Dialogue, ListFailuresLeaveTheSessionInStep) {
  Login();
  Client("LIST \r\n").Server("-ERR not now\r\n");
  Client("LIST \r\n").Server("+OK\r\n1 12x\r\n2 340\r\n.\r\n");
  Client("LIST \r\n").Server("+OK\r\n1 100\r\n2 200\r\n.\r\n");
  Client("UIDL 1\r\n").Server("+OK 1 one\r\n");
  Start();
  Pop->Connect();
  Listing Listed;
  Pop->OnList = [&](std::int32_t Msg, std::int32_t Size) { Listed.emplace_back(Msg, Size); };

  NoteFailure([&] { Pop->List(); });  // refused: no listing follows, none awaited
  NoteFailure([&] { Pop->List(); });  // a size that is no number
  EXPECT_TRUE(Listed.empty());
  Pop->OnList = [&](std::int32_t, std::int32_t) {
    Log.push_back("list");
    throw Exception("handler failed");
  };
  NoteFailure([&] { Pop->List(); });
  EXPECT_EQ(Log, (Events{"exception: -ERR not now\r\n", "exception: '12x' は整数ではありません", "list",
                         "exception: handler failed"}));
  // The rest of each listing was read, so the next reply is the right one.
  EXPECT_EQ(Pop->UniqueID(1), "one");
  Verify();
}

struct HeaderCase {
  const char* Line;  // one header line as sent, line end included
  const char* Subject;
  const char* From;
  const char* MessageId;
  const char* Stored;  // the entry in Header
};

const std::string kLongId = "<" + std::string(300, 'a') + ">";

const HeaderCase kHeaderCases[] = {
    {"Subject: Hello\r\n", " Hello", "", "", "Subject: Hello"},  // the blank stays
    {"Subject:Hello\r\n", "Hello", "", "", "Subject:Hello"},
    {"From: a@example.test\r\n", "", " a@example.test", "", "From: a@example.test"},
    {"Message-ID: <1@example.test>\r\n", "", "", "<1@example.test>", "Message-ID: <1@example.test>"},
    {"Message-Id: <1@example.test>\r\n", "", "", "", "Message-Id: <1@example.test>"},  // names are case-sensitive
    {"SUBJECT: Hello\r\n", "", "", "", "SUBJECT: Hello"},
    {"subject: Hello\r\n", "", "", "", "subject: Hello"},
    {"Subject: Hello\n", " Hello", "", "", "Subject: Hello"},  // a bare LF loses only itself
    {"From: a@example.test\n", "", " a@example.test", "", "From: a@example.test"},
    {"Subject:\r\n", "", "", "", "Subject:"},
    {"\tHello again\r\n", "", "", "", "\tHello again"},  // continuation lines add nothing
    {"X-Subject: Hello\r\n", "", "", "", "X-Subject: Hello"},
};

TEST_F(Pop3Dialogue, SummaryTakesSubjectFromAndMessageIdFromTheirLines) {
  Login();
  int N = 0;
  for (const HeaderCase& C : kHeaderCases) {
    ++N;
    Client("TOP " + std::to_string(N) + " 0\r\n").Server(std::string("+OK\r\n") + C.Line + "\r\n.\r\n");
    Client("LIST " + std::to_string(N) + "\r\n").Server("+OK " + std::to_string(N) + " 1234\r\n");
  }
  Client("TOP 99 0\r\n").Server("+OK\r\nMessage-ID: " + kLongId + "\r\n\r\n.\r\n");
  Client("LIST 99\r\n").Server("+OK 99 5\r\n");
  Start();
  Pop->Connect();

  N = 0;
  for (const HeaderCase& C : kHeaderCases) {
    SCOPED_TRACE(C.Line);
    Pop->GetSummary(++N);
    const TSummary& S = *Pop->Summary;
    EXPECT_EQ(S.Subject, C.Subject);
    EXPECT_EQ(S.From, C.From);
    EXPECT_EQ(S.MessageId, C.MessageId);
    EXPECT_EQ(S.Bytes, 1234);
    EXPECT_EQ(S.Header.Items(), (std::vector<std::string>{C.Stored, "", "."}));
  }
  Pop->GetSummary(99);
  EXPECT_EQ(Pop->Summary->MessageId, kLongId.substr(0, 256));
  EXPECT_EQ(Pop->Summary->Bytes, 5);
  Verify();
}

TEST_F(Pop3Dialogue, SummaryEventsAndFailures) {
  Login();
  Client("TOP 1 0\r\n").Server("+OK\r\nSubject: One\r\nFrom: a\r\n\r\n.\r\n");
  Client("LIST 1\r\n").Server("+OK 1 1200\r\n");
  Client("TOP 2 0\r\n").Server("-ERR no such message\r\n");
  Client("TOP 3 0\r\n").Server("+OK\r\nSubject: Three\r\n\r\n.\r\n");
  Client("LIST 3\r\n").Server("-ERR no such message\r\n");
  Start();
  Pop->ReportLevel = StatusLevel::Replies;
  Pop->Connect();
  Pop->OnRetrieveStart = Note("start");
  Pop->OnRetrieveEnd = [&](TComponent*) { Log.push_back("end after " + Pop->LastStatus); };

  NoteFailure([&] { Pop->GetSummary(1); });
  EXPECT_EQ(Pop->Summary->Subject, " One");
  NoteFailure([&] { Pop->GetSummary(2); });  // the last summary stays
  EXPECT_EQ(Pop->Summary->Subject, " One");
  EXPECT_EQ(Pop->Summary->Bytes, 1200);
  NoteFailure([&] { Pop->GetSummary(3); });  // header stored, size unknown
  EXPECT_EQ(Pop->Summary->Subject, " Three");
  EXPECT_EQ(Log, (Events{"start", "end after Summary Retrieved", "no exception", "start",
                         "exception: -ERR no such message\r\n", "start",
                         "exception: 'such' は整数ではありません"}));
  Verify();
}

struct ReplyCase {
  const char* Reply;
  const char* Outcome;  // the events and result as the test notes them
};

void PrintTo(const ReplyCase& C, std::ostream* Out) { *Out << Visible(C.Reply); }

class Pop3UniqueID : public Pop3Dialogue, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(Pop3UniqueID, TakesTheThirdWordOfAPositiveReply) {
  Login();
  Client("UIDL 7\r\n").Server(GetParam().Reply);
  Start();
  Pop->Connect();
  Pop->OnFailure = Note("failure");
  Pop->OnSuccess = Note("success");
  NoteFailure([&] { Log.push_back("id '" + Pop->UniqueID(7) + "'"); });
  std::string Outcome;
  for (const std::string& L : Log) Outcome += (Outcome.empty() ? "" : ", ") + L;
  EXPECT_EQ(Outcome, GetParam().Outcome);
  Verify();
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Pop3UniqueID,
    ::testing::Values(ReplyCase{"+OK 7 QhdPYR:00WBw1Ph7x7\r\n", "id 'QhdPYR:00WBw1Ph7x7', no exception"},
                      ReplyCase{"+OK 7\r\n", "id '', no exception"},  // two words: no identifier
                      ReplyCase{"+OK 7 abc def\r\n", "id 'abc', no exception"},
                      ReplyCase{"-ERR no such message\r\n", "failure, exception: -ERR no such message\r\n"},
                      // the first word keeps the line end, so it is not "+OK"
                      ReplyCase{"+OK\r\n", "failure, exception: +OK\r\n"},
                      ReplyCase{"+OKAY 7 abc\r\n", "failure, exception: +OKAY 7 abc\r\n"}));

class Pop3Delete : public Pop3Dialogue, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(Pop3Delete, ReportsTheOutcome) {
  Login();
  Client("DELE 3\r\n").Server(GetParam().Reply);
  Start();
  Pop->Connect();
  Pop->OnFailure = Note("failure");
  Pop->OnSuccess = Note("success");
  NoteFailure([&] { Pop->DeleteMailMessage(3); });
  std::string Outcome;
  for (const std::string& L : Log) Outcome += (Outcome.empty() ? "" : ", ") + L;
  EXPECT_EQ(Outcome, GetParam().Outcome);
  Verify();
}

INSTANTIATE_TEST_SUITE_P(Replies, Pop3Delete,
                         ::testing::Values(ReplyCase{"+OK message 3 deleted\r\n", "success, no exception"},
                                           ReplyCase{"+OK\r\n", "success, no exception"},
                                           ReplyCase{"-ERR no such message\r\n",
                                                     "failure, exception: -ERR no such message\r\n"},
                                           // a bare refusal is still a refusal
                                           ReplyCase{"-ERR\r\n", "failure, exception: -ERR\r\n"},
                                           ReplyCase{"-ERR\n", "failure, exception: -ERR\n"}));

TEST_F(Pop3Dialogue, OnSuccessMayStartTheNextOperation) {
  Login();
  Client("DELE 1\r\n").Server("+OK\r\n");
  Client("UIDL 2\r\n").Server("+OK 2 two\r\n");
  Start();
  Pop->Connect();
  Pop->OnSuccess = [&](TComponent*) { Log.push_back(Pop->UniqueID(2)); };
  Pop->DeleteMailMessage(1);
  EXPECT_EQ(Log, Events{"two"});
  Verify();
}

TEST_F(Pop3Dialogue, OperationsStartedDuringAnotherOneDoNothing) {
  Login();
  Client("LIST \r\n").Server("+OK\r\n1 100\r\n.\r\n");
  Client("TOP 1 0\r\n").Server("+OK\r\n\r\n.\r\n");
  Client("LIST 1\r\n").Server("+OK 1 100\r\n");
  Client("UIDL 1\r\n").Server("-ERR no such message\r\n");
  Client("DELE 1\r\n").Server("-ERR no such message\r\n");
  Start();
  Pop->Connect();
  auto Nested = [&] {
    Pop->List();
    Pop->GetSummary(1);
    Log.push_back("id '" + Pop->UniqueID(1) + "'");
    Pop->DeleteMailMessage(1);
  };
  Pop->OnList = [&](std::int32_t, std::int32_t) { Nested(); };
  Pop->OnRetrieveStart = [&](TComponent*) { Nested(); };
  Pop->OnSuccess = Note("success");
  Pop->List();
  Pop->OnList = nullptr;
  Pop->GetSummary(1);
  // A refusal is reported while the refused operation still holds the flag.
  Pop->OnRetrieveStart = nullptr;
  Pop->OnFailure = [&](TComponent*) { Nested(); };
  NoteFailure([&] { Pop->UniqueID(1); });
  NoteFailure([&] { Pop->DeleteMailMessage(1); });
  EXPECT_EQ(Log, (Events{"id ''", "id ''", "id ''", "exception: -ERR no such message\r\n", "id ''",
                         "exception: -ERR no such message\r\n"}));
  Verify();  // nothing but the outer commands was sent
}

TEST_F(Pop3Dialogue, OperationsWithoutAConnectionFailAndStayUsable) {
  Pop->OnRetrieveStart = Note("start");
  for (int Round = 0; Round < 2; ++Round) {  // the busy flag is clear each time
    NoteFailure([&] { Pop->List(); });
    NoteFailure([&] { Pop->GetSummary(1); });
    NoteFailure([&] { Pop->UniqueID(1); });
    NoteFailure([&] { Pop->DeleteMailMessage(1); });
    NoteFailure([&] { Pop->Reset(); });
  }
  EXPECT_EQ(Log, Events(10, "exception: Not Connected"));
}

struct EarlyEnd {
  const char* Name;
  const char* Reply;  // the server closes after it
  bool Summary;      // GetSummary(1) rather than List()
};

void PrintTo(const EarlyEnd& C, std::ostream* Out) { *Out << Visible(C.Reply); }

class Pop3EarlyClose : public Pop3Dialogue, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(Pop3EarlyClose, FailsAndLeavesTheComponentUnconnected) {
  Login();
  Client(GetParam().Summary ? "TOP 1 0\r\n" : "LIST \r\n").Server(GetParam().Reply);
  Peer.Close();
  Start();
  Pop->Connect();
  auto Operation = [&] { GetParam().Summary ? Pop->GetSummary(1) : Pop->List(); };
  NoteFailure(Operation);
  NoteFailure(Operation);  // not busy, and no peer to wait for
  EXPECT_EQ(Log, (Events{std::string("exception: ") + kConnectionClosedText, "exception: Not Connected"}));
  Verify();
}

INSTANTIATE_TEST_SUITE_P(Replies, Pop3EarlyClose,
                         ::testing::Values(EarlyEnd{"ListBeforeDot", "+OK\r\n1 100\r\n", false},
                                           EarlyEnd{"ListInALine", "+OK\r\n1 100\r\n2 2", false},
                                           EarlyEnd{"ListNoStatus", "", false},
                                           EarlyEnd{"TopBeforeDot", "+OK\r\nSubject: x\r\n\r\n", true},
                                           EarlyEnd{"TopNoStatus", "", true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(Pop3Dialogue, OverlongReplyLineClosesWithoutQuit) {
  Login();
  Client("TOP 1 0\r\n").Server("+OK\r\nSubject: " + std::string(70000, 'x') + "\r\n\r\n.\r\n");
  Peer.ExpectClose();
  Start();
  Pop->Connect();
  Pop->OnDisconnect = Note("disconnected");
  try {
    Pop->GetSummary(1);
    FAIL() << "an over-long line was accepted";
  } catch (const ESockError& E) {
    Log.push_back("socket error");
  }
  NoteFailure([&] { Pop->UniqueID(1); });  // the rest of that line is never taken for a reply
  EXPECT_EQ(Log, (Events{"disconnected", "socket error", "exception: Not Connected"}));
  Verify();
}

}  // namespace
}  // namespace pelicore

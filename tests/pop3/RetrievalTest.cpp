// RETR against a scripted server: the stored message with its exact values,
// the order of events and status texts, dot lines and line ends, replies cut
// off or too long, DeleteOnRead, and what is written into the attachment
// folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "tests/pop3/Pop3Dialogue.h"

namespace pelicore {
namespace {

using Lines = std::vector<std::string>;

Lines ItemsOf(const TStringList& List) { return List.Items(); }

class Pop3Retrieve : public Pop3Dialogue, public ::testing::WithParamInterface<std::size_t> {
 protected:
  void NoteEvents() {
    Pop->OnRetrieveStart = Note("retrieve start");
    Pop->OnRetrieveEnd = Note("retrieve end");
    Pop->ReportLevel = 1;
    Pop->OnStatus = [this](TComponent*, const std::string& Text) { Log.push_back("status " + Visible(Text)); };
  }
};

TEST_P(Pop3Retrieve, StoresTheMessageAsItWasSent) {
  // Delivered in pieces of the given size; nothing may change.
  Login();
  Client("RETR 1\r\n")
      .Server(
          "+OK 120 octets\r\n"
          "Subject: Hello\r\n"
          "from: a@example.test\r\n"
          "Content-Type: text/plain\r\n"
          "Message-ID: <1@example.test>\r\n"
          "X-Folded: first\r\n"
          " continued\r\n"
          "\r\n"
          "line one\r\n"
          "..\r\n"       // a body line of one dot
          "...\r\n"      // of two dots
          "..x\r\n"      // starting with a dot
          ".\n"          // a dot and a bare LF does not end the message
          "bare LF\n"    // loses only its LF
          "\r\n"
          "last\r\n"
          ".\r\n",
          GetParam());
  Client("UIDL 1\r\n").Server("+OK 1 one\r\n");  // in step after the message
  Start();
  Pop->Connect();
  NoteEvents();
  Pop->GetMailMessage(1);

  const TMailMessage& M = *Pop->MailMessage;
  EXPECT_EQ(ItemsOf(M.Head), (Lines{"Subject: Hello", "from: a@example.test", "Content-Type: text/plain",
                                    "Message-ID: <1@example.test>", "X-Folded: first", " continued", ""}));
  const Lines Body{"line one", ".", "..", ".x", "", "bare LF", "", "last"};
  EXPECT_EQ(ItemsOf(M.RawBody), Body);
  EXPECT_EQ(ItemsOf(M.Body), Body);
  EXPECT_EQ(M.Attachments.Count(), 0);
  EXPECT_EQ(M.Subject, " Hello");  // the blank after the colon stays
  EXPECT_EQ(M.From, "a@example.test");
  EXPECT_EQ(M.ContentType, "text/plain");
  EXPECT_EQ(M.MessageId, "<1@example.test>");
  EXPECT_EQ(M.Boundary, "");
  EXPECT_EQ(Log, (Events{"retrieve start", "status +OK 120 octets\\r\\n", "status Message Retrieved", "retrieve end"}));

  std::string Value;
  Pop->Extract("Subject", Value);
  EXPECT_EQ(Value, "Hello");
  Pop->Extract("Nowhere", Value);
  EXPECT_EQ(Value, "");
  EXPECT_EQ(Pop->UniqueID(1), "one");
  Verify();
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, Pop3Retrieve, ::testing::Values(0, 1, 2, 7));

TEST_F(Pop3Retrieve, HeaderValuesTakeTheLastLineAndNothingFromBefore) {
  Login();
  Client("RETR 1\r\n").Server("+OK\r\nFrom: old@example.test\r\nSubject: one\r\n\r\nbody\r\n.\r\n");
  Client("RETR 2\r\n")
      .Server("+OK\r\nSUBJECT: two\r\nSubject:glued\r\nsubject: three\r\nX: name=\"n.txt\"\r\n\r\n.\r\n");
  Start();
  Pop->Connect();
  Pop->GetMailMessage(1);
  Pop->GetMailMessage(2);
  const TMailMessage& M = *Pop->MailMessage;
  EXPECT_EQ(M.Subject, " three");  // "Subject:glued" has no blank and is not the field
  EXPECT_EQ(M.From, "");           // the previous message's sender is gone
  EXPECT_EQ(ItemsOf(M.RawBody), Lines{});
  Verify();
}

TEST_F(Pop3Retrieve, FailuresEndTheRetrievalCleanly) {
  // A refusal keeps the previous message; a header without its empty line
  // ends at the end of the message; a limit passed and a reply cut off close
  // the session without QUIT. Every one ends with OnRetrieveEnd.
  Login();
  Client("RETR 1\r\n").Server("+OK\r\nSubject: kept\r\n\r\nkept\r\n.\r\n");
  Client("RETR 9\r\n").Server("-ERR no such message\r\n");
  Client("RETR 2\r\n").Server("+OK\r\nSubject: no body\r\nX-Other: y\r\n.\r\n");
  Client("RETR 3\r\n").Server("+OK\r\nSubject: long\r\n\r\n" + std::string(200, 'x') + "\r\n");
  Peer.ExpectClose();
  Start();
  Pop->Connect();
  Pop->GetMailMessage(1);
  NoteEvents();
  Pop->ReportLevel = 0;
  NoteFailure([&] { Pop->GetMailMessage(9); });
  EXPECT_EQ(ItemsOf(Pop->MailMessage->RawBody), Lines{"kept"});

  NoteFailure([&] { Pop->GetMailMessage(2); });
  EXPECT_EQ(ItemsOf(Pop->MailMessage->Head), (Lines{"Subject: no body", "X-Other: y"}));
  EXPECT_EQ(Pop->MailMessage->RawBody.Count(), 0);

  Pop->RetrieveLimit = 150;
  NoteFailure([&] { Pop->GetMailMessage(3); });
  EXPECT_FALSE(Pop->Connected);
  NoteFailure([&] { Pop->GetMailMessage(4); });
  EXPECT_EQ(Log, (Events{"retrieve start", "retrieve end", "exception: -ERR no such message\r\n",
                         "retrieve start", "retrieve end", "no exception",
                         "retrieve start", "retrieve end",
                         "exception: Message larger than the retrieval limit (150 bytes)",
                         "exception: Not Connected"}));
  Verify();
}

class Pop3CutOff : public Pop3Dialogue, public ::testing::WithParamInterface<const char*> {};

TEST_P(Pop3CutOff, IsNeverAMessage) {
  Login().Client("RETR 1\r\n").Server(GetParam());
  Peer.Close();
  Start();
  Pop->Connect();
  Pop->OnRetrieveEnd = Note("retrieve end");
  Pop->ReportLevel = 1;
  Pop->OnStatus = [&](TComponent*, const std::string& Text) {
    if (Text == "Message Retrieved") Log.push_back("retrieved");
  };
  NoteFailure([&] { Pop->GetMailMessage(1); });
  EXPECT_EQ(Log, (Events{"retrieve end", std::string("exception: ") + kConnectionClosedText}));
  EXPECT_FALSE(Pop->Connected);
  Verify();
}

INSTANTIATE_TEST_SUITE_P(Replies, Pop3CutOff,
                         ::testing::Values("+OK\r\nSubject: x\r\n", "+OK\r\nSubject: x\r\n\r\nbody\r\n",
                                           "+OK\r\n\r\nbody\r\nand a half line"));

TEST_F(Pop3Retrieve, LinesLongerThanTheSocketLimitAreKeptWhole) {
  const std::string Long(std::size_t{100} * 1024, 'L');
  Login();
  Client("RETR 1\r\n").Server("+OK\r\n\r\n" + Long + "\r\nshort\r\n." + Long + "\r\n.\r\n");
  Client("UIDL 1\r\n").Server("+OK 1 one\r\n");
  Start();
  Pop->Connect();
  Pop->GetMailMessage(1);
  EXPECT_EQ(ItemsOf(Pop->MailMessage->RawBody), (Lines{Long, "short", Long}));
  EXPECT_EQ(Pop->UniqueID(1), "one");
  Verify();
}

TEST_F(Pop3Retrieve, DeleteOnReadDeletesAfterTheMessageIsStored) {
  Login();
  Client("RETR 1\r\n").Server("+OK\r\nSubject: a\r\n\r\nbody\r\n.\r\n");
  Client("DELE 1\r\n").Server("+OK deleted\r\n");
  Client("RETR 2\r\n").Server("+OK\r\nSubject: b\r\n\r\nbody 2\r\n.\r\n");
  Client("DELE 2\r\n").Server("-ERR\r\n");  // a bare refusal is a refusal
  Start();
  Pop->Connect();
  Pop->DeleteOnRead = true;
  NoteEvents();
  Pop->GetMailMessage(1);
  NoteFailure([&] { Pop->GetMailMessage(2); });
  EXPECT_EQ(Pop->MailMessage->Subject, " b");  // stored before the refusal
  EXPECT_EQ(Log, (Events{"retrieve start", "status +OK\\r\\n", "status +OK deleted\\r\\n", "status Message Retrieved",
                         "retrieve end", "retrieve start", "status +OK\\r\\n", "status -ERR\\r\\n", "retrieve end",
                         "exception: -ERR\r\n"}));
  Verify();
}

TEST_F(Pop3Retrieve, BusyAndNotConnected) {
  NoteEvents();
  NoteFailure([&] { Pop->GetMailMessage(1); });
  EXPECT_EQ(Log, (Events{"exception: Not Connected"}));
  Log.clear();
  Pop->ReportLevel = 0;

  Login();
  Client("RETR 1\r\n").Server("+OK\r\n\r\nx\r\n.\r\n");
  Start();
  Pop->Connect();
  Pop->OnRetrieveStart = [&](TComponent*) {
    Log.push_back("retrieve start");
    Pop->GetMailMessage(2);  // returns at once: nothing sent
  };
  Pop->GetMailMessage(1);
  EXPECT_EQ(Log, (Events{"retrieve start", "retrieve end"}));
  Verify();
}

}  // namespace
}  // namespace pelicore

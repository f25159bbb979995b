// Reading lines and bytes, sending text, and command/reply transactions over
// a loopback connection to a scripted peer.

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "socket/Psock.h"
#include "tests/socket/SocketTestSupport.h"
#include "tests/support/EventPump.h"
#include "tests/support/ScriptedPeer.h"

namespace pelicore::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// Line fixtures, replayed in several chunk sizes: however the bytes are cut
// up on the way, ReadLn hands out the same lines, each with its line end, and
// the empty string once the peer has closed (a part line is dropped).

struct LineFixture {
  const char* Name;
  std::string Wire;
  std::vector<std::string> Lines;
};

const LineFixture LineFixtures[] = {
    {"Greeting", "+OK ready\r\n", {"+OK ready\r\n"}},
    {"MultiLineReply", "+OK 2 320\r\n1 120\r\n2 200\r\n.\r\n", {"+OK 2 320\r\n", "1 120\r\n", "2 200\r\n", ".\r\n"}},
    {"BareLfAndEmptyLines", "a\nb\r\n\r\n\n", {"a\n", "b\r\n", "\r\n", "\n"}},
    {"CrInsideLine", "a\rb\r\n", {"a\rb\r\n"}},
    {"PartLineBeforeCloseIsDropped", "x\r\n+OK hal", {"x\r\n"}},
};

struct ReplayCase {
  const LineFixture* Fixture;
  std::size_t ChunkSize;  // 0: all at once
};

void PrintTo(const ReplayCase& C, std::ostream* Out) {
  *Out << C.Fixture->Name << " in chunks of " << C.ChunkSize;
}

class LineReplay : public ::testing::TestWithParam<ReplayCase> {};

TEST_P(LineReplay, ReadLnReturnsTheSameLinesWhateverTheChunks) {
  const ReplayCase& C = GetParam();
  ScriptedPeer Peer;
  Peer.Send(C.Fixture->Wire, C.ChunkSize, milliseconds(C.ChunkSize == 0 ? 0 : 1)).Close();
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->TimeOut = 5000;
  for (const std::string& Line : C.Fixture->Lines) EXPECT_EQ(S->ReadLn(), Line);
  EXPECT_EQ(S->ReadLn(), "");
  EXPECT_FALSE(S->TimedOut);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_EQ(Peer.Received(), "");
}

std::vector<ReplayCase> AllReplayCases() {
  std::vector<ReplayCase> Cases;
  for (const LineFixture& F : LineFixtures)
    for (const std::size_t Chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{0}})
      Cases.push_back({&F, Chunk});
  return Cases;
}

INSTANTIATE_TEST_SUITE_P(Chunks, LineReplay, ::testing::ValuesIn(AllReplayCases()),
                         [](const ::testing::TestParamInfo<ReplayCase>& I) {
                           const std::size_t Chunk = I.param.ChunkSize;
                           return std::string(I.param.Fixture->Name) + "_" +
                                  (Chunk == 0 ? std::string("Whole") : "By" + std::to_string(Chunk));
                         });

// ---------------------------------------------------------------------------

TEST(ReadLn, WaitsForTheRestOfALineThatArrivesInTwoPieces) {
  ScriptedPeer Peer;
  Peer.Send("+OK re").Pause(milliseconds(150)).Send("ady\r\n");
  // The peer's pause begins after this point, so the line cannot be whole
  // sooner than 150 ms from here.
  const auto Start = Clock::now();
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  EXPECT_EQ(S->ReadLn(), "+OK ready\r\n");
  EXPECT_GE(Clock::now() - Start, milliseconds(145));
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(ReadLn, TwoPendingLinesAreHandedOutOneByOneWithoutWaiting) {
  ScriptedPeer Peer;
  Peer.Send("+OK first\r\n+OK second\r\n");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  // A wait for more input would end in the time-out: the peer sends nothing more.
  S->TimeOut = 3000;
  EXPECT_EQ(S->ReadLn(), "+OK first\r\n");
  EXPECT_EQ(S->ReadLn(), "+OK second\r\n");
  EXPECT_FALSE(S->TimedOut);
  EXPECT_FALSE(S->DataAvailable());
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(ReadLn, AcceptsALineOf65536BytesAndFailsOnALongerOneAfterConsuming65536) {
  const std::string Longest = std::string(65534, 'a') + "\r\n";
  const std::string TooLong = std::string(65536, 'b') + "\r\n";
  ScriptedPeer Peer;
  Peer.Send(Longest + TooLong + "next\r\n");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  EXPECT_EQ(S->ReadLn(), Longest);
  try {
    S->ReadLn();
    ADD_FAILURE() << "a line without LF in 65536 bytes was accepted";
  } catch (const ESockError& E) {
    EXPECT_EQ(E.Message(), "Line too long");
  }
  // The first 65536 bytes of the long line are gone; reading goes on after them.
  EXPECT_EQ(S->ReadLn(), "\r\n");
  EXPECT_EQ(S->ReadLn(), "next\r\n");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(ReadLn, TimeOutEndsTheWaitWithAbortAndLeavesTheConnectionUsable) {
  ScriptedPeer Peer;
  Peer.Pause(milliseconds(700)).Send("+OK late\r\n");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->TimeOut = 200;
  const auto Start = Clock::now();
  try {
    S->ReadLn();
    ADD_FAILURE() << "ReadLn returned although nothing arrived";
  } catch (const EAbortError& E) {
    EXPECT_EQ(E.Message(), "Socket readln aborted");
  }
  EXPECT_GE(Clock::now() - Start, milliseconds(190));
  EXPECT_TRUE(S->TimedOut);
  EXPECT_FALSE(S->Canceled);
  EXPECT_FALSE(S->Timer->Enabled());

  S->TimeOut = 0;
  EXPECT_EQ(S->ReadLn(), "+OK late\r\n");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(ReadLn, AReadNestedInsideTheWaitTakesThePartLineAwaySafely) {
  // The outer ReadLn holds "abcdefgh" when the rest of that line arrives; a
  // data handler run inside its wait reads the whole line first. The outer
  // call must go on with what is left, not with its old part line.
  ScriptedPeer Peer;
  Peer.Pause(milliseconds(100))
      .Send("abcdefgh")
      .Pause(milliseconds(150))
      .Send("\r\nX")
      .Pause(milliseconds(150))
      .Send("\r\n")
      .Close();
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->TimeOut = 5000;
  std::vector<std::string> Lines;
  int Arrivals = 0;
  S->OnDataArrived = [&](TComponent*) {
    if (++Arrivals == 2) Lines.push_back("nested " + S->ReadLn());
  };
  Lines.push_back(S->ReadLn());
  for (std::string Line; !(Line = S->ReadLn()).empty();) Lines.push_back(Line);
  // However the pieces were delivered, each line comes out once, whole, in order.
  std::string All;
  for (const std::string& Line : Lines) {
    const std::string Text = Line.rfind("nested ", 0) == 0 ? Line.substr(7) : Line;
    EXPECT_EQ(Text.find('\n'), Text.size() - 1) << Line;
    All += Text;
  }
  EXPECT_EQ(All, "abcdefgh\r\nX\r\n");
  EXPECT_FALSE(S->TimedOut);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(ReadLn, NegativeTimeOutIsARangeErrorBeforeAnyWait) {
  ScriptedPeer Peer;
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->TimeOut = -1;
  EXPECT_THROW(S->ReadLn(), ERangeError);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(ReadLn, ReturnsEmptyWhenTheSocketIsNotConnected) {
  SocketPtr S = NewSocket();
  EXPECT_EQ(S->ReadLn(), "");
  EXPECT_EQ(S->LastErrorNo, 10057);
}

// ---------------------------------------------------------------------------

TEST(Read, ZeroReturnsWhatIsPendingWithoutWaiting) {
  ScriptedPeer Peer;
  Peer.Pause(milliseconds(100)).Send("0123456789");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  EXPECT_EQ(S->Read(0), "");
  ASSERT_TRUE(PumpUntil([&] { return S->DataAvailable(); }));
  EXPECT_EQ(S->Read(0), "0123456789");
  EXPECT_FALSE(S->DataAvailable());
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(Read, CountWaitsForThatManyBytesAndLeavesTheRestPending) {
  ScriptedPeer Peer;
  Peer.Send("abc").Pause(milliseconds(100)).Send("defgh");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  EXPECT_EQ(S->Read(5), "abcde");
  EXPECT_EQ(S->Read(3), "fgh");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(Read, AfterThePeerClosedReturnsWhatIsLeftInsteadOfWaitingForEver) {
  for (const bool DataFirst : {true, false}) {
    SCOPED_TRACE(DataFirst ? "close after data" : "close while the read waits on nothing");
    ScriptedPeer Peer;
    if (DataFirst)
      Peer.Send("xy").Close();
    else
      Peer.Pause(milliseconds(100)).Close();
    Peer.Start();
    SocketPtr S = ConnectedTo(Peer);
    if (DataFirst) {
      EXPECT_EQ(S->Read(5), "xy");
    }
    EXPECT_EQ(S->Read(5), "");
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  }
}

TEST(Read, ZeroWith65536BytesPendingIsARangeErrorAndConsumesNothing) {
  ScriptedPeer Peer;
  Peer.Send(std::string(70000, 'z'));
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  EXPECT_EQ(S->Read(1), "z");
  // The rest is sent once the peer's thread has run, and it arrives once the
  // receive window has opened again after the first read.
  ASSERT_TRUE(PumpUntil([&] { return Peer.ScriptDone(); }));
  PumpFor(milliseconds(100));
  EXPECT_THROW(S->Read(0), ERangeError);
  EXPECT_EQ(S->Read(65535), std::string(65535, 'z'));
  EXPECT_EQ(S->Read(0), std::string(70000 - 1 - 65535, 'z'));
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

// ---------------------------------------------------------------------------

TEST(Write, SendsTheTextUpToItsFirstZeroByteAndRefuses65536Bytes) {
  ScriptedPeer Peer;
  Peer.ExpectBytes(2);
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->Write(std::string("AB\0CD", 5));
  EXPECT_THROW(S->Write(std::string(65536, 'x')), ERangeError);
  S->Write(std::string("\0ignored", 8));  // nothing before the zero: nothing sent
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_EQ(Peer.Received(), "AB");
}

TEST(Write, LeftOverCancelFailsTheNextTransferOnceAndSendsNothing) {
  ScriptedPeer Peer;
  Peer.ExpectLine("SECOND\r\n").Send("+OK\r\n");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);

  // Nothing is pending yet: the reads fail at once instead of waiting.
  S->Cancel();
  EXPECT_THROW(S->ReadLn(), EAbortError);
  S->Cancel();
  EXPECT_THROW(S->Read(1), EAbortError);

  S->Cancel();
  try {
    S->Writeln("FIRST");
    ADD_FAILURE() << "a pending cancel did not stop the send";
  } catch (const EAbortError& E) {
    EXPECT_EQ(E.Message(), "Socket send aborted");
  }
  EXPECT_FALSE(S->Canceled);
  S->Writeln("SECOND");

  // The same holds for a read: it fails at once, and the line stays pending.
  ASSERT_TRUE(PumpUntil([&] { return S->DataAvailable(); }));
  S->Cancel();
  EXPECT_THROW(S->ReadLn(), EAbortError);
  EXPECT_FALSE(S->Canceled);
  EXPECT_EQ(S->ReadLn(), "+OK\r\n");

  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_EQ(Peer.Received(), "SECOND\r\n");
}

TEST(Write, ASendThePeerNeverTakesEndsAtTheTimeOut) {
  ScriptedPeer Peer;
  Peer.Pause(milliseconds(2500));  // reads nothing meanwhile
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->TimeOut = 300;
  const std::string Block(65535, 'w');
  bool Aborted = false;
  // Loopback buffers hold a few megabytes; a bounded number of blocks fills them.
  for (int I = 0; I < 2000 && !Aborted; ++I) {
    try {
      S->Write(Block);
    } catch (const EAbortError& E) {
      EXPECT_EQ(E.Message(), "Socket send aborted");
      Aborted = true;
    }
  }
  EXPECT_TRUE(Aborted);
  EXPECT_TRUE(S->TimedOut);
  EXPECT_FALSE(S->Canceled);
  S.reset();
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

// ---------------------------------------------------------------------------

struct ReplyCase {
  std::string Reply;
  std::int16_t Number;
  bool RangeError;
};

TEST(Transaction, SendsTheCommandLineAndTakesTheReplyNumber) {
  const ReplyCase Cases[] = {
      {"250 ok\r\n", 250, false},
      {"+OK 2 320\r\n", 0, false},
      {"32767 largest\r\n", 32767, false},
      {"32768 too large\r\n", 0, true},
      {"4294967296 beyond 32 bits\r\n", 0, false},
      {"12345678901 ten digits are taken\r\n", 0, true},
  };
  ScriptedPeer Peer;
  for (const ReplyCase& C : Cases) Peer.ExpectLine("STAT\r\n").Send(C.Reply);
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->ReportLevel = StatusLevel::Replies;
  EventLog Log;
  Log.RecordStatus(*S);
  std::string Sent;
  for (const ReplyCase& C : Cases) {
    SCOPED_TRACE(C.Reply);
    S->ReplyNumber = 99;
    if (C.RangeError) {
      EXPECT_THROW(S->Transaction("STAT"), ERangeError);
    } else {
      EXPECT_EQ(S->Transaction("STAT"), C.Reply);
    }
    EXPECT_EQ(S->TransactionReply, C.Reply);
    EXPECT_EQ(S->ReplyNumber, C.Number);
    Sent += "STAT\r\n";
  }
  // At level 1 the reply lines are all that is reported.
  std::vector<std::string> Replies;
  for (const ReplyCase& C : Cases) Replies.push_back(C.Reply);
  EXPECT_EQ(Log.Lines, Replies);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_EQ(Peer.Received(), Sent);
}

TEST(ClearInput, DiscardsWhatIsPending) {
  ScriptedPeer Peer;
  Peer.Send("junk\r\nmore junk\r\n").ExpectLine("NOOP\r\n").Send("+OK\r\n");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  EXPECT_EQ(S->ReadLn(), "junk\r\n");  // the rest is now taken in but not handed out
  S->ClearInput();
  EXPECT_FALSE(S->DataAvailable());
  EXPECT_EQ(S->Transaction("NOOP"), "+OK\r\n");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

}  // namespace
}  // namespace pelicore::test

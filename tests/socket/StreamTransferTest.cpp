// Sending files and streams, capturing into files, streams and strings, and
// the header filter, over a loopback connection to a scripted peer.

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <string>

#include "platform/Streams.h"
#include "socket/Psock.h"
#include "tests/socket/SocketTestSupport.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TempFolder.h"

namespace pelicore::test {
namespace {

using std::chrono::milliseconds;
using pelicore::testing::TempFolder;

// Bytes that show where they came from: offset-dependent, no repeating block.
std::string Pattern(std::size_t Size, char Seed = 0) {
  std::string Data(Size, '\0');
  for (std::size_t I = 0; I < Size; ++I) Data[I] = static_cast<char>((I * 7 + I / 251 + static_cast<std::size_t>(Seed)) & 0xFF);
  return Data;
}

double ThreadProcessorSeconds() {
  timespec T{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) / 1e9;
}

// Cancels the component after a delay, from inside its own wait.
struct CancelAfter {
  CancelAfter(TZedadedar& S, milliseconds Delay) : Timer(MakeComponent<TThreadTimer>(nullptr)) {
    Timer->SetEnabled(false);
    Timer->SetInterval(static_cast<std::uint32_t>(Delay.count()));
    Timer->SetOnTimer([&S, this](TComponent*) {
      Timer->SetEnabled(false);
      S.Cancel();
    });
    Timer->SetEnabled(true);
  }
  ComponentPtr<TThreadTimer> Timer;
};

TEST(SendFile, SendsEachWholeFileAndAddsUpTheCountAcrossCalls) {
  TempFolder Folder;
  const std::string First = Pattern(200000, 1);
  const std::string Second = Pattern(70000, 2);
  TempFolder::WriteFile(Folder.PathOf("empty"), "");
  TempFolder::WriteFile(Folder.PathOf("first"), First);
  TempFolder::WriteFile(Folder.PathOf("second"), Second);
  ScriptedPeer Peer;
  Peer.ExpectBytes(First.size() + Second.size());
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  int Sends = 0;
  S->OnPacketSent = [&](TComponent* Sender) {
    EXPECT_EQ(Sender, S.get());
    ++Sends;
  };
  S->BytesSent = 5;
  S->SendFile(Folder.PathOf("empty"));
  EXPECT_EQ(S->BytesSent, 5);
  EXPECT_EQ(Sends, 0);
  S->SendFile(Folder.PathOf("first"));
  S->SendFile(Folder.PathOf("second"));
  EXPECT_EQ(S->BytesSent, static_cast<std::int32_t>(5 + First.size() + Second.size()));
  EXPECT_GE(Sends, 4);  // at least one send per 65536-byte chunk
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_EQ(Peer.Received(), First + Second);
  EXPECT_THROW(S->SendFile(Folder.PathOf("missing")), EFOpenError);
}

TEST(SendStream, SendsFromTheStartAndCountsFromZeroWhateverThePosition) {
  const std::string Data = Pattern(150000);
  TMemoryStream Stream;
  Stream.WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
  Stream.SetPosition(1000);
  ScriptedPeer Peer;
  Peer.ExpectBytes(Data.size());
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->BytesSent = 77;
  S->SendStream(Stream);
  EXPECT_EQ(S->BytesSent, static_cast<std::int32_t>(Data.size()));
  EXPECT_EQ(S->BytesTotal, static_cast<std::int32_t>(Data.size()));
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_EQ(Peer.Received(), Data);
}

TEST(SendStream, APeerThatNeverReadsMakesItWaitWithoutSpinningUntilCanceled) {
  const std::string Data = Pattern(16 << 20);
  TMemoryStream Stream;
  Stream.WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
  ScriptedPeer Peer;
  Peer.Pause(milliseconds(2000));
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  const CancelAfter Cancel(*S, milliseconds(600));
  const auto Start = std::chrono::steady_clock::now();
  const double Before = ThreadProcessorSeconds();
  try {
    S->SendStream(Stream);
    ADD_FAILURE() << "16 MiB went to a peer that reads nothing";
  } catch (const EAbortError& E) {
    EXPECT_EQ(E.Message(), "Socket send aborted");
  }
  const double Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  const double Used = ThreadProcessorSeconds() - Before;
  // Filling the socket's buffers takes a moment; a loop retrying the send
  // would use the whole wait.
  EXPECT_LT(Used, Wall / 2) << "used " << Used << " s of processor time in " << Wall << " s";
  EXPECT_FALSE(S->Canceled);
  EXPECT_GT(S->BytesSent, 0);
  EXPECT_LT(S->BytesSent, static_cast<std::int32_t>(Data.size()));
  Peer.Finish();
}

TEST(CaptureFile, TakesEverythingUntilThePeerClosesAndMakesAnEmptyFileAfterAClose) {
  TempFolder Folder;
  const std::string Data = Pattern(300000);
  {
    ScriptedPeer Peer;
    Peer.Send(Data, 40000, milliseconds(2)).Close();
    Peer.Start();
    SocketPtr S = ConnectedTo(Peer);
    S->TimeOut = 5000;
    int Chunks = 0;
    S->OnPacketRecvd = [&](TComponent*) { ++Chunks; };
    S->CaptureFile(Folder.PathOf("all"));
    EXPECT_EQ(TempFolder::ReadFile(Folder.PathOf("all")), Data);
    EXPECT_EQ(S->BytesRecvd, static_cast<std::int32_t>(Data.size()));
    EXPECT_GE(Chunks, 5);
    EXPECT_FALSE(S->Timer->Enabled());
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  }
  {
    ScriptedPeer Peer;
    Peer.Close();
    Peer.Start();
    SocketPtr S = ConnectedTo(Peer);
    TempFolder::WriteFile(Folder.PathOf("old"), "left over");
    S->CaptureFile(Folder.PathOf("old"));
    EXPECT_EQ(TempFolder::ReadFile(Folder.PathOf("old")), "");
    EXPECT_EQ(S->BytesRecvd, 0);
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  }
}

TEST(CaptureStream, MinusOneReceivesOnceAndALimitCountsWhatTheStreamHeld) {
  ScriptedPeer Peer;
  Peer.Pause(milliseconds(200)).Send("abc").Pause(milliseconds(100)).Send("0123456789", 4, milliseconds(30));
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  TMemoryStream Stream;
  // Nothing pending yet: one receive that finds nothing, no waiting.
  S->CaptureStream(Stream, -1);
  EXPECT_EQ(Stream.Size(), 0);
  // A limit the empty stream already meets receives nothing.
  S->CaptureStream(Stream, 0);
  EXPECT_EQ(S->Read(3), "abc");
  // Five bytes stand in the stream: the limit of 9 is met after two chunks of
  // the peer's four-byte pieces; the last one goes past it.
  Stream.WriteBuffer("hello", 5);
  S->CaptureStream(Stream, 9);
  EXPECT_EQ(Stream.DataString().substr(0, 9), "hello0123");
  EXPECT_GE(Stream.Size(), 9);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(CaptureString, StopsAtTheSizeOnlyAfterAWholeChunkAndZeroReceivesNothing) {
  const std::string Chunk = "0123456789abcdefghijklmno";  // 25 bytes
  ScriptedPeer Peer;
  Peer.Send(Chunk).Pause(milliseconds(300)).Send("late").Close();
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  std::string Text = "old";
  S->CaptureString(Text, 0);
  EXPECT_EQ(Text, "");
  S->CaptureString(Text, 10);
  EXPECT_EQ(Text, Chunk);
  EXPECT_EQ(S->BytesRecvd, 25);
  S->CaptureString(Text, -1);
  EXPECT_EQ(Text, "late");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(CaptureString, ACancelEndsTheWaitClearsTheFlagAndDisarmsTheTimer) {
  ScriptedPeer Peer;
  Peer.Send("x").Pause(milliseconds(1000));
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->TimeOut = 10000;
  const CancelAfter Cancel(*S, milliseconds(200));
  std::string Text;
  try {
    S->CaptureString(Text, -1);
    ADD_FAILURE() << "CaptureString returned before the peer closed";
  } catch (const EAbortError& E) {
    EXPECT_EQ(E.Message(), "Socket capture aborted");
  }
  EXPECT_EQ(Text, "x");
  EXPECT_FALSE(S->Canceled);
  EXPECT_FALSE(S->TimedOut);
  EXPECT_FALSE(S->Timer->Enabled());
  Peer.Finish();
}

TEST(CaptureString, TheTimeOutCountsFromTheLastData) {
  // Eight pieces 100 ms apart take longer than the time-out, but no gap does.
  const std::string Data = "ABCDEFGH";
  ScriptedPeer Peer;
  Peer.Send(Data, 1, milliseconds(100)).Pause(milliseconds(1500));
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->TimeOut = 450;
  std::string Text;
  try {
    S->CaptureString(Text, -1);
    ADD_FAILURE() << "CaptureString returned although the peer did not close";
  } catch (const EAbortError& E) {
    EXPECT_EQ(E.Message(), "Socket capture aborted");
  }
  EXPECT_TRUE(S->TimedOut);
  EXPECT_EQ(Text, Data);
  Peer.Finish();
}

TEST(AppendFile, AppendsUntilTheCloseAndFailsBeforeReceivingWhenTheFileIsMissing) {
  TempFolder Folder;
  ScriptedPeer Peer;
  Peer.Send("abc").Pause(milliseconds(100)).Send(Pattern(100000)).Close();
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  EXPECT_THROW(S->AppendFile(Folder.PathOf("missing")), EFOpenError);
  EXPECT_EQ(S->Read(3), "abc");
  TempFolder::WriteFile(Folder.PathOf("log"), "start:");
  S->AppendFile(Folder.PathOf("log"));
  EXPECT_EQ(TempFolder::ReadFile(Folder.PathOf("log")), "start:" + Pattern(100000));
  EXPECT_EQ(S->BytesRecvd, 100000);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(FilterHeader, WritesTheHeaderBlockAndLeavesTheBodyPending) {
  ScriptedPeer Peer;
  Peer.Send("Subject: hi\r\nFrom: a@b\r\n\r\nxyz");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  TMemoryStream Header;
  S->FilterHeader(Header);
  EXPECT_EQ(Header.DataString(), "Subject: hi\r\nFrom: a@b\r\n\r\n");
  std::string Body;
  S->CaptureString(Body, 3);
  EXPECT_EQ(Body, "xyz");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(StreamLn, WritesTheTextAndCrLfAtThePosition) {
  TMemoryStream Stream;
  StreamLn(Stream, "");
  EXPECT_EQ(Stream.DataString(), "\r\n");
  StreamLn(Stream, "line");
  EXPECT_EQ(Stream.DataString(), "\r\nline\r\n");
}

}  // namespace
}  // namespace pelicore::test

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "platform/Application.h"
#include "platform/Messages.h"
#include "platform/Sockets.h"
#include "tests/support/Loopback.h"

using namespace pelicore;
using namespace pelicore::net;
using namespace pelicore::win;

namespace {

constexpr std::uint32_t SockMsg = 1125;
constexpr std::uint32_t LookupMsg = 1126;
constexpr std::uint32_t MarkerMsg = 1127;  // the marker socket's reads, counted apart

// Waits for what must come end at it; only a fault reaches it.
constexpr int HangGuardMs = 20000;

struct Note {
  std::uint32_t Msg, WParam;
  std::uint16_t Event, Error;
};
std::vector<Note> Notes;
int MarkerReads = 0;
// A socket that the window procedure closes when told that data has arrived.
TSocket CloseOnRead = InvalidSocket;

std::int32_t NoteProc(WindowHandle, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam) {
  if (Msg == MarkerMsg) {
    ++MarkerReads;
    return 0;
  }
  Notes.push_back({Msg, WParam, LowWord(LParam), HighWord(LParam)});
  if (Msg == SockMsg && LowWord(LParam) == FdRead && CloseOnRead != InvalidSocket) {
    CloseSocket(CloseOnRead);
    CloseOnRead = InvalidSocket;
  }
  return 0;
}

class SocketsTest : public testing::Test {
 protected:
  void SetUp() override {
    Notes.clear();
    if (!IsWindowClassRegistered("PelicoreSocketTest"))
      RegisterWindowClass({"PelicoreSocketTest", NoteProc, sizeof(void*), ProgramInstance()});
    Window = CreateHiddenWindow("PelicoreSocketTest");
    test::ConnectedPair Pair = test::MakeConnectedPair();
    MarkerSender = std::move(Pair.Client);
    Marker = static_cast<TSocket>(Pair.Server.Release());
    ASSERT_EQ(AsyncSelect(Marker, Window, MarkerMsg, FdRead), 0);
  }
  void TearDown() override {
    CloseOnRead = InvalidSocket;
    CloseSocket(Marker);
    DestroyHiddenWindow(Window);
  }

  // A plain blocking POSIX client connected to the loopback port (in network
  // order, as the socket addresses hold it).
  static int PlainClient(std::uint16_t NetPort) {
    test::SocketHandle Client = test::ConnectToLoopback(ntohs(NetPort));
    EXPECT_TRUE(Client.Valid());
    return Client.Release();
  }

  TSocketAddress Loopback(std::uint16_t NetPort) const {
    TSocketAddress A{};
    A.Family = AddressFamilyInet;
    A.Port = NetPort;
    A.Address = DottedToAddress("127.0.0.1");
    return A;
  }

  // A registered client connected to the listener; Peer is the server side.
  TSocket ConnectedClient(int& Peer) {
    const TSocket S = CreateSocket(AddressFamilyInet, StreamSocket, ProtocolTcp);
    EXPECT_NE(S, InvalidSocket);
    EXPECT_EQ(AsyncSelect(S, Window, SockMsg, FdRead | FdOob | FdAccept | FdConnect | FdClose), 0);
    EXPECT_EQ(Connect(S, Loopback(Port)), SocketError);
    EXPECT_EQ(LastError(), SocketErrors::WouldBlock);
    Peer = Listener.Accept().Release();
    EXPECT_TRUE(WaitFor(FdConnect));
    return S;
  }

  bool WaitFor(std::uint16_t Event, int Ms = HangGuardMs) {
    const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    while (std::chrono::steady_clock::now() < End) {
      for (const Note& N : Notes)
        if (N.Event == Event) return true;
      Application().ProcessMessages();
      SleepMs(1);
    }
    return false;
  }
  int Count(std::uint16_t Event) const {
    int C = 0;
    for (const Note& N : Notes) C += N.Event == Event;
    return C;
  }
  // Returns once every socket notification that is due has been delivered:
  // a byte sent to the marker socket now becomes readable after everything
  // that happened before, and all sockets that are ready are served in the
  // same dispatch, so the marker's read notification comes last.
  void Settle() {
    const int Before = MarkerReads;
    ASSERT_EQ(::send(MarkerSender.Get(), "m", 1, 0), 1);
    const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(HangGuardMs);
    while (MarkerReads == Before && std::chrono::steady_clock::now() < End) {
      Application().ProcessMessages();
      SleepMs(1);
    }
    ASSERT_GT(MarkerReads, Before) << "the marker socket was never reported";
    char Byte;
    ASSERT_EQ(Recv(Marker, &Byte, 1, 0), 1);  // emptied: it reports nothing more
  }

  WindowHandle Window = 0;
  test::SocketHandle MarkerSender;
  TSocket Marker = InvalidSocket;
  const test::LoopbackListener Listener;               // a plain POSIX listener
  const std::uint16_t Port = htons(Listener.Port());  // in network order
};

}  // namespace

TEST_F(SocketsTest, ConnectCompletesAsNotificationWithoutError) {
  int Peer;
  const TSocket S = ConnectedClient(Peer);
  ASSERT_EQ(Count(FdConnect), 1);
  EXPECT_EQ(Notes[0].Msg, SockMsg);
  EXPECT_EQ(Notes[0].Error, 0);
  TSocketAddress Local{};
  ASSERT_EQ(GetSockName(S, Local), 0);
  EXPECT_EQ(AddressToDotted(Local.Address), "127.0.0.1");
  CloseSocket(S);
  ::close(Peer);
}

TEST_F(SocketsTest, RefusedConnectReportsTheErrorInTheHighWord) {
  const test::RefusingPort Nobody;
  const TSocket S = CreateSocket(AddressFamilyInet, StreamSocket, DefaultProtocol);
  AsyncSelect(S, Window, SockMsg, FdRead | FdConnect | FdClose);
  EXPECT_EQ(Connect(S, Loopback(htons(Nobody.Port()))), SocketError);
  EXPECT_EQ(LastError(), SocketErrors::WouldBlock);
  ASSERT_TRUE(WaitFor(FdConnect));
  EXPECT_EQ(Notes.back().Error, SocketErrors::ConnectionRefused);
  Settle();
  EXPECT_EQ(Count(FdClose), 0);
  CloseSocket(S);
}

TEST_F(SocketsTest, ReadIsPostedOnceAndReArmedByEveryReceiveIncludingPeeks) {
  int Peer;
  const TSocket S = ConnectedClient(Peer);
  ::send(Peer, "abcdef", 6, 0);
  ASSERT_TRUE(WaitFor(FdRead));
  ::send(Peer, "gh", 2, 0);
  Settle();
  EXPECT_EQ(Count(FdRead), 1);  // not re-posted until someone receives
  char Buf[16];
  EXPECT_EQ(Recv(S, Buf, 4, RecvPeek), 4);
  Settle();
  EXPECT_EQ(Count(FdRead), 2);  // data still pending after the peek
  EXPECT_EQ(Recv(S, Buf, sizeof Buf, 0), 8);
  Settle();
  EXPECT_EQ(Count(FdRead), 2);  // nothing left: nothing posted
  EXPECT_EQ(Recv(S, Buf, sizeof Buf, 0), SocketError);
  EXPECT_EQ(LastError(), SocketErrors::WouldBlock);
  CloseSocket(S);
  ::close(Peer);
}

TEST_F(SocketsTest, AReceiveThatLeavesDataBehindReportsItAgain) {
  int Peer;
  const TSocket S = ConnectedClient(Peer);
  ::send(Peer, "0123456789", 10, 0);
  ASSERT_TRUE(WaitFor(FdRead));
  char Buf[4];
  EXPECT_EQ(Recv(S, Buf, 4, 0), 4);  // six bytes stay behind
  Settle();
  EXPECT_EQ(Count(FdRead), 2);
  EXPECT_EQ(Recv(S, Buf, 4, 0), 4);
  EXPECT_EQ(Recv(S, Buf, 4, 0), 2);  // emptied: nothing more to report
  Settle();
  EXPECT_EQ(Count(FdRead), 3);
  ::send(Peer, "x", 1, 0);  // new data after the queue was emptied
  Settle();
  EXPECT_EQ(Count(FdRead), 4);
  CloseSocket(S);
  ::close(Peer);
}

TEST_F(SocketsTest, CloseIsPostedOnceAlsoWhileDataIsUnread) {
  int Peer;
  const TSocket S = ConnectedClient(Peer);
  ::send(Peer, "bye\r\n", 5, 0);
  ASSERT_TRUE(WaitFor(FdRead));
  ::close(Peer);
  ASSERT_TRUE(WaitFor(FdClose));
  EXPECT_EQ(Notes.back().Error, 0);
  Settle();
  EXPECT_EQ(Count(FdClose), 1);
  char Buf[16];
  EXPECT_EQ(Recv(S, Buf, sizeof Buf, 0), 5);  // the data is still there
  EXPECT_EQ(Recv(S, Buf, sizeof Buf, 0), 0);  // then the end
  Settle();
  EXPECT_EQ(Count(FdClose), 1);
  CloseSocket(S);
}

TEST_F(SocketsTest, ResetByPeerCarriesTheResetError) {
  int Peer;
  const TSocket S = ConnectedClient(Peer);
  linger L{1, 0};
  ::setsockopt(Peer, SOL_SOCKET, SO_LINGER, &L, sizeof L);
  ::close(Peer);
  ASSERT_TRUE(WaitFor(FdClose));
  EXPECT_EQ(Notes.back().Error, SocketErrors::ConnectionReset);
  CloseSocket(S);
}

TEST_F(SocketsTest, NotificationsOfAClosedSocketAreDropped) {
  int Peer;
  TSocket S = ConnectedClient(Peer);
  ::send(Peer, "abc", 3, 0);
  ASSERT_TRUE(WaitFor(FdRead));
  char Buf[4];
  EXPECT_EQ(Recv(S, Buf, 1, RecvPeek), 1);  // data still pending: a read notification is queued
  CloseSocket(S);
  const TSocket Next = CreateSocket(AddressFamilyInet, StreamSocket, DefaultProtocol);  // likely the same number
  AsyncSelect(Next, Window, SockMsg, FdRead | FdClose);
  Notes.clear();
  Settle();
  EXPECT_TRUE(Notes.empty());
  CloseSocket(Next);
  ::close(Peer);

  // Data and the close seen at once, and the read handler closes the socket:
  // the close notification that was due with it is not delivered.
  S = ConnectedClient(Peer);
  ::send(Peer, "bye", 3, 0);
  ::close(Peer);
  pollfd Arrived{S, POLLRDHUP, 0};  // both have arrived before the next dispatch
  ASSERT_EQ(::poll(&Arrived, 1, HangGuardMs), 1);
  CloseOnRead = S;
  Notes.clear();
  ASSERT_TRUE(WaitFor(FdRead));
  Settle();
  EXPECT_EQ(Count(FdClose), 0);
}

TEST_F(SocketsTest, ASocketRegisteredLateReportsWhatAlreadyHolds) {
  // Connected, and sent to, before it is registered; then registered again.
  const int Client = PlainClient(Port);
  ::send(Client, "hi", 2, 0);
  const auto Server = static_cast<TSocket>(Listener.Accept().Release());
  ASSERT_EQ(AsyncSelect(Server, Window, SockMsg, FdRead | FdClose), 0);
  ASSERT_TRUE(WaitFor(FdRead));
  ASSERT_EQ(AsyncSelect(Server, Window, SockMsg, FdRead | FdClose), 0);
  Settle();
  EXPECT_EQ(Count(FdRead), 2);  // the unread data is reported again
  CloseSocket(Server);
  ::close(Client);

  // Listening before it is registered.
  Notes.clear();
  const TSocket L = CreateSocket(AddressFamilyInet, StreamSocket, DefaultProtocol);
  ASSERT_EQ(Bind(L, Loopback(0)), 0);
  ASSERT_EQ(Listen(L, 1), 0);
  TSocketAddress Local{};
  ASSERT_EQ(GetSockName(L, Local), 0);
  const int Caller = PlainClient(Local.Port);
  ASSERT_EQ(AsyncSelect(L, Window, SockMsg, FdAccept), 0);
  ASSERT_TRUE(WaitFor(FdAccept));
  const TSocket Accepted = Accept(L, nullptr);
  EXPECT_NE(Accepted, InvalidSocket);
  CloseSocket(Accepted);
  CloseSocket(L);
  ::close(Caller);
}

TEST_F(SocketsTest, ReceiveOnANeverConnectedSocketIsNotConnected) {
  const TSocket S = CreateSocket(AddressFamilyInet, StreamSocket, DefaultProtocol);
  AsyncSelect(S, Window, SockMsg, FdRead | FdClose);
  char C;
  EXPECT_EQ(Recv(S, &C, 1, RecvPeek), SocketError);
  EXPECT_EQ(LastError(), SocketErrors::NotConnected);
  Settle();
  EXPECT_TRUE(Notes.empty());  // an idle socket reports nothing
  CloseSocket(S);
}

TEST_F(SocketsTest, DottedAddressConversion) {
  EXPECT_EQ(DottedToAddress("192.0.2.7"), htonl(0xC0000207u));
  EXPECT_EQ(DottedToAddress("mail.example"), NoAddress);
  EXPECT_EQ(DottedToAddress("255.255.255.255"), NoAddress);  // all ones either way
  EXPECT_EQ(AddressToDotted(htonl(0xC0000207u)), "192.0.2.7");
}

TEST_F(SocketsTest, HostLookupDeliversIntoTheBufferOnTheWindowsThread) {
  alignas(8) char Block[1024] = {};
  ASSERT_NE(AsyncGetHostByName(Window, LookupMsg, "localhost", Block, sizeof Block), 0);
  ASSERT_TRUE(WaitFor(0));
  EXPECT_EQ(Notes.back().Msg, LookupMsg);
  EXPECT_EQ(Notes.back().Error, 0);
  const auto* Info = reinterpret_cast<const THostInfo*>(Block);
  ASSERT_NE(Info->AddressList[0], nullptr);
  std::uint32_t A;
  std::memcpy(&A, Info->AddressList[0], 4);
  EXPECT_EQ(AddressToDotted(A), "127.0.0.1");
}

TEST_F(SocketsTest, FailedLookupReportsHostNotFound) {
  alignas(8) char Block[1024] = {};
  // Address text is no name (all ones is what the dotted conversion cannot
  // tell from its failure).
  ASSERT_NE(AsyncGetHostByName(Window, LookupMsg, "255.255.255.255", Block, sizeof Block), 0);
  ASSERT_TRUE(WaitFor(0));
  EXPECT_EQ(Notes.back().Error, SocketErrors::HostNotFound);
  Notes.clear();
  ASSERT_NE(AsyncGetHostByName(Window, LookupMsg, "no-such-host.invalid", Block, sizeof Block), 0);
  ASSERT_TRUE(WaitFor(0));
  EXPECT_NE(Notes.back().Error, 0);
}

TEST_F(SocketsTest, LookupThatOutlivesItsWindowWritesNothing) {
  auto Block = std::make_unique<char[]>(1024);
  std::memset(Block.get(), 0x5A, 1024);
  const WindowHandle Short = CreateHiddenWindow("PelicoreSocketTest");
  ASSERT_NE(AsyncGetHostByName(Short, LookupMsg, "localhost", Block.get(), 1024), 0);
  DestroyHiddenWindow(Short);
  // A look-up of the same name, started later and delivered, is the sign
  // that the first one has had its time to finish.
  alignas(8) char Later[1024] = {};
  const int LaterRequest = AsyncGetHostByName(Window, LookupMsg, "localhost", Later, sizeof Later);
  ASSERT_NE(LaterRequest, 0);
  ASSERT_TRUE(WaitFor(0));
  Application().ProcessMessages();
  ASSERT_EQ(Notes.size(), 1u);
  EXPECT_EQ(Notes[0].WParam, static_cast<std::uint32_t>(LaterRequest));
  for (int I = 0; I < 1024; ++I) ASSERT_EQ(Block[static_cast<std::size_t>(I)], 0x5A);
}

// The common numbers are seen above where they happen (refused, reset, not
// connected, would block); these are the rest that a test can bring about,
// and the rule for numbers outside the table.
TEST_F(SocketsTest, SendingToAPeerThatHasGoneAndBindingATakenPortFail) {
  int Peer;
  const TSocket S = ConnectedClient(Peer);
  ::close(Peer);
  ASSERT_TRUE(WaitFor(FdClose));
  // The first send may still be taken; the peer's reset makes a later one fail.
  int Result = 0;
  for (int I = 0; I < 100 && Result != SocketError; ++I) {
    Result = Send(S, "x", 1, 0);
    if (Result != SocketError) SleepMs(5);
  }
  ASSERT_EQ(Result, SocketError);
  EXPECT_EQ(LastError(), SocketErrors::ConnectionReset);
  CloseSocket(S);

  const TSocket Second = CreateSocket(AddressFamilyInet, StreamSocket, DefaultProtocol);
  EXPECT_EQ(Bind(Second, Loopback(Port)), SocketError);
  EXPECT_EQ(LastError(), SocketErrors::AddressInUse);
  CloseSocket(Second);
}

TEST(SocketErrorMapping, NumbersOutsideTheTableAreUnknownOnes) {
  EXPECT_EQ(MapErrno(ENOTDIR), 10100 + ENOTDIR);
  EXPECT_EQ(MapErrno(0), 0);
}

// Connecting, resolving, closing and destroying the socket component.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Sockets.h"
#include "socket/Psock.h"
#include "tests/socket/SocketTestSupport.h"
#include "tests/support/EventPump.h"
#include "tests/support/ScriptedPeer.h"

namespace pelicore::test {
namespace {

using std::chrono::milliseconds;

template <class E>
std::string MessageOf(const std::function<void()>& Body) {
  try {
    Body();
  } catch (const E& Error) {
    return Error.Message();
  }
  return "(nothing thrown)";
}

TEST(Connect, OpensTheConnectionAndRaisesOnConnect) {
  ScriptedPeer Peer;
  Peer.Send("+OK ready\r\n");
  Peer.Start();
  SocketPtr S = NewSocket();
  int Connects = 0;
  S->OnConnect = [&](TComponent* Sender) {
    EXPECT_EQ(Sender, S.get());
    ++Connects;
  };
  S->Host = "127.0.0.1";
  S->Port = Peer.Port();
  S->Connect();
  EXPECT_TRUE(S->Connected);
  EXPECT_EQ(Connects, 1);
  EXPECT_EQ(S->GetRemoteIP(), "127.0.0.1");
  EXPECT_EQ(S->GetLocalAddress(), "127,0,0,1");
  EXPECT_EQ(S->ReadLn(), "+OK ready\r\n");
  EXPECT_EQ(MessageOf<ESockError>([&] { S->Connect(); }), "Already connected");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(Connect, RefusedConnectionRaisesOnConnectionFailedThenFailsAndTheNextAttemptWorks) {
  RefusingPort Refusing;
  SocketPtr S = NewSocket();
  EventLog Log;
  S->OnConnect = [&](TComponent*) { Log.Mark("OnConnect"); };
  S->OnConnectionFailed = [&](TComponent*) { Log.Mark("OnConnectionFailed"); };
  S->Host = "127.0.0.1";
  S->Port = Refusing.Port();
  try {
    S->Connect();
    ADD_FAILURE() << "connected to a port that refuses";
  } catch (const ESockError& E) {
    Log.Mark(E.Message());
  }
  EXPECT_EQ(Log.Lines, (std::vector<std::string>{"<OnConnectionFailed>", "<Connection Failed>"}));
  EXPECT_FALSE(S->Connected);
  EXPECT_FALSE(S->Succeeded);

  ScriptedPeer Peer;
  Peer.Send("+OK\r\n");
  Peer.Start();
  S->Port = Peer.Port();
  S->Connect();
  EXPECT_TRUE(S->Connected);
  EXPECT_EQ(S->ReadLn(), "+OK\r\n");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(Connect, NegativeTimeOutFailsBeforeAnAttemptIsUnderWay) {
  ScriptedPeer Peer;
  Peer.Send("+OK\r\n");
  Peer.Start();
  SocketPtr S = NewSocket();
  int Connects = 0;
  S->OnConnect = [&](TComponent*) { ++Connects; };
  S->Host = "127.0.0.1";
  S->Port = Peer.Port();
  S->TimeOut = -1;
  EXPECT_THROW(S->Connect(), ERangeError);
  PumpFor(milliseconds(100));  // an attempt left under way would complete here
  EXPECT_FALSE(S->Connected);
  EXPECT_EQ(Connects, 0);
  S->TimeOut = 0;
  S->Connect();
  EXPECT_EQ(Connects, 1);
  EXPECT_EQ(S->ReadLn(), "+OK\r\n");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(Resolve, DottedAddressIsUsedWithoutLookUpOrTimer) {
  SocketPtr S = NewSocket();
  S->ReportLevel = StatusLevel::Trace;
  EventLog Log;
  Log.RecordStatus(*S);
  S->OnHostResolved = [&](TComponent*) { Log.Mark("OnHostResolved"); };
  S->Host = "192.0.2.7";
  S->ResolveRemoteHost();
  EXPECT_EQ(Log.Lines, std::vector<std::string>{"Resolve Host"});
  EXPECT_EQ(S->GetRemoteIP(), "192.0.2.7");
}

TEST(Resolve, ProxyIsResolvedAndConnectedToInsteadOfHost) {
  ScriptedPeer Peer;
  Peer.Start();
  SocketPtr S = NewSocket();
  S->Host = "192.0.2.7";
  S->Port = 1;
  S->Proxy = "localhost";
  S->ProxyPort = Peer.Port();
  int Resolved = 0;
  S->OnHostResolved = [&](TComponent*) { ++Resolved; };
  S->Connect();
  EXPECT_TRUE(S->Connected);
  EXPECT_EQ(Resolved, 1);
  EXPECT_EQ(S->GetRemoteIP(), "127.0.0.1");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(Resolve, UnresolvableNameFailsTheLookUpAndConnectReportsNullRemoteAddress) {
  SocketPtr S = NewSocket();
  S->Host = "no-such-host.invalid";
  EXPECT_EQ(MessageOf<ESockError>([&] { S->ResolveRemoteHost(); }), "Host Lookup Failed");
  EXPECT_EQ(MessageOf<ESockError>([&] { S->Connect(); }), "Null Remote Address");
}

TEST(Resolve, OnInvalidHostIsAskedOnceAndMayFixTheHost) {
  ScriptedPeer Peer;
  Peer.Start();
  SocketPtr S = NewSocket();
  S->Port = Peer.Port();
  int Asked = 0;

  // A handler that gives a usable address: the connect goes on.
  S->Host = "no-such-host.invalid";
  S->OnInvalidHost = [&](bool& Handled) {
    EXPECT_FALSE(Handled);
    ++Asked;
    S->Host = "127.0.0.1";
    Handled = true;
  };
  S->Connect();
  EXPECT_TRUE(S->Connected);
  EXPECT_EQ(Asked, 1);
  S->Disconnect();

  // A handler whose new name fails too is not asked a second time.
  Asked = 0;
  S->Host = "no-such-host.invalid";
  S->OnInvalidHost = [&](bool& Handled) {
    ++Asked;
    S->Host = "still-no-such-host.invalid";
    Handled = true;
  };
  EXPECT_EQ(MessageOf<ESockError>([&] { S->Connect(); }), "Null Remote Address");
  EXPECT_EQ(Asked, 1);

  // A handler that declines.
  Asked = 0;
  S->OnInvalidHost = [&](bool&) { ++Asked; };
  EXPECT_EQ(MessageOf<ESockError>([&] { S->Connect(); }), "Null Remote Address");
  EXPECT_EQ(Asked, 1);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

// ---------------------------------------------------------------------------

struct DisconnectCase {
  std::int32_t ReportLevel;
  std::vector<std::string> Expected;
};

TEST(Disconnect, ReportsAtItsLevelsRaisesOnDisconnectAndMakesAFreshSocket) {
  const DisconnectCase Cases[] = {
      {8, {"Disconnecting", "Request Close Socket", "<OnDisconnect>"}},
      {4, {"Request Close Socket", "<OnDisconnect>"}},
      {0, {"<OnDisconnect>"}},
  };
  for (const DisconnectCase& C : Cases) {
    SCOPED_TRACE(C.ReportLevel);
    ScriptedPeer Peer;
    Peer.ExpectClose();
    Peer.Start();
    SocketPtr S = ConnectedTo(Peer);
    EventLog Log;
    Log.RecordStatus(*S);
    S->OnDisconnect = [&](TComponent*) { Log.Mark("OnDisconnect"); };
    S->ReportLevel = C.ReportLevel;
    S->Disconnect();
    EXPECT_EQ(Log.Lines, C.Expected);
    EXPECT_FALSE(S->Connected);
    EXPECT_NE(S->SocketHandle, net::InvalidSocket);
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
    EXPECT_TRUE(Peer.ClientClosed());
  }
}

TEST(PeerClose, WithNothingUnreadTheComponentClosesAndRaisesOnDisconnect) {
  for (const bool Reset : {false, true}) {
    SCOPED_TRACE(Reset ? "reset" : "close");
    ScriptedPeer Peer;
    Peer.Pause(milliseconds(100));
    if (Reset)
      Peer.Reset();
    else
      Peer.Close();
    Peer.Start();
    SocketPtr S = ConnectedTo(Peer);
    int Disconnects = 0;
    S->OnDisconnect = [&](TComponent*) { ++Disconnects; };
    EXPECT_TRUE(S->Connected);
    EXPECT_TRUE(PumpUntil([&] { return !S->Connected; }));
    EXPECT_EQ(Disconnects, 1);
    EXPECT_EQ(S->ReadLn(), "");
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  }
}

TEST(PeerClose, APeerThatClosesRightAfterAcceptingDoesNotHangConnect) {
  // The connect and the close are handled in the same dispatch.
  for (int Round = 0; Round < 5; ++Round) {
    ScriptedPeer Peer;
    Peer.Close();
    Peer.Start();
    SocketPtr S = NewSocket();
    S->TimeOut = 5000;
    S->Host = "127.0.0.1";
    S->Port = Peer.Port();
    S->Connect();
    EXPECT_FALSE(S->TimedOut);
    EXPECT_TRUE(PumpUntil([&] { return !S->Connected; }));
    EXPECT_EQ(S->ReadLn(), "");
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  }
}

TEST(PeerClose, WithUnreadDataTheComponentStaysConnectedUntilTheOwnerCloses) {
  ScriptedPeer Peer;
  Peer.Send("+OK a\r\n+OK b\r\n").Close();
  Peer.Start();
  SocketPtr S = NewSocket();
  int Disconnects = 0;
  S->OnDisconnect = [&](TComponent*) { ++Disconnects; };
  // The close notification is handled by looking for unread data; that look
  // is the sign that the notification has been handled.
  int CloseHandled = 0;
  S->ReportLevel = StatusLevel::Trace;
  S->OnStatus = [&](TComponent*, const std::string& Status) { CloseHandled += Status == "Data Available"; };
  S->Host = "127.0.0.1";
  S->Port = Peer.Port();
  S->Connect();
  ASSERT_TRUE(PumpUntil([&] { return CloseHandled > 0; }));
  EXPECT_TRUE(S->Connected);
  EXPECT_EQ(Disconnects, 0);

  EXPECT_EQ(S->ReadLn(), "+OK a\r\n");
  EXPECT_EQ(S->ReadLn(), "+OK b\r\n");
  EXPECT_EQ(S->ReadLn(), "");
  EXPECT_TRUE(S->Connected);
  EXPECT_EQ(Disconnects, 0);
  S->Disconnect();
  EXPECT_EQ(Disconnects, 1);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

// ---------------------------------------------------------------------------

TEST(Destroy, ConnectedComponentClosesItsSocketWithoutEvents) {
  ScriptedPeer Peer;
  Peer.ExpectClose();
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  int Events = 0;
  S->ReportLevel = StatusLevel::Trace;
  S->OnStatus = [&](TComponent*, const std::string&) { ++Events; };
  S->OnDisconnect = [&](TComponent*) { ++Events; };
  S.reset();
  EXPECT_EQ(Events, 0);
  EXPECT_EQ(WinsockRefCount, 0);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_TRUE(Peer.ClientClosed());
}

TEST(Destroy, OwnerFreesTheComponentAndAFailingAbortDoesNotStopIt) {
  // A derived component whose Abort fails still closes and counts out.
  struct FailingAbort : TZedadedar {
    using TZedadedar::TZedadedar;
    void Abort() override {
      TZedadedar::Abort();
      throw Exception("abort failed");
    }
  };
  ScriptedPeer Peer;
  Peer.ExpectClose();
  Peer.Start();
  auto Owner = MakeComponent<TComponent>(nullptr);
  auto* S = new FailingAbort(Owner.get());
  S->Host = "127.0.0.1";
  S->Port = Peer.Port();
  S->Connect();
  EXPECT_EQ(WinsockRefCount, 1);
  Owner.reset();
  EXPECT_EQ(WinsockRefCount, 0);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_TRUE(Peer.ClientClosed());
}

TEST(Startup, OnlyTheFirstComponentFillsTheStartUpLinesAndTheLastShutsDown) {
  SocketPtr First = NewSocket();
  ASSERT_EQ(First->WSAInfo->Count(), 6);
  EXPECT_EQ(First->WSAInfo->Strings(0), "Version= 1.1");
  EXPECT_EQ(First->WSAInfo->Strings(4).rfind("Max Sockets= ", 0), 0u);
  SocketPtr Second = NewSocket();
  EXPECT_EQ(Second->WSAInfo->Count(), 0);
  EXPECT_EQ(WinsockRefCount, 2);
  EXPECT_NE(First->SocketHandle, net::InvalidSocket);
  EXPECT_NE(Second->SocketHandle, First->SocketHandle);
  First.reset();
  EXPECT_EQ(WinsockRefCount, 1);
  Second.reset();
  EXPECT_EQ(WinsockRefCount, 0);
}

TEST(CertifyConnect, ReturnsOnlyWhileConnectedAndAsksOnConnectionRequiredOnce) {
  ScriptedPeer Peer;
  Peer.Start();
  SocketPtr S = NewSocket();
  S->Host = "127.0.0.1";
  S->Port = Peer.Port();
  // The plain exception, not a socket error.
  auto NotConnected = [&] {
    try {
      S->CertifyConnect();
    } catch (const ESockError&) {
      return std::string("ESockError");
    } catch (const Exception& E) {
      return E.Message();
    }
    return std::string("(nothing thrown)");
  };
  EXPECT_EQ(NotConnected(), "Not Connected");

  int Asked = 0;
  S->OnConnectionRequired = [&](bool& Handled) {
    ++Asked;
    Handled = true;  // claims to have connected, but has not
  };
  EXPECT_EQ(NotConnected(), "Not Connected");
  EXPECT_EQ(Asked, 1);

  S->OnConnectionRequired = [&](bool& Handled) {
    S->Connect();
    Handled = true;
  };
  S->CertifyConnect();
  EXPECT_TRUE(S->Connected);
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

// ---------------------------------------------------------------------------

struct RoutedMessage {
  const char* What;
  std::uint32_t Msg;
  bool SameSocket;
  bool Reaches;
};

TEST(MessageWindow, OnlySocketMessagesOfTheCurrentSocketReachTheHandler) {
  const RoutedMessage Cases[] = {
      {"below the socket messages", SocketMessage - 1, true, false},
      {"socket message", SocketMessage, true, true},
      {"socket message of a closed socket", SocketMessage, false, false},
  };
  SocketPtr S = NewSocket();
  for (const RoutedMessage& C : Cases) {
    SCOPED_TRACE(C.What);
    int Arrived = 0;
    S->OnDataArrived = [&](TComponent*) { ++Arrived; };
    const std::uint32_t Socket = C.SameSocket ? S->SocketHandle : S->SocketHandle + 1u;
    win::SendWindowMessage(S->Handle, C.Msg, Socket, win::MakeLong(net::FdRead, 0));
    EXPECT_EQ(Arrived, C.Reaches ? 1 : 0);
  }
  // An exception from the data handler stays inside the notification handler.
  S->OnDataArrived = [](TComponent*) { throw Exception("handler failed"); };
  win::SendWindowMessage(S->Handle, SocketMessage, S->SocketHandle, win::MakeLong(net::FdRead, 0));
}

}  // namespace
}  // namespace pelicore::test

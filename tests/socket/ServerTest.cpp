// Listening, accepting and the listening server with one thread per client,
// against scripted clients on their own threads while the test dispatches.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/Application.h"
#include "platform/Threads.h"
#include "socket/Psock.h"
#include "tests/socket/SocketTestSupport.h"
#include "tests/support/EventPump.h"
#include "tests/support/ScriptedClient.h"

namespace pelicore::test {
namespace {

using std::chrono::milliseconds;

std::uint16_t LocalPortOf(const TZedadedar& S) {
  net::TSocketAddress Local = {};
  net::GetSockName(S.SocketHandle, Local);
  return net::NetToHost16(Local.Port);
}

template <class Server>
ComponentPtr<Server> StartServer() {
  auto S = MakeComponent<Server>(nullptr);
  S->ListenAddress = "127.0.0.1";
  S->Port = 0;
  S->BeginLoading();
  S->EndLoading();
  return S;
}

bool AllEnded(const std::vector<std::unique_ptr<ScriptedClient>>& Clients) {
  for (const auto& C : Clients)
    if (!C->Ended()) return false;
  return true;
}

// Greets, echoes each line until QUIT or the client's close, and records on
// which threads it served. With Gathering > 0 every Serve first waits until
// that many serve at the same time, which only concurrent threads can reach.
class TEchoServer : public TNMServerClass<TEchoServer> {
 public:
  using TNMServerClass::TNMServerClass;

  struct Shared {
    std::mutex Lock;
    std::condition_variable Changed;
    int Active = 0;
    int Gathering = 0;
    bool Gathered = false;
    int Aborted = 0;
    std::set<std::thread::id> Threads;
  };
  static inline Shared* Record = nullptr;

  void Serve() override {
    {
      std::unique_lock<std::mutex> G(Record->Lock);
      Record->Threads.insert(std::this_thread::get_id());
      ++Record->Active;
      Record->Changed.notify_all();
      if (Record->Gathering > 0)
        Record->Gathered = Record->Changed.wait_for(G, std::chrono::seconds(10),
                                                    [] { return Record->Active >= Record->Gathering; });
    }
    try {
      Writeln("+OK hello");
      for (;;) {
        const std::string Line = ReadLn();
        if (Line.empty()) break;
        if (Line == "QUIT\r\n") {
          Writeln("+OK bye");
          break;
        }
        Write(Line);
      }
    } catch (const EAbortError&) {
      std::lock_guard<std::mutex> G(Record->Lock);
      ++Record->Aborted;
      throw;
    }
  }
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { TEchoServer::Record = &Shared; }
  void TearDown() override {
    // Every component of a test is gone: the socket layer is down again.
    EXPECT_EQ(WinsockRefCount, 0);
    TEchoServer::Record = nullptr;
  }
  TEchoServer::Shared Shared;
};

TEST_F(ServerTest, TheBaseServerAcceptsServesNothingAndClosesEachClient) {
  auto Server = StartServer<TNMGeneralServer>();
  int Contacts = 0;
  int Disconnects = 0;
  Server->OnClientContact = [&](TComponent* Sender) {
    EXPECT_EQ(Sender, Server.get());
    ++Contacts;
  };
  Server->OnDisconnect = [&](TComponent*) { ++Disconnects; };
  ScriptedClient Client(LocalPortOf(*Server));
  Client.ExpectClose();
  Client.Start();
  EXPECT_TRUE(PumpUntil([&] { return Client.Ended() && Server->ConnectionList->Count() == 0; }));
  EXPECT_TRUE(Client.Finish()) << Client.ErrorText();
  EXPECT_EQ(Contacts, 1);
  // The connection ended because Serve returned, not because the client left.
  EXPECT_EQ(Disconnects, 0);
  // The connection server has been freed: only the listening server counts.
  EXPECT_TRUE(PumpUntil([] { return WinsockRefCount == 1; }));
}

TEST_F(ServerTest, ADerivedServerServesEveryClientAtOnceOnThreadsOfTheirOwn) {
  constexpr int Clients = 5;
  Shared.Gathering = Clients;
  auto Server = StartServer<TEchoServer>();
  std::vector<std::unique_ptr<ScriptedClient>> All;
  for (int I = 0; I < Clients; ++I) {
    auto C = std::make_unique<ScriptedClient>(LocalPortOf(*Server));
    const std::string Line = "line " + std::to_string(I) + "\r\n";
    C->ExpectLine("+OK hello\r\n").Send(Line).ExpectLine(Line).Send("QUIT\r\n").ExpectLine("+OK bye\r\n").ExpectClose();
    C->Start();
    All.push_back(std::move(C));
  }
  EXPECT_TRUE(PumpUntil([&] { return AllEnded(All) && Server->ConnectionList->Count() == 0; }, milliseconds(15000)));
  for (auto& C : All) EXPECT_TRUE(C->Finish()) << C->ErrorText();
  std::lock_guard<std::mutex> G(Shared.Lock);
  EXPECT_TRUE(Shared.Gathered);
  EXPECT_EQ(Shared.Threads.size(), static_cast<std::size_t>(Clients));
  EXPECT_EQ(Shared.Threads.count(std::this_thread::get_id()), 0u);
}

TEST_F(ServerTest, AClientThatClosesRaisesOnDisconnectWithItsConnectionServer) {
  auto Server = StartServer<TEchoServer>();
  std::mutex Lock;
  std::vector<TComponent*> Senders;
  std::vector<TComponent*> ListenersOfSenders;
  int BoxesShown = 0;
  Application().SetExceptionHandler([&](std::exception_ptr) { ++BoxesShown; });
  Server->OnDisconnect = [&](TComponent* Sender) {
    std::lock_guard<std::mutex> G(Lock);
    Senders.push_back(Sender);
    ListenersOfSenders.push_back(static_cast<TNMGeneralServer*>(Sender)->ListeningServer);
    // Raised on the connection's thread: a failure here must not reach the
    // window's error box.
    throw std::runtime_error("handler failed");
  };
  ScriptedClient Leaving(LocalPortOf(*Server));
  Leaving.ExpectLine("+OK hello\r\n").Close().ExpectClose();
  Leaving.Start();
  EXPECT_TRUE(PumpUntil([&] { return Leaving.Ended() && Server->ConnectionList->Count() == 0; }));
  EXPECT_TRUE(Leaving.Finish()) << Leaving.ErrorText();
  Application().SetExceptionHandler(nullptr);
  std::lock_guard<std::mutex> G(Lock);
  ASSERT_EQ(Senders.size(), 1u);
  EXPECT_NE(Senders[0], Server.get());
  EXPECT_EQ(ListenersOfSenders[0], Server.get());
  EXPECT_EQ(BoxesShown, 0);
}

TEST_F(ServerTest, FreeingTheServerCancelsRunningConnectionsAndWaitsForThem) {
  constexpr int Clients = 3;
  auto Server = StartServer<TEchoServer>();
  std::vector<std::unique_ptr<ScriptedClient>> All;
  for (int I = 0; I < Clients; ++I) {
    All.push_back(std::make_unique<ScriptedClient>(LocalPortOf(*Server)));
    All.back()->ExpectLine("+OK hello\r\n").ExpectClose();
    All.back()->Start();
  }
  EXPECT_TRUE(PumpUntil([&] {
    std::lock_guard<std::mutex> G(Shared.Lock);
    return Shared.Active == Clients;
  }));
  Server.reset();
  for (auto& C : All) EXPECT_TRUE(C->Finish()) << C->ErrorText();
  std::lock_guard<std::mutex> G(Shared.Lock);
  EXPECT_EQ(Shared.Aborted, Clients);
}

TEST_F(ServerTest, TheSecondModeAcceptsOnRequestAndKeepsListening) {
  SocketPtr Listener = NewSocket();
  Listener->ListenAddress = "127.0.0.1";
  Listener->Listen(true);
  const std::uint16_t Port = LocalPortOf(*Listener);
  ScriptedClient First(Port);
  First.ExpectLine("one\r\n").ExpectClose();
  First.Start();
  const net::TSocket A = Listener->Accept();
  ASSERT_NE(A, net::InvalidSocket);
  EXPECT_EQ(Listener->GetRemoteIP(), "127.0.0.1");
  EXPECT_TRUE(PumpUntil([&] { return First.LocalPort() != 0; }));
  EXPECT_EQ(net::NetToHost16(Listener->RemoteAddress.Port), First.LocalPort());
  ScriptedClient Second(Port);
  Second.ExpectLine("two\r\n").ExpectClose();
  Second.Start();
  const net::TSocket B = Listener->Accept();
  ASSERT_NE(B, net::InvalidSocket);
  EXPECT_NE(A, B);
  EXPECT_EQ(net::Send(A, "one\r\n", 5, 0), 5);
  EXPECT_EQ(net::Send(B, "two\r\n", 5, 0), 5);
  net::CloseSocket(A);
  net::CloseSocket(B);
  EXPECT_TRUE(First.Finish()) << First.ErrorText();
  EXPECT_TRUE(Second.Finish()) << Second.ErrorText();
}

TEST_F(ServerTest, AcceptWithACancelPendingFailsAtOnceAndKeepsTheFlag) {
  SocketPtr Listener = NewSocket();
  Listener->ListenAddress = "127.0.0.1";
  Listener->Listen(true);
  Listener->Canceled = true;
  try {
    Listener->Accept();
    ADD_FAILURE() << "Accept returned with a cancel pending";
  } catch (const ESockError& E) {
    EXPECT_EQ(E.Message(), "Accepting Canceled");
  }
  EXPECT_TRUE(Listener->Canceled);
}

TEST_F(ServerTest, ListeningOnATakenPortFailsWithTheSocketError) {
  SocketPtr Holder = NewSocket();
  Holder->ListenAddress = "127.0.0.1";
  Holder->Listen(true);
  auto Server = MakeComponent<TNMGeneralServer>(nullptr);
  Server->ListenAddress = "127.0.0.1";
  Server->Port = LocalPortOf(*Holder);
  Server->BeginLoading();
  try {
    Server->EndLoading();
    ADD_FAILURE() << "a server listens on a port another socket holds";
  } catch (const ESockError& E) {
    EXPECT_EQ(E.Message().rfind("10048:", 0), 0u) << E.Message();
  }
  Server->Port = 70000;
  EXPECT_THROW(Server->Listen(false), ERangeError);
}

TEST_F(ServerTest, AServerInDesignModeDoesNotListen) {
  auto Server = MakeComponent<TNMGeneralServer>(nullptr);
  Server->SetDesigning(true);
  Server->BeginLoading();
  Server->EndLoading();
  EXPECT_FALSE(static_cast<bool>(Server->OnAccept));
}

// A thread's failure goes to standard error, never to the window's box.
TEST(Threads, AnExceptionLeavingExecuteNeverReachesTheWindowsHandler) {
  struct Failing : TThread {
    void Execute() override { throw std::runtime_error("worker failed"); }
  };
  int BoxesShown = 0;
  Application().SetExceptionHandler([&](std::exception_ptr) { ++BoxesShown; });
  {
    Failing T;
    T.Start();
    T.WaitFor();
  }
  Application().SetExceptionHandler(nullptr);
  EXPECT_EQ(BoxesShown, 0);
}

}  // namespace
}  // namespace pelicore::test

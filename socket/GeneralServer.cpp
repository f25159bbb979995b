// The listening server: one connection server, of the listening server's own
// class, per client, each served on a thread of its own.
//
// A connection server is made on the listening server's thread, under
// ServerLock, and handed to its thread, which first takes over the
// component's window, timer and socket notifications, so that everything of
// the connection (its waits, notifications, time-out and events) happens on
// that one thread and its waits block in that thread's own event loop. The
// listening server reaches a connection only through its atomic Canceled flag
// and a message that wakes the connection's wait.

#include <cstdio>

#include "platform/Application.h"
#include "socket/Psock.h"

namespace pelicore {

namespace {

// Below SocketMessage: wakes a wait, and the window does nothing with it.
constexpr std::uint32_t WakeMessage = SocketMessage - 1;

class ServerLockGuard {
 public:
  ServerLockGuard() { ServerLock().Enter(); }
  ~ServerLockGuard() { ServerLock().Leave(); }
  ServerLockGuard(const ServerLockGuard&) = delete;
  ServerLockGuard& operator=(const ServerLockGuard&) = delete;
};

}  // namespace

TCriticalSection& ServerLock() {
  // Never destroyed: connection threads may still leave it while the
  // process ends.
  static TCriticalSection* Lock = new TCriticalSection;
  return *Lock;
}

TNMGeneralServer::TNMGeneralServer(TComponent* AOwner) : TZedadedar(AOwner) {
  if (dynamic_cast<TNMGeneralServer*>(AOwner) == nullptr)
    ConnectionList = std::make_shared<TThreadList<TNMGeneralServer>>();
}

TNMGeneralServer::~TNMGeneralServer() {
  if (!ConnectionList) return;
  try {
    Abort();
  } catch (...) {
  }
  // The connection threads use their servers, which this one owns, and the
  // list until they end.
  const bool AllEnded = ConnectionList->WaitUntilEmpty(ConnectionEndWait);
  {
    ServerLockGuard Guard;
    auto Locked = ConnectionList->LockList();
    // A connection that would not end in time keeps running on its own and
    // frees itself when it ends; it keeps the list, not this server.
    for (TNMGeneralServer* Server : Locked.Items()) Server->ListeningServer = nullptr;
  }
  if (!AllEnded) std::fprintf(stderr, "Pelicore: connections still running when their server was freed\n");
  ConnectionList.reset();
}

TNMGeneralServer* TNMGeneralServer::NewInstance(TComponent* AOwner) { return new TNMGeneralServer(AOwner); }

void TNMGeneralServer::Loaded() {
  TZedadedar::Loaded();
  if (IsDesigning()) return;
  ServerLock();
  OnAccept = [this](TComponent* Sender) { ServerAccept(Sender); };
  Listen(false);
}

void TNMGeneralServer::Connect() {}

void TNMGeneralServer::Abort() {
  if (!ConnectionList) {
    // A connection server: its time-out (and a cancel) ends its waits.
    Cancel();
    return;
  }
  auto Locked = ConnectionList->LockList();
  for (TNMGeneralServer* Server : Locked.Items()) {
    // The flag and the post are all that crosses to the connection's
    // thread; its status report would run on the wrong thread.
    Server->Canceled = true;
    win::PostWindowMessage(Server->Handle, WakeMessage, 0, 0);
  }
}

void TNMGeneralServer::ServerAccept(TComponent* /*Sender*/) {
  {
    ServerLockGuard Guard;
    try {
      AsyncDone = true;
      const net::TSocket Accepted = Accept();
      new InstantiateServethread(this, Accepted);
    } catch (...) {
      // A client that could not be taken on is dropped; the server goes on.
    }
  }
  if (OnClientContact) OnClientContact(this);
}

void TNMGeneralServer::Serve() {}

void TZedadedar::TakeOverOnThisThread() {
  const win::WindowHandle NewWindow = PsockAllocateHWnd(this);
  if (NewWindow == 0) throw ESockError("No window for the connection");
  const win::WindowHandle OldWindow = Handle.exchange(NewWindow);
  if (OldWindow != 0) win::DestroyHiddenWindow(OldWindow);

  TThreadTimer* OldTimer = Timer;
  Timer = new TThreadTimer(this);
  Timer->SetEnabled(false);
  Timer->SetOnTimer([this](TComponent* Sender) { TimerFired(Sender); });
  if (OldTimer != nullptr) OldTimer->Free();

  if (SocketHandle != net::InvalidSocket && SelectNotifications(SocketHandle) == net::SocketError) {
    ErrorManager(net::SocketErrors::WouldBlock);
    throw ESockError("Error creating Data Connection");
  }
}

InstantiateServethread::InstantiateServethread(TNMGeneralServer* AOwner, net::TSocket Socket) {
  bool SocketTaken = false;
  try {
    TNMGeneralServer* Server = AOwner->NewInstance(AOwner);
    ConnectionServer = Server;
    // Made with its listening server as owner, which makes it a connection
    // server, but not kept in its list of components: that list belongs to
    // the listening server's thread, and the connection server is freed on
    // its own. The listening server waits for it instead.
    AOwner->RemoveComponent(Server);
    Server->Connected = true;
    Server->RemoteAddress = AOwner->RemoteAddress;
    Server->ServeThread = this;
    Server->OnConnect = AOwner->OnConnect;
    Server->OnDisconnect = AOwner->OnDisconnect;
    Server->Close(Server->SocketHandle);
    Server->SocketHandle = Socket;
    SocketTaken = true;
    AOwner->ConnectionList->Add(Server);
    Server->FServedList = AOwner->ConnectionList;
    // No notification of the accepted socket may reach this thread now: the
    // connection's thread registers it with a window of its own.
    net::AsyncSelect(Socket, 0, 0, 0);
    Server->ListeningServer = AOwner;
    FreeOnTerminate = true;
    Start();
  } catch (...) {
    if (ConnectionServer != nullptr) {
      if (AOwner->ConnectionList) AOwner->ConnectionList->Remove(ConnectionServer);
      // Its destruction closes the accepted socket once it holds it.
      ConnectionServer->Free();
      ConnectionServer = nullptr;
    }
    if (!SocketTaken) net::CloseSocket(Socket);
    throw;
  }
}

void InstantiateServethread::Execute() {
  FreeOnTerminate = true;
  try {
    ConnectionServer->TakeOverOnThisThread();
    ConnectionServer->Serve();
  } catch (...) {
    // The connection ends as if Serve had returned.
  }
  // A client whose close ended Serve has its close notification still due
  // on this thread: handled now, it raises OnDisconnect as it would have
  // during the wait. A connection that Serve ended has none.
  try {
    Application().ProcessMessages();
  } catch (...) {
  }
}

InstantiateServethread::~InstantiateServethread() {
  try {
    ServerLockGuard Guard;
    if (ConnectionServer != nullptr) {
      TNMGeneralServer* Server = ConnectionServer;
      const auto List = Server->FServedList;
      if (List) List->Remove(Server);
      // Closes the accepted socket; no OnDisconnect while it is destroyed.
      Server->Free();
      ConnectionServer = nullptr;
    }
  } catch (...) {
  }
}

}  // namespace pelicore

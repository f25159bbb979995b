// Notifications: a socket registered with AsyncSelect gets a watch — an epoll
// set holding just that socket, whose own descriptor a QSocketNotifier on the
// window's thread listens to. The set says what we still wait for: a
// connect's outcome, a pending connection, or (edge-triggered, once
// connected) new data and the peer's close. So an unread buffer or a closed
// peer never keeps the event loop busy, and arming the read notification
// again after a receive is a flag in user space, not a system call. The
// notifications are delivered to the window procedure from the notifier's own
// dispatch, on the window's thread.

#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Application.h"
#include "platform/MessagesInternal.h"
#include "platform/SocketsInternal.h"

namespace pelicore::net {
namespace detail {
namespace {

void OnReady(std::shared_ptr<SocketState> S);

// One notification for a window, collected under the lock and delivered
// after it is released (the handler may call back into this file).
struct Notification {
  win::WindowHandle Window;
  std::uint32_t Message;
  std::uint32_t Socket;
  std::int32_t LParam;
};

bool Selected(const SocketState& S, std::int32_t Event) { return (S.Events & Event) != 0; }

// Whether S still is its socket's registration. A closed socket's number is
// handed out again at once (the component makes its next socket right after
// a close), so a notification that comes due after the close must not reach
// the window as one of the new socket.
bool IsCurrent(const std::shared_ptr<SocketState>& S) {
  std::lock_guard<std::mutex> G(Tab().Lock);
  return Lookup(static_cast<TSocket>(S->Fd)) == S;
}

Notification Make(const SocketState& S, std::int32_t Event, int Error) {
  return {S.Window, S.Message, static_cast<std::uint32_t>(S.Fd),
          win::MakeLong(static_cast<std::uint16_t>(Event), static_cast<std::uint16_t>(Error))};
}

int PendingError(int Fd) {
  int Err = 0;
  socklen_t Len = sizeof Err;
  ::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Err, &Len);
  return Err;
}

// The phase of a socket that is registered only now: it may already listen
// (listened on before it was registered) or be connected (accepted without
// the listener's notifications).
Phase PhaseOf(int Fd) {
  int Listening = 0;
  socklen_t Len = sizeof Listening;
  if (::getsockopt(Fd, SOL_SOCKET, SO_ACCEPTCONN, &Listening, &Len) == 0 && Listening) return Phase::Listening;
  sockaddr_in Peer{};
  socklen_t PeerLen = sizeof Peer;
  if (::getpeername(Fd, reinterpret_cast<sockaddr*>(&Peer), &PeerLen) == 0) return Phase::Connected;
  return Phase::Idle;
}

}  // namespace

// Lives on the window's thread; owns the notifier on the epoll descriptor.
struct Watch : QObject {
  explicit Watch(std::shared_ptr<SocketState> State) : FState(std::move(State)), FEpollFd(FState->EpollFd) {
    FNotifier = std::make_unique<QSocketNotifier>(FEpollFd, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { OnReady(FState); });
  }
  ~Watch() override {
    FNotifier.reset();  // before its descriptor goes
    ::close(FEpollFd);
  }
  std::shared_ptr<SocketState> FState;
  int FEpollFd;
  std::unique_ptr<QSocketNotifier> FNotifier;
};


Table& Tab() {
  static Table* T = new Table;  // never destroyed: see Messages.cpp
  return *T;
}

// Caller holds the lock.
std::shared_ptr<SocketState> Lookup(TSocket Socket) {
  auto It = Tab().Sockets.find(Socket);
  return It == Tab().Sockets.end() ? nullptr : It->second;
}

void UpdateMask(SocketState& S, bool Recheck) {
  if (S.EpollFd < 0) return;
  std::uint32_t Want = 0;
  switch (S.State) {
    case Phase::Connecting:
      Want = EPOLLOUT;
      break;
    case Phase::Connected:
      if (!S.ClosePosted) Want = EPOLLIN | EPOLLRDHUP | EPOLLET;
      break;
    case Phase::Listening:
      if ((S.Events & FdAccept) && S.AcceptArmed) Want = EPOLLIN;
      break;
    case Phase::Idle:
    case Phase::Done:
      break;
  }
  if (Want == S.Mask && !(Recheck && Want != 0)) return;
  epoll_event E{};
  E.events = Want;
  E.data.fd = S.Fd;
  if (Want == 0)
    ::epoll_ctl(S.EpollFd, EPOLL_CTL_DEL, S.Fd, &E);
  else
    ::epoll_ctl(S.EpollFd, S.Mask == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, S.Fd, &E);
  S.Mask = Want;
}

void PostEvent(const std::shared_ptr<SocketState>& S, std::int32_t Event, int Error) {
  if (!Selected(*S, Event)) return;
  const Notification N = Make(*S, Event, Error);
  win::detail::PostWindowTask(N.Window, [N, Weak = std::weak_ptr<SocketState>(S)] {
    const auto Live = Weak.lock();
    if (Live && IsCurrent(Live)) win::SendWindowMessage(N.Window, N.Message, N.Socket, N.LParam);
  });
}

int PendingBytes(int Fd) {
  int Pending = 0;
  return ::ioctl(Fd, FIONREAD, &Pending) == 0 ? Pending : 0;
}

namespace {

// The watch's descriptor is readable: find out what happened and tell the
// window. This already runs while the window's thread dispatches, so the
// notifications go straight to the window procedure, in the order they
// occurred, without a second trip through the queue.
void OnReady(std::shared_ptr<SocketState> Sp) {
  Notification Out[2];
  int Count = 0;
  {
    std::lock_guard<std::mutex> G(Tab().Lock);
    SocketState& S = *Sp;
    if (S.EpollFd < 0) return;
    epoll_event E{};
    if (::epoll_wait(S.EpollFd, &E, 1, 0) <= 0) return;
    const std::uint32_t Got = E.events;
    switch (S.State) {
      case Phase::Connecting: {
        const int Err = PendingError(S.Fd);
        S.State = Err ? Phase::Idle : Phase::Connected;
        S.ReadArmed = true;
        S.ClosePosted = false;
        if (Selected(S, FdConnect)) Out[Count++] = Make(S, FdConnect, MapErrno(Err));
        break;
      }
      case Phase::Listening:
        if (Got & EPOLLIN) {
          S.AcceptArmed = false;
          if (Selected(S, FdAccept)) Out[Count++] = Make(S, FdAccept, 0);
        }
        break;
      case Phase::Connected: {
        const bool Closed = (Got & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
        // Without the close, readable means data; with it, ask.
        if ((Got & EPOLLIN) && S.ReadArmed && (!Closed || PendingBytes(S.Fd) > 0)) {
          S.ReadArmed = false;
          if (Selected(S, FdRead)) Out[Count++] = Make(S, FdRead, 0);
        }
        if (Closed) {
          const int Err = (Got & EPOLLERR) ? PendingError(S.Fd) : 0;
          S.ClosePosted = true;
          S.State = Phase::Done;
          if (Selected(S, FdClose)) Out[Count++] = Make(S, FdClose, MapErrno(Err));
        }
        break;
      }
      case Phase::Idle:
      case Phase::Done:
        break;
    }
    UpdateMask(S);
  }
  // Sp is our own reference: a handler may close the socket, which deletes
  // the watch that called us. The close notification after a read
  // notification whose handler closed the socket is dropped.
  for (int I = 0; I < Count && IsCurrent(Sp); ++I)
    pelicore::Guarded([&] { win::SendWindowMessage(Out[I].Window, Out[I].Message, Out[I].Socket, Out[I].LParam); });
}

}  // namespace

void DisposeWatch(SocketState& S) {
  if (!S.Notifier) return;
  Watch* W = S.Notifier;
  S.Notifier = nullptr;
  S.EpollFd = -1;  // the watch closes it
  S.Mask = 0;
  if (W->thread() == QThread::currentThread())
    delete W;
  else
    W->deleteLater();
}

}  // namespace detail

using namespace detail;

int AsyncSelect(TSocket Socket, win::WindowHandle Window, std::uint32_t Message, std::int32_t Events) {
  const int Flags = ::fcntl(Socket, F_GETFL);
  if (Flags < 0 || ::fcntl(Socket, F_SETFL, Flags | O_NONBLOCK) < 0) return FailErrno();
  std::lock_guard<std::mutex> G(Tab().Lock);
  auto S = Lookup(Socket);
  if (!S) {
    S = std::make_shared<SocketState>();
    S->Fd = Socket;
    S->State = PhaseOf(Socket);
    Tab().Sockets[Socket] = S;
  }
  const bool NewThread = S->Notifier && S->Notifier->thread() != QThread::currentThread();
  if (Events == 0 || NewThread) DisposeWatch(*S);
  S->Window = Window;
  S->Message = Message;
  S->Events = Events;
  if (Events != 0 && !S->Notifier) {
    S->EpollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (S->EpollFd < 0) return FailErrno();
    S->Mask = 0;
    S->Notifier = new Watch(S);
  }
  // Conditions that already hold are reported again under the new selection.
  S->ReadArmed = true;
  S->AcceptArmed = true;
  UpdateMask(*S, true);
  return 0;
}

}  // namespace pelicore::net

// POSIX sockets behind the numbered-error socket API.
//
// Notifications: a socket registered with AsyncSelect gets a watch — an epoll
// set holding just that socket, whose own descriptor a QSocketNotifier on the
// window's thread listens to. The set says what we still wait for: a
// connect's outcome, a pending connection, or (edge-triggered, once
// connected) new data and the peer's close. So an unread buffer or a closed
// peer never keeps the event loop busy, and arming the read notification
// again after a receive is a flag in user space, not a system call. The
// notifications are delivered to the window procedure from the notifier's own
// dispatch, on the window's thread.

#include "platform/Sockets.h"

#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "platform/Application.h"
#include "platform/MessagesInternal.h"

namespace pelicore::net {
namespace {

thread_local int TheLastError = 0;

int Fail(int Code) {
  TheLastError = Code;
  return SocketError;
}

int FailErrno() { return Fail(MapErrno(errno)); }

enum class Phase { Idle, Connecting, Connected, Listening, Done };

struct Watch;

struct SocketState {
  int Fd = -1;
  win::WindowHandle Window = 0;
  std::uint32_t Message = 0;
  std::int32_t Events = 0;
  Phase State = Phase::Idle;
  bool ReadArmed = true;
  bool AcceptArmed = true;
  bool ClosePosted = false;
  // A send found the socket's buffer full: watch for room, so that a sender
  // waiting for the next event wakes up (nothing is delivered for it).
  bool WriteArmed = false;
  int EpollFd = -1;
  std::uint32_t Mask = 0;  // what the epoll set holds now; 0: not in the set
  Watch* Notifier = nullptr;
};

struct Table {
  std::mutex Lock;
  std::unordered_map<int, std::shared_ptr<SocketState>> Sockets;
  int StartupCount = 0;
};

Table& Tab() {
  static Table* T = new Table;  // never destroyed: see Messages.cpp
  return *T;
}

void OnReady(std::shared_ptr<SocketState> S);

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

// Caller holds the lock. Recomputes the epoll mask from the state. A
// connected socket is watched edge-triggered: every arrival of data and the
// peer's close are reported once, and whether a read notification is armed is
// decided in user space, so arming and disarming costs no system call.
// Recheck re-registers an unchanged mask, so that the kernel reports again
// what already holds (data pending, a closed peer).
void UpdateMask(SocketState& S, bool Recheck = false) {
  if (S.EpollFd < 0) return;
  std::uint32_t Want = 0;
  switch (S.State) {
    case Phase::Connecting:
      Want = EPOLLOUT;
      break;
    case Phase::Connected:
      if (!S.ClosePosted) Want = EPOLLIN | EPOLLRDHUP | EPOLLET;
      if (S.WriteArmed) Want |= EPOLLOUT | EPOLLET;
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

// One notification for a window, collected under the lock and delivered
// after it is released (the handler may call back into this file).
struct Notification {
  win::WindowHandle Window;
  std::uint32_t Message;
  std::uint32_t Socket;
  std::int32_t LParam;
};

bool Selected(const SocketState& S, std::int32_t Event) { return (S.Events & Event) != 0; }

// Caller holds the lock.
std::shared_ptr<SocketState> Lookup(TSocket Socket) {
  auto It = Tab().Sockets.find(Socket);
  return It == Tab().Sockets.end() ? nullptr : It->second;
}

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

// From outside the dispatch of the socket's own watch: queue it, in order
// with the window's other messages; dropped if the socket is closed first.
void PostEvent(const std::shared_ptr<SocketState>& S, std::int32_t Event, int Error) {
  if (!Selected(*S, Event)) return;
  const Notification N = Make(*S, Event, Error);
  win::detail::PostWindowTask(N.Window, [N, Weak = std::weak_ptr<SocketState>(S)] {
    const auto Live = Weak.lock();
    if (Live && IsCurrent(Live)) win::SendWindowMessage(N.Window, N.Message, N.Socket, N.LParam);
  });
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

int PendingBytes(int Fd) {
  int Pending = 0;
  return ::ioctl(Fd, FIONREAD, &Pending) == 0 ? Pending : 0;
}

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
        if (Got & (EPOLLOUT | EPOLLERR | EPOLLHUP)) S.WriteArmed = false;
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

sockaddr_in ToPosix(const TSocketAddress& A) {
  sockaddr_in In{};
  In.sin_family = AF_INET;
  In.sin_port = A.Port;
  In.sin_addr.s_addr = A.Address;
  return In;
}

TSocketAddress FromPosix(const sockaddr_in& In) {
  TSocketAddress A{};
  A.Family = AddressFamilyInet;
  A.Port = In.sin_port;
  A.Address = In.sin_addr.s_addr;
  return A;
}

// Host entry packed into a caller's block: header, then pointer arrays, then
// the name and the addresses. Returns 0 or an error number.
int PackHostInfo(const std::string& Name, const std::vector<std::uint32_t>& Addresses, char* Block, int Length) {
  const std::size_t Count = Addresses.size();
  const std::size_t Need = sizeof(THostInfo) + sizeof(char*) /*aliases*/ + (Count + 1) * sizeof(char*) +
                           Count * 4 + Name.size() + 1;
  if (Length < 0 || Need > static_cast<std::size_t>(Length)) return SocketErrors::NoBufferSpace;
  std::memset(Block, 0, Need);
  auto* Info = reinterpret_cast<THostInfo*>(Block);
  char* P = Block + sizeof(THostInfo);
  Info->Aliases = reinterpret_cast<char**>(P);
  P += sizeof(char*);
  Info->AddressList = reinterpret_cast<char**>(P);
  P += (Count + 1) * sizeof(char*);
  for (std::size_t I = 0; I < Count; ++I) {
    std::memcpy(P, &Addresses[I], 4);
    Info->AddressList[I] = P;
    P += 4;
  }
  std::memcpy(P, Name.c_str(), Name.size() + 1);
  Info->Name = P;
  Info->AddressType = AddressFamilyInet;
  Info->AddressLength = 4;
  return 0;
}

int MapLookupError(int Code) {
  switch (Code) {
    case 0:
      return 0;
    case EAI_NONAME:
      return SocketErrors::HostNotFound;
    case EAI_AGAIN:
      return SocketErrors::TryAgain;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return SocketErrors::NoData;
    case EAI_MEMORY:
      return SocketErrors::NoBufferSpace;
    default:
      return SocketErrors::NoRecovery;
  }
}

// Blocking IPv4 look-up of a name; returns 0 or an error number. Address
// text is no name: getaddrinfo would hand it back as its own address, so that
// 255.255.255.255, which the dotted-address conversion cannot tell from its
// failure, would "resolve" instead of failing as an unknown host.
int Resolve(const std::string& Name, std::string& Canonical, std::vector<std::uint32_t>& Addresses) {
  in_addr Numeric{};
  if (Name.empty() || ::inet_aton(Name.c_str(), &Numeric) != 0) return SocketErrors::HostNotFound;
  addrinfo Hints{};
  Hints.ai_family = AF_INET;
  Hints.ai_socktype = SOCK_STREAM;
  Hints.ai_flags = AI_CANONNAME;
  addrinfo* Result = nullptr;
  const int Rc = ::getaddrinfo(Name.c_str(), nullptr, &Hints, &Result);
  if (Rc != 0) return MapLookupError(Rc);
  Canonical = (Result && Result->ai_canonname) ? Result->ai_canonname : Name;
  for (addrinfo* A = Result; A; A = A->ai_next) {
    const auto* In = reinterpret_cast<const sockaddr_in*>(A->ai_addr);
    bool Seen = false;
    for (std::uint32_t X : Addresses) Seen = Seen || X == In->sin_addr.s_addr;
    if (!Seen) Addresses.push_back(In->sin_addr.s_addr);
  }
  ::freeaddrinfo(Result);
  return Addresses.empty() ? SocketErrors::NoData : 0;
}

}  // namespace

int MapErrno(int E) {
  namespace X = SocketErrors;
  switch (E) {
    case 0: return 0;
    case EINTR: return X::Interrupted;
    case EBADF: return X::NotASocket;
    case ENOTSOCK: return X::NotASocket;
    case EACCES: case EPERM: return X::AccessDenied;
    case EFAULT: return X::BadAddress;
    case EINVAL: return X::InvalidArgument;
    case EMFILE: case ENFILE: return X::TooManyOpenFiles;
    case EAGAIN: case EINPROGRESS: return X::WouldBlock;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return X::WouldBlock;
#endif
    case EALREADY: return X::AlreadyInProgress;
    case EDESTADDRREQ: return X::DestinationRequired;
    case EMSGSIZE: return X::MessageTooLong;
    case EPROTOTYPE: return X::WrongProtocolType;
    case ENOPROTOOPT: return X::BadProtocolOption;
    case EPROTONOSUPPORT: return X::ProtocolNotSupported;
    case ESOCKTNOSUPPORT: return X::SocketTypeNotSupported;
    case EOPNOTSUPP: return X::OperationNotSupported;
    case EPFNOSUPPORT: return X::ProtocolFamilyNotSupported;
    case EAFNOSUPPORT: return X::AddressFamilyNotSupported;
    case EADDRINUSE: return X::AddressInUse;
    case EADDRNOTAVAIL: return X::AddressNotAvailable;
    case ENETDOWN: return X::NetworkDown;
    case ENETUNREACH: return X::NetworkUnreachable;
    case ENETRESET: return X::NetworkReset;
    case ECONNABORTED: return X::ConnectionAborted;
    case ECONNRESET: case EPIPE: return X::ConnectionReset;
    case ENOBUFS: case ENOMEM: return X::NoBufferSpace;
    case EISCONN: return X::AlreadyConnected;
    case ENOTCONN: return X::NotConnected;
    case ESHUTDOWN: return X::ShutDown;
    case ETOOMANYREFS: return X::TooManyReferences;
    case ETIMEDOUT: return X::TimedOut;
    case ECONNREFUSED: return X::ConnectionRefused;
    case ELOOP: return X::SymlinkLoop;
    case ENAMETOOLONG: return X::NameTooLong;
    case EHOSTDOWN: return X::HostDown;
    case EHOSTUNREACH: return X::HostUnreachable;
    case ENOTEMPTY: return X::DirectoryNotEmpty;
    case EUSERS: return X::TooManyUsers;
    case EDQUOT: return X::QuotaExceeded;
    case ESTALE: return X::StaleHandle;
    case EREMOTE: return X::RemotePathTooDeep;
    default: return 10100 + E;  // outside the table: shown as an unknown error number
  }
}

int Startup(std::uint16_t RequestedVersion, TStartupData& Data) {
  std::memset(&Data, 0, sizeof Data);
  Data.Version = RequestedVersion;
  Data.HighVersion = 0x0202;
  std::strncpy(Data.Description, "Pelicore sockets over POSIX", sizeof Data.Description - 1);
  std::strncpy(Data.SystemStatus, "Running", sizeof Data.SystemStatus - 1);
  rlimit Files{};
  ::getrlimit(RLIMIT_NOFILE, &Files);
  Data.MaxSockets = static_cast<std::uint16_t>(Files.rlim_cur > 65535 ? 65535 : Files.rlim_cur);
  Data.MaxUdpDatagram = 65467;
  std::lock_guard<std::mutex> G(Tab().Lock);
  ++Tab().StartupCount;
  return 0;
}

int Cleanup() {
  std::lock_guard<std::mutex> G(Tab().Lock);
  if (Tab().StartupCount == 0) return Fail(SocketErrors::NotInitialised);
  --Tab().StartupCount;
  return 0;
}

int StartupCount() {
  std::lock_guard<std::mutex> G(Tab().Lock);
  return Tab().StartupCount;
}

TSocket CreateSocket(int Family, int Type, int Protocol) {
  if (Family != AddressFamilyInet) {
    Fail(SocketErrors::AddressFamilyNotSupported);
    return InvalidSocket;
  }
  if (Type != StreamSocket) {
    Fail(SocketErrors::SocketTypeNotSupported);
    return InvalidSocket;
  }
  const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, Protocol == DefaultProtocol ? 0 : Protocol);
  if (Fd < 0) {
    FailErrno();
    return InvalidSocket;
  }
  if (Fd >= InvalidSocket) {
    ::close(Fd);
    Fail(SocketErrors::TooManyOpenFiles);
    return InvalidSocket;
  }
  return static_cast<TSocket>(Fd);
}

int SetLinger(TSocket Socket, bool On, std::uint16_t Seconds) {
  linger L{};
  L.l_onoff = On ? 1 : 0;
  L.l_linger = Seconds;
  return ::setsockopt(Socket, SOL_SOCKET, SO_LINGER, &L, sizeof L) == 0 ? 0 : FailErrno();
}

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

std::uint32_t DottedToAddress(const char* Text) {
  if (!Text) return NoAddress;
  in_addr A{};
  if (::inet_aton(Text, &A) == 0) return NoAddress;
  return A.s_addr;
}

std::string AddressToDotted(std::uint32_t Address) {
  in_addr A{};
  A.s_addr = Address;
  char Buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &A, Buf, sizeof Buf);
  return Buf;
}

int AsyncGetHostByName(win::WindowHandle Window, std::uint32_t Message, const char* Name, char* Buffer,
                       int BufferLength) {
  if (!win::IsWindow(Window) || !Name || !Buffer) {
    Fail(SocketErrors::InvalidArgument);
    return 0;
  }
  static std::atomic<int> NextRequest{1};
  const int Request = NextRequest.fetch_add(1);
  // The resolver owns its copy of everything; the caller's block is written
  // only on delivery, on the window's thread, and only while the window exists.
  try {
    std::thread([Window, Message, Request, Host = std::string(Name), Buffer, BufferLength] {
      std::string Canonical;
      std::vector<std::uint32_t> Addresses;
      const int Error = Resolve(Host, Canonical, Addresses);
      win::detail::PostWindowTask(Window, [=] {
        int Err = Error;
        if (Err == 0) Err = PackHostInfo(Canonical, Addresses, Buffer, BufferLength);
        win::SendWindowMessage(Window, Message, static_cast<std::uint32_t>(Request),
                               win::MakeLong(0, static_cast<std::uint16_t>(Err)));
      });
    }).detach();
  } catch (const std::system_error&) {
    Fail(SocketErrors::NoBufferSpace);  // no thread to resolve on
    return 0;
  }
  return Request;
}

int Connect(TSocket Socket, const TSocketAddress& Address) {
  const sockaddr_in In = ToPosix(Address);
  std::unique_lock<std::mutex> G(Tab().Lock);
  auto S = Lookup(Socket);
  const bool Async = S && S->Notifier;
  G.unlock();
  const int Rc = ::connect(Socket, reinterpret_cast<const sockaddr*>(&In), sizeof In);
  const int Err = Rc == 0 ? 0 : errno;
  if (!Async) return Rc == 0 ? 0 : Fail(MapErrno(Err));
  // Asynchronous: the outcome always arrives as FdConnect; the call itself
  // reports "would block" unless the request could not even be made.
  const bool Outcome = Err == 0 || Err == EINPROGRESS || Err == ECONNREFUSED || Err == ENETUNREACH ||
                       Err == EHOSTUNREACH || Err == ETIMEDOUT;
  if (!Outcome) return Fail(MapErrno(Err));
  G.lock();
  if (Err == 0 || Err == EINPROGRESS) {
    S->State = Phase::Connecting;
    UpdateMask(*S);
  } else {
    S->State = Phase::Idle;
    UpdateMask(*S);
    PostEvent(S, FdConnect, MapErrno(Err));
  }
  return Fail(SocketErrors::WouldBlock);
}

namespace {
// Any receive re-arms the read notification. New data is reported by the
// watch's next edge; data that is still pending now is reported at once,
// as a receive that leaves data behind would see it. A receive that took less
// than it asked for has emptied the queue, so only a peek, or a receive that
// filled its buffer, can leave data behind.
void Rearm(TSocket Socket, bool Peek, int Received, int Length) {
  std::lock_guard<std::mutex> G(Tab().Lock);
  auto S = Lookup(Socket);
  if (!S || S->ReadArmed || S->State != Phase::Connected) return;
  S->ReadArmed = true;
  const bool MayRemain = Received > 0 && (Peek || Received == Length);
  if (MayRemain && (Peek || PendingBytes(S->Fd) > 0)) {
    S->ReadArmed = false;
    PostEvent(S, FdRead, 0);
  }
}
}  // namespace

int Send(TSocket Socket, const void* Data, int Length, int Flags) {
  (void)Flags;
  if (Length < 0) return Fail(SocketErrors::InvalidArgument);
  const ssize_t N = ::send(Socket, Data, static_cast<std::size_t>(Length), MSG_NOSIGNAL);
  if (N >= 0) return static_cast<int>(N);
  const int Err = errno;
  if (Err == EAGAIN || Err == EWOULDBLOCK) {
    std::lock_guard<std::mutex> G(Tab().Lock);
    if (auto S = Lookup(Socket); S && S->State == Phase::Connected && !S->WriteArmed) {
      S->WriteArmed = true;
      UpdateMask(*S);
    }
  }
  return Fail(MapErrno(Err));
}

int Recv(TSocket Socket, void* Data, int Length, int Flags) {
  if (Length < 0) return Fail(SocketErrors::InvalidArgument);
  const bool Peek = (Flags & RecvPeek) != 0;
  const ssize_t N = ::recv(Socket, Data, static_cast<std::size_t>(Length), Peek ? MSG_PEEK : 0);
  const int Err = errno;
  Rearm(Socket, Peek, static_cast<int>(N), Length);
  return N < 0 ? Fail(MapErrno(Err)) : static_cast<int>(N);
}

int CloseSocket(TSocket Socket) {
  {
    std::lock_guard<std::mutex> G(Tab().Lock);
    auto It = Tab().Sockets.find(Socket);
    if (It != Tab().Sockets.end()) {
      DisposeWatch(*It->second);
      It->second->State = Phase::Done;
      Tab().Sockets.erase(It);
    }
  }
  return ::close(Socket) == 0 ? 0 : FailErrno();
}

int Bind(TSocket Socket, const TSocketAddress& Address) {
  const sockaddr_in In = ToPosix(Address);
  // Connections of an earlier run that linger after their close do not hold
  // the port; a socket that listens on it still does.
  const int On = 1;
  ::setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
  return ::bind(Socket, reinterpret_cast<const sockaddr*>(&In), sizeof In) == 0 ? 0 : FailErrno();
}

int Listen(TSocket Socket, int Backlog) {
  if (::listen(Socket, Backlog) != 0) return FailErrno();
  std::lock_guard<std::mutex> G(Tab().Lock);
  if (auto S = Lookup(Socket)) {
    S->State = Phase::Listening;
    S->AcceptArmed = true;
    UpdateMask(*S);
  }
  return 0;
}

TSocket Accept(TSocket Socket, TSocketAddress* Peer) {
  sockaddr_in In{};
  socklen_t Len = sizeof In;
  const int Fd = ::accept4(Socket, reinterpret_cast<sockaddr*>(&In), &Len, SOCK_CLOEXEC);
  const int Err = errno;
  std::shared_ptr<SocketState> Listener;
  {
    std::lock_guard<std::mutex> G(Tab().Lock);
    Listener = Lookup(Socket);
    if (Listener && !Listener->AcceptArmed) {
      Listener->AcceptArmed = true;
      UpdateMask(*Listener);
    }
  }
  if (Fd < 0) {
    Fail(MapErrno(Err));
    return InvalidSocket;
  }
  if (Fd >= InvalidSocket) {
    ::close(Fd);
    Fail(SocketErrors::TooManyOpenFiles);
    return InvalidSocket;
  }
  if (Peer) *Peer = FromPosix(In);
  // An accepted socket inherits the listener's notifications.
  if (Listener && Listener->Notifier)
    AsyncSelect(static_cast<TSocket>(Fd), Listener->Window, Listener->Message, Listener->Events);
  return static_cast<TSocket>(Fd);
}

int GetSockName(TSocket Socket, TSocketAddress& Address) {
  sockaddr_in In{};
  socklen_t Len = sizeof In;
  if (::getsockname(Socket, reinterpret_cast<sockaddr*>(&In), &Len) != 0) return FailErrno();
  Address = FromPosix(In);
  return 0;
}

int GetPeerName(TSocket Socket, TSocketAddress& Address) {
  sockaddr_in In{};
  socklen_t Len = sizeof In;
  if (::getpeername(Socket, reinterpret_cast<sockaddr*>(&In), &Len) != 0) return FailErrno();
  Address = FromPosix(In);
  return 0;
}

int LastError() { return TheLastError; }
void SetLastError(int Code) { TheLastError = Code; }

int GetHostName(char* Name, int Length) {
  if (!Name || Length <= 0) return Fail(SocketErrors::BadAddress);
  if (::gethostname(Name, static_cast<std::size_t>(Length)) != 0) return FailErrno();
  Name[Length - 1] = '\0';
  return 0;
}

THostInfo* GetHostByName(const char* Name) {
  thread_local std::vector<char> Block(1024);
  std::string Canonical;
  std::vector<std::uint32_t> Addresses;
  int Err = Resolve(Name ? Name : "", Canonical, Addresses);
  if (Err == 0) Err = PackHostInfo(Canonical, Addresses, Block.data(), static_cast<int>(Block.size()));
  if (Err != 0) {
    Fail(Err);
    return nullptr;
  }
  return reinterpret_cast<THostInfo*>(Block.data());
}

std::uint16_t HostToNet16(std::uint16_t V) { return htons(V); }
std::uint16_t NetToHost16(std::uint16_t V) { return ntohs(V); }
std::uint32_t HostToNet32(std::uint32_t V) { return htonl(V); }
std::uint32_t NetToHost32(std::uint32_t V) { return ntohl(V); }

}  // namespace pelicore::net

// POSIX sockets behind the numbered-error socket API: start-up, the calls on
// a socket and the byte order. The notifications are in SocketsWatch.cpp,
// the look-ups in SocketsLookup.cpp, the errors in SocketsErrors.cpp.

#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/SocketsInternal.h"

namespace pelicore::net {

using namespace detail;

namespace {

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

}  // namespace

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
  return N < 0 ? FailErrno() : static_cast<int>(N);
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

std::uint16_t HostToNet16(std::uint16_t V) { return htons(V); }
std::uint16_t NetToHost16(std::uint16_t V) { return ntohs(V); }
std::uint32_t HostToNet32(std::uint32_t V) { return htonl(V); }
std::uint32_t NetToHost32(std::uint32_t V) { return ntohl(V); }

}  // namespace pelicore::net
#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace pelicore::test {
namespace {

SocketHandle BoundToLoopback() {
  SocketHandle S(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!S.Valid()) throw std::runtime_error("socket failed");
  const sockaddr_in A = LoopbackAddress(0);
  if (::bind(S.Get(), reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0)
    throw std::runtime_error("cannot bind a loopback port");
  return S;
}

}  // namespace

SocketHandle::~SocketHandle() { Close(); }

SocketHandle& SocketHandle::operator=(SocketHandle&& Other) noexcept {
  if (this != &Other) {
    Close();
    FFd = Other.Release();
  }
  return *this;
}

int SocketHandle::Release() { return std::exchange(FFd, -1); }

void SocketHandle::Close() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

sockaddr_in LoopbackAddress(std::uint16_t Port) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return A;
}

std::uint16_t BoundPort(int Socket) {
  sockaddr_in A{};
  socklen_t Length = sizeof A;
  if (::getsockname(Socket, reinterpret_cast<sockaddr*>(&A), &Length) != 0)
    throw std::runtime_error("getsockname failed");
  return ntohs(A.sin_port);
}

SocketHandle ConnectToLoopback(std::uint16_t Port) {
  SocketHandle S(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!S.Valid()) throw std::runtime_error("socket failed");
  const sockaddr_in A = LoopbackAddress(Port);
  if (::connect(S.Get(), reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0) S.Close();
  return S;
}

LoopbackListener::LoopbackListener(int Backlog) : FSocket(BoundToLoopback()) {
  if (::listen(FSocket.Get(), Backlog) != 0) throw std::runtime_error("listen failed");
  FPort = BoundPort(FSocket.Get());
}

SocketHandle LoopbackListener::Accept(std::chrono::milliseconds Wait) const {
  if (!FSocket.Valid()) return SocketHandle();
  pollfd P{FSocket.Get(), POLLIN, 0};
  if (::poll(&P, 1, static_cast<int>(Wait.count())) <= 0) return SocketHandle();
  return SocketHandle(::accept4(FSocket.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

RefusingPort::RefusingPort() : FSocket(BoundToLoopback()), FPort(BoundPort(FSocket.Get())) {}

ConnectedPair MakeConnectedPair() {
  const LoopbackListener Listener(1);
  ConnectedPair Pair;
  Pair.Client = ConnectToLoopback(Listener.Port());
  if (!Pair.Client.Valid()) throw std::runtime_error("cannot connect to the loopback listener");
  Pair.Server = Listener.Accept();
  if (!Pair.Server.Valid()) throw std::runtime_error("the loopback connection was not accepted");
  return Pair;
}

}  // namespace pelicore::test

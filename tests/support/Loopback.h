#pragma once
// Loopback sockets for tests, on ports of the system's choice (never a fixed
// one): a listener, a port that refuses connections, a plain client and a
// connected pair. Only POSIX is used, so the helpers suit tests of any layer
// and the benchmarks.
//
// Ports are in host order throughout.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>

namespace pelicore::test {

// An owned socket descriptor, closed with the object.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(int Fd) : FFd(Fd) {}
  ~SocketHandle();
  SocketHandle(SocketHandle&& Other) noexcept : FFd(Other.Release()) {}
  SocketHandle& operator=(SocketHandle&& Other) noexcept;
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // Gives up ownership: the caller closes the descriptor.
  int Release();
  void Close();

 private:
  int FFd = -1;
};

// 127.0.0.1 with the given port.
sockaddr_in LoopbackAddress(std::uint16_t Port);
// The port a socket is bound to.
std::uint16_t BoundPort(int Socket);

// A blocking client connected to 127.0.0.1:Port; not Valid() when the
// connection failed (refused, say).
SocketHandle ConnectToLoopback(std::uint16_t Port);

// A socket listening on a free loopback port. Connections queue up until
// accepted, so a test can also tell whether anything connected at all.
class LoopbackListener {
 public:
  explicit LoopbackListener(int Backlog = 8);
  std::uint16_t Port() const { return FPort; }
  int Fd() const { return FSocket.Get(); }
  // Waits up to Wait for a connection; not Valid() when none came.
  SocketHandle Accept(std::chrono::milliseconds Wait = std::chrono::milliseconds(10000)) const;
  // Takes a connection that is already queued, without waiting.
  SocketHandle AcceptPending() const { return Accept(std::chrono::milliseconds(0)); }
  // Stops listening (and frees the port); Accept() then finds nothing.
  void Close() { FSocket.Close(); }

 private:
  SocketHandle FSocket;
  std::uint16_t FPort = 0;
};

// Holds a loopback port that refuses connections (bound, never listening),
// for tests of a refused connect.
class RefusingPort {
 public:
  RefusingPort();
  std::uint16_t Port() const { return FPort; }

 private:
  SocketHandle FSocket;
  std::uint16_t FPort = 0;
};

// Both ends of one established loopback TCP connection, blocking.
struct ConnectedPair {
  SocketHandle Client;
  SocketHandle Server;
};
ConnectedPair MakeConnectedPair();

}  // namespace pelicore::test

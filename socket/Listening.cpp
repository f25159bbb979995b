// Listening for incoming connections and accepting them.

#include <cstring>

#include "platform/Application.h"
#include "platform/Strings.h"
#include "socket/Psock.h"

namespace pelicore {

namespace {

// Connection requests the system holds until they are accepted. With room
// for only one, a burst of clients made the later ones wait a second or more
// for a retransmitted request, and under SYN cookies a client that waits for
// the server to speak first (POP3) could be left connected to nobody.
constexpr int ListenBacklog = 128;

}  // namespace

void TZedadedar::Listen(bool Mode) {
  StatusMessage(StatusLevel::Trace, "Listening");
  if (Port < 0 || Port > 65535) throw ERangeError("Port out of range: " + IntToStr(Port));
  const std::string& Local = ListenAddress.empty() ? std::string("0.0.0.0") : ListenAddress;
  const std::size_t Length = std::min(Local.size(), BufferSize);
  std::memcpy(Buffer, Local.data(), Length);
  Buffer[Length] = '\0';
  const std::uint32_t Address = net::DottedToAddress(Buffer);
  // All ones is also the conversion's failure; it is no local address anyway.
  if (Address == net::NoAddress) throw ESockError("Not a local address: " + Local);

  RemoteAddress = {};
  RemoteAddress.Family = net::AddressFamilyInet;
  RemoteAddress.Port = net::HostToNet16(static_cast<std::uint16_t>(Port));
  RemoteAddress.Address = Address;
  AsyncDone = false;

  // A port that another program holds must not look like a server that
  // listens and is never called.
  auto Fail = [this] {
    ErrorManager(net::SocketErrors::WouldBlock);
    throw ESockError("Listening failed");
  };
  if (net::Bind(SocketHandle, RemoteAddress) == net::SocketError) Fail();
  if (net::AsyncSelect(SocketHandle, Handle, Mode ? AsyncMessage : SocketMessage, net::FdAccept) == net::SocketError)
    Fail();
  if (net::Listen(SocketHandle, ListenBacklog) == net::SocketError) Fail();
}

net::TSocket TZedadedar::Accept() {
  StatusMessage(StatusLevel::Traffic, "Accepting");
  while (!AsyncDone && !Canceled) {
    SleepMs(2);
    Application().ProcessMessages();
  }
  if (Canceled) throw ESockError("Accepting Canceled");
  if (!Succeeded) throw ESockError("Error creating Data Connection");

  net::TSocketAddress Peer = {};
  const net::TSocket Accepted = net::Accept(SocketHandle, &Peer);
  if (Accepted == net::InvalidSocket) {
    // "Would block" here means the request went away before it was taken.
    ErrorManager(0);
    throw ESockError("Error creating Data Connection");
  }
  // The request is taken: a further Accept waits for the next one.
  AsyncDone = false;
  // The new socket inherits the listening socket's reset-on-close (the
  // component's first socket has it); a connection served to its end must
  // close orderly, or the client may lose the last reply.
  net::SetLinger(Accepted, false, 0);
  if (SelectNotifications(Accepted) == net::SocketError) {
    const int Error = net::LastError();
    net::CloseSocket(Accepted);
    net::SetLastError(Error);
    ErrorManager(0);
    throw ESockError("Error creating Data Connection");
  }
  RemoteAddress = Peer;
  return Accepted;
}

}  // namespace pelicore

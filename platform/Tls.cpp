// Switching a socket to TLS and asking why its handshake failed; the session
// itself is in TlsSession.cpp, its part in the notifications in
// SocketsWatch.cpp.

#include "platform/Tls.h"

#include "platform/SocketsInternal.h"
#include "platform/TlsSession.h"

namespace pelicore::net {

using namespace detail;

int UseTls(TSocket Socket, const TTlsOptions& Options) {
  std::lock_guard<std::mutex> G(Tab().Lock);
  const auto S = Lookup(Socket);
  // Only a registered socket hears of its connect, where the handshake starts.
  if (!S || !S->Notifier || S->State != Phase::Idle) return Fail(SocketErrors::InvalidArgument);
  S->TlsFailure = {};
  S->TlsWantsWrite = false;
  S->Tls = MakeTlsSession(S->Fd, Options, S->TlsFailure);
  return S->Tls ? 0 : Fail(TlsErrors::SetupFailed);
}

TTlsFailure TlsFailureOf(TSocket Socket) {
  std::lock_guard<std::mutex> G(Tab().Lock);
  const auto S = Lookup(Socket);
  return S ? S->TlsFailure : TTlsFailure{};
}

bool HasTls(TSocket Socket) { return TlsOf(Socket) != nullptr; }

}  // namespace pelicore::net

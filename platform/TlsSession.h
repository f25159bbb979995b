#pragma once
// Between the platform's socket files only: one TLS session over a
// non-blocking socket, on OpenSSL. Not thread-safe: its socket's table lock
// or its socket's own thread serialises the calls.

#include <memory>

#include "platform/Tls.h"

namespace pelicore::net::detail {

struct TlsSession;

// A client session for the descriptor with the fixed policy of Tls.h; null
// with Failure filled when it cannot be made.
std::shared_ptr<TlsSession> MakeTlsSession(int Fd, const TTlsOptions& Options, TTlsFailure& Failure);

enum class TlsStep { Done, WantRead, WantWrite, Failed };

// Takes the handshake as far as the socket allows; after Failed,
// FailureOf tells why.
TlsStep ContinueHandshake(TlsSession& Session);
const TTlsFailure& FailureOf(const TlsSession& Session);

// Like a receive: the count of plain bytes taken (up to Length, as many as
// the session and the socket hold), 0 once the peer has closed, SocketError
// with a socket error number in Error ("would block" when nothing is there
// yet). WantsWrite: the session can go on only once the socket takes data.
int TlsRecv(TlsSession& Session, char* Data, int Length, bool Peek, int& Error, bool& WantsWrite);
// Like a send: plain bytes taken, or SocketError with Error.
int TlsSend(TlsSession& Session, const char* Data, int Length, int& Error);
// Whether bytes wait inside the session: decrypted, or received and not yet
// decrypted.
bool TlsHasPending(const TlsSession& Session);

}  // namespace pelicore::net::detail

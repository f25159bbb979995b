#pragma once
// TLS on a socket of Sockets.h, set up right after the TCP connect and
// before anything is read, so that Send and Recv carry plain text above it
// and the notifications keep their meaning.
//
// After UseTls(socket, options) on a socket that is not yet connected, a
// non-blocking Connect runs the TLS handshake once the TCP connection is
// open; FdConnect is posted only when the handshake is over: error 0 when the
// server's certificate verified, else one of TlsErrors below (and
// TlsFailureOf tells the reason). Nothing but the handshake's own records
// is sent before that. Then Send and Recv encrypt and decrypt; FdRead means
// decrypted data can be taken (it may wait inside the session while the
// socket itself holds nothing) and FdClose the peer's close.
//
// The policy is fixed: TLS 1.2 or later at security level 2 (RSA keys of
// 2048 bits or more), the system's certificate store plus an optional CA
// file, the server name sent (SNI) and checked against the certificate's
// subjectAltName (a DNS name, or an IP address when the name is a dotted
// address); a certificate without a matching subjectAltName is refused, the
// subject's common name is never looked at.

#include <string>

#include "platform/Sockets.h"

namespace pelicore::net {

namespace TlsErrors {
constexpr int CertificateUntrusted = 10301;    // unknown issuer, self-signed, broken chain
constexpr int CertificateNameMismatch = 10302;  // not issued for the server's name
constexpr int CertificateExpired = 10303;
constexpr int CertificateNotYetValid = 10304;
constexpr int CertificateRejected = 10305;      // weak key or another verification failure
constexpr int ProtocolVersion = 10306;          // no common version of TLS 1.2 or later
constexpr int NotTls = 10307;                   // the server does not speak TLS
constexpr int HandshakeFailed = 10308;          // closed or broken during the handshake
constexpr int SetupFailed = 10309;              // the session could not be made (CA file unreadable)
}  // namespace TlsErrors

struct TTlsOptions {
  std::string ServerName;  // a host name or a dotted IPv4 address
  std::string CaFile;      // PEM certificates trusted beside the system's; may be empty
};

// Makes the socket's connection TLS. Call before Connect, on the socket's
// thread, after AsyncSelect. Returns 0, or SocketError with LastError()
// TlsErrors::SetupFailed (TlsFailureOf says why).
int UseTls(TSocket Socket, const TTlsOptions& Options);

struct TTlsFailure {
  int Code = 0;        // one of TlsErrors, 0 when nothing failed
  std::string Detail;  // the library's own words, English
};

// Why the socket's TLS set-up or handshake failed; Code 0 when it did not (or
// the socket has no TLS). Kept until the socket is closed.
TTlsFailure TlsFailureOf(TSocket Socket);

// Whether the socket's connection is TLS.
bool HasTls(TSocket Socket);

}  // namespace pelicore::net

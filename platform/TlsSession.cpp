// One TLS client session over a non-blocking socket, on OpenSSL 3.
//
// The session reads and writes the socket through a BIO of its own that uses
// recv and send with MSG_NOSIGNAL, so a peer that has gone raises no SIGPIPE,
// as plain sends do not either.

#include "platform/TlsSession.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <sys/socket.h>

namespace pelicore::net::detail {

struct TlsSession {
  SSL_CTX* Context = nullptr;
  SSL* Ssl = nullptr;
  TTlsFailure Failure;
  // A fatal error after the handshake: the session can carry nothing more.
  bool Broken = false;
  ~TlsSession() {
    SSL_free(Ssl);  // frees its BIO too
    SSL_CTX_free(Context);
  }
};

namespace {

int FdOf(BIO* Bio) { return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(Bio))); }

int BioWrite(BIO* Bio, const char* Data, int Length) {
  BIO_clear_retry_flags(Bio);
  const ssize_t N = ::send(FdOf(Bio), Data, static_cast<std::size_t>(Length), MSG_NOSIGNAL);
  if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(Bio);
  return static_cast<int>(N);
}

int BioRead(BIO* Bio, char* Data, int Length) {
  BIO_clear_retry_flags(Bio);
  const ssize_t N = ::recv(FdOf(Bio), Data, static_cast<std::size_t>(Length), 0);
  if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(Bio);
  return static_cast<int>(N);
}

long BioCtrl(BIO* /*Bio*/, int Command, long /*Number*/, void* /*Pointer*/) {
  return Command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* Bio) {
  BIO_set_init(Bio, 1);
  return 1;
}

BIO_METHOD* SocketMethod() {
  // Made once and kept for the process, like the library's own methods.
  static BIO_METHOD* Method = [] {
    BIO_METHOD* M = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pelicore socket");
    if (M) {
      BIO_meth_set_write(M, BioWrite);
      BIO_meth_set_read(M, BioRead);
      BIO_meth_set_ctrl(M, BioCtrl);
      BIO_meth_set_create(M, BioCreate);
    }
    return M;
  }();
  return Method;
}

std::string LibraryError() {
  const unsigned long Code = ERR_peek_last_error();
  if (Code == 0) return {};
  char Text[256];
  ERR_error_string_n(Code, Text, sizeof Text);
  return Text;
}

TTlsFailure SetupFailure(const std::string& What) {
  const std::string Library = LibraryError();
  return {TlsErrors::SetupFailed, Library.empty() ? What : What + ": " + Library};
}

int VerifyCode(long Result) {
  switch (Result) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return TlsErrors::CertificateUntrusted;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return TlsErrors::CertificateNameMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return TlsErrors::CertificateExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return TlsErrors::CertificateNotYetValid;
    default:
      return TlsErrors::CertificateRejected;
  }
}

int ReasonCode(unsigned long Error) {
  if (ERR_GET_LIB(Error) != ERR_LIB_SSL) return TlsErrors::HandshakeFailed;
  switch (ERR_GET_REASON(Error)) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_UNSUPPORTED_SSL_VERSION:
    case SSL_R_VERSION_TOO_LOW:
      return TlsErrors::ProtocolVersion;
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
    case SSL_R_WRONG_SSL_VERSION:
      return TlsErrors::NotTls;
    case SSL_R_EE_KEY_TOO_SMALL:
    case SSL_R_CA_KEY_TOO_SMALL:
    case SSL_R_CA_MD_TOO_WEAK:
    case SSL_R_DH_KEY_TOO_SMALL:
      return TlsErrors::CertificateRejected;
    default:
      return TlsErrors::HandshakeFailed;
  }
}

// The failure of a handshake call that returned Result.
TTlsFailure HandshakeFailure(SSL* Ssl, int Result) {
  const long Verify = SSL_get_verify_result(Ssl);
  if (Verify != X509_V_OK) return {VerifyCode(Verify), X509_verify_cert_error_string(Verify)};
  const int Kind = SSL_get_error(Ssl, Result);
  const unsigned long Error = ERR_peek_last_error();
  if (Kind == SSL_ERROR_SSL && Error != 0) return {ReasonCode(Error), LibraryError()};
  return {TlsErrors::HandshakeFailed, "the connection was closed during the handshake"};
}

bool IsDottedAddress(const std::string& Name) {
  in_addr A{};
  return ::inet_aton(Name.c_str(), &A) != 0;
}

}  // namespace

std::shared_ptr<TlsSession> MakeTlsSession(int Fd, const TTlsOptions& Options, TTlsFailure& Failure) {
  ERR_clear_error();
  auto Session = std::make_shared<TlsSession>();
  Session->Context = SSL_CTX_new(TLS_client_method());
  SSL_CTX* Context = Session->Context;
  if (!Context || !SocketMethod()) {
    Failure = SetupFailure("no TLS context");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(Context, TLS1_2_VERSION);
  // Level 2 whatever the system's configuration says: 2048-bit RSA keys and
  // SHA-256 signatures at least.
  SSL_CTX_set_security_level(Context, 2);
  // A peer's close without close_notify ends the stream as a TCP close does;
  // no renegotiation, so a write never has to wait for a read.
  SSL_CTX_set_options(Context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(Context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_verify(Context, SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_set_default_verify_paths(Context) != 1) {
    Failure = SetupFailure("the system's certificate store cannot be read");
    return nullptr;
  }
  if (!Options.CaFile.empty() && SSL_CTX_load_verify_file(Context, Options.CaFile.c_str()) != 1) {
    Failure = SetupFailure("the CA file " + Options.CaFile + " cannot be read");
    return nullptr;
  }

  Session->Ssl = SSL_new(Context);
  SSL* Ssl = Session->Ssl;
  BIO* Bio = Ssl ? BIO_new(SocketMethod()) : nullptr;
  if (!Bio) {
    Failure = SetupFailure("no TLS session");
    return nullptr;
  }
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the BIO carries the descriptor itself
  BIO_set_data(Bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(Fd)));
  SSL_set_bio(Ssl, Bio, Bio);
  SSL_set_connect_state(Ssl);

  // The name is checked against the subjectAltName only: without
  // NEVER_CHECK_SUBJECT the library would fall back to the common name.
  SSL_set_hostflags(Ssl, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT | X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  bool Named = false;
  if (IsDottedAddress(Options.ServerName)) {
    Named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(Ssl), Options.ServerName.c_str()) == 1;
  } else if (!Options.ServerName.empty()) {
    // SSL_set_tlsext_host_name, without the macro's cast.
    Named = SSL_ctrl(Ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(Options.ServerName.c_str())) == 1 &&
            SSL_set1_host(Ssl, Options.ServerName.c_str()) == 1;
  }
  if (!Named) {
    Failure = SetupFailure("the server name " + Options.ServerName + " cannot be checked");
    return nullptr;
  }
  return Session;
}

TlsStep ContinueHandshake(TlsSession& Session) {
  ERR_clear_error();
  const int Result = SSL_do_handshake(Session.Ssl);
  if (Result == 1) return TlsStep::Done;
  switch (SSL_get_error(Session.Ssl, Result)) {
    case SSL_ERROR_WANT_READ:
      return TlsStep::WantRead;
    case SSL_ERROR_WANT_WRITE:
      return TlsStep::WantWrite;
    default:
      Session.Failure = HandshakeFailure(Session.Ssl, Result);
      Session.Broken = true;
      return TlsStep::Failed;
  }
}

const TTlsFailure& FailureOf(const TlsSession& Session) { return Session.Failure; }

namespace {

// The outcome of a failed call that returned Result; SocketError or 0.
int Failed(TlsSession& Session, int Result, int& Error, bool* WantsWrite) {
  switch (SSL_get_error(Session.Ssl, Result)) {
    case SSL_ERROR_WANT_READ:
      Error = SocketErrors::WouldBlock;
      return SocketError;
    case SSL_ERROR_WANT_WRITE:
      if (WantsWrite) *WantsWrite = true;
      Error = SocketErrors::WouldBlock;
      return SocketError;
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_SYSCALL:
      if (errno == 0) return 0;  // end of the stream
      Error = MapErrno(errno);
      Session.Broken = true;
      return SocketError;
    default:
      Error = SocketErrors::ConnectionAborted;
      Session.Broken = true;
      return SocketError;
  }
}

}  // namespace

int TlsRecv(TlsSession& Session, char* Data, int Length, bool Peek, int& Error, bool& WantsWrite) {
  WantsWrite = false;
  if (Session.Broken) {
    Error = SocketErrors::ConnectionAborted;
    return SocketError;
  }
  if (Length <= 0) return 0;
  if (Peek) {
    ERR_clear_error();
    errno = 0;
    std::size_t N = 0;
    const int Result = SSL_peek_ex(Session.Ssl, Data, static_cast<std::size_t>(Length), &N);
    return Result == 1 ? static_cast<int>(N) : Failed(Session, Result, Error, &WantsWrite);
  }
  // One record per call of the library: go on while there is room, so that
  // one receive of the caller takes what the socket holds, as a plain one does.
  std::size_t Total = 0;
  while (Total < static_cast<std::size_t>(Length)) {
    ERR_clear_error();
    errno = 0;
    std::size_t N = 0;
    const int Result = SSL_read_ex(Session.Ssl, Data + Total, static_cast<std::size_t>(Length) - Total, &N);
    if (Result == 1) {
      Total += N;
      continue;
    }
    if (Total > 0) {
      // What ended the loop shows again on the next call: the socket is
      // empty, the close stays recorded, a fatal error marks the session.
      int Ignored = 0;
      bool AlsoIgnored = false;
      if (Failed(Session, Result, Ignored, &AlsoIgnored) == SocketError && AlsoIgnored) WantsWrite = true;
      break;
    }
    return Failed(Session, Result, Error, &WantsWrite);
  }
  return static_cast<int>(Total);
}

int TlsSend(TlsSession& Session, const char* Data, int Length, int& Error) {
  if (Session.Broken) {
    Error = SocketErrors::ConnectionAborted;
    return SocketError;
  }
  if (Length <= 0) return 0;
  ERR_clear_error();
  errno = 0;
  std::size_t N = 0;
  const int Result = SSL_write_ex(Session.Ssl, Data, static_cast<std::size_t>(Length), &N);
  if (Result == 1) return static_cast<int>(N);
  const int Outcome = Failed(Session, Result, Error, nullptr);
  if (Outcome == 0) {
    Error = SocketErrors::ConnectionReset;  // nobody takes the bytes any more
    return SocketError;
  }
  return Outcome;
}

bool TlsHasPending(const TlsSession& Session) {
  return SSL_pending(Session.Ssl) > 0 || SSL_has_pending(Session.Ssl) == 1;
}

}  // namespace pelicore::net::detail

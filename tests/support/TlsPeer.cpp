#include "tests/support/TlsPeer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <sys/socket.h>
#include <unistd.h>

namespace pelicore::test {

namespace {

std::string ReadToEnd(int Fd) {
  std::string All;
  char Chunk[4096];
  for (;;) {
    const ssize_t N = ::recv(Fd, Chunk, sizeof Chunk, 0);
    if (N <= 0) return All;
    All.append(Chunk, static_cast<std::size_t>(N));
  }
}

}  // namespace

TlsPeer::TlsPeer(TlsPeerOptions Options) : FOptions(std::move(Options)) {
  FThread = std::thread([this] { Serve(); });
}

TlsPeer::~TlsPeer() { Join(); }

void TlsPeer::Join() {
  if (FThread.joinable()) FThread.join();
}

void TlsPeer::Serve() {
  SocketHandle Client = FListener.Accept();
  if (!Client.Valid()) return;
  const int Fd = Client.Get();
  timeval Guard{10, 0};
  ::setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &Guard, sizeof Guard);
  ::setsockopt(Fd, SOL_SOCKET, SO_SNDTIMEO, &Guard, sizeof Guard);

  if (FOptions.Mode == TlsPeerOptions::Kind::PlainText) {
    ::send(Fd, FOptions.Greeting.data(), FOptions.Greeting.size(), MSG_NOSIGNAL);
    FReceived = ReadToEnd(Fd);
    return;
  }
  if (FOptions.Mode == TlsPeerOptions::Kind::CloseInHandshake) {
    char Hello[512];
    (void)::recv(Fd, Hello, sizeof Hello, 0);  // part of the client's hello at least
    return;
  }

  SSL_CTX* Context = SSL_CTX_new(TLS_server_method());
  // The peer plays servers that a careful client must refuse: weak keys and
  // old protocol versions included.
  SSL_CTX_set_security_level(Context, 0);
  SSL_CTX_set_cipher_list(Context, "DEFAULT:@SECLEVEL=0");
  if (FOptions.MinVersion) SSL_CTX_set_min_proto_version(Context, FOptions.MinVersion);
  if (FOptions.MaxVersion) SSL_CTX_set_max_proto_version(Context, FOptions.MaxVersion);
  SSL_CTX_use_certificate_chain_file(Context, FOptions.CertFile.c_str());
  SSL_CTX_use_PrivateKey_file(Context, FOptions.KeyFile.c_str(), SSL_FILETYPE_PEM);
  SSL* Ssl = SSL_new(Context);
  SSL_set_fd(Ssl, Fd);
  if (SSL_accept(Ssl) == 1) {
    FHandshakeDone = true;
    SSL_write(Ssl, FOptions.Greeting.data(), static_cast<int>(FOptions.Greeting.size()));
    char Chunk[4096];
    for (;;) {
      const int N = SSL_read(Ssl, Chunk, sizeof Chunk);
      if (N <= 0) break;
      FReceived.append(Chunk, static_cast<std::size_t>(N));
    }
  } else {
    ReadToEnd(Fd);  // until the client has closed
  }
  SSL_free(Ssl);
  SSL_CTX_free(Context);
  ERR_clear_error();
}

}  // namespace pelicore::test

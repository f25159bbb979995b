#pragma once
// A loopback server for TLS tests that serves one connection on a thread of
// its own: a TLS server with a given certificate and protocol versions, a
// plain-text server, or one that closes during the handshake. It records what
// the client sent after the handshake, so a test can tell that a refused
// connection carried nothing. The socket has a receive time-out of 10 s as a
// hang guard.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "tests/support/Loopback.h"

namespace pelicore::test {

struct TlsPeerOptions {
  enum class Kind { Tls, PlainText, CloseInHandshake };
  Kind Mode = Kind::Tls;
  std::string CertFile = {};
  std::string KeyFile = {};
  int MinVersion = 0;  // TLS1_VERSION and the like; 0: the library's choice
  int MaxVersion = 0;
  std::string Greeting = "+OK ready\r\n";  // sent once the session is up
};

class TlsPeer {
 public:
  explicit TlsPeer(TlsPeerOptions Options);
  ~TlsPeer();
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;

  std::uint16_t Port() const { return FListener.Port(); }
  // Waits until the connection has ended (the client closed it).
  void Join();
  // After Join: whether the TLS handshake completed, and the bytes the client
  // sent after it (in plain-text mode: everything it sent).
  bool HandshakeDone() const { return FHandshakeDone; }
  const std::string& Received() const { return FReceived; }

 private:
  void Serve();

  TlsPeerOptions FOptions;
  LoopbackListener FListener;
  std::thread FThread;
  bool FHandshakeDone = false;
  std::string FReceived;
};

}  // namespace pelicore::test

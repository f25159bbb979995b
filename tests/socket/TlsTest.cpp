// The socket component over TLS against a loopback TLS peer whose
// certificates come from a test CA made in this run: a verified session
// carries lines both ways like a plain one, and every refusal fails Connect
// with its reason before anything but the handshake went over the wire.

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "tests/socket/SocketTestSupport.h"
#include "tests/support/TestCa.h"
#include "tests/support/TlsPeer.h"

namespace pelicore::test {
namespace {

namespace E = net::TlsErrors;

TestCa& Ca() {
  static TestCa* Shared = new TestCa;  // one CA for every case of the run
  return *Shared;
}

const TestCa::Leaf& GoodLeaf() {
  static const TestCa::Leaf Leaf = Ca().Issue("good", {});
  return Leaf;
}

SocketPtr TlsClient(std::uint16_t Port, const std::string& Host = "localhost") {
  SocketPtr S = NewSocket();
  S->Host = Host;
  S->Port = Port;
  S->UseTls = true;
  S->TlsCaFile = Ca().CaFile();
  S->TimeOut = 20000;  // a lost notification fails the case instead of hanging it
  return S;
}

TEST(TlsTest, VerifiedSessionCarriesLinesBothWaysAndHandsOutDecryptedLinesWithoutWaiting) {
  // Two lines in one record, then many records at once: lines already
  // decrypted are handed out without a wake-up from the socket.
  std::string Greeting = "+OK one\r\n+OK two\r\n";
  for (int I = 0; I < 20000; ++I) Greeting += "line " + std::to_string(I) + " of the bulk that spans records\r\n";
  Greeting += ".\r\n";
  for (const std::string Host : {"localhost", "127.0.0.1"}) {
    TlsPeer Peer({.CertFile = GoodLeaf().CertFile, .KeyFile = GoodLeaf().KeyFile, .Greeting = Greeting});
    SocketPtr S = TlsClient(Peer.Port(), Host);
    S->Connect();
    EXPECT_TRUE(S->Connected);
    std::string Got;
    for (std::string Line; (Line = S->ReadLn()) != ".\r\n";) {
      ASSERT_FALSE(Line.empty()) << Host;
      Got += Line;
    }
    EXPECT_EQ(Got + ".\r\n", Greeting) << Host;
    S->Writeln("USER someone");
    S->Disconnect();
    Peer.Join();
    EXPECT_TRUE(Peer.HandshakeDone());
    EXPECT_EQ(Peer.Received(), "USER someone\r\n");
  }
}

TEST(TlsTest, WithoutUseTlsTheSamePeerSeesPlainBytes) {
  TlsPeer Peer({.Mode = TlsPeerOptions::Kind::PlainText});
  SocketPtr S = TlsClient(Peer.Port());
  S->UseTls = false;
  S->Connect();
  EXPECT_EQ(S->ReadLn(), "+OK ready\r\n");
  S->Writeln("USER someone");
  S->Disconnect();
  Peer.Join();
  EXPECT_EQ(Peer.Received(), "USER someone\r\n");
}

struct Refusal {
  const char* Name;
  TestCa::LeafOptions Leaf;
  TlsPeerOptions::Kind Mode = TlsPeerOptions::Kind::Tls;
  int MaxVersion = 0;
  const char* Host = "localhost";
  int Reason;
};

class TlsRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(TlsRefusalTest, FailsConnectWithItsReasonAndSendsNothingAfterTheHandshake) {
  const Refusal& Case = GetParam();
  const TestCa::Leaf Leaf = Ca().Issue(Case.Name, Case.Leaf);
  TlsPeerOptions Options{.Mode = Case.Mode, .CertFile = Leaf.CertFile, .KeyFile = Leaf.KeyFile};
  if (Case.MaxVersion) Options.MinVersion = TLS1_VERSION;
  Options.MaxVersion = Case.MaxVersion;
  TlsPeer Peer(Options);
  SocketPtr S = TlsClient(Peer.Port(), Case.Host);
  bool Failed = false;
  S->OnConnectionFailed = [&](TComponent*) { Failed = true; };
  try {
    S->Connect();
    ADD_FAILURE() << "connected";
    S->Writeln("USER someone");  // what a careless client would do next
  } catch (const ETlsError& E) {
    EXPECT_EQ(E.Reason(), Case.Reason) << E.Message();
  }
  EXPECT_TRUE(Failed);
  EXPECT_FALSE(S->Connected);
  S.reset();  // closes the socket: the peer sees the end
  Peer.Join();
  EXPECT_FALSE(Peer.HandshakeDone());
  if (Case.Mode == TlsPeerOptions::Kind::PlainText) {
    // Only the client's hello, a handshake record, reached the plain server.
    ASSERT_FALSE(Peer.Received().empty());
    EXPECT_EQ(Peer.Received()[0], '\x16');
    EXPECT_EQ(Peer.Received().find("USER"), std::string::npos);
  } else {
    EXPECT_EQ(Peer.Received(), "");
  }
}

using V = TestCa::Validity;
INSTANTIATE_TEST_SUITE_P(
    Cases, TlsRefusalTest,
    ::testing::Values(Refusal{.Name = "SelfSigned", .Leaf = {.SelfSigned = true}, .Reason = E::CertificateUntrusted},
                      Refusal{.Name = "OtherName", .Leaf = {.AltNames = "DNS:mail.example.org"},
                              .Reason = E::CertificateNameMismatch},
                      Refusal{.Name = "OtherAddress", .Leaf = {.AltNames = "DNS:localhost"}, .Host = "127.0.0.1",
                              .Reason = E::CertificateNameMismatch},
                      Refusal{.Name = "CommonNameOnly", .Leaf = {.AltNames = ""}, .Reason = E::CertificateNameMismatch},
                      Refusal{.Name = "Expired", .Leaf = {.When = V::Expired}, .Reason = E::CertificateExpired},
                      Refusal{.Name = "NotYetValid", .Leaf = {.When = V::NotYetValid},
                              .Reason = E::CertificateNotYetValid},
                      Refusal{.Name = "Key1024", .Leaf = {.KeyBits = 1024}, .Reason = E::CertificateRejected},
                      Refusal{.Name = "Tls11Only", .Leaf = {}, .MaxVersion = TLS1_1_VERSION,
                              .Reason = E::ProtocolVersion},
                      Refusal{.Name = "PlainText", .Leaf = {}, .Mode = TlsPeerOptions::Kind::PlainText,
                              .Reason = E::NotTls},
                      Refusal{.Name = "CloseInHandshake", .Leaf = {},
                              .Mode = TlsPeerOptions::Kind::CloseInHandshake, .Reason = E::HandshakeFailed}),
    [](const ::testing::TestParamInfo<Refusal>& Info) { return std::string(Info.param.Name); });

TEST(TlsTest, UnreadableCaFileFailsBeforeConnecting) {
  TlsPeer Peer({.Mode = TlsPeerOptions::Kind::PlainText});
  SocketPtr S = TlsClient(Peer.Port());
  S->TlsCaFile = "/nonexistent/ca.pem";
  try {
    S->Connect();
    ADD_FAILURE() << "connected";
  } catch (const ETlsError& E) {
    EXPECT_EQ(E.Reason(), E::SetupFailed) << E.Message();
  }
  // The connection is still usable plain afterwards, on the next socket.
  S->UseTls = false;
  S->Connect();
  EXPECT_EQ(S->ReadLn(), "+OK ready\r\n");
}

}  // namespace
}  // namespace pelicore::test

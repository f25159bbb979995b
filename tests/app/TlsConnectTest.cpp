// The window against servers that speak TLS on the implicit-TLS port but
// cannot be trusted: the error box names the reason in Japanese, nothing but
// the handshake went over the wire, and the window stays ready to connect.
#include <openssl/ssl.h>

#include "tests/app/MainFormFixture.h"
#include "tests/support/TestCa.h"
#include "tests/support/TlsPeer.h"

namespace pelicore::testing {
namespace {

using TlsConnectTest = MainFormTest;

TEST_F(TlsConnectTest, RefusedCertificateShowsItsReasonAndKeepsTheWindowUsable) {
  test::TestCa Ca;
  struct Case {
    test::TestCa::LeafOptions Leaf;
    test::TlsPeerOptions::Kind Mode;
    int MaxVersion;
    std::string Text;
  };
  const std::vector<Case> Cases = {
      {{.SelfSigned = true}, test::TlsPeerOptions::Kind::Tls, 0, "安全な接続に失敗しました：サーバーの証明書が信頼されていません."},
      {{}, test::TlsPeerOptions::Kind::PlainText, 0, "安全な接続に失敗しました：サーバーが TLS で応答しません."},
      {{}, test::TlsPeerOptions::Kind::Tls, TLS1_1_VERSION, "安全な接続に失敗しました：サーバーが TLS 1.2 以上に対応していません."},
  };
  Open();
  for (const Case& C : Cases) {
    Boxes.Shown.clear();
    const test::TestCa::Leaf Leaf = Ca.Issue("leaf", C.Leaf);
    test::TlsPeerOptions Options{.Mode = C.Mode, .CertFile = Leaf.CertFile, .KeyFile = Leaf.KeyFile};
    if (C.MaxVersion) Options.MinVersion = TLS1_VERSION;
    Options.MaxVersion = C.MaxVersion;
    test::TlsPeer Peer(Options);
    // The window's CA is the system's alone; the free port stands in for 995.
    Form->NMPOP3->ImplicitTlsPort = Peer.Port();
    Connect("localhost", Peer.Port(), "user", "pw");
    ASSERT_EQ(Boxes.Shown.size(), 2u);
    EXPECT_EQ(Boxes.Shown[0], (ShownBox{"message", "接続に失敗しました", "Pelicore"}));
    EXPECT_EQ(Boxes.Shown[1], (ShownBox{"error", C.Text, "Pelicore"}));
    EXPECT_EQ(Actions(), Disconnected);
    Peer.Join();
    EXPECT_FALSE(Peer.HandshakeDone());
    if (C.Mode == test::TlsPeerOptions::Kind::PlainText)
      EXPECT_EQ(Peer.Received().find("USER"), std::string::npos);
    else
      EXPECT_EQ(Peer.Received(), "");
  }
}

}  // namespace
}  // namespace pelicore::testing

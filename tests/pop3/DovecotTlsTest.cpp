// The POP3 component over implicit TLS against the private Dovecot, whose
// certificate comes from a test CA made in this run: the same mailbox read
// over TLS and over the plain port gives the same results, byte for byte, and
// a certificate the client cannot verify stops the session before USER.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/NMpop3.h"
#include "tests/pop3/support/DovecotServer.h"
#include "tests/support/TestCa.h"

namespace pelicore {
namespace {

using testing::DovecotServer;

const std::vector<std::string> kMail = {
    "Subject: Hello\nFrom: alice@example.test\nMessage-ID: <1@example.test>\n\nHi there.\n.\n..twice\n",
    "Subject: Second\nFrom: bob@example.test\nMessage-ID: <2@example.test>\n\n" + std::string(200000, 'x') + "\n",
    "Subject: Empty\nFrom: carol@example.test\nMessage-ID: <3@example.test>\n\n",
};

class Pop3OverTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (DovecotServer::BinaryPath().empty()) return;
    Ca = new test::TestCa;
    const test::TestCa::Leaf Leaf = Ca->Issue("dovecot", {});
    Server = new DovecotServer;
    Server->EnableTls(Leaf.CertFile, Leaf.KeyFile);
    for (const char* User : {"plain", "secure", "refused"}) Server->AddUser(User, "secret", kMail);
    Server->Start();
  }
  static void TearDownTestSuite() {
    delete Server;
    delete Ca;
    Server = nullptr;
    Ca = nullptr;
  }
  void SetUp() override {
    if (!Server) GTEST_SKIP() << "dovecot is not installed (package dovecot-pop3d)";
  }

  static ComponentPtr<TNMPOP3> Client(const std::string& User, bool Secure) {
    auto Pop = MakeComponent<TNMPOP3>(nullptr);
    Pop->Host = "localhost";
    Pop->Port = Secure ? Server->TlsPort() : Server->Port();
    Pop->ImplicitTlsPort = Server->TlsPort();  // the free port stands in for 995
    Pop->TlsCaFile = Ca->CaFile();
    Pop->UserID = User;
    Pop->Password = "secret";
    Pop->TimeOut = 30000;  // a lost notification fails the case instead of hanging it
    return Pop;
  }

  // Everything the mailbox commands hand out, in one text; deletes message 1.
  static std::string ReadAndDelete(TNMPOP3& Pop) {
    std::string All;
    Pop.Connect();
    All += "count " + std::to_string(Pop.MailCount) + "\n";
    Pop.OnList = [&](std::int32_t Msg, std::int32_t Size) {
      All += "list " + std::to_string(Msg) + " " + std::to_string(Size) + "\n";
    };
    Pop.List();
    for (std::int32_t N = 1; N <= Pop.MailCount; ++N) {
      Pop.GetSummary(N);
      All += "summary" + Pop.Summary->Subject + Pop.Summary->From + Pop.Summary->MessageId + " " +
             std::to_string(Pop.Summary->Bytes) + "\n" + Pop.Summary->Header.Text();
      Pop.GetMailMessage(N);
      All += "message\n" + Pop.MailMessage->Head.Text() + Pop.MailMessage->RawBody.Text();
    }
    Pop.DeleteMailMessage(1);
    Pop.Disconnect();
    return All;
  }

  static test::TestCa* Ca;
  static DovecotServer* Server;
};

test::TestCa* Pop3OverTls::Ca = nullptr;
DovecotServer* Pop3OverTls::Server = nullptr;

TEST_F(Pop3OverTls, ReadsAndDeletesExactlyAsOnThePlainPort) {
  auto Plain = Client("plain", false);
  auto Secure = Client("secure", true);
  const std::string OverPlain = ReadAndDelete(*Plain);
  const std::string OverTls = ReadAndDelete(*Secure);
  EXPECT_FALSE(Plain->UseTls);
  EXPECT_TRUE(Secure->UseTls);
  EXPECT_NE(OverTls.find("count 3\n"), std::string::npos);
  EXPECT_EQ(OverTls, OverPlain);
  EXPECT_EQ(Server->MessagesOnDisk("secure"), 2);
  EXPECT_EQ(Server->MessagesOnDisk("plain"), 2);
  // The server's own word that the session was encrypted.
  const std::string Log = Server->LogText();
  const std::size_t Login = Log.find("Login: user=<secure>");
  ASSERT_NE(Login, std::string::npos) << Log;
  EXPECT_NE(Log.substr(Login, Log.find('\n', Login) - Login).find("TLS"), std::string::npos) << Log;
}

TEST_F(Pop3OverTls, UntrustedCertificateStopsTheSessionBeforeTheLogin) {
  auto Pop = Client("refused", true);
  Pop->TlsCaFile.clear();  // only the system's store, which knows no test CA
  try {
    Pop->Connect();
    ADD_FAILURE() << "connected";
  } catch (const ETlsError& E) {
    EXPECT_EQ(E.Reason(), net::TlsErrors::CertificateUntrusted) << E.Message();
  }
  EXPECT_FALSE(Pop->Connected);
  // The server saw no login: it logs one for every USER/PASS it checks.
  EXPECT_EQ(Server->LogText().find("user=<refused>"), std::string::npos) << Server->LogText();
}

}  // namespace
}  // namespace pelicore

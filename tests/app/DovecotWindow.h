#pragma once
// The real window against the private Dovecot of the test run. Every mailbox
// the window tests use is added before the server starts, so no case waits
// for the server to notice a new user; a case that changes its mailbox has
// one of its own.

#include <string>
#include <vector>

#include "tests/app/MainFormFixture.h"
#include "tests/pop3/support/DovecotServer.h"

namespace pelicore::testing {

// Messages of the mailbox "twelve": Subject "Message <n>", From and
// Message-ID numbered alike.
std::string NumberedMessage(int N);

// A message of the mailbox "corpus" as stored (LF line ends), and the name
// its download gets in an empty folder, in mailbox order.
struct CorpusMessage {
  std::string Text;
  std::string FileName;
};
const std::vector<CorpusMessage>& DownloadCorpus();
std::vector<std::string> CorpusTexts();

DovecotServer& AppDovecot();

class DovecotWindowTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    if (DovecotServer::BinaryPath().empty()) GTEST_SKIP() << "dovecot is not installed";
    Server = &AppDovecot();
  }
  void ConnectAs(const std::string& User, const std::string& Password = "secret") {
    Connect("127.0.0.1", Server->Port(), User, Password);
  }

  DovecotServer* Server = nullptr;
};

}  // namespace pelicore::testing

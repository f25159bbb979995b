// The demo POP3 server in this process, against our own components: the
// socket component reads every sample message byte for byte, and the POP3
// component logs in, lists, reads identifiers and summaries and deletes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/NMpop3.h"
#include "socket/Psock.h"
#include "tests/support/TempFolder.h"
#include "tools/DemoPop3Server.h"

namespace pelicore::demo {
namespace {

using pelicore::testing::TempFolder;

class DemoServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TempFolder::WriteFile(Folder.PathOf("a.eml"), "Subject: first\n\nbody\n.dot line\n.\n");
    std::string Long;
    for (int I = 0; I < 2000; ++I) Long += std::string(99, static_cast<char>('a' + I % 26)) + "\r\n";
    TempFolder::WriteFile(Folder.PathOf("b.eml"), "Subject: second\r\n\r\n" + Long);
    TempFolder::WriteFile(Folder.PathOf("c.eml"), "Subject: third\n\nlast");
    Mailbox = std::make_shared<TDemoMailbox>(Folder.Path());
    Server = MakeComponent<TDemoPop3Server>(nullptr);
    Server->Mailbox = Mailbox;
    Server->ListenAddress = "127.0.0.1";
    Server->Port = 0;
    Server->BeginLoading();
    Server->EndLoading();
    net::TSocketAddress Local = {};
    net::GetSockName(Server->SocketHandle, Local);
    Port = net::NetToHost16(Local.Port);
  }

  ComponentPtr<TZedadedar> Client() {
    auto C = MakeComponent<TZedadedar>(nullptr);
    C->Host = "127.0.0.1";
    C->Port = Port;
    C->TimeOut = 10000;
    C->Connect();
    return C;
  }

  TempFolder Folder;
  std::shared_ptr<TDemoMailbox> Mailbox;
  ComponentPtr<TDemoPop3Server> Server;
  std::uint16_t Port = 0;
};

// The lines of a multi-line reply up to ".", with the stuffed dots removed.
std::string ReadMultiLine(TZedadedar& C) {
  std::string Text;
  for (std::string Line = C.ReadLn(); Line != ".\r\n"; Line = C.ReadLn()) {
    if (Line.empty()) return Text + "<closed>";
    Text += Line[0] == '.' ? Line.substr(1) : Line;
  }
  return Text;
}

TEST_F(DemoServerTest, EveryMessageArrivesByteForByteAfterUnstuffing) {
  auto C = Client();
  EXPECT_EQ(C->ReadLn(), "+OK Pelicore demo mailbox ready\r\n");
  EXPECT_EQ(C->Transaction("USER demo"), "+OK send the password\r\n");
  EXPECT_EQ(C->Transaction("PASS demo"), "+OK 3 " + std::to_string(
                                                    TDemoMailbox::WithCrLf(TempFolder::ReadFile(Folder.PathOf("a.eml"))).size() +
                                                    TDemoMailbox::WithCrLf(TempFolder::ReadFile(Folder.PathOf("b.eml"))).size() +
                                                    TDemoMailbox::WithCrLf(TempFolder::ReadFile(Folder.PathOf("c.eml"))).size()) +
                                                    "\r\n");
  const char* Names[] = {"a.eml", "b.eml", "c.eml"};
  for (int N = 1; N <= 3; ++N) {
    const std::string Expected = TDemoMailbox::WithCrLf(TempFolder::ReadFile(Folder.PathOf(Names[N - 1])));
    EXPECT_EQ(C->Transaction("RETR " + std::to_string(N)),
              "+OK " + std::to_string(Expected.size()) + " octets\r\n");
    EXPECT_EQ(ReadMultiLine(*C), Expected) << Names[N - 1];
  }
  EXPECT_EQ(C->Transaction("TOP 1 1"), "+OK top of message follows\r\n");
  EXPECT_EQ(ReadMultiLine(*C), "Subject: first\r\n\r\nbody\r\n");
  EXPECT_EQ(C->Transaction("QUIT"), "+OK Pelicore demo mailbox signing off\r\n");
  // An orderly close, not a reset, after the last reply.
  EXPECT_EQ(C->ReadLn(), "");
}

TEST_F(DemoServerTest, ThePop3ComponentListsSummarisesAndDeletesUntilTheServerStops) {
  auto Pop = MakeComponent<TNMPOP3>(nullptr);
  Pop->Host = "127.0.0.1";
  Pop->Port = Port;
  Pop->UserID = DemoUser;
  Pop->Password = DemoPassword;
  Pop->TimeOut = 10000;
  std::vector<std::int32_t> Listed;
  Pop->OnList = [&](std::int32_t Msg, std::int32_t) { Listed.push_back(Msg); };
  Pop->Connect();
  EXPECT_EQ(Pop->MailCount, 3);
  Pop->List();
  EXPECT_EQ(Listed, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(Pop->UniqueID(2), "b");
  Pop->GetSummary(3);
  EXPECT_EQ(Pop->Summary->Subject, " third");
  Pop->DeleteMailMessage(1);
  Pop->Disconnect();

  Pop->Connect();
  EXPECT_EQ(Pop->MailCount, 2);
  EXPECT_EQ(Pop->UniqueID(1), "b");
  Pop->Disconnect();
  // The folder keeps every message.
  EXPECT_EQ(TDemoMailbox(Folder.Path()).Count(), 3u);
}

TEST_F(DemoServerTest, AWrongPasswordIsRefused) {
  auto Pop = MakeComponent<TNMPOP3>(nullptr);
  Pop->Host = "127.0.0.1";
  Pop->Port = Port;
  Pop->UserID = DemoUser;
  Pop->Password = "guess";
  Pop->TimeOut = 10000;
  EXPECT_THROW(Pop->Connect(), Exception);
  EXPECT_FALSE(Pop->Connected);
}

}  // namespace
}  // namespace pelicore::demo

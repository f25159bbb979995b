// Exact dialogues between the window and a scripted server: what the window
// shows after each reply, and exactly what it sent.
#include <QTimer>

#include "app/LogEdit.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/EventPump.h"
#include "tests/support/Dialogue.h"

namespace pelicore::testing {
namespace {

class ScriptedConnectTest : public MainFormTest, public test::Dialogue {
 protected:
  void ConnectToPeer() {
    Start();
    Connect("127.0.0.1", Port(), "user", "pw");
  }
};

TEST_F(ScriptedConnectTest, ListRowsShowSizesInStartedKilobytes) {
  LoginUntilStat();
  Server("+OK 5 7071\r\n");
  Client("LIST \r\n");
  Server("+OK 5 messages\r\n1 0\r\n2 1023\r\n3 1024\r\n4 5000\r\n5 2048\r\n.\r\n");
  ExpectClose();
  Open();
  ConnectToPeer();
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Status(), "5件のメッセージが存在します");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1:1", "2:1", "3:2", "4:5", "5:3"}));
  EXPECT_EQ(Actions(), Connected);

  // Closing while connected: the settings are written, but the window sends
  // no QUIT, and freeing it closes the socket without the disconnect event.
  bool DisconnectRaised = false;
  Form->NMPOP3->OnDisconnect = [&](TComponent*) { DisconnectRaised = true; };
  EXPECT_TRUE(CloseWindow());
  EXPECT_TRUE(std::filesystem::exists(IniPath()));
  EXPECT_EQ(Actions(), Connected);
  Form.reset();
  EXPECT_FALSE(DisconnectRaised);
  Verify();
}

// The server refuses STAT after the login: the component closes the session
// and then still reports the login. The window stays disconnected, with
// Connect available, and sends no LIST on the closed connection.
TEST_F(ScriptedConnectTest, RefusedStatLeavesTheWindowDisconnected) {
  LoginUntilStat();
  Server("-ERR mailbox locked\r\n");
  Client("QUIT\r\n");
  Server("+OK bye\r\n");
  ExpectClose();
  Open();
  Form->Memo1->setPlainText("earlier log");
  ConnectToPeer();
  EXPECT_EQ(Boxes.Shown, (std::vector<ShownBox>{{"error", "-ERR mailbox locked\r\n", "Pelicore"}}));
  EXPECT_EQ(Status(), "切断されました。");
  EXPECT_EQ(Actions(), Disconnected);
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(Form->Memo1->toPlainText(), "earlier log");
  Verify();
}

TEST_F(ScriptedConnectTest, ServerClosingWhileIdleDisconnectsTheWindow) {
  LoginUntilStat();
  Server("+OK 1 10\r\n");
  Client("LIST \r\n");
  Server("+OK\r\n1 10\r\n.\r\n");
  Pause(std::chrono::milliseconds(100)).Close();
  Open();
  ConnectToPeer();
  ASSERT_EQ(Rows(), std::vector<std::string>{"1:1"});
  EXPECT_TRUE(test::PumpUntil([&] { return Status() == "切断されました。"; }));
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(Actions(), Disconnected);
  EXPECT_TRUE(Boxes.Shown.empty());
  Verify();
}

// The window sets no time-out, so a server that never answers would keep the
// Connect command waiting after the window has gone; closing ends the wait.
TEST_F(ScriptedConnectTest, ClosingDuringAWaitEndsItWithoutQuit) {
  ExpectClose();  // no greeting: the window waits for it
  Open();
  bool Closed = false;
  QTimer::singleShot(100, Form.get(), [&] { Closed = Form->close(); });
  // Should the close not end the wait, this does, so that the test fails
  // instead of hanging.
  bool Rescued = false;
  QTimer Rescue;
  Rescue.setSingleShot(true);
  QObject::connect(&Rescue, &QTimer::timeout, [&] {
    Rescued = true;
    Form->NMPOP3->Abort();
  });
  Rescue.start(5000);
  ConnectToPeer();
  EXPECT_FALSE(Rescued);
  EXPECT_TRUE(Closed);
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_TRUE(std::filesystem::exists(IniPath()));
  Verify();
}

}  // namespace
}  // namespace pelicore::testing

// Connecting and disconnecting through the window: against the private
// Dovecot of the test run, and against ports that refuse or never answer.
#include <QTimer>

#include "app/LogEdit.h"
#include "app/PelicoreAbout.h"
#include "tests/app/DovecotWindow.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/Loopback.h"

namespace pelicore::testing {
namespace {

using ConnectTest = MainFormTest;

TEST_F(ConnectTest, PortThatIsNoWholeNumberSendsNothing) {
  test::LoopbackListener Server;  // connections queue up: the test sees whether any came
  Open();
  for (const char* Port : {"abc", "1 1", "", "0x", "99999999999"}) {
    Boxes.Shown.clear();
    Form->HostEdit->setText("127.0.0.1");
    Form->UserIDEdit->setText("user");
    Form->PasswordEdit->setText("pw");
    Form->PortEdit->setText(Port);
    Form->ConnectAction->trigger();
    EXPECT_EQ(Boxes.Shown, (std::vector<ShownBox>{{"error", "'" + std::string(Port) + "' は整数ではありません.",
                                                   "Pelicore"}}));
    EXPECT_EQ(Form->NMPOP3->Host, "127.0.0.1") << "copied before the port";
    EXPECT_EQ(Form->NMPOP3->UserID, "user");
    EXPECT_EQ(Form->NMPOP3->Port, 110);
    EXPECT_EQ(Actions(), Disconnected);
  }
  EXPECT_FALSE(Server.AcceptPending().Valid());
}

TEST_F(ConnectTest, EmptyUserOrPasswordFailsBeforeConnecting) {
  test::LoopbackListener Server;
  Open();
  for (auto [User, Password] : {std::pair{"", "pw"}, {"user", ""}, {"", ""}}) {
    Boxes.Shown.clear();
    Connect("127.0.0.1", Server.Port(), User, Password);
    EXPECT_EQ(Boxes.Shown, (std::vector<ShownBox>{{"error", "Authentication failed.", "Pelicore"}}));
    EXPECT_EQ(Actions(), Disconnected);
  }
  EXPECT_FALSE(Server.AcceptPending().Valid());
  EXPECT_EQ(Status(), "ここに通信状態が表示されます。");
}

TEST_F(ConnectTest, RefusedConnectionShowsThePlainBoxThenTheError) {
  test::RefusingPort Closed;
  Open();
  std::string StatesWhileShown;
  Boxes.WhileShown = [&](const ShownBox&) { StatesWhileShown += Actions() + " "; };
  Connect("127.0.0.1", Closed.Port(), "user", "pw");
  ASSERT_EQ(Boxes.Shown.size(), 2u);
  EXPECT_EQ(Boxes.Shown[0], (ShownBox{"message", "接続に失敗しました", "Pelicore"}));
  EXPECT_EQ(Boxes.Shown[1].Kind, "error");
  EXPECT_FALSE(Boxes.Shown[1].Text.empty());
  EXPECT_EQ(StatesWhileShown, std::string(Disconnected) + " " + Disconnected + " ");
  EXPECT_EQ(Status(), "接続に失敗しました");
  EXPECT_EQ(Actions(), Disconnected);
}

using DovecotConnectTest = DovecotWindowTest;

TEST_F(DovecotConnectTest, ConnectListsDisconnectEmptiesAndReconnects) {
  Open();
  Form->Memo1->setPlainText("old log");
  ConnectAs("listing");
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Status(), "3件のメッセージが存在します");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1:1", "2:1", "3:2"}));
  EXPECT_EQ(Actions(), Connected);
  EXPECT_EQ(Form->Memo1->toPlainText(), "") << "the connect event clears the log";

  // The About box opens while connected and changes nothing.
  QTimer::singleShot(0, Form.get(), [] {
    if (auto* Box = dynamic_cast<TAboutBox*>(QApplication::activeModalWidget())) Box->accept();
  });
  Form->AboutAction->trigger();
  EXPECT_EQ(Actions(), Connected);
  EXPECT_EQ(Rows().size(), 3u);

  Form->Memo1->setPlainText("summary log");
  Form->DisconnectAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Status(), "切断されました。");
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(Actions(), Disconnected);
  EXPECT_EQ(Form->Memo1->toPlainText(), "summary log") << "a disconnect keeps the log";

  ConnectAs("listing");
  EXPECT_EQ(Rows().size(), 3u);
  EXPECT_EQ(Form->Memo1->toPlainText(), "");
  EXPECT_EQ(Actions(), Connected);
  Form->DisconnectAction->trigger();
}

TEST_F(DovecotConnectTest, EmptyMailboxConnectsWithoutRows) {
  Open();
  ConnectAs("empty");
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Status(), "0件のメッセージが存在します");
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(Actions(), Connected);
  Form->DisconnectAction->trigger();
}

TEST_F(DovecotConnectTest, RefusedLoginDisconnectsBeforeTheError) {
  Open();
  std::string StatusAtError;
  Boxes.WhileShown = [&](const ShownBox&) { StatusAtError = Status(); };
  ConnectAs("listing", "wrong");
  EXPECT_EQ(Boxes.Shown, (std::vector<ShownBox>{{"error", "Authentication failed.", "Pelicore"}}));
  EXPECT_EQ(StatusAtError, "切断されました。");
  EXPECT_EQ(Actions(), Disconnected);
  EXPECT_TRUE(Rows().empty());
}

}  // namespace
}  // namespace pelicore::testing

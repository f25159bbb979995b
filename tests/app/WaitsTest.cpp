// What the window shows while a command waits for the server, and the way out
// of a wait: the download's progress bar, Esc and the Cancel button.
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "tests/app/ScriptedWindow.h"

namespace pelicore::testing {
namespace {

class WaitsTest : public ScriptedWindowTest {
 protected:
  void SetUp() override {
    ScriptedWindowTest::SetUp();
    Open();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  }
  // Presses Esc at the first read of the next command that has to wait.
  void EscAtTheFirstWait() {
    Form->NMPOP3->ReportLevel = 8;
    Form->NMPOP3->OnStatus = [this](TComponent*, const std::string& Text) {
      if (Pressed || !Text.starts_with("Read")) return;
      Pressed = true;
      QTimer::singleShot(0, Form.get(), [this] { QTest::keyClick(Form->MailListView, Qt::Key_Escape); });
    };
  }
  bool Waiting() const { return Form->CancelButton->isVisible() || Form->CancelAction->isEnabled(); }

  bool Pressed = false;
};

// A slow server: the body comes in ten pieces, a tenth of a second apart.
TEST_F(WaitsTest, DownloadShowsItsProgressAndHidesItAtTheEnd) {
  const std::string Header = HeaderOf(1);
  const std::string Body(std::size_t{10} * 1000, 'b');
  std::string Wire = Header;
  for (std::size_t I = 0; I < Body.size(); I += 100) Wire += Body.substr(I, 98) + "\r\n";
  Login({static_cast<int>(Wire.size())});
  Client("RETR 1\r\n");
  Server("+OK\r\n" + Header);
  Peer.Send(Wire.substr(Header.size()) + ".\r\n", 1000, test::ScriptedPeer::Ms(100));
  Peer.ExpectClose();
  ConnectToPeer();
  EXPECT_FALSE(Form->ProgressBar->isVisible());
  Select(0);

  std::vector<int> Seen;  // the bar's values while shown
  bool Rendered = false;
  QTimer Watch;
  QObject::connect(&Watch, &QTimer::timeout, [&] {
    if (!Form->ProgressBar->isVisible()) return;
    Seen.push_back(Form->ProgressBar->value());
    if (!Rendered && Seen.back() > Form->ProgressBar->maximum() / 2) {
      Rendered = true;
      Render("pelicore-progress.png");
    }
  });
  Watch.start(10);
  Form->DownloadMailAction->trigger();
  Watch.stop();

  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_FALSE(Form->ProgressBar->isVisible());
  EXPECT_FALSE(Waiting());
  ASSERT_FALSE(Seen.empty());
  EXPECT_EQ(Form->ProgressBar->maximum(), static_cast<int>(Wire.size()));
  EXPECT_TRUE(std::is_sorted(Seen.begin(), Seen.end()));
  EXPECT_TRUE(std::any_of(Seen.begin(), Seen.end(), [&](int V) { return V > 0 && V < static_cast<int>(Wire.size()); }))
      << "some value between nothing and all";
  Form.reset();
  Verify();
}

// Esc ends each kind of wait through the component's abort: the error box
// shows the abort error, the connection is closed, nothing is written, and
// the next connect works.
TEST_F(WaitsTest, EscEndsAStalledWaitAndLeavesAUsableWindow) {
  struct Case {
    const char* Name;
    std::function<void(test::Dialogue&)> Script;  // up to the stall
    std::function<void(test::Dialogue&)> Run;
    ShownBox Error;
    const char* Status;
  } Cases[] = {
      {"connect that is never greeted", [](test::Dialogue&) {},
       [this](test::Dialogue& D) {
         EscAtTheFirstWait();
         ConnectTo(D);
       },
       {"error", "Socket readln aborted.", "Pelicore"}, "切断されました。"},
      {"summary that stops half-way",
       [](test::Dialogue& D) {
         ScriptLogin(D, {1}, {100});
         D.Client("TOP 1 0\r\n").Server("+OK\r\nSubject: S1\r\n");
       },
       [this](test::Dialogue& D) {
         ConnectTo(D);
         EscAtTheFirstWait();
         Form->GetSummaryAction->trigger();
       },
       {"error", "Socket readln aborted.", "Pelicore"}, "切断されました。"},
      {"download that stops half-way",
       [](test::Dialogue& D) {
         ScriptLogin(D, {1}, {100});
         D.Client("RETR 1\r\n").Server("+OK\r\n" + HeaderOf(1) + "the first line\r\nthe sec");
       },
       [this](test::Dialogue& D) {
         ConnectTo(D);
         Select(0);
         EscAtTheFirstWait();
         Form->DownloadMailAction->trigger();
       },
       // The stall may be met by the line reader or by the body reader's
       // wait, depending on how the bytes before it were received: either
       // way the box shows the component's own abort error.
       {"error", "Socket send aborted.|Socket readln aborted.", "Pelicore"}, "メッセージを取得しました"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    test::Dialogue D;
    Boxes.Shown.clear();
    Pressed = false;
    Form->NMPOP3->OnStatus = nullptr;
    C.Script(D);
    D.ExpectClose();
    C.Run(D);
    EXPECT_TRUE(Pressed);
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(Boxes.Shown[0].Kind, C.Error.Kind);
    EXPECT_EQ(Boxes.Shown[0].Caption, C.Error.Caption);
    const std::string Alternatives = std::string("|") + C.Error.Text + "|";
    EXPECT_NE(Alternatives.find("|" + Boxes.Shown[0].Text + "|"), std::string::npos) << Boxes.Shown[0].Text;
    EXPECT_EQ(Status(), C.Status);
    EXPECT_EQ(Actions(), Disconnected);
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(Waiting());
    EXPECT_FALSE(Form->ProgressBar->isVisible());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Temp.Path()), {}), 0) << "no file";
    D.Verify();
  }

  // The cancel is spent: the next connect and summary run to their end.
  test::Dialogue D;
  Boxes.Shown.clear();
  ScriptLogin(D, {1}, {100});
  D.Client("TOP 1 0\r\n").Server("+OK\r\n" + HeaderOf(1) + ".\r\n");
  D.Client("LIST 1\r\n").Server("+OK 1 100\r\n");
  D.ExpectClose();
  Form->NMPOP3->OnStatus = nullptr;
  ConnectTo(D);
  Form->GetSummaryAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Actions(), "010111");
  Form.reset();
  D.Verify();
}

// Nothing waits: Esc and the (hidden) Cancel do nothing, and leave nothing
// behind that would end the next command's wait.
TEST_F(WaitsTest, CancelWhileNothingWaitsDoesNothing) {
  Login({100});
  Summary(1);
  Peer.ExpectClose();
  ConnectToPeer();
  EXPECT_FALSE(Waiting());
  QTest::keyClick(Form->MailListView, Qt::Key_Escape);
  Form->CancelActionExecute(Form.get());
  Form->CancelButton->click();
  EXPECT_FALSE(Form->NMPOP3->Canceled);
  EXPECT_EQ(Actions(), Connected);
  Form->GetSummaryAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Actions(), "010111");
  Form.reset();
  Verify();
}

}  // namespace
}  // namespace pelicore::testing

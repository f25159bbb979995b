// The mailbox commands through the window against a scripted server: the
// rows, the log and the files they fill, exactly what they send, and how they
// end when the server refuses, the log is full, the folder is read-only, the
// connection drops or another command is started inside their wait.
#include <QPainter>
#include <QTimer>
#include <QToolTip>

#include <filesystem>

#include "app/LogEdit.h"
#include "tests/app/ReadOnlyFolder.h"
#include "tests/app/ScriptedWindow.h"

namespace pelicore::testing {
namespace {

// Connected, with Get summary turned off by a completed run.
constexpr const char* Summarised = "010111";

class MailboxCommandsTest : public ScriptedWindowTest {
 protected:
  std::string Log() const { return Form->Memo1->toPlainText().toStdString(); }
  // The log after the summaries of messages First..Last of these tests.
  static std::string LogOf(int First, int Last) {
    std::string Text;
    for (int N = First; N <= Last; ++N) {
      std::string Header = HeaderOf(N);
      std::erase(Header, '\r');
      Text += "MessageNo.:" + std::to_string(N) + "\n" + Header + ".\n";
    }
    return Text;
  }
  static std::string CellsOf(int N) {
    const std::string Id = std::to_string(N);
    return " S" + Id + "| f" + Id + "@example.test|<" + Id + "@example.test>";
  }
  // Runs Body whenever the component reports a step of its work, that is
  // inside its operations, while a command is running.
  void DuringOperations(const std::function<void()>& Body) {
    Form->NMPOP3->ReportLevel = 8;
    Form->NMPOP3->OnStatus = [Body](TComponent*, const std::string&) { Body(); };
  }
  void Retrieve(int N, const std::string& Body = "body\r\n") {
    Client("RETR " + std::to_string(N) + "\r\n");
    Server("+OK\r\n" + HeaderOf(N) + Body + ".\r\n");
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> Names;
    for (const auto& E : std::filesystem::directory_iterator(Temp.Path())) Names.push_back(E.path().filename());
    return Names;
  }
};

// The listing puts 10 before 1: a prefix match for "1" would find row "10".
TEST_F(MailboxCommandsTest, SummariesLandInTheRowWhoseWholeCaptionIsTheNumber) {
  const std::vector<int> Order = {10, 11, 12, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  Login(Order, std::vector<int>(12, 100));
  for (int N = 1; N <= 12; ++N) Summary(N);
  Peer.ExpectClose();
  ConnectToPeer();
  Form->GetSummaryAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  for (int I = 0; I < 12; ++I) EXPECT_EQ(SubItems(I), CellsOf(Order[static_cast<std::size_t>(I)])) << "row " << I;
  EXPECT_EQ(Log(), LogOf(1, 12));
  EXPECT_EQ(Status(), "メッセージを取得しました");
  EXPECT_EQ(Actions(), Summarised);
  Form.reset();
  Verify();
}

// Encoded Japanese headers: the cells keep the value as stored, the tooltips
// read as text.
TEST_F(MailboxCommandsTest, SubjectAndFromCellsCarryTheirReadableFormAsTooltip) {
  Login({100});
  Client("TOP 1 0\r\n");
  Server("+OK\r\nSubject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
         "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.test>\r\nMessage-ID: <j@example.test>\r\n\r\n.\r\n");
  Client("LIST 1\r\n");
  Server("+OK 1 100\r\n");
  ExpectClose();
  ConnectToPeer();
  Form->GetSummaryAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  QTreeWidgetItem* Row = Form->MailListView->topLevelItem(0);
  EXPECT_EQ(Row->text(2).toStdString(), " =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=");
  EXPECT_EQ(Row->toolTip(2).toStdString(), "テスト");
  EXPECT_EQ(Row->text(3).toStdString(), " =?UTF-8?B?5bGx55Sw?= <yamada@example.test>");
  EXPECT_EQ(Row->toolTip(3).toStdString(), "山田 <yamada@example.test>");
  EXPECT_EQ(Row->toolTip(4), "") << "the identifier is no header text to decode";

  // A picture of the window with the Subject's tooltip shown over it.
  QTreeWidget* List = Form->MailListView;
  const QPoint Cell = List->visualItemRect(Row).topLeft() + QPoint(List->columnViewportPosition(2) + 40, 8);
  QToolTip::showText(List->viewport()->mapToGlobal(Cell), Row->toolTip(2), List->viewport());
  QWidget* Tip = nullptr;
  for (QWidget* W : QApplication::topLevelWidgets())
    if (W->inherits("QTipLabel") && W->isVisible()) Tip = W;
  ASSERT_NE(Tip, nullptr);
  QPixmap Shot = Form->grab();
  QPainter Paint(&Shot);
  Paint.drawPixmap(Form->mapFromGlobal(Tip->pos()), Tip->grab());
  Paint.end();
  EXPECT_TRUE(Shot.save(QStringLiteral(QT_TESTCASE_BUILDDIR "/pelicore-tooltip.png")));
  QToolTip::hideText();
  Form.reset();
  Verify();
}

TEST_F(MailboxCommandsTest, EmptyMailboxSendsNothingAndTurnsTheCommandOff) {
  Login({});
  Peer.ExpectClose();
  ConnectToPeer();
  Form->GetSummaryAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Status(), "概要情報を取得します...");
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Actions(), Summarised);
  Form.reset();
  Verify();
}

// A refusal stops the run with the command still on; the next run starts
// again at message 1 and appends its cells after the first run's.
TEST_F(MailboxCommandsTest, RefusedSummaryStopsTheRunAndARerunAppends) {
  Login({100, 100, 100});
  Summary(1);
  Client("TOP 2 0\r\n");
  Server("-ERR no such message\r\n");
  for (int N = 1; N <= 3; ++N) Summary(N);
  Peer.ExpectClose();
  ConnectToPeer();

  Form->GetSummaryAction->trigger();
  EXPECT_EQ(Errors(), (std::vector<ShownBox>{{"error", "-ERR no such message\r\n", "Pelicore"}}));
  EXPECT_EQ(SubItems(0), CellsOf(1));
  EXPECT_EQ(SubItems(1), "");
  EXPECT_EQ(Log(), LogOf(1, 1));
  EXPECT_EQ(Status(), "メッセージを取得しています") << "no end event for a failed summary";
  EXPECT_EQ(Actions(), Connected);

  Form->GetSummaryAction->trigger();
  EXPECT_EQ(SubItems(0), CellsOf(1) + "|" + CellsOf(1));
  EXPECT_EQ(SubItems(2), CellsOf(3));
  EXPECT_EQ(Log(), LogOf(1, 1) + LogOf(1, 3));
  EXPECT_EQ(Actions(), Summarised);
  Form.reset();
  Verify();
}

// The header of message 1 is cut at the log's limit; the line for message 2
// no longer fits and stops the run, after its row got its cells.
TEST_F(MailboxCommandsTest, FullLogStopsTheRunAtTheMessageNumberLine) {
  Login({100, 100});
  Summary(1);
  Summary(2);
  Peer.ExpectClose();
  ConnectToPeer();
  const int Limit = Form->Memo1->MaxLength();
  ASSERT_EQ(Limit, 131072);
  const std::string Line1 = "\nMessageNo.:1\n";
  const std::size_t Length = static_cast<std::size_t>(Limit) - Line1.size() - 5;
  std::string Before;  // in lines, which the text box lays out faster than one long one
  while (Before.size() + 100 < Length) Before += std::string(99, 'x') + "\n";
  Before.resize(Length, 'x');
  Form->Memo1->setPlainText(QString::fromStdString(Before));

  Form->GetSummaryAction->trigger();
  EXPECT_EQ(Errors(), (std::vector<ShownBox>{{"error", "RichEdit での行の挿入エラー.", "Pelicore"}}));
  EXPECT_EQ(Log(), Before + Line1 + "Subje");
  EXPECT_EQ(SubItems(1), CellsOf(2));
  EXPECT_EQ(Status(), "メッセージを取得しました");
  EXPECT_EQ(Actions(), Connected);
  Form.reset();
  Verify();
}

TEST_F(MailboxCommandsTest, DeleteAsksFirstAndRemovesTheRowItTookTheNumberFrom) {
  Login({100, 100, 100});
  Client("DELE 2\r\n");
  Server("+OK marked\r\n");
  Peer.ExpectClose();
  ConnectToPeer();

  Form->DeleteMailAction->trigger();  // no row selected
  Form->DownloadMailAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Status(), "3件のメッセージが存在します");

  Select(1);
  Boxes.Answers = {false};
  Form->DeleteMailAction->trigger();
  const ShownBox Question{"question", "現在選択中のメールを削除してよろしいですか？", "削除確認"};
  EXPECT_EQ(Boxes.Shown, std::vector<ShownBox>{Question});
  EXPECT_EQ(Rows().size(), 3u);
  EXPECT_TRUE(Form->MailListView->topLevelItem(1)->isSelected());
  EXPECT_EQ(Status(), "3件のメッセージが存在します");

  // The user selects another row while the deletion waits for the server.
  Boxes.Answers = {true};
  DuringOperations([this] { Select(0); });
  Form->DeleteMailAction->trigger();
  EXPECT_EQ(Boxes.Shown, (std::vector<ShownBox>{Question, Question}));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1:1", "3:1"}));
  EXPECT_EQ(Status(), "No.2 のメールを削除しました。");
  EXPECT_EQ(Actions(), Connected);
  Form.reset();
  Verify();
}

TEST_F(MailboxCommandsTest, RefusedDeletionKeepsTheRowAndTheStatus) {
  Login({100, 100});
  Client("DELE 1\r\n");
  Server("-ERR locked\r\n");
  Peer.ExpectClose();
  ConnectToPeer();
  Select(0);
  Boxes.Answers = {true};
  Form->DeleteMailAction->trigger();
  EXPECT_EQ(Errors(), (std::vector<ShownBox>{{"error", "-ERR locked\r\n", "Pelicore"}}));
  EXPECT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Status(), "2件のメッセージが存在します");
  Form.reset();
  Verify();
}

// Commands started inside another command's wait do nothing: no question,
// no line sent, no row or status changed.
TEST_F(MailboxCommandsTest, CommandsStartedDuringAWaitDoNothing) {
  Login({100, 100});
  Summary(1);
  Summary(2);
  Peer.ExpectClose();
  ConnectToPeer();
  Select(1);
  Boxes.Answers = {true, true, true};
  int Nested = 0;
  DuringOperations([&] {
    if (Nested++ > 0) return;  // once, and not from the nested commands' own steps
    for (QAction* A : {Form->DeleteMailAction, Form->GetSummaryAction}) A->trigger();
  });
  Form->GetSummaryAction->trigger();
  EXPECT_GT(Nested, 0);
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(SubItems(0), CellsOf(1));
  EXPECT_EQ(SubItems(1), CellsOf(2));
  EXPECT_EQ(Log(), LogOf(1, 2));
  EXPECT_EQ(Actions(), Summarised);
  Form.reset();
  Verify();
}

TEST_F(MailboxCommandsTest, ConnectionDroppedDuringASummaryDisconnectsTheWindow) {
  Login({100, 100});
  Client("TOP 1 0\r\n");
  Server("+OK\r\nSubject: S1\r\n");
  Peer.Close();
  ConnectToPeer();
  Form->GetSummaryAction->trigger();
  EXPECT_EQ(Errors(), (std::vector<ShownBox>{{"error", std::string(kConnectionClosedText) + ".", "Pelicore"}}));
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(Status(), "切断されました。");
  EXPECT_EQ(Actions(), Disconnected);
  EXPECT_EQ(Log(), "");
  Verify();
}

// Closing the window ends the wait without QUIT and without a box; the
// command stops there and nothing runs on the window's behalf afterwards.
TEST_F(MailboxCommandsTest, ClosingDuringASummaryEndsItQuietly) {
  Login({100, 100});
  Client("TOP 1 0\r\n");
  Peer.ExpectClose();
  ConnectToPeer();
  bool Posted = false;
  DuringOperations([&] {
    if (Posted) return;
    Posted = true;
    QTimer::singleShot(0, Form.get(), [this] { Form->close(); });
  });
  Form->GetSummaryAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_EQ(Log(), "");
  EXPECT_FALSE(Form->isVisible());
  Form.reset();
  Verify();
}

TEST_F(MailboxCommandsTest, DownloadIntoAReadOnlyFolderFailsWithThePathAndChangesNothing) {
  Login({100, 100});
  Retrieve(1);
  Peer.ExpectClose();
  ConnectToPeer();
  Select(0);
  {
    ReadOnlyFolder Locked(Temp.Path());
    Form->DownloadMailAction->trigger();
  }
  EXPECT_EQ(Errors(), (std::vector<ShownBox>{{"error", "ファイル " + Folder + " S1.eml を作成できません.", "Pelicore"}}));
  EXPECT_EQ(Status(), "メッセージを取得しました");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1:1", "2:1"}));
  EXPECT_EQ(Actions(), Connected);
  EXPECT_TRUE(Files().empty());
  Form.reset();
  Verify();
}

TEST_F(MailboxCommandsTest, ConnectionDroppedDuringADownloadWritesNothing) {
  Login({100});
  Client("RETR 1\r\n");
  Server("+OK\r\n" + HeaderOf(1) + "first half of the bo");
  Peer.Close();
  ConnectToPeer();
  Select(0);
  Form->DownloadMailAction->trigger();
  EXPECT_EQ(Errors(), (std::vector<ShownBox>{{"error", std::string(kConnectionClosedText) + ".", "Pelicore"}}));
  EXPECT_EQ(Status(), "メッセージを取得しました") << "the end event follows the disconnect";
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(Actions(), Disconnected);
  EXPECT_TRUE(Files().empty());
  Verify();
}

TEST_F(MailboxCommandsTest, ClosingDuringADownloadEndsItWithoutAFile) {
  Login({100});
  Client("RETR 1\r\n");
  Server("+OK\r\n" + HeaderOf(1) + "the body that never ends\r\n");
  Peer.ExpectClose();
  ConnectToPeer();
  Select(0);
  bool Posted = false;
  DuringOperations([&] {
    if (Posted) return;
    Posted = true;
    QTimer::singleShot(0, Form.get(), [this] { Form->close(); });
  });
  Form->DownloadMailAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_FALSE(Form->isVisible());
  Form.reset();
  EXPECT_EQ(Files(), std::vector<std::string>{"Pelicore.ini"});
  Verify();
}

}  // namespace
}  // namespace pelicore::testing

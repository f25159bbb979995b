// The mailbox commands through the window against the private Dovecot.
#include "app/LogEdit.h"
#include "tests/app/DovecotWindow.h"

namespace pelicore::testing {
namespace {

using DovecotMailboxTest = DovecotWindowTest;

std::string Cells(QTreeWidgetItem* Row) {
  std::string Text;
  for (int C = 2; C < Row->columnCount(); ++C) Text += (C > 2 ? "|" : "") + Row->text(C).toStdString();
  return Text;
}

std::string CellsOf(int N) {
  const std::string Id = std::to_string(N);
  return " Message " + Id + "| sender" + Id + "@example.test|<" + Id + "@example.test>";
}

std::string LogOf(int N) {
  std::string Header = NumberedMessage(N);
  Header.resize(Header.find("\n\n") + 2);
  return "MessageNo.:" + std::to_string(N) + "\n" + Header + ".\n";
}

TEST_F(DovecotMailboxTest, SummaryOfTwelveMessages) {
  Open();
  ConnectAs("twelve");
  Form->GetSummaryAction->trigger();
  EXPECT_TRUE(Boxes.Shown.empty());
  ASSERT_EQ(Rows().size(), 12u);
  std::string Log;
  for (int N = 1; N <= 12; ++N) {
    EXPECT_EQ(Cells(Form->MailListView->topLevelItem(N - 1)), CellsOf(N));
    Log += LogOf(N);
  }
  EXPECT_EQ(Form->Memo1->toPlainText().toStdString(), Log);
  EXPECT_EQ(Status(), "メッセージを取得しました");
  EXPECT_EQ(Actions(), "010111");
  Form->DisconnectAction->trigger();
}

// Delete of message 3 of 5: the others keep their numbers, Get summary then
// stops at the deleted message, and the logout really deletes it.
TEST_F(DovecotMailboxTest, DeletedMessageStaysNumberedAndGoesAtTheLogout) {
  Open();
  ConnectAs("deleting");
  ASSERT_EQ(Rows().size(), 5u);
  Form->MailListView->setCurrentItem(Form->MailListView->topLevelItem(2));
  Boxes.Answers = {true};
  Form->DeleteMailAction->trigger();
  EXPECT_EQ(Boxes.Shown.size(), 1u) << "the question, and no error";
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1:1", "2:1", "4:1", "5:1"}));
  EXPECT_EQ(Status(), "No.3 のメールを削除しました。");
  EXPECT_EQ(Actions(), Connected);

  Form->GetSummaryAction->trigger();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_TRUE(Errors()[0].Text.starts_with("-ERR")) << Errors()[0].Text;
  EXPECT_EQ(Cells(Form->MailListView->topLevelItem(1)), CellsOf(2));
  EXPECT_EQ(Cells(Form->MailListView->topLevelItem(2)), "") << "row 4 was not reached";
  EXPECT_EQ(Form->Memo1->toPlainText().toStdString(), LogOf(1) + LogOf(2));
  EXPECT_EQ(Status(), "メッセージを取得しています");
  EXPECT_EQ(Actions(), Connected);

  EXPECT_EQ(Server->MessagesOnDisk("deleting"), 5);
  Form->DisconnectAction->trigger();
  EXPECT_EQ(Server->MessagesOnDisk("deleting"), 4);
}

}  // namespace
}  // namespace pelicore::testing

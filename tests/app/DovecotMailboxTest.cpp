// The mailbox commands through the window against the private Dovecot.
#include <unistd.h>

#include <set>

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
  Render("pelicore-summary.png");
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

// A stored message as the server sends it: CR LF line ends, and a final line
// end when the stored message lacks one.
std::string AsSent(const std::string& Stored) {
  std::string Text;
  for (char C : Stored) Text += C == '\n' ? std::string("\r\n") : std::string(1, C);
  if (!Text.ends_with("\r\n")) Text += "\r\n";
  return Text;
}

// Every message of the corpus, downloaded in turn: each file holds the
// message exactly as the server keeps it (with CR LF), under a name that
// stays in the program folder and replaces nothing.
TEST_F(DovecotMailboxTest, DownloadsTheWholeCorpusByteForByte) {
  // Attachments of the multipart message go to the current folder.
  const std::string Before = std::filesystem::current_path();
  ASSERT_EQ(::chdir(Temp.Path().c_str()), 0);
  Open();
  ConnectAs("corpus");
  const auto& Corpus = DownloadCorpus();
  ASSERT_EQ(Rows().size(), Corpus.size());
  std::string Log;
  for (std::size_t I = 0; I < Corpus.size(); ++I) {
    Form->MailListView->setCurrentItem(Form->MailListView->topLevelItem(static_cast<int>(I)));
    Form->DownloadMailAction->trigger();
    EXPECT_EQ(Status(), "No." + std::to_string(I + 1) + " のメールをダウンロードしました。");
    Log += "保存先：" + Folder + Corpus[I].FileName + "\n";
  }
  EXPECT_TRUE(Boxes.Shown.empty()) << Boxes.Shown[0].Text;
  EXPECT_EQ(Form->Memo1->toPlainText().toStdString(), Log);
  EXPECT_EQ(Actions(), Connected);
  EXPECT_EQ(Rows().size(), Corpus.size());
  Render("pelicore-download.png");
  Form->DisconnectAction->trigger();
  ASSERT_EQ(::chdir(Before.c_str()), 0);

  std::set<std::string> Expected = {"note.txt"};
  for (const CorpusMessage& M : Corpus) {
    Expected.insert(M.FileName);
    EXPECT_EQ(TempFolder::ReadFile(Folder + M.FileName), AsSent(M.Text)) << M.FileName;
  }
  std::set<std::string> Found;
  for (const auto& E : std::filesystem::directory_iterator(Temp.Path())) Found.insert(E.path().filename());
  EXPECT_EQ(Found, Expected);
}

}  // namespace
}  // namespace pelicore::testing

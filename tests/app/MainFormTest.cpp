// The window as it opens: layout, actions, menus, keys, the About box, the
// error box's text and a render of the whole window.
#include <QCheckBox>
#include <QClipboard>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/LogEdit.h"
#include "app/PelicoreAbout.h"
#include "tests/app/MainFormFixture.h"

namespace pelicore::testing {
namespace {

// Renders go beside the test program, wherever it was started from.
QString RenderPath(const char* Name) { return QStringLiteral(QT_TESTCASE_BUILDDIR "/") + QString::fromLatin1(Name); }

TEST_F(MainFormTest, FirstStartWithoutSettingsShowsTheDesignedValuesAndTheDemoAccount) {
  Open();
  EXPECT_EQ(Form->windowTitle().toStdString(), "Pelicore2000");
  EXPECT_EQ(Form->HostEdit->text(), "127.0.0.1");
  EXPECT_EQ(Form->UserIDEdit->text(), "demo");
  EXPECT_EQ(Form->PasswordEdit->text(), "demo");
  EXPECT_EQ(Form->PortEdit->text(), "11110");
  EXPECT_TRUE(Form->SaveDataCheckBox->isChecked());
  EXPECT_EQ(Form->OuterLeft(), 224);
  EXPECT_EQ(Form->OuterTop(), 112);
  EXPECT_EQ(Form->OuterWidth(), 639);
  EXPECT_EQ(Form->OuterHeight(), 378);
  EXPECT_EQ(Status(), "ここに通信状態が表示されます。");
  EXPECT_EQ(Actions(), Disconnected);
  EXPECT_TRUE(Rows().empty());
  EXPECT_TRUE(Boxes.Shown.empty());
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
  EXPECT_EQ(Form->SettingsFileName(), IniPath());
}

TEST_F(MainFormTest, PanelControlsKeepTheirPlacesWhileTheListGrows) {
  Open();
  struct Place {
    QWidget* Control;
    int Left, Top, Width, Height;
  } Places[] = {
      {Form->HostEdit, 80, 12, 121, 20},         {Form->UserIDEdit, 80, 36, 121, 20},
      {Form->PasswordEdit, 80, 60, 121, 20},     {Form->PortEdit, 80, 84, 121, 20},
      {Form->SaveDataCheckBox, 40, 112, 129, 17}, {Form->Memo1, 208, 8, 409, 89},
      {Form->GroupBox1, 312, 96, 297, 41},
  };
  for (QSize Size : {QSize(639, 378), QSize(900, 600), QSize(500, 300)}) {
    Form->SetOuterWidth(Size.width());
    Form->SetOuterHeight(Size.height());
    Application().ProcessMessages();
    SCOPED_TRACE(Size.width());
    const QRect Client = Form->centralWidget()->geometry();
    EXPECT_EQ(Form->Panel1->geometry(), QRect(0, Client.height() - 144, Client.width(), 144));
    EXPECT_EQ(Form->MailListView->geometry(), QRect(0, 0, Client.width(), Client.height() - 144));
    for (const auto& P : Places)
      EXPECT_EQ(P.Control->geometry(), QRect(P.Left, P.Top, P.Width, P.Height)) << P.Control->objectName().toStdString();
  }
  // Labels start where designed and are at least their designed size.
  struct LabelPlace {
    QLabel* Label;
    const char* Caption;
    int Left, Top, Width;
  } Labels[] = {{Form->Label1, "サーバー名：", 8, 16, 66},
                {Form->Label2, "ユーザー名：", 8, 40, 66},
                {Form->Label3, "パスワード：", 8, 64, 60},
                {Form->Label4, "ポート番号：", 8, 88, 61},
                {Form->StateLabel, "ここに通信状態が表示されます。", 16, 20, 167}};
  for (const auto& L : Labels) {
    EXPECT_EQ(L.Label->text().toStdString(), L.Caption);
    EXPECT_EQ(L.Label->pos(), QPoint(L.Left, L.Top));
    EXPECT_GE(L.Label->width(), L.Width);
    EXPECT_GE(L.Label->height(), 12);
  }
  EXPECT_EQ(Form->StateLabel->parentWidget(), Form->GroupBox1);
  EXPECT_EQ(Form->GroupBox1->title().toStdString(), "状態");
  EXPECT_EQ(Form->SaveDataCheckBox->text().toStdString(), "ユーザー設定の保存");
}

TEST_F(MainFormTest, ControlsBehaveAsDesigned) {
  Open();
  QTreeWidget* List = Form->MailListView;
  ASSERT_EQ(List->columnCount(), 5);
  struct Column {
    const char* Caption;
    int Width;
    bool Right;
  } Columns[] = {{"No.", 50, false}, {"Size", 50, true}, {"Subject", 300, false}, {"From", 150, false},
                 {"MessageID", 70, false}};
  for (int I = 0; I < 5; ++I) {
    EXPECT_EQ(List->headerItem()->text(I).toStdString(), Columns[I].Caption);
    EXPECT_EQ(List->columnWidth(I), Columns[I].Width);
    EXPECT_EQ((List->headerItem()->textAlignment(I) & Qt::AlignRight) != 0, Columns[I].Right) << I;
  }
  EXPECT_EQ(List->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_FALSE(List->isSortingEnabled());
  EXPECT_FALSE(List->rootIsDecorated());

  // Rows keep the order they came in, with a check box each and sizes on
  // the right; one row is selected at a time.
  for (auto [Msg, Size] : {std::pair{3, 1024}, {1, 0}, {2, 1023}}) Form->NMPOP3List(Msg, Size);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"3:2", "1:1", "2:1"}));
  EXPECT_EQ(List->topLevelItem(0)->checkState(0), Qt::Unchecked);
  EXPECT_TRUE(List->topLevelItem(0)->flags() & Qt::ItemIsUserCheckable);
  EXPECT_TRUE(List->topLevelItem(0)->textAlignment(1) & Qt::AlignRight);
  List->topLevelItem(0)->setSelected(true);
  List->setCurrentItem(List->topLevelItem(2));
  EXPECT_EQ(List->selectedItems().size(), 1);

  EXPECT_EQ(Form->PasswordEdit->echoMode(), QLineEdit::Password);
  Form->PasswordEdit->setText("abc");
  EXPECT_EQ(Form->PasswordEdit->displayText(), "***");

  TLogEdit* Memo = Form->Memo1;
  EXPECT_EQ(Memo->MaxLength(), 131072);
  EXPECT_EQ(Memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(Memo->isReadOnly());
  QString Lines;
  for (int I = 0; I < 1310; ++I) Lines += QString(99, QChar('a')) + "\n";
  Memo->setPlainText(Lines + QString(70, QChar('a')));  // 131070 characters
  Memo->moveCursor(QTextCursor::End);
  QTest::keyClicks(Memo, "xyz");
  EXPECT_EQ(Memo->Length(), 131072);
  EXPECT_TRUE(Memo->toPlainText().endsWith("axy"));

  // Tab order from the list through the panel.
  std::vector<QWidget*> Order{Form->MailListView, Form->HostEdit,        Form->UserIDEdit, Form->PasswordEdit,
                              Form->PortEdit,     Form->SaveDataCheckBox, Form->Memo1};
  QWidget* W = Form->MailListView;
  for (std::size_t I = 1; I < Order.size(); ++I) {
    do W = W->nextInFocusChain();
    while (!(W->focusPolicy() & Qt::TabFocus) || !W->isVisible());
    EXPECT_EQ(W, Order[I]) << I;
  }
}

// Whatever way text arrives, the box keeps the text before it and drops what
// passes the limit, also when the change reaches the end of the text.
TEST(LogEdit, CutsWhatPassesItsLimit) {
  struct Case {
    const char* Name;
    const char* Before;
    std::function<void(TLogEdit&)> Change;
    const char* After;
  } Cases[] = {
      {"typed at the end", "12345678", [](TLogEdit& E) { QTest::keyClicks(&E, "abc"); }, "12345678ab"},
      {"inserted at the start", "12345", [](TLogEdit& E) {
         E.moveCursor(QTextCursor::Start);
         E.insertPlainText("ABCDEFGH");
       }, "ABCDE12345"},
      {"pasted over everything", "12345", [](TLogEdit& E) {
         E.selectAll();
         QApplication::clipboard()->setText(QString(20, QChar('z')));
         E.paste();
       }, "zzzzzzzzzz"},
      {"set as a whole", "", [](TLogEdit& E) { E.setPlainText("abc\ndef\nghijkl"); }, "abc\ndef\ngh"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TLogEdit Edit(nullptr, 10);
    Edit.setPlainText(C.Before);
    Edit.moveCursor(QTextCursor::End);
    C.Change(Edit);
    EXPECT_EQ(Edit.toPlainText().toStdString(), C.After);
    EXPECT_EQ(Edit.Length(), Edit.toPlainText().size());
  }
}

TEST_F(MainFormTest, WindowFontRendersJapanese) {
  Open();
  const QFontInfo Info(Form->font());
  EXPECT_EQ(Info.pixelSize(), 12);
  EXPECT_TRUE(Info.family().contains("IPA")) << Info.family().toStdString();
  const QFontMetrics Metrics(Form->font());
  for (QChar C : QStringLiteral("サーバー名：状態取得"))
    EXPECT_TRUE(Metrics.inFont(C)) << int(C.unicode());

  // A render for the eye (and the docs): every Japanese text in the font.
  Form->NMPOP3List(1, 2000);
  Form->NMPOP3List(2, 1023);
  Form->HostEdit->setText("127.0.0.1");
  Form->UserIDEdit->setText("pelicore");
  Form->PasswordEdit->setText("secret");
  Form->Memo1->setPlainText("MessageNo.:1\nSubject: 会議の資料\nFrom: sato@example.jp");
  const QImage Shot = Form->grab().toImage();
  EXPECT_EQ(Shot.size(), Form->size() * Shot.devicePixelRatio());
  EXPECT_TRUE(Shot.save(RenderPath("pelicore-window.png")));
}

TEST_F(MainFormTest, ActionsCarryTheirCategoriesCaptionsAndKeys) {
  Open();
  struct Expected {
    QAction* Action;
    const char* Category;
    const char* Caption;
    QKeySequence Key;
  } Cases[] = {
      {Form->ConnectAction, "サーバー", "メールサーバーに接続(&C)", {}},
      {Form->DisconnectAction, "サーバー", "メールサーバーから切断(&D)", {}},
      {Form->GetSummaryAction, "サーバー", "概要情報の取得(&G)", {}},
      {Form->DeleteMailAction, "メール操作", "選択されたメールの削除(&D)", QKeySequence(Qt::Key_Delete)},
      {Form->DownloadMailAction, "メール操作", "メールのダウンロード(&G)", QKeySequence(Qt::Key_Insert)},
      {Form->AboutAction, "", "バージョン情報(&A)", QKeySequence(Qt::Key_F12)},
  };
  ASSERT_EQ(Form->ActionList1.size(), 6);
  for (const auto& C : Cases) {
    EXPECT_EQ(C.Action->property("category").toString().toStdString(), C.Category);
    EXPECT_EQ(C.Action->text().toStdString(), C.Caption);
    EXPECT_EQ(C.Action->shortcut(), C.Key) << C.Caption;
  }

  // The menu bar: two menus and the About command on the bar itself.
  const auto Bar = Form->MainMenu1->actions();
  ASSERT_EQ(Bar.size(), 3);
  EXPECT_EQ(Bar[0]->menu(), Form->S1);
  EXPECT_EQ(Form->S1->title().toStdString(), "サーバー(&S)");
  EXPECT_EQ(Bar[1]->menu(), Form->M1);
  EXPECT_EQ(Form->M1->title().toStdString(), "メール(&M)");
  EXPECT_EQ(Bar[2], Form->AboutAction);
  EXPECT_EQ(Form->S1->actions(),
            (QList<QAction*>{Form->ConnectAction, Form->DisconnectAction, Form->N1, Form->GetSummaryAction}));
  EXPECT_TRUE(Form->N1->isSeparator());
  EXPECT_EQ(Form->M1->actions(), (QList<QAction*>{Form->DeleteMailAction, Form->DownloadMailAction}));
}

// Delete and Insert run their commands only while enabled, and not while a
// text box has the focus: there they edit the text.
TEST_F(MainFormTest, KeysRunOnlyEnabledCommandsOutsideTextBoxes) {
  Open();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  QSignalSpy Deletes(Form->DeleteMailAction, &QAction::triggered);
  QSignalSpy Downloads(Form->DownloadMailAction, &QAction::triggered);

  Form->MailListView->setFocus();
  QTest::keyClick(Form->MailListView, Qt::Key_Delete);
  QTest::keyClick(Form->MailListView, Qt::Key_Insert);
  EXPECT_EQ(Deletes.count() + Downloads.count(), 0) << "disconnected";

  Form->DeleteMailAction->setEnabled(true);
  Form->DownloadMailAction->setEnabled(true);
  QTest::keyClick(Form->MailListView, Qt::Key_Delete);
  QTest::keyClick(Form->MailListView, Qt::Key_Insert);
  EXPECT_EQ(Deletes.count(), 1);
  EXPECT_EQ(Downloads.count(), 1);
  QTest::keyClick(Form->MailListView, Qt::Key_Delete, Qt::ShiftModifier);
  EXPECT_EQ(Deletes.count(), 1) << "the keys take no modifier";

  Form->HostEdit->setText("mail");
  Form->HostEdit->setFocus();
  Form->HostEdit->setCursorPosition(0);
  QTest::keyClick(Form->HostEdit, Qt::Key_Delete);
  EXPECT_EQ(Deletes.count(), 1);
  EXPECT_EQ(Form->HostEdit->text(), "ail");
  Form->Memo1->setPlainText("log");
  Form->Memo1->setFocus();
  Form->Memo1->moveCursor(QTextCursor::Start);
  QTest::keyClick(Form->Memo1, Qt::Key_Delete);
  EXPECT_EQ(Deletes.count(), 1);
  EXPECT_EQ(Form->Memo1->toPlainText(), "og");
  EXPECT_TRUE(Boxes.Shown.empty());
}

TEST_F(MainFormTest, AboutBoxShowsModallyAndChangesNothing) {
  Open();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  const std::string Before = Actions();
  int Seen = 0;
  auto Inspect = [&] {
    auto* Box = dynamic_cast<TAboutBox*>(QApplication::activeModalWidget());
    ASSERT_NE(Box, nullptr);
    ++Seen;
    EXPECT_EQ(Form->AboutBox, Box);
    EXPECT_EQ(Box->parent(), Form.get());
    EXPECT_EQ(Box->windowTitle().toStdString(), "バージョン情報");
    EXPECT_EQ(Box->size(), QSize(298, 198));
    EXPECT_EQ(Box->minimumSize(), Box->maximumSize());
    EXPECT_FALSE(Box->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(Box->ProductName->text().toStdString(), "Pelicore");
    EXPECT_EQ(Box->Version->text().toStdString(), "Version 0.10");
    EXPECT_EQ(Box->Comments->text().toStdString(), "Thank you for taking this software!!");
    EXPECT_EQ(Box->BitBtn1->text().toStdString(), "最新版のダウンロード");
    EXPECT_FALSE(Box->BitBtn1->isEnabled());
    EXPECT_TRUE(Box->OKButton->isDefault());
    EXPECT_EQ(Box->OKButton->geometry(), QRect(39, 164, 75, 25));
    EXPECT_EQ(Box->ProgramIcon->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(Actions(), Before);
    EXPECT_TRUE(Box->grab().save(RenderPath("pelicore-about.png")));  // for the eye
    QTest::keyClick(Box, Qt::Key_Return);  // the default button closes it
  };
  QTimer::singleShot(0, Form.get(), Inspect);
  Form->AboutAction->trigger();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  QTimer::singleShot(0, Form.get(), Inspect);
  QTest::keyClick(Form.get(), Qt::Key_F12);
  EXPECT_EQ(Seen, 2);
  EXPECT_EQ(Form->AboutBox, nullptr);
  EXPECT_TRUE(Form->findChildren<TAboutBox*>().isEmpty()) << "destroyed when closed";
  EXPECT_EQ(Actions(), Before);
}

TEST(ErrorBoxText, AppendsAFullStopAfterCharactersAboveIt) {
  struct Case {
    const char* Text;
    const char* Shown;
  } Cases[] = {
      {"", ""},
      {"Authentication failed", "Authentication failed."},
      {"'abc' は整数ではありません", "'abc' は整数ではありません."},
      {"done.", "done."},
      {"wow!", "wow!"},   // '!' is below '.'
      {"a-", "a-"},       // so is '-'
      {"path/", "path/."},  // '/' is above
      {"7", "7."},
      {"-ERR no such message\r\n", "-ERR no such message\r\n"},
      {"終わり。", "終わり。."},  // one character of three bytes
  };
  for (const auto& C : Cases) EXPECT_EQ(ErrorBoxText(C.Text), C.Shown) << C.Text;
}

}  // namespace
}  // namespace pelicore::testing

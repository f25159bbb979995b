#include "app/PelicoreMainFm.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <memory>

#include "app/LogEdit.h"
#include "app/MessageBoxes.h"
#include "app/PelicoreAbout.h"
#include "app/PelicoreFont.h"
#include "app/QtText.h"
#include "app/SettingsNames.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "platform/IniFile.h"
#include "platform/Strings.h"
#include "pop3/NMpop3.h"

namespace pelicore {

namespace {

std::string Text(const QLineEdit* Edit) { return Edit->text().toStdString(); }

constexpr int MemoMaxLength = 131072;

// A label positioned as designed that grows to its text, so that glyphs of
// the substitute font are never cut.
QLabel* NewLabel(QWidget* Parent, const char* Caption, int Left, int Top, int Width, int Height) {
  auto* Label = new QLabel(QString::fromUtf8(Caption), Parent);
  const QSize Hint = Label->sizeHint();
  Label->setGeometry(Left, Top, qMax(Width, Hint.width()), qMax(Height, Hint.height()));
  return Label;
}

QLineEdit* NewEdit(QWidget* Parent, const char* Name, int Left, int Top) {
  auto* Edit = new QLineEdit(Parent);
  Edit->setObjectName(QString::fromLatin1(Name));
  Edit->setGeometry(Left, Top, 121, 20);
  return Edit;
}

}  // namespace

TPelicoreMainForm::TPelicoreMainForm(TMessageBoxes& Boxes) : QMainWindow(nullptr), FBoxes(Boxes) {
  setObjectName(QStringLiteral("PelicoreMainForm"));
  setWindowTitle(QStringLiteral("Pelicore2000"));
  setWindowIcon(QPixmap::fromImage(ProgramPicture()));
  setFont(PelicoreFont());
  CreateControls();
  CreateActions();
  CreateMenus();
  CreatePop3();
  move(224, 112);
  resize(639, 378);
  FOuterSizePending = true;
  FPendingOuterSize = QSize(639, 378);
}

// NMPOP3 goes first (a member, freed before the child widgets): a live
// connection is closed without QUIT and without the disconnect event.
TPelicoreMainForm::~TPelicoreMainForm() = default;

void TPelicoreMainForm::CreateControls() {
  auto* Client = new QWidget(this);
  auto* Layout = new QVBoxLayout(Client);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  setCentralWidget(Client);

  MailListView = new QTreeWidget(Client);
  MailListView->setObjectName(QStringLiteral("MailListView"));
  MailListView->setRootIsDecorated(false);
  MailListView->setItemsExpandable(false);
  MailListView->setUniformRowHeights(true);
  MailListView->setSelectionMode(QAbstractItemView::SingleSelection);
  MailListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  MailListView->setSortingEnabled(false);
  MailListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  MailListView->setHeaderLabels({QStringLiteral("No."), QStringLiteral("Size"), QStringLiteral("Subject"),
                                 QStringLiteral("From"), QStringLiteral("MessageID")});
  const int Widths[] = {50, 50, 300, 150, 70};
  for (int Column = 0; Column < 5; ++Column) MailListView->setColumnWidth(Column, Widths[Column]);
  MailListView->header()->setStretchLastSection(false);
  MailListView->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  Layout->addWidget(MailListView, 1);

  Panel1 = new QFrame(Client);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setFixedHeight(144);
  Layout->addWidget(Panel1);

  Label1 = NewLabel(Panel1, "サーバー名：", 8, 16, 66, 12);
  HostEdit = NewEdit(Panel1, "HostEdit", 80, 12);
  Label2 = NewLabel(Panel1, "ユーザー名：", 8, 40, 66, 12);
  UserIDEdit = NewEdit(Panel1, "UserIDEdit", 80, 36);
  Label3 = NewLabel(Panel1, "パスワード：", 8, 64, 60, 12);
  PasswordEdit = NewEdit(Panel1, "PasswordEdit", 80, 60);
  PasswordEdit->setEchoMode(QLineEdit::Password);
  // The platform's mask character would be a bullet; the window shows "*".
  PasswordEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
  Label4 = NewLabel(Panel1, "ポート番号：", 8, 88, 61, 12);
  PortEdit = NewEdit(Panel1, "PortEdit", 80, 84);
  PortEdit->setText(QStringLiteral("110"));

  SaveDataCheckBox = new QCheckBox(QStringLiteral("ユーザー設定の保存"), Panel1);
  SaveDataCheckBox->setObjectName(QStringLiteral("SaveDataCheckBox"));
  SaveDataCheckBox->setGeometry(40, 112, 129, 17);
  SaveDataCheckBox->setChecked(true);

  Memo1 = new TLogEdit(Panel1, MemoMaxLength);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(208, 8, 409, 89);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setTabChangesFocus(true);

  GroupBox1 = new QGroupBox(QStringLiteral("状態"), Panel1);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(312, 96, 297, 41);
  StateLabel = NewLabel(GroupBox1, "ここに通信状態が表示されます。", 16, 20, 167, 12);
  StateLabel->setObjectName(QStringLiteral("StateLabel"));

  // In the free corner between the log and the status frame.
  ProgressBar = new QProgressBar(Panel1);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setGeometry(208, 101, 98, 14);
  ProgressBar->setTextVisible(false);
  ProgressBar->hide();
  CancelButton = new QPushButton(QStringLiteral("キャンセル"), Panel1);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(208, 117, 98, 22);
  CancelButton->setFocusPolicy(Qt::NoFocus);
  CancelButton->hide();

  setTabOrder(MailListView, HostEdit);
  setTabOrder(HostEdit, UserIDEdit);
  setTabOrder(UserIDEdit, PasswordEdit);
  setTabOrder(PasswordEdit, PortEdit);
  setTabOrder(PortEdit, SaveDataCheckBox);
  setTabOrder(SaveDataCheckBox, Memo1);
}

QAction* TPelicoreMainForm::NewAction(const char* Name, const char* Category, const char* Caption, int Key,
                                      bool Enabled) {
  auto* Action = new QAction(QString::fromUtf8(Caption), this);
  Action->setObjectName(QString::fromLatin1(Name));
  Action->setProperty("category", QString::fromUtf8(Category));
  if (Key != 0) Action->setShortcut(QKeySequence(Key));
  Action->setShortcutContext(Qt::WindowShortcut);
  Action->setEnabled(Enabled);
  // Added to the window too, so that its key works wherever the focus is.
  addAction(Action);
  ActionList1.append(Action);
  return Action;
}

void TPelicoreMainForm::CreateActions() {
  ConnectAction = NewAction("ConnectAction", "サーバー", "メールサーバーに接続(&C)", 0, true);
  DisconnectAction = NewAction("DisconnectAction", "サーバー", "メールサーバーから切断(&D)", 0, false);
  GetSummaryAction = NewAction("GetSummaryAction", "サーバー", "概要情報の取得(&G)", 0, false);
  DeleteMailAction = NewAction("DeleteMailAction", "メール操作", "選択されたメールの削除(&D)", Qt::Key_Delete, false);
  DownloadMailAction = NewAction("DownloadMailAction", "メール操作", "メールのダウンロード(&G)", Qt::Key_Insert, false);
  AboutAction = NewAction("AboutAction", "", "バージョン情報(&A)", Qt::Key_F12, true);
  // Not one of the six: on no menu, and not in ActionList1.
  CancelAction = new QAction(QStringLiteral("キャンセル"), this);
  CancelAction->setObjectName(QStringLiteral("CancelAction"));
  CancelAction->setShortcut(QKeySequence(Qt::Key_Escape));
  CancelAction->setShortcutContext(Qt::WindowShortcut);
  CancelAction->setEnabled(false);
  addAction(CancelAction);
  connect(CancelAction, &QAction::triggered, this, [this] { Guarded([this] { CancelActionExecute(CancelAction); }); });
  connect(CancelButton, &QPushButton::clicked, CancelAction, &QAction::trigger);

  auto Bind = [this](QAction* Action, void (TPelicoreMainForm::*Handler)(QObject*), bool TalksToServer) {
    connect(Action, &QAction::triggered, this,
            [this, Action, Handler, TalksToServer] { RunCommand(Handler, Action, TalksToServer); });
  };
  Bind(ConnectAction, &TPelicoreMainForm::ConnectActionExecute, true);
  Bind(DisconnectAction, &TPelicoreMainForm::DisconnectActionExecute, true);
  Bind(GetSummaryAction, &TPelicoreMainForm::GetSummaryActionExecute, true);
  Bind(DeleteMailAction, &TPelicoreMainForm::DeleteMailActionExecute, true);
  Bind(DownloadMailAction, &TPelicoreMainForm::DownloadMailActionExecute, true);
  Bind(AboutAction, &TPelicoreMainForm::AboutActionExecute, false);
}

void TPelicoreMainForm::RunCommand(void (TPelicoreMainForm::*Handler)(QObject*), QObject* Sender,
                                   bool TalksToServer) {
  // The component would ignore a second operation, but the command around
  // it would go on with the results of the first.
  if (TalksToServer && FServerCommand) return;
  if (TalksToServer) {
    FServerCommand = true;
    FCanceled = false;
    ShowWaiting(true);
  }
  ++FCommandDepth;
  Guarded([&] {
    try {
      (this->*Handler)(Sender);
    } catch (...) {
      // The window was closed during the command's wait, which ended it;
      // that end is no error worth a box.
      if (!FClosing) throw;
    }
  });
  --FCommandDepth;
  if (TalksToServer) {
    FServerCommand = false;
    // A cancel that came after the last wait had ended must not end the
    // next command's first wait.
    if (FCanceled) NMPOP3->Canceled = false;
    ShowWaiting(false);
  }
}

void TPelicoreMainForm::ShowWaiting(bool Waiting) {
  CancelAction->setEnabled(Waiting);
  CancelButton->setVisible(Waiting);
  if (!Waiting) ProgressBar->hide();
}

void TPelicoreMainForm::CancelActionExecute(QObject*) {
  if (!FServerCommand) return;
  FCanceled = true;
  NMPOP3->Abort();
}

void TPelicoreMainForm::CreateMenus() {
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  setMenuBar(MainMenu1);
  // Menus are windows of their own and take no font from the main window.
  S1 = MainMenu1->addMenu(QStringLiteral("サーバー(&S)"));
  S1->setObjectName(QStringLiteral("S1"));
  S1->setFont(PelicoreFont());
  S1->addAction(ConnectAction);
  S1->addAction(DisconnectAction);
  N1 = S1->addSeparator();
  S1->addAction(GetSummaryAction);
  M1 = MainMenu1->addMenu(QStringLiteral("メール(&M)"));
  M1->setObjectName(QStringLiteral("M1"));
  M1->setFont(PelicoreFont());
  M1->addAction(DeleteMailAction);
  M1->addAction(DownloadMailAction);
  MainMenu1->addAction(AboutAction);  // About1: a command on the bar itself
}

void TPelicoreMainForm::CreatePop3() {
  NMPOP3 = MakeComponent<TNMPOP3>(nullptr);
  NMPOP3->Name = "NMPOP3";
  NMPOP3->Port = 110;
  NMPOP3->ReportLevel = 0;
  NMPOP3->Parse = false;
  NMPOP3->DeleteOnRead = false;
  BindPop3Events(true);
}

void TPelicoreMainForm::BindPop3Events(bool Bind) {
  TNMPOP3& P = *NMPOP3;
  if (!Bind) {
    P.OnConnect = nullptr;
    P.OnDisconnect = nullptr;
    P.OnConnectionFailed = nullptr;
    P.OnList = nullptr;
    P.OnRetrieveStart = nullptr;
    P.OnRetrieveEnd = nullptr;
    return;
  }
  P.OnConnect = [this](TComponent* Sender) { NMPOP3Connect(Sender); };
  P.OnDisconnect = [this](TComponent* Sender) { NMPOP3Disconnect(Sender); };
  P.OnConnectionFailed = [this](TComponent* Sender) { NMPOP3ConnectionFailed(Sender); };
  P.OnList = [this](std::int32_t Msg, std::int32_t Size) { NMPOP3List(Msg, Size); };
  P.OnRetrieveStart = [this](TComponent* Sender) { NMPOP3RetrieveStart(Sender); };
  P.OnRetrieveEnd = [this](TComponent* Sender) { NMPOP3RetrieveEnd(Sender); };
}

void TPelicoreMainForm::SetStatus(const std::string& Status) {
  StateLabel->setText(Q(Status));
  const QSize Hint = StateLabel->sizeHint();
  StateLabel->resize(qMax(167, Hint.width()), qMax(12, Hint.height()));
}

void TPelicoreMainForm::ShowConnectedActions(bool Connected) {
  GetSummaryAction->setEnabled(Connected);
  DisconnectAction->setEnabled(Connected);
  ConnectAction->setEnabled(!Connected);
  DeleteMailAction->setEnabled(Connected);
  DownloadMailAction->setEnabled(Connected);
}

void TPelicoreMainForm::ConnectActionExecute(QObject*) {
  NMPOP3->Host = Text(HostEdit);
  NMPOP3->UserID = Text(UserIDEdit);
  NMPOP3->Password = Text(PasswordEdit);
  NMPOP3->Port = StrToInt(Text(PortEdit));
  NMPOP3->Connect();
}

void TPelicoreMainForm::DisconnectActionExecute(QObject*) { NMPOP3->Disconnect(); }

void TPelicoreMainForm::AboutActionExecute(QObject*) {
  std::unique_ptr<TAboutBox> Box(new TAboutBox(this));
  AboutBox = Box.get();
  struct Forget {
    TAboutBox*& Variable;
    ~Forget() { Variable = nullptr; }
  } ForgetOnExit{AboutBox};
  Box->exec();
}

void TPelicoreMainForm::NMPOP3Connect(TComponent*) {
  // The component raises this event even when the server refused STAT and
  // the connection is already closed again; the window then stays in the
  // disconnected state and the error that follows tells why.
  if (!NMPOP3->Connected) return;
  ShowConnectedActions(true);
  Memo1->clear();
  SetStatus(IntToStr(NMPOP3->MailCount) + "件のメッセージが存在します");
  NMPOP3->List();
}

void TPelicoreMainForm::NMPOP3Disconnect(TComponent*) {
  ShowConnectedActions(false);
  MailListView->clear();
  SetStatus("切断されました。");
}

void TPelicoreMainForm::NMPOP3ConnectionFailed(TComponent*) {
  FBoxes.ShowMessage("接続に失敗しました");
  SetStatus("接続に失敗しました");
}

void TPelicoreMainForm::NMPOP3RetrieveStart(TComponent*) { SetStatus("メッセージを取得しています"); }

void TPelicoreMainForm::NMPOP3RetrieveEnd(TComponent*) { SetStatus("メッセージを取得しました"); }

void TPelicoreMainForm::FormShow(QObject*) {
  namespace Key = SettingsKey;
  IniFileName = Application().ProgramFolder() + SettingsFileBaseName;
  TIniFile Ini(IniFileName);
  if (!Ini.Exists()) return;
  SetOuterTop(Ini.ReadInteger(WindowSection, Key::Top, OuterTop()));
  SetOuterLeft(Ini.ReadInteger(WindowSection, Key::Left, OuterLeft()));
  SetOuterHeight(Ini.ReadInteger(WindowSection, Key::Height, OuterHeight()));
  SetOuterWidth(Ini.ReadInteger(WindowSection, Key::Width, OuterWidth()));
  SaveDataCheckBox->setChecked(Ini.ReadBool(WindowSection, Key::SaveAccount, true));
  HostEdit->setText(Q(Ini.ReadString(AccountSection, Key::Host, "")));
  UserIDEdit->setText(Q(Ini.ReadString(AccountSection, Key::UserID, "")));
  PasswordEdit->setText(Q(Ini.ReadString(AccountSection, Key::Password, "")));
  PortEdit->setText(Q(IntToStr(Ini.ReadInteger(AccountSection, Key::Port, DefaultPop3Port))));
}

void TPelicoreMainForm::FormClose(QObject*, TCloseAction&) {
  namespace Key = SettingsKey;
  if (IniFileName.empty()) return;  // never shown: nothing was read
  TIniFile Ini(IniFileName);
  Ini.WriteInteger(WindowSection, Key::Top, OuterTop());
  Ini.WriteInteger(WindowSection, Key::Left, OuterLeft());
  Ini.WriteInteger(WindowSection, Key::Height, OuterHeight());
  Ini.WriteInteger(WindowSection, Key::Width, OuterWidth());
  const bool SaveAccount = SaveDataCheckBox->isChecked();
  Ini.WriteBool(WindowSection, Key::SaveAccount, SaveAccount);
  if (!SaveAccount) return;
  Ini.WriteString(AccountSection, Key::Host, Text(HostEdit));
  Ini.WriteString(AccountSection, Key::UserID, Text(UserIDEdit));
  Ini.WriteString(AccountSection, Key::Password, Text(PasswordEdit));
  Ini.WriteInteger(AccountSection, Key::Port, StrToInt(Text(PortEdit)));
}

void TPelicoreMainForm::showEvent(QShowEvent* Event) {
  if (!FShown && !Event->spontaneous()) {
    FShown = true;
    Guarded([this] { FormShow(this); });
  }
  QMainWindow::showEvent(Event);
  ApplyPendingOuterSize();
}

void TPelicoreMainForm::closeEvent(QCloseEvent* Event) {
  TCloseAction Action = TCloseAction::Hide;
  bool KeepOpen = false;
  try {
    FormClose(this, Action);
  } catch (const EConvertError&) {
    // A port the user can correct: the window stays open for it.
    Application().HandleException(std::current_exception());
    KeepOpen = true;
  } catch (...) {
    // The file cannot be written at all; keeping the window open would leave
    // no way to close it, so the close completes after the error box.
    Application().HandleException(std::current_exception());
  }
  if (KeepOpen || Action == TCloseAction::None) {
    Event->ignore();
    return;
  }
  Event->accept();
  if (FCommandDepth > 0) {
    // A command still waits for the server inside this close. Without the
    // window nobody could end that wait (the window sets no time-out), so
    // end it here, without QUIT and without raising further events.
    FClosing = true;
    BindPop3Events(false);
    NMPOP3->Abort();
  }
}

QSize TPelicoreMainForm::FrameExtra() const { return frameGeometry().size() - geometry().size(); }

int TPelicoreMainForm::OuterLeft() const { return frameGeometry().x(); }
int TPelicoreMainForm::OuterTop() const { return frameGeometry().y(); }
int TPelicoreMainForm::OuterWidth() const { return frameGeometry().width(); }
int TPelicoreMainForm::OuterHeight() const { return frameGeometry().height(); }

// move() places a window by its frame.
void TPelicoreMainForm::SetOuterLeft(int Value) { move(Value, pos().y()); }
void TPelicoreMainForm::SetOuterTop(int Value) { move(pos().x(), Value); }

void TPelicoreMainForm::SetOuterWidth(int Value) {
  FPendingOuterSize = QSize(Value, OuterHeight());
  FOuterSizePending = FrameExtra().isNull();
  resize(Value - FrameExtra().width(), height());
}

void TPelicoreMainForm::SetOuterHeight(int Value) {
  FPendingOuterSize = QSize(OuterWidth(), Value);
  FOuterSizePending = FrameExtra().isNull();
  resize(width(), Value - FrameExtra().height());
}

void TPelicoreMainForm::ApplyPendingOuterSize() {
  if (!FOuterSizePending || windowHandle() == nullptr) return;
  const QSize Extra = FrameExtra();
  if (Extra.isNull()) return;
  FOuterSizePending = false;
  resize(FPendingOuterSize - Extra);
}

void TPelicoreMainForm::moveEvent(QMoveEvent* Event) {
  QMainWindow::moveEvent(Event);
  ApplyPendingOuterSize();
}

void TPelicoreMainForm::resizeEvent(QResizeEvent* Event) {
  QMainWindow::resizeEvent(Event);
  ApplyPendingOuterSize();
}

}  // namespace pelicore

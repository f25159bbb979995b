#pragma once
// The main window: the account fields, the mailbox list, the header log, the
// status line, the six commands with their menu and keys, and the reactions
// to the POP3 component's events. The window drives NMPOP3 only through its
// properties, operations and events, and keeps no connection state of its
// own: connected or not shows only in the actions' enabled flags, the status
// line and the list.
//
// Everything runs on the one thread. NMPOP3's operations wait for the server
// while dispatching events, so its events run nested inside the command that
// started the operation, and further commands can run inside a wait.

#include <QMainWindow>
#include <cstdint>
#include <string>

#include "platform/Component.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace pelicore {

class TAboutBox;
class TLogEdit;
class TMessageBoxes;
class TNMPOP3;
class TStringList;

// What closing the window does once FormClose has run.
enum class TCloseAction { None, Hide, Free, Minimize };

class TPelicoreMainForm : public QMainWindow {
 public:
  // Boxes must outlive the window.
  explicit TPelicoreMainForm(TMessageBoxes& Boxes);
  ~TPelicoreMainForm() override;

  // Controls, named as in the window's layout.
  QTreeWidget* MailListView;
  QFrame* Panel1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLineEdit* HostEdit;
  QLineEdit* UserIDEdit;
  QLineEdit* PasswordEdit;
  QLineEdit* PortEdit;
  QCheckBox* SaveDataCheckBox;
  TLogEdit* Memo1;
  QGroupBox* GroupBox1;
  QLabel* StateLabel;
  // Beside the status line while a command waits for the server: the bytes
  // of a download against the size the listing gave, and a way out of the
  // wait (also Esc, CancelAction). Hidden otherwise.
  QProgressBar* ProgressBar;
  QPushButton* CancelButton;

  // The commands. Each action carries its category in the property
  // "category". Menu items are the actions themselves.
  QAction* ConnectAction;
  QAction* DisconnectAction;
  QAction* GetSummaryAction;
  QAction* DeleteMailAction;
  QAction* DownloadMailAction;
  QAction* AboutAction;
  QList<QAction*> ActionList1;
  QAction* CancelAction;  // Esc; enabled exactly while a server command runs

  QMenuBar* MainMenu1;
  QMenu* S1;
  QMenu* M1;
  QAction* N1;  // the separator in S1

  ComponentPtr<TNMPOP3> NMPOP3;
  TAboutBox* AboutBox = nullptr;  // only while the About box is shown

  // Handlers. The action handlers and FormShow/FormClose are run by the
  // event loop through Guarded; NMPOP3's handlers run inside its operations
  // and let errors pass to the operation's caller.
  void ConnectActionExecute(QObject* Sender);
  void DisconnectActionExecute(QObject* Sender);
  void AboutActionExecute(QObject* Sender);
  void NMPOP3Connect(TComponent* Sender);
  void NMPOP3Disconnect(TComponent* Sender);
  void NMPOP3ConnectionFailed(TComponent* Sender);
  void NMPOP3List(std::int32_t Msg, std::int32_t Size);
  void NMPOP3RetrieveStart(TComponent* Sender);
  void NMPOP3RetrieveEnd(TComponent* Sender);
  // The mailbox commands (MailboxView.cpp).
  void GetSummaryActionExecute(QObject* Sender);
  void DeleteMailActionExecute(QObject* Sender);
  void DownloadMailActionExecute(QObject* Sender);
  // Ends the wait of the running server command through the component's
  // abort: the command fails with the abort error, and the connection, no
  // longer in step with the server, is closed. Does nothing when no command
  // runs.
  void CancelActionExecute(QObject* Sender);
  // Reads the settings file when the window is first shown.
  void FormShow(QObject* Sender);
  // Writes the settings file; Action is left as it is.
  void FormClose(QObject* Sender, TCloseAction& Action);

  // The window's outer geometry (frame included where the platform draws
  // one), as stored in the settings file.
  int OuterLeft() const;
  int OuterTop() const;
  int OuterWidth() const;
  int OuterHeight() const;
  void SetOuterLeft(int Value);
  void SetOuterTop(int Value);
  void SetOuterWidth(int Value);
  void SetOuterHeight(int Value);

  const std::string& SettingsFileName() const { return IniFileName; }

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void moveEvent(QMoveEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void CreateControls();
  void CreateActions();
  void CreateMenus();
  void CreatePop3();
  // Binds NMPOP3's events to this window's handlers, or unbinds them all.
  void BindPop3Events(bool Bind);
  QAction* NewAction(const char* Name, const char* Category, const char* Caption, int Key, bool Enabled);
  // Runs an action's handler for the event loop: errors go to the error box.
  // A command that talks to the server does nothing while another one waits
  // for it.
  void RunCommand(void (TPelicoreMainForm::*Handler)(QObject*), QObject* Sender, bool TalksToServer);
  void SetStatus(const std::string& Text);
  void ShowConnectedActions(bool Connected);
  // The mailbox list and the log (MailboxView.cpp).
  QTreeWidgetItem* FindRow(std::int32_t Msg) const;
  QTreeWidgetItem* SelectedRow() const;
  void AppendLogLine(const std::string& Line, bool FailWhenFull);
  void AppendLogLines(const TStringList& Lines);
  // Shows or hides what belongs to a waiting command.
  void ShowWaiting(bool Waiting);
  QSize FrameExtra() const;
  void ApplyPendingOuterSize();

  TMessageBoxes& FBoxes;
  std::string IniFileName;
  bool FShown = false;
  int FCommandDepth = 0;  // action handlers running, nested in waits
  bool FServerCommand = false;  // a command that talks to the server runs
  bool FCanceled = false;       // the running command's wait was cancelled
  bool FClosing = false;  // closed while a command was running
  // An outer size set before the platform told the frame's size; applied
  // again once the frame is known, so that stored sizes do not creep.
  bool FOuterSizePending = false;
  QSize FPendingOuterSize;
};

}  // namespace pelicore

// The mailbox list and the commands that work on it: the rows of the list
// event, Get summary, Delete and Download.
//
// Rows are found by their caption, never by position: Delete removes rows
// while the other messages keep their numbers. Every command runs NMPOP3
// operations that wait for the server and dispatch events meanwhile, so a
// row held across a wait may be gone afterwards (the server dropped the
// connection and the disconnect event emptied the list) and the selection
// may have moved; the handlers look again after each wait.
#include <QPersistentModelIndex>
#include <QProgressBar>
#include <QTimer>
#include <QTextCursor>
#include <QTreeWidget>

#include "app/LogEdit.h"
#include "app/MessageBoxes.h"
#include "app/MessageFile.h"
#include "app/PelicoreMainFm.h"
#include "app/QtText.h"
#include "app/ReadableHeader.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "platform/Strings.h"
#include "pop3/NMpop3.h"

namespace pelicore {

namespace {

constexpr int kSizeColumn = 1;
// The octets that the listing gave, kept beside the kilobytes shown.
constexpr int kListedOctetsRole = Qt::UserRole;

// How far a download has come, shown in the progress bar while it runs and
// hidden when it ends, however it ends. The component raises no event while
// a message arrives, so a timer looks at the lines stored so far (each counts
// with its CR LF) and takes in only those added since its last look. The
// timer ticks inside the retrieval's waits, which dispatch events.
class TDownloadProgress {
 public:
  static constexpr int IntervalMs = 50;

  TDownloadProgress(QProgressBar* Bar, const TMailMessage& Message, int ListedOctets)
      : FBar(Bar), FMessage(Message) {
    FBar->setRange(0, qMax(ListedOctets, 1));
    FBar->setValue(0);
    FBar->show();
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Update(); });
    FTimer.start(IntervalMs);
  }
  ~TDownloadProgress() { FBar->hide(); }
  TDownloadProgress(const TDownloadProgress&) = delete;
  TDownloadProgress& operator=(const TDownloadProgress&) = delete;

 private:
  void Update() {
    Take(FMessage.Head, FHeadSeen);
    Take(FMessage.RawBody, FBodySeen);
    FBar->setValue(static_cast<int>(qMin<std::int64_t>(FBytes, FBar->maximum())));
  }
  void Take(const TStringList& Lines, int& Seen) {
    if (Lines.Count() < Seen) {  // emptied for the message: start again
      Seen = 0;
      FBytes = 0;
    }
    for (; Seen < Lines.Count(); ++Seen) FBytes += static_cast<std::int64_t>(Lines[Seen].size()) + 2;
  }

  QProgressBar* FBar;
  const TMailMessage& FMessage;
  QTimer FTimer;
  int FHeadSeen = 0;
  int FBodySeen = 0;
  std::int64_t FBytes = 0;
};

// Sub-items are only ever appended: a row summarised twice gets columns that
// no header shows.
// Header values also carry their readable form (decoded words and charsets)
// as the cell's tooltip; the cell keeps the value as stored.
void AppendSubItem(QTreeWidgetItem* Row, const std::string& Text, bool Readable = false) {
  const int Column = Row->columnCount();
  Row->setText(Column, Q(Text));
  if (Readable) Row->setToolTip(Column, Q(ReadableHeader(Text)));
}

}  // namespace

void TPelicoreMainForm::NMPOP3List(std::int32_t Msg, std::int32_t Size) {
  auto* Row = new QTreeWidgetItem(MailListView);
  Row->setFlags(Row->flags() | Qt::ItemIsUserCheckable);
  Row->setCheckState(0, Qt::Unchecked);
  Row->setText(0, Q(IntToStr(Msg)));
  Row->setText(kSizeColumn, Q(IntToStr(Size / 1024 + 1)));
  Row->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
  Row->setData(kSizeColumn, kListedOctetsRole, Size);
}

QTreeWidgetItem* TPelicoreMainForm::FindRow(std::int32_t Msg) const {
  const QString Caption = Q(IntToStr(Msg));
  for (int I = 0; I < MailListView->topLevelItemCount(); ++I) {
    QTreeWidgetItem* Row = MailListView->topLevelItem(I);
    if (Row->text(0) == Caption) return Row;
  }
  return nullptr;
}

QTreeWidgetItem* TPelicoreMainForm::SelectedRow() const {
  for (int I = 0; I < MailListView->topLevelItemCount(); ++I) {
    QTreeWidgetItem* Row = MailListView->topLevelItem(I);
    if (Row->isSelected()) return Row;
  }
  return nullptr;
}

// One line added to the log, as a text box adds a line: on a line of its own.
// A line that does not fit whole is refused when FailWhenFull, else cut.
void TPelicoreMainForm::AppendLogLine(const std::string& Line, bool FailWhenFull) {
  QString Added = Q(Line) + QLatin1Char('\n');
  const QString Held = Memo1->toPlainText();
  if (!Held.isEmpty() && !Held.endsWith(QLatin1Char('\n'))) Added.prepend(QLatin1Char('\n'));
  if (FailWhenFull && Memo1->Length() + Added.size() > Memo1->MaxLength())
    throw Exception("RichEdit での行の挿入エラー");
  QTextCursor Cursor(Memo1->document());
  Cursor.movePosition(QTextCursor::End);
  Cursor.insertText(Added);
}

// The log's text followed by every line with its line end; what passes the
// log's maximum length is cut off there.
void TPelicoreMainForm::AppendLogLines(const TStringList& Lines) {
  QString Added;
  for (const std::string& Line : Lines.Items()) {
    Added += Q(Line);
    Added += QLatin1Char('\n');
  }
  QTextCursor Cursor(Memo1->document());
  Cursor.movePosition(QTextCursor::End);
  Cursor.insertText(Added);
}

void TPelicoreMainForm::GetSummaryActionExecute(QObject*) {
  SetStatus("概要情報を取得します...");
  for (std::int32_t N = 1; N <= NMPOP3->MailCount; ++N) {
    NMPOP3->GetSummary(N);
    const TSummary& Summary = *NMPOP3->Summary;
    if (QTreeWidgetItem* Row = FindRow(N)) {
      AppendSubItem(Row, Summary.Subject, true);
      AppendSubItem(Row, Summary.From, true);
      AppendSubItem(Row, Summary.MessageId);
    }
    AppendLogLine("MessageNo.:" + IntToStr(N), true);
    AppendLogLines(Summary.Header);
  }
  GetSummaryAction->setEnabled(false);
}

void TPelicoreMainForm::DeleteMailActionExecute(QObject*) {
  if (SelectedRow() == nullptr) return;
  if (!FBoxes.AskYesNo("現在選択中のメールを削除してよろしいですか？", "削除確認")) return;
  // The question waited too: the row may have gone with the connection.
  QTreeWidgetItem* Row = SelectedRow();
  if (Row == nullptr) return;
  const std::int32_t N = StrToInt(Row->text(0).toStdString());
  // Follows the row through the wait below, whatever is selected after it.
  const QPersistentModelIndex Deleted(MailListView->model()->index(MailListView->indexOfTopLevelItem(Row), 0));
  NMPOP3->DeleteMailMessage(N);
  if (Deleted.isValid()) delete MailListView->takeTopLevelItem(Deleted.row());
  SetStatus("No." + IntToStr(N) + " のメールを削除しました。");
}

// The message is written straight from the component's two lists, Head and
// then RawBody: gathering them in a list of its own first would hold a
// 100 MiB message twice.
void TPelicoreMainForm::DownloadMailActionExecute(QObject*) {
  QTreeWidgetItem* Row = SelectedRow();
  if (Row == nullptr) return;
  const std::int32_t N = StrToInt(Row->text(0).toStdString());
  SetStatus("No." + IntToStr(N) + " のメールをダウンロードしています．．．");
  {
    TDownloadProgress Progress(ProgressBar, *NMPOP3->MailMessage,
                               Row->data(kSizeColumn, kListedOctetsRole).toInt());
    NMPOP3->GetMailMessage(N);
  }
  const TMailMessage& Message = *NMPOP3->MailMessage;
  const std::string Written = WriteMessageFile(Application().ProgramFolder(), MessageFileName(Message.Subject),
                                               Message.Head, Message.RawBody);
  // The name may differ from the Subject (made safe, or numbered because it
  // was taken): the log tells where the message went.
  AppendLogLine("保存先：" + Written, false);
  SetStatus("No." + IntToStr(N) + " のメールをダウンロードしました。");
}

}  // namespace pelicore

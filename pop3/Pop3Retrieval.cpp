// Retrieving one message with RETR: the header and body lines into
// MailMessage, the header values picked out, and the body treated as its
// content type and Parse ask; Extract looks a value up in the stored header.
#include "platform/Exceptions.h"
#include "platform/Strings.h"
#include "pop3/MimeText.h"
#include "pop3/NMpop3.h"
#include "pop3/Pop3Replies.h"

namespace pelicore {

using pop3::BusyScope;
using pop3::FirstWord;
using pop3::IsDeleRefusal;
using pop3::IsPositive;
using pop3::WithoutLineEnd;

std::int32_t LineIndex = 0;

namespace {

constexpr std::int64_t kMaxValue = 256;  // characters kept of a header value
const char* const kEndOfMessage = ".\r\n";

// A received line as it is stored: without its line end (CR LF, or a bare LF
// alone) and with the dot-stuffing undone, so that the stored lines written
// out with CR LF are the message as it was sent.
std::string StoredLine(const std::string& Received) {
  std::string Line = WithoutLineEnd(Received);
  if (Line.starts_with('.')) Line.erase(0, 1);
  return Line;
}

}  // namespace

void TNMPOP3::BeginMessage() {
  LineIndex = 0;
  TMailMessage& M = *MailMessage;
  M.Head.Clear();
  M.Body.Clear();
  M.RawBody.Clear();
  M.Attachments.Clear();
  M.Subject.clear();
  M.ContentType.clear();
  M.From.clear();
  M.MessageId.clear();
  BytesRecvd = 0;
  FMessageEnded = false;
}

std::string TNMPOP3::NextMessageLine() {
  std::string Line;
  bool Got = false;
  try {
    Got = FReply.Next(Line);
  } catch (const TReplyReader::BudgetExceeded&) {
    // The rest of the message is still coming: the session is out of step.
    CloseSocket();
    throw Exception(std::string(kRetrieveLimitText) + " (" + IntToStr(RetrieveLimit) + " bytes)");
  } catch (const EAbortError&) {
    throw;
  } catch (const ESockError&) {
    CloseSocket();
    throw;
  }
  if (!Got) {
    CloseSocket();
    throw Exception(kConnectionClosedText);
  }
  return Line;
}

void TNMPOP3::GetMailMessage(std::int32_t MsgNum) {
  if (FBusy) return;
  BusyScope Busy(FBusy);
  CertifyConnect();
  if (OnRetrieveStart) OnRetrieveStart(this);
  // The final step, on every way out from here: OnRetrieveEnd, then the busy
  // flag is cleared (by Busy), also when the handler fails.
  auto Finish = [this] {
    if (OnRetrieveEnd) OnRetrieveEnd(this);
  };
  try {
    FTransferEncoding.clear();
    MailMessage->Boundary.clear();
    FAttachFileName.clear();
    FBodyMode = 2;

    const std::string Reply = Command("RETR " + IntToStr(MsgNum));
    if (!IsPositive(Reply)) throw Exception(Reply);

    BeginMessage();
    FReply.Start(RetrieveLimit);
    ReadHeader(false, *MailMessage);
    if (!FMessageEnded) {
      TStringList& RawBody = MailMessage->RawBody;
      for (;;) {
        const std::string Line = NextMessageLine();
        if (Line == kEndOfMessage) break;
        RawBody.Add(StoredLine(Line));
      }
    }
    TreatBody();

    if (DeleteOnRead) {
      const std::string Dele = Command("DELE " + IntToStr(MsgNum));
      if (IsDeleRefusal(Dele)) throw Exception(Dele);
    }
    StatusMessage(StatusLevel::Replies, "Message Retrieved");
  } catch (...) {
    try {
      Finish();
    } catch (...) {
      // The retrieval's own failure is the one the caller hears of.
    }
    throw;
  }
  Finish();
}

void TNMPOP3::ParseMessageLines(const TStringList& Lines) {
  if (FBusy) return;
  BusyScope Busy(FBusy);
  FTransferEncoding.clear();
  MailMessage->Boundary.clear();
  FAttachFileName.clear();
  FBodyMode = 2;
  BeginMessage();

  TStringList& RawBody = MailMessage->RawBody;
  RawBody.Assign(Lines);
  ReadHeader(true, *MailMessage);
  // The header lines are in Head now; RawBody keeps only the body.
  TStringList Body;
  for (int I = LineIndex; I < RawBody.Count(); ++I) Body.Add(RawBody[I]);
  RawBody = Body;
  LineIndex = 0;
  FBodyMode = 1;
  TreatBody();
}

void TNMPOP3::TreatBody() {
  TMailMessage& M = *MailMessage;
  if (Pos("multipart", LowerCase(M.ContentType)) > 0) {
    ReadMailParts();
  } else if (!Parse) {
    M.Body.Assign(M.RawBody);
  } else if (Pos("BASE64", UpperCase(FTransferEncoding)) > 0) {
    FBodyMode = 0;
    ReadBody(M);
    // The decoded text replaces the entry that names the file.
    M.Body.Clear();
    if (M.Attachments.Count() > 0) M.Body.LoadFromFile(FAttachFilePath + M.Attachments[0]);
  } else {
    ReadBody(M);
  }
}

void TNMPOP3::ReadHeader(bool FromStored, TMailMessage& R) {
  for (;;) {
    std::string Line;
    if (FromStored) {
      if (LineIndex >= MailMessage->RawBody.Count()) return;
      Line = MailMessage->RawBody[LineIndex++];
    } else {
      const std::string Received = NextMessageLine();
      if (Received == kEndOfMessage) {
        // No empty line after the header: the message ends here, bodiless.
        FMessageEnded = true;
        break;
      }
      Line = StoredLine(Received);
    }
    if (FBodyMode == 2) MailMessage->Head.Add(Line);
    if (Line.empty()) break;
    ParseHeaderLine(Line, R);
  }
  if (FBodyMode == 2) FBodyMode = 1;
}

void TNMPOP3::ParseHeaderLine(const std::string& Line, TMailMessage& R) {
  TMailMessage& M = *MailMessage;
  const std::string Upper = UpperCase(Line);
  const std::string Field = FirstWord(Upper);
  // Values are copied from the line as it is; the blank after the colon
  // stays in Subject and ContentType and not in From.
  if (Field == "SUBJECT:") M.Subject = Copy(Line, 9, kMaxValue);
  if (Field == "FROM:") M.From = Copy(Line, 7, kMaxValue);
  if (Field == "CONTENT-TYPE:") M.ContentType = Copy(Line, 15, kMaxValue);
  if (Field == "MESSAGE-ID:") M.MessageId = Copy(Line, 13, kMaxValue);
  if (const int At = Pos("BOUNDARY=", Upper); At > 0)
    R.Boundary = mime::BoundaryParameter(Copy(Line, At + 9, kMaxValue));
  if (Pos("CONTENT-TRANSFER-ENCODING", Upper) > 0) FTransferEncoding = Copy(Line, 28, kMaxValue);
  if (Pos("NAME", Upper) > 0) {
    // Between the first and the second double quote; untrusted, made a file
    // name only when a part is written.
    const std::size_t First = Line.find('"');
    if (First == std::string::npos) {
      FAttachFileName.clear();
    } else {
      const std::size_t Second = Line.find('"', First + 1);
      FAttachFileName = Line.substr(First + 1, Second == std::string::npos ? std::string::npos : Second - First - 1);
    }
  }
}

void TNMPOP3::Extract(const std::string& Key, std::string& Value) {
  CertifyConnect();
  Value.clear();
  const TExStringList& Head = MailMessage->Head;
  for (int I = 0; I < Head.Count(); ++I) {
    const std::string& Entry = Head[I];
    if (Pos(Key, Entry) == 0) continue;
    const std::size_t Colon = Entry.find(':');
    Value = Trim(Copy(Entry, Colon == std::string::npos ? 1 : static_cast<std::int64_t>(Colon) + 2, 255));
    return;
  }
}

}  // namespace pelicore

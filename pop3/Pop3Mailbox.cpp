// The mailbox operations on single messages: LIST, TOP/LIST n summaries,
// UIDL and DELE.
#include <exception>

#include "platform/Exceptions.h"
#include "platform/Strings.h"
#include "pop3/NMpop3.h"
#include "pop3/Pop3Replies.h"

namespace pelicore {

using pop3::BusyScope;
using pop3::FirstWord;
using pop3::IsDeleRefusal;
using pop3::IsPositive;
using pop3::WithoutLineEnd;

void TNMPOP3::List() {
  if (FBusy) return;
  BusyScope Busy(FBusy);
  CertifyConnect();
  // The listing follows only a positive reply; after a refusal the loop
  // below would wait for lines that never come.
  const std::string Reply = Command("LIST ");
  if (!IsPositive(Reply)) throw Exception(Reply);
  // A line that is not a number, or a handler that fails, ends the reports
  // but not the reading: the rest of the listing is read up to its "." so
  // that it is not taken for the reply to the next command.
  std::exception_ptr Failure;
  for (;;) {
    const std::string Line = WithoutLineEnd(ReadReply());
    if (Line == ".") break;
    if (!OnList || Failure) continue;
    try {
      const std::int32_t Size = StrToInt(NthWord(Line, ' ', 2));
      const std::int32_t Msg = StrToInt(NthWord(Line, ' ', 1));
      OnList(Msg, Size);
    } catch (...) {
      Failure = std::current_exception();
    }
  }
  if (Failure) std::rethrow_exception(Failure);
}

void TNMPOP3::GetSummary(std::int32_t MsgNum) {
  if (FBusy) return;
  BusyScope Busy(FBusy);
  CertifyConnect();
  if (OnRetrieveStart) OnRetrieveStart(this);

  const std::string Reply = Command("TOP " + IntToStr(MsgNum) + " 0");
  if (!IsPositive(Reply)) throw Exception(Reply);

  TSummary& S = *Summary;
  S.Header.Clear();
  S.Subject.clear();
  S.From.clear();
  S.MessageId.clear();
  for (;;) {
    // Names are compared as sent, case and all; a value keeps the character
    // after the colon (normally a blank) except for Message-ID.
    const std::string Line = WithoutLineEnd(ReadReply());
    if (Line.starts_with("Subject:")) S.Subject = Copy(Line, 9, static_cast<std::int64_t>(Line.size()));
    if (Line.starts_with("From:")) S.From = Copy(Line, 6, static_cast<std::int64_t>(Line.size()));
    if (Line.starts_with("Message-ID:")) S.MessageId = Copy(Line, 13, 256);
    S.Header.Add(Line);
    if (Line == ".") break;
  }

  const std::string Size = Command("LIST " + IntToStr(MsgNum));
  S.Bytes = StrToInt(Trim(NthWord(Size, ' ', 3)));
  StatusMessage(StatusLevel::Replies, "Summary Retrieved");
  if (OnRetrieveEnd) OnRetrieveEnd(this);
}

std::string TNMPOP3::UniqueID(std::int32_t MsgNum) {
  if (FBusy) return std::string();
  BusyScope Busy(FBusy);
  CertifyConnect();
  const std::string Reply = Command("UIDL " + IntToStr(MsgNum));
  if (FirstWord(Reply) != "+OK") {
    if (OnFailure) OnFailure(this);
    throw Exception(Reply);
  }
  return WithoutLineEnd(NthWord(Reply, ' ', 3));
}

void TNMPOP3::DeleteMailMessage(std::int32_t MsgNum) {
  if (FBusy) return;
  {
    BusyScope Busy(FBusy);
    CertifyConnect();
    const std::string Reply = Command("DELE " + IntToStr(MsgNum));
    if (IsDeleRefusal(Reply)) {
      if (OnFailure) OnFailure(this);
      throw Exception(Reply);
    }
  }
  // Not busy any more: the handler may start the next mailbox operation.
  if (OnSuccess) OnSuccess(this);
}

}  // namespace pelicore

#include "pop3/NMpop3.h"

#include <exception>

#include "platform/Exceptions.h"
#include "platform/Strings.h"

namespace pelicore {

namespace {

const char* const kAuthenticationFailed = "Authentication failed";

std::string FirstWord(const std::string& Reply) { return NthWord(Reply, ' ', 1); }

// Positive replies are found by position, so "+OK" alone on its line (whose
// first word keeps the line end) still counts.
bool IsPositive(const std::string& Reply) { return Pos("+OK", FirstWord(Reply)) > 0; }

// A line without its line end: CR LF, or a bare LF from a careless server.
std::string WithoutLineEnd(const std::string& Line) {
  if (Line.ends_with("\r\n")) return Line.substr(0, Line.size() - 2);
  if (Line.ends_with('\n')) return Line.substr(0, Line.size() - 1);
  return Line;
}

// A DELE refusal. The line end is left out of the comparison: a bare "-ERR"
// line is a refusal like any other, and must not pass for a deletion.
bool IsDeleRefusal(const std::string& Reply) { return WithoutLineEnd(FirstWord(Reply)) == "-ERR"; }

// Clears the busy flag on every way out of a mailbox operation.
class BusyScope {
 public:
  explicit BusyScope(bool& Busy) : FBusy(Busy) { FBusy = true; }
  ~BusyScope() { FBusy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& FBusy;
};

}  // namespace

TSummary::TSummary() : Bytes(0) {}
TSummary::~TSummary() = default;

TMailMessage::TMailMessage() = default;
TMailMessage::~TMailMessage() = default;

TNMPOP3::TNMPOP3(TComponent* AOwner)
    : TZedadedar(AOwner),
      FDecoder(new TNMUUProcessor(this)),
      Summary(std::make_unique<TSummary>()),
      MailMessage(std::make_unique<TMailMessage>()) {
  Port = 110;
}

TNMPOP3::~TNMPOP3() = default;

void TNMPOP3::SetAttachFilePath(const std::string& Value) {
  FAttachFilePath = Value;
  if (!FAttachFilePath.empty() && !FAttachFilePath.ends_with('/')) FAttachFilePath += '/';
}

void TNMPOP3::CloseSocket() {
  if (Connected) TZedadedar::Disconnect();
}

std::string TNMPOP3::ReadGuarded(const std::string* CommandText) {
  std::string Line;
  try {
    Line = CommandText ? Transaction(*CommandText) : ReadLn();
  } catch (const EAbortError&) {
    throw;  // a cancel or the time-out; Abort has closed the socket if asked to
  } catch (const ESockError&) {
    // Part of a reply has been read (an over-long line is consumed in part):
    // whatever the server sends next would be taken for the next reply.
    CloseSocket();
    throw;
  }
  if (Line.empty()) {
    // The server has gone; make the next operation fail with "Not Connected"
    // rather than talk to a closed peer.
    CloseSocket();
    throw Exception(kConnectionClosedText);
  }
  return Line;
}

std::string TNMPOP3::Command(const std::string& Text) {
  return ReadGuarded(&Text);
}

std::string TNMPOP3::ReadReply() {
  return ReadGuarded(nullptr);
}

void TNMPOP3::Connect() {
  // Nothing is sent before the credentials are there; the handler is asked
  // at most once, and what it leaves is used as it is.
  int Asked = 0;
  while (Password.empty() || UserID.empty()) {
    if (!OnAuthenticationNeeded) throw Exception(kAuthenticationFailed);
    if (Asked > 0) break;
    bool Handled = false;
    OnAuthenticationNeeded(Handled);
    if (!Handled) throw Exception(kAuthenticationFailed);
    ++Asked;
  }

  const bool SetBusy = !FBusy;
  FBusy = true;
  bool LoggedIn = false;
  // Runs on every way out, after the session has been closed on a failure;
  // OnConnect reports the login even when STAT then failed.
  auto Finish = [&] {
    if (SetBusy) FBusy = false;
    if (LoggedIn && OnConnect) OnConnect(this);
  };

  try {
    TZedadedar::Connect();
    try {
      const std::string Greeting = ReadReply();
      if (!IsPositive(Greeting)) throw Exception(Greeting);

      int Attempts = 0;
      // One refusal, of USER or of PASS, may be retried from USER when the
      // handler says it has corrected the credentials; a second one fails.
      auto Accepted = [&](const std::string& Reply) {
        if (IsPositive(Reply)) return true;
        if (Attempts > 0 || !OnAuthenticationFailed) throw Exception(kAuthenticationFailed);
        bool Handled = false;
        OnAuthenticationFailed(Handled);
        if (!Handled) throw Exception(kAuthenticationFailed);
        ++Attempts;
        return false;
      };
      bool PassAccepted = false;
      while (!PassAccepted) {
        if (Accepted(Command("USER " + UserID))) PassAccepted = Accepted(Command("PASS " + Password));
        ++Attempts;
      }
      LoggedIn = true;

      const std::string Stat = Command("STAT");
      if (!IsPositive(Stat)) throw Exception(Stat);
      MailCount = StrToIntDef(TrimRight(NthWord(Stat, ' ', 2)), 0);
    } catch (...) {
      Disconnect();  // virtual: QUIT while still connected
      throw;
    }
  } catch (...) {
    Finish();
    throw;
  }
  Finish();
}

void TNMPOP3::Disconnect() {
  if (!Connected) return;
  std::string Reply;
  try {
    Reply = Command("QUIT");
  } catch (...) {
    CloseSocket();
    throw;
  }
  CloseSocket();
  if (!IsPositive(Reply)) throw Exception(Reply);
}

void TNMPOP3::Reset() {
  CertifyConnect();
  const std::string Reply = Command("RSET");
  if (!IsPositive(Reply)) throw Exception(Reply);
  if (OnReset) OnReset(this);
}

void TNMPOP3::Abort() {
  Cancel();
  if (Connected) {
    TZedadedar::Disconnect();
    ClearInput();
  }
}

void TNMPOP3::AbortResume(TComponent* /*Sender*/) {}

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

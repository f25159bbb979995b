// The POP3 session: the records, construction, login, QUIT, RSET, Abort, and
// the guarded reading of replies that every operation uses.
#include "pop3/NMpop3.h"

#include <cstdint>

#include "platform/Exceptions.h"
#include "platform/Strings.h"
#include "pop3/Pop3Replies.h"

namespace pelicore {

using pop3::IsPositive;
using pop3::kAuthenticationFailed;

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
  FReply.Start(RetrieveLimit);
}

TNMPOP3::~TNMPOP3() = default;

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

namespace {

// How long QUIT waits for its reply after a refused greeting, whatever
// TimeOut says (0 included): a server that refuses often closes or falls
// silent at once.
constexpr std::int32_t kQuitAfterRefusalTimeOut = 3000;

// Sets TimeOut for one wait and puts the old value back on every way out.
class BoundedTimeOut {
 public:
  BoundedTimeOut(std::int32_t& TimeOut, std::int32_t Bound) : FTimeOut(TimeOut), FSaved(TimeOut) {
    if (FTimeOut == 0 || FTimeOut > Bound) FTimeOut = Bound;
  }
  ~BoundedTimeOut() { FTimeOut = FSaved; }
  BoundedTimeOut(const BoundedTimeOut&) = delete;
  BoundedTimeOut& operator=(const BoundedTimeOut&) = delete;

 private:
  std::int32_t& FTimeOut;
  std::int32_t FSaved;
};

}  // namespace

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

  // The greeting was refused (or was no reply at all): the refusal is what
  // the user must read. QUIT is still sent, with a bounded wait; only a QUIT
  // that the server answers with a refusal of its own replaces the greeting.
  // A cancel by the user during that wait ends the call with its abort error.
  auto RefuseGreeting = [this](const std::string& Greeting) {
    std::string Reply;
    try {
      BoundedTimeOut Bounded(TimeOut, kQuitAfterRefusalTimeOut);
      Reply = Command("QUIT");
    } catch (const EAbortError&) {
      if (!TimedOut) {
        CloseSocket();
        throw;
      }
    } catch (...) {
      // Closed or broken before an answer: the greeting stands.
    }
    CloseSocket();
    if (!Reply.empty() && !IsPositive(Reply)) throw Exception(Reply);
    throw Exception(Greeting);
  };

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
      if (!IsPositive(Greeting)) RefuseGreeting(Greeting);

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

}  // namespace pelicore

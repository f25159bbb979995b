// One POP3 session of the demo server, on its connection's thread.

#include "tools/DemoPop3Server.h"

#include <cctype>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/Streams.h"

namespace pelicore::demo {
namespace {

struct Command {
  std::string Name;  // upper case
  std::vector<std::string> Args;
};

Command Parse(std::string Line) {
  while (!Line.empty() && (Line.back() == '\n' || Line.back() == '\r')) Line.pop_back();
  Command C;
  std::size_t At = 0;
  while (At < Line.size()) {
    while (At < Line.size() && Line[At] == ' ') ++At;
    const std::size_t End = Line.find(' ', At);
    const std::string Word = Line.substr(At, End == std::string::npos ? std::string::npos : End - At);
    if (!Word.empty()) {
      if (C.Name.empty()) {
        for (const char Ch : Word) C.Name += static_cast<char>(std::toupper(static_cast<unsigned char>(Ch)));
      } else {
        C.Args.push_back(Word);
      }
    }
    if (End == std::string::npos) break;
    At = End;
  }
  return C;
}

std::optional<long> Number(const std::string& Text) {
  if (Text.empty() || Text.size() > 9) return std::nullopt;
  for (const char Ch : Text)
    if (!std::isdigit(static_cast<unsigned char>(Ch))) return std::nullopt;
  return std::strtol(Text.c_str(), nullptr, 10);
}

// The message's lines with a dot doubled where a line starts with one, and
// the terminating line.
std::string Stuffed(const std::string& Text) {
  std::string Out;
  Out.reserve(Text.size() + 16);
  bool LineStart = true;
  for (const char Ch : Text) {
    if (LineStart && Ch == '.') Out += '.';
    Out += Ch;
    LineStart = Ch == '\n';
  }
  return Out + ".\r\n";
}

// The header, the empty line and the first Lines lines of the body.
std::string Top(const std::string& Text, long Lines) {
  std::size_t End = Text.find("\r\n\r\n");
  if (End == std::string::npos) return Text;
  End += 4;
  for (long I = 0; I < Lines && End < Text.size(); ++I) {
    const std::size_t Next = Text.find("\r\n", End);
    End = Next == std::string::npos ? Text.size() : Next + 2;
  }
  return Text.substr(0, End);
}

class Session {
 public:
  Session(TDemoPop3Server& Connection, std::shared_ptr<TDemoMailbox> Mailbox)
      : FConnection(Connection), FMailbox(std::move(Mailbox)) {}

  void Run() {
    Reply("+OK Pelicore demo mailbox ready");
    for (;;) {
      const std::string Line = FConnection.ReadLn();
      // The client has gone without QUIT: nothing is deleted.
      if (Line.empty()) return;
      const Command C = Parse(Line);
      if (C.Name == "QUIT") {
        Quit();
        return;
      }
      if (FMessages)
        Transaction(C);
      else
        Authorization(C);
    }
  }

 private:
  void Reply(const std::string& Line) { FConnection.Writeln(Line); }

  void Authorization(const Command& C) {
    if (C.Name == "USER" && C.Args.size() == 1) {
      FUser = C.Args[0];
      Reply("+OK send the password");
    } else if (C.Name == "PASS" && !FUser.empty()) {
      // The password is the rest of the line; the demo's has no blank.
      if (FUser == DemoUser && C.Args.size() == 1 && C.Args[0] == DemoPassword) {
        FMessages = FMailbox->Snapshot();
        FDeleted.assign(FMessages->size(), false);
        Reply("+OK " + Status());
      } else {
        FUser.clear();
        Reply("-ERR invalid user name or password");
      }
    } else if (C.Name == "PASS") {
      Reply("-ERR USER first");
    } else {
      Reply("-ERR not logged in");
    }
  }

  // 1-based message number of an argument, if it names a message not deleted.
  std::optional<std::size_t> Message(const std::string& Arg) {
    const auto N = Number(Arg);
    if (!N || *N < 1 || static_cast<std::size_t>(*N) > FMessages->size() || FDeleted[static_cast<std::size_t>(*N) - 1])
      return std::nullopt;
    return static_cast<std::size_t>(*N);
  }

  const TDemoMessage& At(std::size_t N) const { return *(*FMessages)[N - 1]; }

  std::string Status() const {
    std::size_t Count = 0;
    std::size_t Octets = 0;
    for (std::size_t I = 0; I < FMessages->size(); ++I) {
      if (FDeleted[I]) continue;
      ++Count;
      Octets += (*FMessages)[I]->Text.size();
    }
    return std::to_string(Count) + " " + std::to_string(Octets);
  }

  // A multi-line reply in one send.
  void SendMultiLine(const std::string& First, const std::string& Body) {
    TMemoryStream Stream;
    const std::string Head = First + "\r\n";
    Stream.WriteBuffer(Head.data(), static_cast<std::int64_t>(Head.size()));
    Stream.WriteBuffer(Body.data(), static_cast<std::int64_t>(Body.size()));
    FConnection.SendStream(Stream);
  }

  void Listing(const Command& C, bool Uids) {
    if (C.Args.size() == 1) {
      const auto N = Message(C.Args[0]);
      if (!N) return Reply("-ERR no such message");
      return Reply("+OK " + std::to_string(*N) + " " + (Uids ? At(*N).Uid : std::to_string(At(*N).Text.size())));
    }
    std::string Lines;
    for (std::size_t N = 1; N <= FMessages->size(); ++N) {
      if (FDeleted[N - 1]) continue;
      Lines += std::to_string(N) + " " + (Uids ? At(N).Uid : std::to_string(At(N).Text.size())) + "\r\n";
    }
    SendMultiLine(Uids ? "+OK unique-id listing follows" : "+OK scan listing follows", Lines + ".\r\n");
  }

  void Transaction(const Command& C) {
    if (C.Name == "STAT" && C.Args.empty()) {
      Reply("+OK " + Status());
    } else if ((C.Name == "LIST" || C.Name == "UIDL") && C.Args.size() <= 1) {
      Listing(C, C.Name == "UIDL");
    } else if (C.Name == "RETR" && C.Args.size() == 1) {
      const auto N = Message(C.Args[0]);
      if (!N) return Reply("-ERR no such message");
      SendMultiLine("+OK " + std::to_string(At(*N).Text.size()) + " octets", Stuffed(At(*N).Text));
    } else if (C.Name == "TOP" && C.Args.size() == 2) {
      const auto N = Message(C.Args[0]);
      const auto Lines = Number(C.Args[1]);
      if (!N || !Lines) return Reply("-ERR no such message");
      SendMultiLine("+OK top of message follows", Stuffed(Top(At(*N).Text, *Lines)));
    } else if (C.Name == "DELE" && C.Args.size() == 1) {
      const auto N = Message(C.Args[0]);
      if (!N) return Reply("-ERR no such message");
      FDeleted[*N - 1] = true;
      Reply("+OK message " + std::to_string(*N) + " deleted");
    } else if (C.Name == "RSET" && C.Args.empty()) {
      FDeleted.assign(FMessages->size(), false);
      Reply("+OK " + Status());
    } else if (C.Name == "NOOP" && C.Args.empty()) {
      Reply("+OK");
    } else {
      Reply("-ERR unknown command or wrong arguments");
    }
  }

  void Quit() {
    if (FMessages) {
      std::vector<std::string> Gone;
      for (std::size_t I = 0; I < FMessages->size(); ++I)
        if (FDeleted[I]) Gone.push_back((*FMessages)[I]->Uid);
      FMailbox->Remove(Gone);
    }
    Reply("+OK Pelicore demo mailbox signing off");
  }

  TDemoPop3Server& FConnection;
  std::shared_ptr<TDemoMailbox> FMailbox;
  std::string FUser;
  std::optional<TDemoMessages> FMessages;  // set once logged in
  std::vector<bool> FDeleted;
};

}  // namespace

void TDemoPop3Server::Serve() {
  std::shared_ptr<TDemoMailbox> Shared;
  {
    // ListeningServer is cleared under this lock when the server is freed.
    ServerLock().Enter();
    if (auto* Listener = dynamic_cast<TDemoPop3Server*>(ListeningServer)) Shared = Listener->Mailbox;
    ServerLock().Leave();
  }
  if (!Shared) return;
  TimeOut = IdleTimeOut;
  Session(*this, std::move(Shared)).Run();
}

}  // namespace pelicore::demo

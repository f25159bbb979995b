// Short POP3 sessions (greeting, USER, PASS, STAT, RETR 1, QUIT) against the
// demo server and, in the same run, against the test Dovecot holding the same
// sample messages: first one session after another, then a burst of clients
// at once. Plain blocking clients, so both servers see the same load.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/pop3/support/DovecotServer.h"

namespace {

using Clock = std::chrono::steady_clock;

class Connection {
 public:
  explicit Connection(int Port) {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<std::uint16_t>(Port));
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(FSocket, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) throw std::runtime_error("connect");
  }
  ~Connection() { ::close(FSocket); }
  void Send(const std::string& Line) {
    const std::string Out = Line + "\r\n";
    if (::send(FSocket, Out.data(), Out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(Out.size()))
      throw std::runtime_error("send");
  }
  // Reads until the text ends with End; returns it.
  std::string Until(const std::string& End) {
    for (;;) {
      const std::size_t At = FBuffer.find(End);
      if (At != std::string::npos) {
        std::string Got = FBuffer.substr(0, At + End.size());
        FBuffer.erase(0, At + End.size());
        return Got;
      }
      char Chunk[65536];
      const ssize_t N = ::recv(FSocket, Chunk, sizeof Chunk, 0);
      if (N <= 0) throw std::runtime_error("the server closed early");
      FBuffer.append(Chunk, static_cast<std::size_t>(N));
    }
  }
  std::string Reply() {
    std::string R = Until("\r\n");
    if (R.rfind("+OK", 0) != 0) throw std::runtime_error("refused: " + R);
    return R;
  }

 private:
  int FSocket;
  std::string FBuffer;
};

// One session; returns its length in seconds and the size of message 1.
double Session(int Port, std::size_t& Retrieved) {
  const auto Start = Clock::now();
  Connection C(Port);
  C.Reply();
  C.Send("USER demo");
  C.Reply();
  C.Send("PASS demo");
  C.Reply();
  C.Send("STAT");
  C.Reply();
  C.Send("RETR 1");
  C.Reply();
  Retrieved = C.Until("\r\n.\r\n").size();
  C.Send("QUIT");
  C.Reply();
  return std::chrono::duration<double>(Clock::now() - Start).count();
}

struct Figures {
  double PerSecond;
  double Slowest;
};

Figures OneAfterAnother(int Port, int Sessions) {
  double Slowest = 0;
  std::size_t Size = 0;
  const auto Start = Clock::now();
  for (int I = 0; I < Sessions; ++I) Slowest = std::max(Slowest, Session(Port, Size));
  const double Total = std::chrono::duration<double>(Clock::now() - Start).count();
  return {Sessions / Total, Slowest};
}

Figures Burst(int Port, int Clients) {
  std::vector<double> Times(static_cast<std::size_t>(Clients));
  std::vector<std::thread> Threads;
  Threads.reserve(static_cast<std::size_t>(Clients));
  const auto Start = Clock::now();
  for (int I = 0; I < Clients; ++I)
    Threads.emplace_back([&, I] {
      std::size_t Size = 0;
      Times[static_cast<std::size_t>(I)] = Session(Port, Size);
    });
  for (auto& T : Threads) T.join();
  const double Total = std::chrono::duration<double>(Clock::now() - Start).count();
  return {Clients / Total, *std::max_element(Times.begin(), Times.end())};
}

int StartDemo(const std::string& Folder, pid_t& Pid) {
  int Out[2];
  if (::pipe(Out) != 0) throw std::runtime_error("pipe");
  Pid = ::fork();
  if (Pid == 0) {
    ::dup2(Out[1], 1);
    ::execl(DEMO_SERVER, DEMO_SERVER, "--port", "0", "--folder", Folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(Out[1]);
  std::string Line;
  char Ch;
  while (::read(Out[0], &Ch, 1) == 1 && Ch != '\n') Line += Ch;
  ::close(Out[0]);
  const std::size_t At = Line.find("127.0.0.1:");
  if (At == std::string::npos) throw std::runtime_error("the demo server did not start: " + Line);
  return std::atoi(Line.c_str() + At + 10);
}

void Print(const char* What, const Figures& Ours, const Figures& Theirs) {
  std::printf("%-26s demo %7.0f sessions/s, slowest %6.1f ms | Dovecot %7.0f sessions/s, slowest %6.1f ms | %.2fx\n",
              What, Ours.PerSecond, Ours.Slowest * 1000, Theirs.PerSecond, Theirs.Slowest * 1000,
              Ours.PerSecond / Theirs.PerSecond);
}

}  // namespace

int main(int argc, char** argv) {
  const int Sessions = argc > 1 ? std::atoi(argv[1]) : 200;
  const int Clients = argc > 2 ? std::atoi(argv[2]) : 50;
  if (pelicore::testing::DovecotServer::BinaryPath().empty()) {
    std::printf("no dovecot installed\n");
    return 1;
  }
  std::vector<std::string> Messages;
  std::vector<std::filesystem::path> Files;
  for (const auto& E : std::filesystem::directory_iterator(DEMO_MAILBOX))
    if (E.path().extension() == ".eml") Files.push_back(E.path());
  std::sort(Files.begin(), Files.end());
  for (const auto& F : Files) {
    std::string Text;
    if (FILE* In = std::fopen(F.c_str(), "rb")) {
      char Chunk[4096];
      for (std::size_t N; (N = std::fread(Chunk, 1, sizeof Chunk, In)) > 0;) Text.append(Chunk, N);
      std::fclose(In);
    }
    Messages.push_back(Text);
  }
  pelicore::testing::DovecotServer Dovecot;
  Dovecot.AddUser("demo", "demo", Messages);
  Dovecot.Start();
  pid_t Demo = -1;
  const int DemoPort = StartDemo(DEMO_MAILBOX, Demo);

  // One warm-up session each, then the figures.
  std::size_t Size = 0;
  Session(DemoPort, Size);
  Session(Dovecot.Port(), Size);
  std::printf("%d sessions one after another, then %d clients at once (login, STAT, RETR 1, QUIT)\n", Sessions,
              Clients);
  Print("one after another", OneAfterAnother(DemoPort, Sessions), OneAfterAnother(Dovecot.Port(), Sessions));
  Print("burst", Burst(DemoPort, Clients), Burst(Dovecot.Port(), Clients));
  ::kill(Demo, SIGTERM);
  ::waitpid(Demo, nullptr, 0);
  return 0;
}

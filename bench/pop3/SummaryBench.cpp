// Summarising a mailbox of small messages, the window's "summary of every
// message" command: List, then GetSummary (TOP n 0 and LIST n) for each
// message. The same commands from Python's poplib over the same mailbox in
// the same run give the baseline; both pay the same round trips, so the ratio
// shows our own cost per reply line. A bare client (blocking POSIX socket,
// no event loop, no parsing) sending the same commands shows how fast the
// round trips alone allow anyone to go.
//
//   pop3_summary_bench [messages=2000] [rounds=3]

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "pop3/NMpop3.h"
#include "tests/pop3/support/DovecotServer.h"

using namespace pelicore;

namespace {

const char* const kPoplibScript = R"(import poplib, sys, time
port, user, password, count = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
p = poplib.POP3('127.0.0.1', port)
p.user(user)
p.pass_(password)
start = time.perf_counter()
p.list()
for n in range(1, count + 1):
    p.top(n, 0)
    p.list(n)
elapsed = time.perf_counter() - start
p.quit()
print(elapsed)
)";

std::vector<std::string> Corpus(int Count) {
  std::vector<std::string> Messages;
  for (int I = 1; I <= Count; ++I)
    Messages.push_back("Subject: Bench message " + std::to_string(I) + "\nFrom: Bench <bench@example.test>\n" +
                       "Message-ID: <" + std::to_string(I) + "@bench.example.test>\nTo: pelicore@example.test\n" +
                       "Date: Mon, 1 Jan 2024 00:00:00 +0000\n\nA small body.\nSecond line.\n");
  return Messages;
}

// Seconds for one pass of ours; checks that every message was summarised.
double OurPass(int Port, int Count) {
  ComponentPtr<TNMPOP3> Pop = MakeComponent<TNMPOP3>(nullptr);
  Pop->Host = "127.0.0.1";
  Pop->Port = Port;
  Pop->UserID = "bench";
  Pop->Password = "bench";
  Pop->Connect();
  if (Pop->MailCount != Count) throw std::runtime_error("unexpected message count");
  int Listed = 0;
  Pop->OnList = [&](std::int32_t, std::int32_t) { ++Listed; };

  const auto Start = std::chrono::steady_clock::now();
  Pop->List();
  for (int N = 1; N <= Count; ++N) {
    Pop->GetSummary(N);
    if (Pop->Summary->MessageId != "<" + std::to_string(N) + "@bench.example.test>")
      throw std::runtime_error("wrong summary for message " + std::to_string(N));
  }
  const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  Pop->Disconnect();
  if (Listed != Count) throw std::runtime_error("List reported " + std::to_string(Listed) + " messages");
  return Seconds;
}

// The bare client: the same commands, a blocking socket, lines found with
// memchr and nothing else. Seconds for one pass.
class BareClient {
 public:
  explicit BareClient(int Port) {
    FSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(static_cast<std::uint16_t>(Port));
    if (FSocket < 0 || connect(FSocket, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0)
      throw std::runtime_error("bare client: cannot connect");
  }
  ~BareClient() { close(FSocket); }
  BareClient(const BareClient&) = delete;
  BareClient& operator=(const BareClient&) = delete;

  void Send(const std::string& Command) {
    const std::string Line = Command + "\r\n";
    if (send(FSocket, Line.data(), Line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(Line.size()))
      throw std::runtime_error("bare client: send failed");
  }
  std::string Line() {
    for (;;) {
      const std::size_t End = FPending.find('\n');
      if (End != std::string::npos) {
        std::string L = FPending.substr(0, End + 1);
        FPending.erase(0, End + 1);
        return L;
      }
      char Chunk[65536];
      const ssize_t N = recv(FSocket, Chunk, sizeof Chunk, 0);
      if (N <= 0) throw std::runtime_error("bare client: connection closed");
      FPending.append(Chunk, static_cast<std::size_t>(N));
    }
  }
  void SkipToDot() {
    while (Line() != ".\r\n") {
    }
  }

 private:
  int FSocket;
  std::string FPending;
};

double BarePass(int Port, int Count) {
  BareClient C(Port);
  C.Line();
  C.Send("USER bench");
  C.Line();
  C.Send("PASS bench");
  C.Line();
  const auto Start = std::chrono::steady_clock::now();
  C.Send("LIST");
  C.Line();
  C.SkipToDot();
  for (int N = 1; N <= Count; ++N) {
    C.Send("TOP " + std::to_string(N) + " 0");
    C.Line();
    C.SkipToDot();
    C.Send("LIST " + std::to_string(N));
    C.Line();
  }
  const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  C.Send("QUIT");
  C.Line();
  return Seconds;
}

std::string Python() {
  for (const char* Dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    std::string P = std::string(Dir) + "python3";
    if (access(P.c_str(), X_OK) == 0) return P;
  }
  return std::string();
}

// Seconds for one poplib pass, or a negative value when it failed.
double PoplibPass(const std::string& Python, const std::string& Script, int Port, int Count) {
  const std::string Cmd =
      Python + " " + Script + " " + std::to_string(Port) + " bench bench " + std::to_string(Count);
  std::unique_ptr<FILE, int (*)(FILE*)> Out(popen(Cmd.c_str(), "r"), pclose);
  if (!Out) return -1;
  char Line[128] = {};
  if (!std::fgets(Line, sizeof Line, Out.get())) return -1;
  return std::atof(Line);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const int Count = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (testing::DovecotServer::BinaryPath().empty()) {
    std::printf("dovecot is not installed (package dovecot-pop3d); nothing to measure\n");
    return 0;
  }
  try {
    testing::DovecotServer Server;
    Server.AddUser("bench", "bench", Corpus(Count));
    Server.Start();

    const std::string Py = Python();
    const std::string Script = "/tmp/pelicore-poplib-bench-" + std::to_string(getpid()) + ".py";
    if (!Py.empty()) std::ofstream(Script) << kPoplibScript;
    // Removed also when a pass fails.
    const std::unique_ptr<const std::string, void (*)(const std::string*)> RemoveScript(
        &Script, [](const std::string* Name) { std::remove(Name->c_str()); });

    // Rounds alternate, so that both sides see the same server state; the
    // best round of each counts.
    double Ours = 1e9, Bare = 1e9, Theirs = 1e9;
    for (int R = 0; R < Rounds; ++R) {
      Ours = std::min(Ours, OurPass(Server.Port(), Count));
      Bare = std::min(Bare, BarePass(Server.Port(), Count));
      if (!Py.empty()) {
        const double P = PoplibPass(Py, Script, Server.Port(), Count);
        if (P <= 0) throw std::runtime_error("the poplib pass failed");
        Theirs = std::min(Theirs, P);
      }
    }

    std::printf("summaries of %d messages (List, then TOP n 0 and LIST n each), best of %d rounds\n", Count,
                Rounds);
    std::printf("  pelicore:    %8.0f messages/s  (%.3f s)\n", Count / Ours, Ours);
    std::printf("  bare client: %8.0f messages/s  (%.3f s)  round trips only\n", Count / Bare, Bare);
    if (Py.empty()) {
      std::printf("  poplib:      python3 not found, comparison skipped\n");
    } else {
      std::printf("  poplib:      %8.0f messages/s  (%.3f s)\n", Count / Theirs, Theirs);
      std::printf("  ratio:       %.2fx poplib (target 1.5x); poplib reaches %.0f%% of the bare client\n",
                  Theirs / Ours, 100.0 * Bare / Theirs);
    }
    std::printf("  pelicore reaches %.0f%% of the bare client; own cost %.1f us per round trip\n",
                100.0 * Bare / Ours, 1e6 * (Ours - Bare) / (2.0 * Count + 1));
  } catch (const std::exception& E) {
    std::fprintf(stderr, "benchmark failed: %s\n", E.what());
    return 1;
  }
  return 0;
}

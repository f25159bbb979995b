// Summarising a mailbox of small messages, the window's "summary of every
// message" command: List, then GetSummary (TOP n 0 and LIST n) for each
// message. The same commands from Python's poplib over the same mailbox in
// the same run give the baseline; both pay the same round trips, so the ratio
// shows our own cost per reply line. A bare client (blocking POSIX socket,
// no event loop, no parsing) sending the same commands shows how fast the
// round trips alone allow anyone to go.
//
//   pop3_summary_bench [messages=2000] [rounds=5]

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

#include "bench/support/Measure.h"
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
right = 0
start = time.perf_counter()
listed = len(p.list()[1])
for n in range(1, count + 1):
    top = p.top(n, 0)[1]
    size = p.list(n).split()
    if (b'Message-ID: <%d@bench.example.test>' % n) in top and size[1] == str(n).encode():
        right += 1
elapsed = time.perf_counter() - start
p.quit()
print(elapsed, right if listed == count else 0)
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
  // Reads a multi-line reply to its end; whether one of its lines is Wanted.
  bool ReadToDot(const std::string& Wanted = std::string()) {
    bool Found = false;
    for (std::string L; (L = Line()) != ".\r\n";) Found = Found || L == Wanted;
    return Found;
  }
  // Lines of a multi-line reply, read to its end.
  int CountToDot() {
    int Count = 0;
    while (Line() != ".\r\n") ++Count;
    return Count;
  }

 private:
  int FSocket;
  std::string FPending;
};

// Seconds for one pass; Right counts the summaries that came back right.
double BarePass(int Port, int Count, int& Right) {
  BareClient C(Port);
  C.Line();
  C.Send("USER bench");
  C.Line();
  C.Send("PASS bench");
  C.Line();
  const auto Start = std::chrono::steady_clock::now();
  Right = 0;
  C.Send("LIST");
  C.Line();
  const bool Listed = C.CountToDot() == Count;
  for (int N = 1; N <= Count; ++N) {
    const std::string Number = std::to_string(N);
    C.Send("TOP " + Number + " 0");
    const bool Status = C.Line().starts_with("+OK");
    const bool Top = C.ReadToDot("Message-ID: <" + Number + "@bench.example.test>\r\n") && Status;
    C.Send("LIST " + Number);
    if (Top && C.Line().starts_with("+OK " + Number + " ")) ++Right;
  }
  if (!Listed) Right = 0;
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

// Seconds for one poplib pass, or a negative value when it failed; Right
// counts the summaries that came back right.
double PoplibPass(const std::string& Python, const std::string& Script, int Port, int Count, int& Right) {
  const std::string Cmd =
      Python + " " + Script + " " + std::to_string(Port) + " bench bench " + std::to_string(Count);
  std::unique_ptr<FILE, int (*)(FILE*)> Out(popen(Cmd.c_str(), "r"), pclose);
  if (!Out) return -1;
  char Line[128] = {};
  if (!std::fgets(Line, sizeof Line, Out.get())) return -1;
  double Seconds = -1;
  if (std::sscanf(Line, "%lf %d", &Seconds, &Right) != 2) return -1;
  return Seconds;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const int Count = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 5;
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
    // median round of each counts, and the range of the rounds is shown.
    bench::Samples Ours, Bare, Theirs;
    bench::Checks Check;
    for (int R = 0; R < Rounds; ++R) {
      Ours.Add(OurPass(Server.Port(), Count));  // checks every summary itself
      int Right = 0;
      Bare.Add(BarePass(Server.Port(), Count, Right));
      Check.Expect(Right == Count, "bare client: " + std::to_string(Right) + " summaries right");
      if (!Py.empty()) {
        Right = 0;
        const double P = PoplibPass(Py, Script, Server.Port(), Count, Right);
        if (P <= 0) throw std::runtime_error("the poplib pass failed");
        Theirs.Add(P);
        Check.Expect(Right == Count, "poplib: " + std::to_string(Right) + " summaries right");
      }
    }

    const double N = Count;
    std::printf("summaries of %d messages (List, then TOP n 0 and LIST n each), %d rounds a side, taking turns\n",
                Count, Rounds);
    std::printf("messages/s as median (slowest-fastest); ratios as median (range over the rounds)\n");
    std::printf("  pelicore:    %-28s\n", bench::RateText(N, Ours, "messages/s").c_str());
    if (Py.empty()) {
      std::printf("  poplib:      python3 not found, comparison skipped\n");
    } else {
      std::printf("  poplib:      %-28s  pelicore at %s of it (target 1.5)\n",
                  bench::RateText(N, Theirs, "messages/s").c_str(), bench::RatioText(Theirs, Ours).c_str());
    }
    std::printf("  bare client: %-28s  round trips only; pelicore at %s of it", bench::RateText(N, Bare, "messages/s").c_str(),
                bench::RatioText(Bare, Ours).c_str());
    if (!Py.empty()) std::printf(", poplib at %s", bench::RatioText(Bare, Theirs).c_str());
    std::printf("\n  own cost over the bare client: %.1f us per round trip (medians)\n",
                1e6 * (Ours.Median() - Bare.Median()) / (2.0 * Count + 1));
    std::printf("%s\n", Check.Summary().c_str());
    if (!Check.AllPassed()) return 1;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "benchmark failed: %s\n", E.what());
    return 1;
  }
  return 0;
}

// Retrieving messages from a private Dovecot with GetMailMessage, against
// curl fetching the same messages in the same run, and a bare client (a
// blocking POSIX socket, lines found with memchr, nothing stored) as the
// floor that the round trips and the bytes allow anyone:
//
//   large   one message of <large> MiB, single part, Parse off; curl writes
//           it to a file. Also the peak resident memory of our retrieval.
//   small   <small> small messages, one RETR each over one connection; curl
//           fetches all of them over one connection into files.
//   attach  a multipart message with an <attach> MiB Base64 attachment,
//           retrieved and extracted; curl's RETR to a file plus base64 -d of
//           the same part (prepared beforehand) is the baseline.
//
//   pop3_retrieve_bench [large=100] [small=2000] [attach=20] [rounds=3]
//
// Each figure is the best of the rounds; rounds alternate between the sides.

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/NMUUE.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"
#include "pop3/NMpop3.h"
#include "tests/pop3/support/DovecotServer.h"

using namespace pelicore;

namespace {

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

double Seconds(const std::function<void()>& Work) {
  const auto Start = std::chrono::steady_clock::now();
  Work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

// Kilobytes of a /proc/self/status field (VmRSS, VmHWM).
long StatusKb(const char* Field) {
  std::ifstream In("/proc/self/status");
  std::string Line;
  const std::string Prefix = std::string(Field) + ":";
  while (std::getline(In, Line))
    if (Line.rfind(Prefix, 0) == 0) return std::atol(Line.c_str() + Prefix.size());
  return -1;
}

// Resets the peak resident size to the current one.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::string Base64Lines(std::size_t Bytes, unsigned Seed) {
  // Lines of 76 alphabet characters, as attachments arrive.
  std::string Text;
  Text.reserve(Bytes / 76 * 77 + 80);
  unsigned X = Seed;
  while (Text.size() < Bytes) {
    for (int I = 0; I < 76; ++I) {
      X = X * 1103515245u + 12345u;
      Text += MimeTable[(X >> 16) & 63];
    }
    Text += '\n';
  }
  return Text;
}

std::string Encoded(const std::string& Data) {
  auto Codec = MakeComponent<TNMUUProcessor>(nullptr);
  TMemoryStream In, Out;
  In.WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
  Codec->InputStream = &In;
  Codec->OutputStream = &Out;
  Codec->Encode();
  std::string Text;
  Text.reserve(static_cast<std::size_t>(Out.Size()));
  for (const char C : Out.DataString())
    if (C != '\r') Text += C;
  return Text;
}

class BareClient {
 public:
  BareClient(int Port, const std::string& User) {
    FSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(static_cast<std::uint16_t>(Port));
    if (FSocket < 0 || connect(FSocket, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0)
      throw std::runtime_error("bare client: cannot connect");
    Line();
    Send("USER " + User);
    Line();
    Send("PASS " + User);
    Line();
  }
  ~BareClient() {
    Send("QUIT");
    close(FSocket);
  }
  BareClient(const BareClient&) = delete;
  BareClient& operator=(const BareClient&) = delete;

  void Send(const std::string& Command) {
    const std::string L = Command + "\r\n";
    if (send(FSocket, L.data(), L.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(L.size()))
      throw std::runtime_error("bare client: send failed");
  }
  // The next line as a view into the buffer, valid until the next call.
  std::string_view Line() {
    for (;;) {
      if (const void* End = std::memchr(FBuffer.data() + FStart, '\n', FBuffer.size() - FStart)) {
        const auto Length = static_cast<std::size_t>(static_cast<const char*>(End) - (FBuffer.data() + FStart)) + 1;
        const std::string_view L(FBuffer.data() + FStart, Length);
        FStart += Length;
        return L;
      }
      FBuffer.erase(0, FStart);
      FStart = 0;
      char Chunk[262144];
      const ssize_t N = recv(FSocket, Chunk, sizeof Chunk, 0);
      if (N <= 0) throw std::runtime_error("bare client: connection closed");
      FBuffer.append(Chunk, static_cast<std::size_t>(N));
    }
  }
  // RETR n, every line read up to the end; the bytes of the reply.
  std::size_t Retrieve(int N) {
    Send("RETR " + std::to_string(N));
    std::size_t Bytes = Line().size();
    for (;;) {
      const std::string_view L = Line();
      Bytes += L.size();
      if (L == ".\r\n") return Bytes;
    }
  }

 private:
  int FSocket;
  std::string FBuffer;
  std::size_t FStart = 0;
};

ComponentPtr<TNMPOP3> Connected(int Port, const std::string& User) {
  ComponentPtr<TNMPOP3> Pop = MakeComponent<TNMPOP3>(nullptr);
  Pop->Host = "127.0.0.1";
  Pop->Port = Port;
  Pop->UserID = User;
  Pop->Password = User;
  Pop->Connect();
  return Pop;
}

void Run(const std::string& Command) {
  if (std::system(Command.c_str()) != 0) throw std::runtime_error("failed: " + Command);
}

std::string CurlUrl(int Port, const std::string& User, const std::string& Path) {
  return "curl -s -S -u " + User + ":" + User + " pop3://127.0.0.1:" + std::to_string(Port) + "/" + Path;
}

void Report(const char* What, double Ours, double Curl, double Bare, double Target) {
  std::printf("  %-8s pelicore %7.3f s   curl %7.3f s   bare %7.3f s   %.2fx curl (target %.2fx)   %.0f%% of bare\n",
              What, Ours, Curl, Bare, Curl / Ours, Target, 100.0 * Bare / Ours);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const std::size_t LargeMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  const int Small = argc > 2 ? std::atoi(argv[2]) : 2000;
  const std::size_t AttachMiB = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 20;
  const int Rounds = argc > 4 ? std::atoi(argv[4]) : 3;
  if (testing::DovecotServer::BinaryPath().empty()) {
    std::printf("dovecot is not installed (package dovecot-pop3d); nothing to measure\n");
    return 0;
  }
  namespace fs = std::filesystem;
  std::string Template = (fs::temp_directory_path() / "pelicore-retrieve-bench.XXXXXX").string();
  if (!mkdtemp(Template.data())) return 1;
  const fs::path Work = Template;
  try {
    testing::DovecotServer Server;
    std::size_t LargeWire = 0, AttachBytes = 0;
    {
      std::string Large = "Subject: large\nContent-Type: application/octet-stream\n\n" + Base64Lines(LargeMiB * kMiB, 1);
      LargeWire = testing::WireSize(Large);
      Server.AddUser("large", "large", {Large});
    }
    std::vector<std::string> Smalls;
    for (int I = 1; I <= Small; ++I)
      Smalls.push_back("Subject: small " + std::to_string(I) + "\nFrom: b@example.test\nMessage-ID: <" +
                       std::to_string(I) + "@bench>\n\nA small body.\nSecond line.\n");
    Server.AddUser("small", "small", Smalls);
    {
      std::string Payload(AttachMiB * kMiB, '\0');
      unsigned X = 7;
      for (char& C : Payload) C = static_cast<char>((X = X * 1103515245u + 12345u) >> 16);
      AttachBytes = Payload.size();
      const std::string Part = Encoded(Payload);
      std::ofstream(Work / "part.b64", std::ios::binary) << Part;
      Server.AddUser("attach", "attach",
                     {"Subject: attach\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\n"
                      "See the file.\n--b\nContent-Type: application/octet-stream; name=\"payload.bin\"\n"
                      "Content-Transfer-Encoding: base64\n\n" + Part + "--b--\n"});
    }
    Server.Start();
    const int Port = Server.Port();

    double LargeOurs = 1e9, LargeCurl = 1e9, LargeBare = 1e9;
    double SmallOurs = 1e9, SmallCurl = 1e9, SmallBare = 1e9;
    double AttachOurs = 1e9, AttachBase = 1e9, AttachBare = 1e9;
    long PeakKb = 0;
    for (int R = 0; R < Rounds; ++R) {
      {
        auto Pop = Connected(Port, "large");
        ResetPeak();
        const long Before = StatusKb("VmRSS");
        LargeOurs = std::min(LargeOurs, Seconds([&] { Pop->GetMailMessage(1); }));
        PeakKb = std::max(PeakKb, StatusKb("VmHWM") - Before);
        if (Pop->MailMessage->RawBody.Count() < static_cast<int>(LargeMiB * kMiB / 77)) throw std::runtime_error("short");
        Pop->Disconnect();
      }
      LargeCurl = std::min(LargeCurl, Seconds([&] { Run(CurlUrl(Port, "large", "1") + " -o " + (Work / "large.eml").string()); }));
      if (fs::file_size(Work / "large.eml") + 5 < LargeWire) throw std::runtime_error("curl: short message");
      LargeBare = std::min(LargeBare, Seconds([&] {
                             BareClient C(Port, "large");
                             C.Retrieve(1);
                           }));

      {
        auto Pop = Connected(Port, "small");
        SmallOurs = std::min(SmallOurs, Seconds([&] {
                               for (int N = 1; N <= Small; ++N) Pop->GetMailMessage(N);
                             }));
        Pop->Disconnect();
      }
      fs::create_directory(Work / "small");
      SmallCurl = std::min(SmallCurl, Seconds([&] {
                             Run(CurlUrl(Port, "small", "[1-" + std::to_string(Small) + "]") + " -o " +
                                 (Work / "small" / "#1").string());
                           }));
      fs::remove_all(Work / "small");
      SmallBare = std::min(SmallBare, Seconds([&] {
                             BareClient C(Port, "small");
                             for (int N = 1; N <= Small; ++N) C.Retrieve(N);
                           }));

      {
        auto Pop = Connected(Port, "attach");
        fs::create_directory(Work / "attach");
        Pop->SetAttachFilePath((Work / "attach").string());
        AttachOurs = std::min(AttachOurs, Seconds([&] { Pop->GetMailMessage(1); }));
        if (fs::file_size(Work / "attach" / "payload.bin") != AttachBytes) throw std::runtime_error("bad extraction");
        fs::remove_all(Work / "attach");
        Pop->Disconnect();
      }
      AttachBase = std::min(AttachBase, Seconds([&] {
                              Run(CurlUrl(Port, "attach", "1") + " -o " + (Work / "attach.eml").string());
                              Run("base64 -d " + (Work / "part.b64").string() + " > " + (Work / "payload.bin").string());
                            }));
      AttachBare = std::min(AttachBare, Seconds([&] {
                              BareClient C(Port, "attach");
                              C.Retrieve(1);
                            }));
    }
    std::printf("retrieval from Dovecot, best of %d rounds\n", Rounds);
    Report("large", LargeOurs, LargeCurl, LargeBare, 0.9);
    std::printf("           one message of %.1f MB on the wire: %.0f MB/s; peak resident memory of the retrieval %.0f MiB = %.2fx the message\n",
                static_cast<double>(LargeWire) / 1e6, static_cast<double>(LargeWire) / 1e6 / LargeOurs,
                static_cast<double>(PeakKb) / 1024.0, static_cast<double>(PeakKb) * 1024.0 / static_cast<double>(LargeWire));
    Report("small", SmallOurs, SmallCurl, SmallBare, 1.2);
    std::printf("           %d messages: %.0f messages/s\n", Small, Small / SmallOurs);
    std::printf("  %-8s pelicore %7.3f s   curl + base64 -d %7.3f s   bare RETR %7.3f s   %.2fx (target 0.70x)\n",
                "attach", AttachOurs, AttachBase, AttachBare, AttachBase / AttachOurs);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "benchmark failed: %s\n", E.what());
    fs::remove_all(Work);
    return 1;
  }
  fs::remove_all(Work);
  return 0;
}

// The window's mailbox commands against a private Dovecot, on Qt's offscreen
// platform:
//
// 1. Liveness: while Get summary runs over 100 messages and while Download
//    fetches one large message, a timer on the window's thread ticks every
//    millisecond; the longest gap between two ticks is how long the window
//    could not repaint or take input.
// 2. Download speed: from the command to the closed file, against curl
//    writing the same message to a file in the same run (its bytes checked
//    against ours), and against the component's retrieval plus the same file
//    write without the window (so the progress bar's cost shows).
// 3. Peak resident memory of the process after the downloads, against the
//    message's size.
//
//   app_window_bench [megabytes=100] [rounds=3]
//
// Medians and ranges over the rounds; every file is compared with the
// message, curl's included.

#include <QApplication>
#include <QAction>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/MessageBoxes.h"
#include "app/MessageFile.h"
#include "app/PelicoreMainFm.h"
#include "platform/Application.h"
#include "pop3/NMpop3.h"
#include "tests/pop3/support/DovecotServer.h"

using namespace pelicore;
using Clock = std::chrono::steady_clock;

namespace {

class QuietBoxes : public TMessageBoxes {
 public:
  void ShowMessage(const std::string& Text) override { Failures.push_back(Text); }
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  void ShowError(const std::string& Text) override { Failures.push_back(Text); }
  std::vector<std::string> Failures;
};

std::string BigMessage(std::size_t Megabytes) {
  std::string Text = "Subject: Big message\nFrom: bench@example.test\n\n";
  const std::string Line = std::string(74, 'm') + "\n";
  while (Text.size() < Megabytes << 20) Text += Line;
  return Text;
}

std::vector<std::string> SmallMessages(int Count) {
  std::vector<std::string> Messages;
  for (int I = 1; I <= Count; ++I)
    Messages.push_back("Subject: Message " + std::to_string(I) + "\nFrom: bench@example.test\nMessage-ID: <" +
                       std::to_string(I) + "@bench.example.test>\n\nA small body.\n");
  return Messages;
}

std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary | std::ios::ate);
  if (!In) return {};
  std::string Data(static_cast<std::size_t>(In.tellg()), '\0');
  In.seekg(0);
  In.read(Data.data(), static_cast<std::streamsize>(Data.size()));
  return Data;
}

// Ticks every millisecond while it lives and remembers the longest gap.
class GapWatch {
 public:
  GapWatch() {
    FTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const auto Now = Clock::now();
      FLongest = std::max(FLongest, Now - FLast);
      FLast = Now;
    });
    FLast = Clock::now();
    FTimer.start(1);
  }
  double LongestMs() {
    FLongest = std::max(FLongest, Clock::now() - FLast);
    return std::chrono::duration<double, std::milli>(FLongest).count();
  }

 private:
  QTimer FTimer;
  Clock::time_point FLast;
  Clock::duration FLongest{};
};

struct Window {
  Window(const std::string& Folder, int Port, const std::string& User) {
    Application().SetProgramFolder(Folder);
    Form = std::make_unique<TPelicoreMainForm>(Boxes);
    Form->show();
    Application().ProcessMessages();
    Form->HostEdit->setText("127.0.0.1");
    Form->PortEdit->setText(QString::number(Port));
    Form->UserIDEdit->setText(QString::fromStdString(User));
    Form->PasswordEdit->setText("bench");
    Form->ConnectAction->trigger();
    if (!Boxes.Failures.empty()) throw std::runtime_error("connect: " + Boxes.Failures[0]);
  }
  ~Window() {
    Form->DisconnectAction->trigger();
    Form.reset();
  }
  void Check(const char* What) const {
    if (!Boxes.Failures.empty()) throw std::runtime_error(std::string(What) + ": " + Boxes.Failures[0]);
  }
  QuietBoxes Boxes;
  std::unique_ptr<TPelicoreMainForm> Form;
};

double Seconds(Clock::time_point Start) { return std::chrono::duration<double>(Clock::now() - Start).count(); }

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  return V[V.size() / 2];
}

void PrintRow(const char* What, const std::vector<double>& V, const char* Unit) {
  std::printf("%-44s median %8.3f %s  (range %.3f .. %.3f)\n", What, Median(V), Unit,
              *std::min_element(V.begin(), V.end()), *std::max_element(V.begin(), V.end()));
}

// A figure of /proc/self/status in KiB ("VmRSS", "VmHWM").
long StatusKiB(const char* Key) {
  std::ifstream In("/proc/self/status");
  std::string Line;
  while (std::getline(In, Line))
    if (Line.starts_with(Key)) return std::strtol(Line.c_str() + std::strlen(Key) + 1, nullptr, 10);
  return -1;
}

// Starts the peak resident set size afresh from the current one.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication App(argc, argv);
  const std::size_t Megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (testing::DovecotServer::BinaryPath().empty()) {
    std::fprintf(stderr, "dovecot is not installed\n");
    return 1;
  }
  try {
    std::string Big = BigMessage(Megabytes);
    const std::size_t WireSize = testing::WireSize(Big);
    testing::DovecotServer Server;
    Server.AddUser("summary", "bench", SmallMessages(100));
    Server.AddUser("big", "bench", {Big});
    Server.Start();
    const std::string Root = std::filesystem::temp_directory_path() / ("pelicore-window-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Root);
    const std::string Folder = Root + "/";
    const std::string Saved = Folder + " Big message.eml";
    std::printf("message: %zu bytes on the wire; %d rounds\n", WireSize, Rounds);

    std::vector<double> SummaryGaps, SummarySeconds;
    for (int R = 0; R < Rounds; ++R) {
      Window W(Folder, Server.Port(), "summary");
      GapWatch Watch;
      const auto Start = Clock::now();
      W.Form->GetSummaryAction->trigger();
      SummarySeconds.push_back(Seconds(Start));
      SummaryGaps.push_back(Watch.LongestMs());
      W.Check("summary");
      if (W.Form->MailListView->topLevelItem(99)->text(4) != "<100@bench.example.test>")
        throw std::runtime_error("summary of message 100 missing");
    }

    std::vector<double> Ours, DownloadGaps, Bare, Curl, RetrievalGaps, WriteSeconds;
    std::vector<double> PeakGrowth;  // MiB above what the process held before the download
    std::string Expected;
    Expected.reserve(WireSize);
    for (char C : Big) {
      if (C == '\n') Expected += '\r';
      Expected += C;
    }
    std::string().swap(Big);  // the server has it on disk
    for (int R = 0; R < Rounds; ++R) {
      {
        ResetPeak();
        const long Before = StatusKiB("VmRSS");
        Window W(Folder, Server.Port(), "big");
        W.Form->MailListView->setCurrentItem(W.Form->MailListView->topLevelItem(0));
        GapWatch Watch;
        const auto Start = Clock::now();
        W.Form->DownloadMailAction->trigger();
        Ours.push_back(Seconds(Start));
        DownloadGaps.push_back(Watch.LongestMs());
        PeakGrowth.push_back(static_cast<double>(StatusKiB("VmHWM") - Before) / 1024.0);
        W.Check("download");
      }
      const std::string Got = ReadAll(Saved);
      if (Got != Expected) throw std::runtime_error("the window's file differs from the message");
      std::filesystem::remove(Saved);

      {
        auto Pop = MakeComponent<TNMPOP3>(nullptr);
        Pop->Host = "127.0.0.1";
        Pop->Port = Server.Port();
        Pop->UserID = "big";
        Pop->Password = "bench";
        Pop->Connect();
        const auto Start = Clock::now();
        {
          GapWatch Watch;
          Pop->GetMailMessage(1);
          RetrievalGaps.push_back(Watch.LongestMs());
        }
        const auto Written = Clock::now();
        const std::string Path = WriteMessageFile(Folder, MessageFileName(Pop->MailMessage->Subject),
                                                  Pop->MailMessage->Head, Pop->MailMessage->RawBody);
        Bare.push_back(Seconds(Start));
        WriteSeconds.push_back(Seconds(Written));
        Pop->Disconnect();
        if (ReadAll(Path) != Expected) throw std::runtime_error("the bare retrieval's file differs");
        std::filesystem::remove(Path);
      }

      const std::string CurlOut = Folder + "curl.eml";
      const std::string Command = "curl -s -o '" + CurlOut + "' -u big:bench pop3://127.0.0.1:" +
                                  std::to_string(Server.Port()) + "/1";
      const auto Start = Clock::now();
      if (std::system(Command.c_str()) != 0) throw std::runtime_error("curl failed");
      Curl.push_back(Seconds(Start));
      if (ReadAll(CurlOut) != Expected) throw std::runtime_error("curl's file differs from the message");
      std::filesystem::remove(CurlOut);
    }
    std::filesystem::remove_all(Root);

    PrintRow("Get summary of 100: longest gap", SummaryGaps, "ms");
    PrintRow("Get summary of 100: duration", SummarySeconds, "s");
    PrintRow("Download: longest gap", DownloadGaps, "ms");
    PrintRow("Download through the window", Ours, "s");
    PrintRow("retrieval + file, no window", Bare, "s");
    PrintRow("curl to a file", Curl, "s");
    PrintRow("no window: longest gap in the retrieval", RetrievalGaps, "ms");
    PrintRow("no window: writing and syncing the file", WriteSeconds, "s");
    const double Mb = static_cast<double>(WireSize) / 1e6;
    std::printf("throughput: window %.0f MB/s, no window %.0f MB/s, curl %.0f MB/s\n", Mb / Median(Ours),
                Mb / Median(Bare), Mb / Median(Curl));
    std::printf("ratio window/curl (speed): %.2f x; window against no window: %+.1f %% time\n",
                Median(Curl) / Median(Ours), (Median(Ours) / Median(Bare) - 1) * 100);
    // Later rounds reuse memory the first one freed; the first tells the cost.
    std::printf("Download, first round: peak memory %.0f MiB above the start = %.2f x the message\n",
                PeakGrowth[0], PeakGrowth[0] * 1048576.0 / static_cast<double>(WireSize));
  } catch (const std::exception& E) {
    std::fprintf(stderr, "bench failed: %s\n", E.what());
    return 1;
  }
  return 0;
}

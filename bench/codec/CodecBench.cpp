// Throughput of the Base64 and UU processor between files, against the
// command-line tools in the same run over the same files.
//
//   codec_bench [megabytes] [rounds]     (defaults: 75 and 3)
//
// The payload is random bytes; the Base64 text is in 76-character CR LF
// lines, the UU text in the processor's own 45-byte lines. Each figure is the
// best of the rounds, in MB/s of payload (10^6 bytes a second). All files
// live in a fresh folder under $TMPDIR (or /tmp) and are removed at the end.

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codec/NMUUE.h"
#include "platform/Streams.h"

using namespace pelicore;

namespace {

std::string Dir;
std::string PathOf(const char* Name) { return Dir + "/" + Name; }

// The Base64 text written independently of the processor: 57 bytes per line.
void WriteBase64Lines(const std::vector<unsigned char>& Data, const std::string& Path) {
  static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::ofstream File(Path, std::ios::binary);
  std::string Out;
  for (std::size_t Start = 0; Start < Data.size(); Start += 57) {
    const std::size_t End = std::min(Data.size(), Start + 57);
    for (std::size_t I = Start; I < End; I += 3) {
      const unsigned X = Data[I];
      const unsigned Y = I + 1 < End ? Data[I + 1] : 0;
      const unsigned Z = I + 2 < End ? Data[I + 2] : 0;
      Out += Alphabet[X >> 2];
      Out += Alphabet[((X << 4) | (Y >> 4)) & 63];
      Out += I + 1 < End ? Alphabet[((Y << 2) | (Z >> 6)) & 63] : '=';
      Out += I + 2 < End ? Alphabet[Z & 63] : '=';
    }
    Out += "\r\n";
    if (Out.size() > (1 << 20) || End == Data.size()) {
      File.write(Out.data(), static_cast<std::streamsize>(Out.size()));
      Out.clear();
    }
  }
}

bool SameFiles(const std::string& A, const std::string& B) {
  if (!std::filesystem::exists(B) || std::filesystem::file_size(A) != std::filesystem::file_size(B)) return false;
  std::ifstream FA(A, std::ios::binary), FB(B, std::ios::binary);
  std::vector<char> BA(1 << 20), BB(1 << 20);
  while (FA && FB) {
    FA.read(BA.data(), static_cast<std::streamsize>(BA.size()));
    FB.read(BB.data(), static_cast<std::streamsize>(BB.size()));
    if (FA.gcount() != FB.gcount() || std::memcmp(BA.data(), BB.data(), static_cast<std::size_t>(FA.gcount())) != 0)
      return false;
  }
  return true;
}

double BestSeconds(int Rounds, const std::function<void()>& Work) {
  double Best = 1e300;
  for (int R = 0; R < Rounds; ++R) {
    const auto T0 = std::chrono::steady_clock::now();
    Work();
    const std::chrono::duration<double> Took = std::chrono::steady_clock::now() - T0;
    Best = std::min(Best, Took.count());
  }
  return Best;
}

void Convert(bool Encode, UUMethods Method, const std::string& From, const std::string& To) {
  auto Processor = MakeComponent<TNMUUProcessor>(nullptr);
  TFileStream Source(From, fmOpenRead);
  TFileStream Target(To, fmCreate);
  Processor->InputStream = &Source;
  Processor->OutputStream = &Target;
  Processor->Method = Method;
  if (Encode)
    Processor->Encode();
  else
    Processor->Decode();
}

bool HaveTool(const char* Name) {
  return std::system((std::string("command -v ") + Name + " >/dev/null 2>&1").c_str()) == 0;
}

void RunTool(const std::string& Command) {
  if (std::system(Command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", Command.c_str());
}

struct Row {
  const char* Name;
  double Ours;      // seconds
  double Baseline;  // seconds, 0 when the tool is missing
  const char* Tool;
  bool Correct;
};

}  // namespace

int main(int argc, char** argv) {
  const long Megabytes = argc > 1 ? std::atol(argv[1]) : 75;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const char* Tmp = std::getenv("TMPDIR");
  std::string Template = std::string(Tmp != nullptr && *Tmp != '\0' ? Tmp : "/tmp") + "/pelicore-codec-bench-XXXXXX";
  if (mkdtemp(Template.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  Dir = Template;

  const auto Bytes = static_cast<std::size_t>(Megabytes) * 1000 * 1000;
  std::vector<unsigned char> Payload(Bytes);
  std::mt19937_64 Random(42);
  for (std::size_t I = 0; I + 8 <= Bytes; I += 8) {
    const std::uint64_t V = Random();
    std::memcpy(&Payload[I], &V, 8);
  }
  std::ofstream(PathOf("payload"), std::ios::binary)
      .write(reinterpret_cast<const char*>(Payload.data()), static_cast<std::streamsize>(Bytes));
  WriteBase64Lines(Payload, PathOf("payload.b64"));
  Payload = {};
  Convert(true, uuCode, PathOf("payload"), PathOf("payload.uu"));
  {  // the same data lines between the lines that uudecode looks for
    std::ofstream Wrapped(PathOf("wrapped.uu"), std::ios::binary);
    Wrapped << "begin 644 " << PathOf("tool.out") << "\r\n";
    std::ifstream Lines(PathOf("payload.uu"), std::ios::binary);
    Wrapped << Lines.rdbuf();
    Wrapped << "end\r\n";
  }
  const bool HaveBase64 = HaveTool("base64");
  const bool HaveUu = HaveTool("uudecode") && HaveTool("uuencode");
  const std::string Payload1 = PathOf("payload"), Out = PathOf("ours.out"), ToolOut = PathOf("tool.out");

  std::vector<Row> Rows;
  {
    Row R{"decode Base64", 0, 0, "base64 -d -i", false};
    R.Ours = BestSeconds(Rounds, [&] { Convert(false, uuMime, PathOf("payload.b64"), Out); });
    R.Correct = SameFiles(Payload1, Out);
    // -i: the tool refuses the CRs of the lines otherwise.
    if (HaveBase64)
      R.Baseline = BestSeconds(Rounds, [&] { RunTool("base64 -d -i '" + PathOf("payload.b64") + "' > '" + ToolOut + "'"); });
    Rows.push_back(R);
    if (HaveBase64) {
      // The tool at its fastest: the same lines without their CRs.
      RunTool("tr -d '\\r' < '" + PathOf("payload.b64") + "' > '" + PathOf("payload.lf.b64") + "'");
      R.Tool = "base64 -d, LF";
      R.Baseline = BestSeconds(Rounds, [&] { RunTool("base64 -d '" + PathOf("payload.lf.b64") + "' > '" + ToolOut + "'"); });
      Rows.push_back(R);
    }
  }
  {
    Row R{"decode UU", 0, 0, "uudecode", false};
    R.Ours = BestSeconds(Rounds, [&] { Convert(false, uuCode, PathOf("payload.uu"), Out); });
    R.Correct = SameFiles(Payload1, Out);
    if (HaveUu) R.Baseline = BestSeconds(Rounds, [&] { RunTool("uudecode '" + PathOf("wrapped.uu") + "'"); });
    Rows.push_back(R);
  }
  {
    Row R{"encode Base64", 0, 0, "base64 -w 76", false};
    R.Ours = BestSeconds(Rounds, [&] { Convert(true, uuMime, Payload1, Out); });
    Convert(false, uuMime, Out, ToolOut);
    R.Correct = SameFiles(Payload1, ToolOut);
    if (HaveBase64) R.Baseline = BestSeconds(Rounds, [&] { RunTool("base64 -w 76 '" + Payload1 + "' > '" + ToolOut + "'"); });
    Rows.push_back(R);
  }
  {
    Row R{"encode UU", 0, 0, "uuencode", false};
    R.Ours = BestSeconds(Rounds, [&] { Convert(true, uuCode, Payload1, Out); });
    Convert(false, uuCode, Out, ToolOut);
    R.Correct = SameFiles(Payload1, ToolOut);
    if (HaveUu) R.Baseline = BestSeconds(Rounds, [&] { RunTool("uuencode '" + Payload1 + "' x > '" + ToolOut + "'"); });
    Rows.push_back(R);
  }

  std::printf("payload %ld MB, best of %d rounds, MB/s of payload\n", Megabytes, Rounds);
  std::printf("%-14s %10s %10s  %-14s %7s  %s\n", "", "ours", "tool", "tool", "ratio", "check");
  bool AllCorrect = true;
  for (const Row& R : Rows) {
    const double Mb = static_cast<double>(Bytes) / 1e6;
    AllCorrect = AllCorrect && R.Correct;
    if (R.Baseline > 0)
      std::printf("%-14s %10.1f %10.1f  %-14s %7.2f  %s\n", R.Name, Mb / R.Ours, Mb / R.Baseline, R.Tool,
                  R.Baseline / R.Ours, R.Correct ? "ok" : "MISMATCH");
    else
      std::printf("%-14s %10.1f %10s  %-14s %7s  %s\n", R.Name, Mb / R.Ours, "-", "(not installed)", "-",
                  R.Correct ? "ok" : "MISMATCH");
  }
  std::printf("ratio = our speed / the tool's speed\n");
  std::filesystem::remove_all(Dir);
  return AllCorrect ? 0 : 1;
}

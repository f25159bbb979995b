// Throughput of the Base64 and UU processor between files, against the
// command-line tools in the same run over the same files.
//
//   codec_bench [megabytes] [rounds]     (defaults: 75 and 5)
//
// The payload is random bytes; the Base64 text is in 76-character lines (CR LF
// and LF copies, written without the processor), the UU text in the
// processor's own 45-byte lines. Both sides of a row read the same file, and
// every output of both sides is checked. Figures are the median round and the
// range of the rounds, in MB/s of payload (10^6 bytes a second). All files
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

#include "bench/support/Measure.h"
#include "codec/NMUUE.h"
#include "platform/Streams.h"

using namespace pelicore;

namespace {

std::string Dir;
std::string PathOf(const char* Name) { return Dir + "/" + Name; }

// The Base64 text written independently of the processor: 57 bytes per line,
// each line ended by LineEnd.
void WriteBase64Lines(const std::vector<unsigned char>& Data, const std::string& Path, const char* LineEnd) {
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
    Out += LineEnd;
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

bool Run(const std::string& Command) {
  const bool Ok = std::system(Command.c_str()) == 0;
  if (!Ok) std::fprintf(stderr, "failed: %s\n", Command.c_str());
  return Ok;
}

std::string Quoted(const std::string& Path) { return "'" + Path + "'"; }

// One comparison: our side and the tool's over the same input, rounds taking
// turns.
struct Row {
  std::string Name;
  std::string Tool;  // empty when the tool is missing
  bench::Samples Ours, Theirs;
};

template <class OursF, class ToolF>
Row Measure(std::string Name, std::string Tool, int Rounds, OursF&& Ours, ToolF&& Theirs) {
  Row R{std::move(Name), std::move(Tool), {}, {}};
  for (int I = 0; I < Rounds; ++I) {
    R.Ours.Add(bench::SecondsOf(Ours));
    if (!R.Tool.empty()) R.Theirs.Add(bench::SecondsOf(Theirs));
  }
  return R;
}

}  // namespace

int main(int argc, char** argv) {
  const long Megabytes = argc > 1 ? std::atol(argv[1]) : 75;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 5;
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
  WriteBase64Lines(Payload, PathOf("payload.b64"), "\r\n");
  WriteBase64Lines(Payload, PathOf("payload.lf.b64"), "\n");
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
  const std::string Checked = PathOf("checked.out");  // what a check decodes to
  bench::Checks Check;
  // uudecode writes to the name in the begin line; Checked is that name.
  auto UuDecodesToPayload = [&](const std::string& Lines, bool Wrap) {
    std::filesystem::remove(Checked);
    std::string Input = Lines;
    if (Wrap) {
      Input = PathOf("check.uu");
      std::ofstream Wrapped(Input, std::ios::binary);
      Wrapped << "begin 644 " << Checked << "\r\n" << std::ifstream(Lines, std::ios::binary).rdbuf() << "end\r\n";
    }
    return Run("uudecode " + Quoted(Input)) && SameFiles(Payload1, Checked);
  };

  std::vector<Row> Rows;
  // Both sides read the same file in every row. LF lines first: the tool at
  // its fastest, and the fair comparison.
  Rows.push_back(Measure(
      "Base64 decode, LF lines", HaveBase64 ? "base64 -d" : "", Rounds,
      [&] { Convert(false, uuMime, PathOf("payload.lf.b64"), Out); },
      [&] { Run("base64 -d " + Quoted(PathOf("payload.lf.b64")) + " > " + Quoted(ToolOut)); }));
  Check.Expect(SameFiles(Payload1, Out), "ours: Base64 of LF lines decodes to the payload");
  if (HaveBase64) Check.Expect(SameFiles(Payload1, ToolOut), "base64 -d: decodes to the payload");

  // CR LF lines, as mail carries them; the tool needs -i (its slower path) to
  // pass over the CRs.
  Rows.push_back(Measure(
      "Base64 decode, CR LF lines", HaveBase64 ? "base64 -d -i" : "", Rounds,
      [&] { Convert(false, uuMime, PathOf("payload.b64"), Out); },
      [&] { Run("base64 -d -i " + Quoted(PathOf("payload.b64")) + " > " + Quoted(ToolOut)); }));
  Check.Expect(SameFiles(Payload1, Out), "ours: Base64 of CR LF lines decodes to the payload");
  if (HaveBase64) Check.Expect(SameFiles(Payload1, ToolOut), "base64 -d -i: decodes to the payload");

  // The tool reads the same data lines with its begin and end lines around them.
  Rows.push_back(Measure(
      "UU decode", HaveUu ? "uudecode" : "", Rounds, [&] { Convert(false, uuCode, PathOf("payload.uu"), Out); },
      [&] { Run("uudecode " + Quoted(PathOf("wrapped.uu"))); }));
  Check.Expect(SameFiles(Payload1, Out), "ours: UU decodes to the payload");
  if (HaveUu) Check.Expect(SameFiles(Payload1, ToolOut), "uudecode: decodes to the payload");

  // Encoders are checked by the tool's decoder, not by ours, so that a fault
  // shared by our encoder and decoder cannot pass. The processor writes 60
  // characters a line (45 bytes); the tool is asked for the same.
  auto Base64DecodesToPayload = [&](const std::string& Text) {
    return Run("base64 -d -i " + Quoted(Text) + " > " + Quoted(Checked)) && SameFiles(Payload1, Checked);
  };
  Rows.push_back(Measure(
      "Base64 encode", HaveBase64 ? "base64 -w 60" : "", Rounds, [&] { Convert(true, uuMime, Payload1, Out); },
      [&] { Run("base64 -w 60 " + Quoted(Payload1) + " > " + Quoted(ToolOut)); }));
  if (HaveBase64) {
    Check.Expect(Base64DecodesToPayload(Out), "ours: Base64 text read by base64 -d -i gives the payload");
    Check.Expect(Base64DecodesToPayload(ToolOut), "base64 -w 60: its text read back gives the payload");
  } else {
    std::printf("base64 is missing: our Base64 encoder is not checked\n");
  }

  Rows.push_back(Measure(
      "UU encode", HaveUu ? "uuencode" : "", Rounds, [&] { Convert(true, uuCode, Payload1, Out); },
      [&] { Run("uuencode " + Quoted(Payload1) + " " + Quoted(Checked) + " > " + Quoted(ToolOut)); }));
  if (HaveUu) {
    Check.Expect(UuDecodesToPayload(Out, true), "ours: UU text read by uudecode gives the payload");
    Check.Expect(UuDecodesToPayload(ToolOut, false), "uuencode: its text read by uudecode gives the payload");
  } else {
    std::printf("uudecode is missing: our UU encoder is not checked\n");
  }

  const double Mb = static_cast<double>(Bytes) / 1e6;
  std::printf("payload %ld MB, %d rounds a side, taking turns; MB/s of payload as median (slowest-fastest)\n",
              Megabytes, Rounds);
  std::printf("%-27s %-18s %-18s %-13s %s\n", "", "ours", "tool", "tool", "ours/tool (range)");
  for (const Row& R : Rows)
    std::printf("%-27s %-18s %-18s %-13s %s\n", R.Name.c_str(), bench::RateText(Mb, R.Ours, "").c_str(),
                R.Tool.empty() ? "-" : bench::RateText(Mb, R.Theirs, "").c_str(),
                R.Tool.empty() ? "(not installed)" : R.Tool.c_str(), bench::RatioText(R.Theirs, R.Ours).c_str());
  std::printf("%s\n", Check.Summary().c_str());
  std::filesystem::remove_all(Dir);
  return Check.ExitCode();
}

#pragma once
// What every benchmark here reports: the median of its rounds and the range
// they spanned (never the best round alone), and whether every side's output
// was checked and right. Header only; standard library only.
//
//   bench::Samples Ours, Tool;
//   for (int R = 0; R < Rounds; ++R) {       // rounds alternate the sides
//     Ours.Add(bench::SecondsOf([&] { ... }));
//     Tool.Add(bench::SecondsOf([&] { ... }));
//   }
//   bench::Checks Check;
//   Check.Expect(OutputIsRight, "ours: decoded payload");
//   std::printf("%s\n", bench::RateText(Megabytes, Ours, "MB/s").c_str());   // "268 MB/s (250-281)"
//   std::printf("%s\n", bench::RatioText(Tool, Ours).c_str());                // "1.02 (0.97-1.08)"
//   return Check.ExitCode();

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace pelicore::bench {

// Durations of the rounds of one side, in seconds.
class Samples {
 public:
  void Add(double Seconds) { FValues.push_back(Seconds); }
  bool Empty() const { return FValues.empty(); }
  std::size_t Count() const { return FValues.size(); }
  const std::vector<double>& Values() const { return FValues; }

  double Median() const {
    if (FValues.empty()) return 0;
    std::vector<double> V = FValues;
    std::sort(V.begin(), V.end());
    const std::size_t H = V.size() / 2;
    return V.size() % 2 ? V[H] : (V[H - 1] + V[H]) / 2;
  }
  double Min() const { return FValues.empty() ? 0 : *std::min_element(FValues.begin(), FValues.end()); }
  double Max() const { return FValues.empty() ? 0 : *std::max_element(FValues.begin(), FValues.end()); }

 private:
  std::vector<double> FValues;
};

template <class F>
double SecondsOf(F&& Work) {
  const auto Start = std::chrono::steady_clock::now();
  std::forward<F>(Work)();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

// Amount per second at the median round, and the range from the slowest
// round to the fastest: "268 MB/s (250-281)".
inline std::string RateText(double Amount, const Samples& S, const char* Unit) {
  if (S.Empty()) return "-";
  char Text[128];
  std::snprintf(Text, sizeof Text, "%.0f%s%s (%.0f-%.0f)", Amount / S.Median(), *Unit ? " " : "", Unit,
                Amount / S.Max(), Amount / S.Min());
  return Text;
}

// How many times faster Ours is than Baseline: the ratio of the medians, and
// the range of the ratios of rounds run side by side (round i of each).
inline std::string RatioText(const Samples& Baseline, const Samples& Ours) {
  if (Baseline.Empty() || Ours.Empty()) return "-";
  std::vector<double> Ratios;
  for (std::size_t I = 0; I < std::min(Baseline.Count(), Ours.Count()); ++I)
    Ratios.push_back(Baseline.Values()[I] / Ours.Values()[I]);
  const auto [Low, High] = std::minmax_element(Ratios.begin(), Ratios.end());
  char Text[64];
  std::snprintf(Text, sizeof Text, "%.2f (%.2f-%.2f)", Baseline.Median() / Ours.Median(), *Low, *High);
  return Text;
}

// The checks of every side's output. A failed check is printed at once and
// makes the program fail, so no figure of a wrong result goes unnoticed.
class Checks {
 public:
  void Expect(bool Ok, const std::string& What) {
    ++FCount;
    if (Ok) return;
    ++FFailed;
    std::fprintf(stderr, "CHECK FAILED: %s\n", What.c_str());
  }
  bool AllPassed() const { return FFailed == 0; }
  // "all 8 outputs checked: ok" or "2 of 8 output checks FAILED".
  std::string Summary() const {
    return FFailed == 0 ? "all " + std::to_string(FCount) + " outputs checked: ok"
                        : std::to_string(FFailed) + " of " + std::to_string(FCount) + " output checks FAILED";
  }
  int ExitCode() const { return FFailed == 0 ? 0 : 1; }

 private:
  int FCount = 0;
  int FFailed = 0;
};

}  // namespace pelicore::bench

#include "platform/Strings.h"

#include <charconv>
#include <limits>

#include "platform/Exceptions.h"

namespace pelicore {

std::string Copy(std::string_view S, std::int64_t Index, std::int64_t Count) {
  if (Index < 1) Index = 1;
  const auto Len = static_cast<std::int64_t>(S.size());
  if (Count <= 0 || Index > Len) return std::string();
  if (Count > Len - Index + 1) Count = Len - Index + 1;
  return std::string(S.substr(static_cast<std::size_t>(Index - 1), static_cast<std::size_t>(Count)));
}

int Pos(std::string_view Sub, std::string_view S) {
  if (Sub.empty()) return 0;
  const auto P = S.find(Sub);
  return P == std::string_view::npos ? 0 : static_cast<int>(P) + 1;
}

namespace {
bool IsBlank(char C) { return static_cast<unsigned char>(C) <= ' '; }
char Lower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + ('a' - 'A')) : C; }
char Upper(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - ('a' - 'A')) : C; }
}  // namespace

std::string TrimLeft(std::string_view S) {
  std::size_t I = 0;
  while (I < S.size() && IsBlank(S[I])) ++I;
  return std::string(S.substr(I));
}

std::string TrimRight(std::string_view S) {
  std::size_t N = S.size();
  while (N > 0 && IsBlank(S[N - 1])) --N;
  return std::string(S.substr(0, N));
}

std::string Trim(std::string_view S) { return TrimRight(TrimLeft(S)); }

std::string UpperCase(std::string_view S) {
  std::string R(S);
  for (char& C : R) C = Upper(C);
  return R;
}

std::string LowerCase(std::string_view S) {
  std::string R(S);
  for (char& C : R) C = Lower(C);
  return R;
}

int CompareText(std::string_view A, std::string_view B) {
  const std::size_t N = A.size() < B.size() ? A.size() : B.size();
  for (std::size_t I = 0; I < N; ++I) {
    const auto X = static_cast<unsigned char>(Lower(A[I]));
    const auto Y = static_cast<unsigned char>(Lower(B[I]));
    if (X != Y) return X < Y ? -1 : 1;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

bool SameText(std::string_view A, std::string_view B) { return CompareText(A, B) == 0; }

std::string IntToStr(std::int64_t Value) {
  char Buf[24];
  auto [End, Ec] = std::to_chars(Buf, Buf + sizeof Buf, Value);
  (void)Ec;
  return std::string(Buf, End);
}

std::string NotAnIntegerText(std::string_view S) { return "'" + std::string(S) + "' は整数ではありません"; }

bool TryStrToInt(std::string_view S, std::int32_t& Value) {
  std::size_t I = 0;
  while (I < S.size() && S[I] == ' ') ++I;
  std::string_view Rest = S.substr(I);
  int Base = 10;
  bool Negative = false;
  if (!Rest.empty() && Rest[0] == '$') {
    Base = 16;
    Rest.remove_prefix(1);
  } else if (Rest.size() >= 2 && Rest[0] == '0' && (Rest[1] == 'x' || Rest[1] == 'X')) {
    Base = 16;
    Rest.remove_prefix(2);
  } else if (!Rest.empty() && (Rest[0] == 'x' || Rest[0] == 'X')) {
    Base = 16;
    Rest.remove_prefix(1);
  } else if (!Rest.empty() && (Rest[0] == '-' || Rest[0] == '+')) {
    Negative = Rest[0] == '-';
    Rest.remove_prefix(1);
  }
  if (Rest.empty()) return false;
  std::uint64_t Magnitude = 0;
  for (char C : Rest) {
    int Digit;
    if (C >= '0' && C <= '9')
      Digit = C - '0';
    else if (Base == 16 && C >= 'a' && C <= 'f')
      Digit = C - 'a' + 10;
    else if (Base == 16 && C >= 'A' && C <= 'F')
      Digit = C - 'A' + 10;
    else
      return false;
    Magnitude = Magnitude * static_cast<std::uint64_t>(Base) + static_cast<std::uint64_t>(Digit);
    if (Magnitude > 0x80000000ull) return false;
  }
  if (Negative) {
    Value = static_cast<std::int32_t>(-static_cast<std::int64_t>(Magnitude));
    return true;
  }
  if (Magnitude > 0x7FFFFFFFull) return false;
  Value = static_cast<std::int32_t>(Magnitude);
  return true;
}

std::int32_t StrToInt(std::string_view S) {
  std::int32_t V = 0;
  if (!TryStrToInt(S, V)) throw EConvertError(NotAnIntegerText(S));
  return V;
}

std::int32_t StrToIntDef(std::string_view S, std::int32_t Default) {
  std::int32_t V = 0;
  return TryStrToInt(S, V) ? V : Default;
}

}  // namespace pelicore

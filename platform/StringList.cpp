#include "platform/StringList.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/Exceptions.h"
#include "platform/Strings.h"

namespace pelicore {

void TStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) throw ERangeError("List index out of bounds (" + IntToStr(Index) + ")");
}

const std::string& TStringList::Strings(int Index) const {
  CheckIndex(Index);
  return FItems[static_cast<std::size_t>(Index)];
}

void TStringList::Put(int Index, std::string S) {
  CheckIndex(Index);
  FItems[static_cast<std::size_t>(Index)] = std::move(S);
}

int TStringList::Add(std::string S) {
  if (FSorted) {
    int Index = 0;
    Find(S, Index);
    FItems.insert(FItems.begin() + Index, std::move(S));
    return Index;
  }
  FItems.push_back(std::move(S));
  return Count() - 1;
}

void TStringList::Insert(int Index, std::string S) {
  if (Index < 0 || Index > Count()) throw ERangeError("List index out of bounds (" + IntToStr(Index) + ")");
  FItems.insert(FItems.begin() + Index, std::move(S));
}

void TStringList::Delete(int Index) {
  CheckIndex(Index);
  FItems.erase(FItems.begin() + Index);
}

void TStringList::Clear() { FItems.clear(); }

void TStringList::Assign(const TStringList& Source) {
  if (&Source == this) return;
  FItems = Source.FItems;
  if (FSorted) SetSorted(true);
}

void TStringList::AddStrings(const TStringList& Source) {
  const std::vector<std::string> Copied = Source.FItems;  // Source may be this list
  for (const std::string& S : Copied) Add(S);
}

int TStringList::IndexOf(std::string_view S) const {
  if (FSorted) {
    int Index = 0;
    return Find(S, Index) ? Index : -1;
  }
  for (int I = 0; I < Count(); ++I)
    if (SameText(FItems[static_cast<std::size_t>(I)], S)) return I;
  return -1;
}

std::string TStringList::Text() const {
  std::size_t Total = 0;
  for (const std::string& S : FItems) Total += S.size() + 2;
  std::string R;
  R.reserve(Total);
  for (const std::string& S : FItems) {
    R += S;
    R += "\r\n";
  }
  return R;
}

void TStringList::SetText(std::string_view Text) {
  Clear();
  std::size_t Start = 0;
  while (Start < Text.size()) {
    std::size_t End = Text.find_first_of("\r\n", Start);
    if (End == std::string_view::npos) End = Text.size();
    Add(std::string(Text.substr(Start, End - Start)));
    if (End < Text.size() && Text[End] == '\r') ++End;  // CR, or the CR of CR LF
    if (End < Text.size() && Text[End] == '\n') ++End;  // LF, or the LF of CR LF
    Start = End;
  }
}

namespace {
struct FileCloser {
  void operator()(std::FILE* F) const { std::fclose(F); }
};
}  // namespace

void TStringList::LoadFromFile(const std::string& FileName) {
  std::unique_ptr<std::FILE, FileCloser> F(std::fopen(FileName.c_str(), "rb"));
  if (!F) throw EFOpenError("ファイル " + FileName + " を開けません");
  std::string Data;
  char Buf[65536];
  std::size_t N;
  while ((N = std::fread(Buf, 1, sizeof Buf, F.get())) > 0) Data.append(Buf, N);
  if (std::ferror(F.get())) throw EReadError("Stream read error");
  SetText(Data);
}

void TStringList::SaveToFile(const std::string& FileName) const {
  std::unique_ptr<std::FILE, FileCloser> F(std::fopen(FileName.c_str(), "wb"));
  if (!F) throw EFCreateError("ファイル " + FileName + " を作成できません");
  const std::string Data = Text();
  if (std::fwrite(Data.data(), 1, Data.size(), F.get()) != Data.size() || std::fflush(F.get()) != 0)
    throw EWriteError("Stream write error");
}

void TStringList::SetSorted(bool Value) {
  if (Value && !FSorted)
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const std::string& A, const std::string& B) { return CompareText(A, B) < 0; });
  FSorted = Value;
}

bool TStringList::Find(std::string_view S, int& Index) const {
  int Low = 0;
  int High = Count() - 1;
  bool Found = false;
  while (Low <= High) {
    const int Mid = Low + (High - Low) / 2;
    const int C = CompareText(FItems[static_cast<std::size_t>(Mid)], S);
    if (C < 0) {
      Low = Mid + 1;
    } else {
      High = Mid - 1;
      if (C == 0) Found = true;
    }
  }
  Index = Low;
  return Found;
}

int TStringList::IndexOfName(std::string_view Name) const {
  for (int I = 0; I < Count(); ++I) {
    const std::string& S = FItems[static_cast<std::size_t>(I)];
    const auto Eq = S.find('=');
    if (Eq != std::string::npos && SameText(std::string_view(S).substr(0, Eq), Name)) return I;
  }
  return -1;
}

std::string TStringList::Values(std::string_view Name) const {
  const int I = IndexOfName(Name);
  if (I < 0) return std::string();
  const std::string& S = FItems[static_cast<std::size_t>(I)];
  return S.substr(Name.size() + 1);
}

}  // namespace pelicore

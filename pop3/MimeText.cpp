#include "pop3/MimeText.h"

#include <algorithm>

namespace pelicore::mime {

namespace {

bool IsBlank(char C) { return C == ' ' || C == '\t'; }
bool IsControl(unsigned char C) { return C < 0x20 || C == 0x7F; }
bool IsContinuation(unsigned char C) { return (C & 0xC0) == 0x80; }

// Text cut to at most Bytes bytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view Text, std::size_t Bytes) {
  if (Text.size() <= Bytes) return Text;
  std::size_t Cut = Bytes;
  while (Cut > 0 && IsContinuation(static_cast<unsigned char>(Text[Cut]))) --Cut;
  return Text.substr(0, Cut);
}

// Position of the dot that starts the extension, or npos. A dot in front
// (a hidden file's name) starts none.
std::size_t ExtensionDot(std::string_view Name) {
  const std::size_t Dot = Name.rfind('.');
  return Dot == 0 ? std::string_view::npos : Dot;
}

// Base and extension joined within kMaxNameBytes: the base gives way first;
// an extension that leaves no room for a base is cut with the whole.
std::string Fit(std::string_view Base, std::string_view Extension) {
  if (Base.size() + Extension.size() <= kMaxNameBytes) return std::string(Base) + std::string(Extension);
  if (Extension.size() >= kMaxNameBytes / 2) return std::string(CutUtf8(std::string(Base) + std::string(Extension), kMaxNameBytes));
  return std::string(CutUtf8(Base, kMaxNameBytes - Extension.size())) + std::string(Extension);
}

}  // namespace

std::string BoundaryParameter(std::string_view Value) {
  std::string Result;
  if (!Value.empty() && Value.front() == '"') {
    for (std::size_t I = 1; I < Value.size() && Value[I] != '"'; ++I) {
      if (Value[I] == '\\' && I + 1 < Value.size()) ++I;
      Result += Value[I];
    }
    return Result;
  }
  for (const char C : Value) {
    if (C == ';' || IsBlank(C) || IsControl(static_cast<unsigned char>(C))) break;
    Result += C;
  }
  return Result;
}

Delimiter DelimiterOf(std::string_view Line, std::string_view Boundary) {
  if (Boundary.empty() || Line.size() < Boundary.size() + 2 || !Line.starts_with("--") ||
      Line.substr(2, Boundary.size()) != Boundary)
    return Delimiter::None;
  std::string_view Rest = Line.substr(2 + Boundary.size());
  Delimiter Kind = Delimiter::Part;
  if (Rest.starts_with("--")) {
    Kind = Delimiter::Close;
    Rest.remove_prefix(2);
  }
  return std::all_of(Rest.begin(), Rest.end(), IsBlank) ? Kind : Delimiter::None;
}

std::string SafeFileName(std::string_view Name) {
  const std::size_t Slash = Name.find_last_of("/\\");
  if (Slash != std::string_view::npos) Name.remove_prefix(Slash + 1);
  std::string Clean;
  for (const char C : Name)
    if (!IsControl(static_cast<unsigned char>(C))) Clean += C;
  if (Clean.empty() || Clean == "." || Clean == "..") return kDefaultName;
  const std::size_t Dot = ExtensionDot(Clean);
  if (Dot == std::string::npos) return std::string(CutUtf8(Clean, kMaxNameBytes));
  return Fit(std::string_view(Clean).substr(0, Dot), std::string_view(Clean).substr(Dot));
}

std::string NumberedName(std::string_view Name, std::int64_t Counter) {
  const std::string Suffix = "_" + std::to_string(Counter);
  std::size_t Dot = ExtensionDot(Name);
  // An extension too long to leave room for a base and the number counts as
  // part of the base, so that the number is never cut off.
  if (Dot != std::string_view::npos && Name.size() - Dot + Suffix.size() >= kMaxNameBytes) Dot = std::string_view::npos;
  const std::string_view Base = Dot == std::string_view::npos ? Name : Name.substr(0, Dot);
  const std::string_view Extension = Dot == std::string_view::npos ? std::string_view() : Name.substr(Dot);
  return std::string(CutUtf8(Base, kMaxNameBytes - Suffix.size() - Extension.size())) + Suffix +
         std::string(Extension);
}

}  // namespace pelicore::mime

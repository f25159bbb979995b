#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Strings.h"

namespace pelicore {

namespace {

// One line of the file: [Begin, TextEnd) is its text, [TextEnd, End) its line
// end (LF, CR LF or nothing for a last line without one).
struct Line {
  std::size_t Begin;
  std::size_t TextEnd;
  std::size_t End;
};

std::vector<Line> SplitLines(const std::string& Content) {
  std::vector<Line> Lines;
  std::size_t Begin = 0;
  while (Begin < Content.size()) {
    std::size_t Lf = Content.find('\n', Begin);
    std::size_t End = Lf == std::string::npos ? Content.size() : Lf + 1;
    std::size_t TextEnd = Lf == std::string::npos ? End : Lf;
    if (TextEnd > Begin && Content[TextEnd - 1] == '\r') --TextEnd;
    Lines.push_back({Begin, TextEnd, End});
    Begin = End;
  }
  return Lines;
}

std::string_view TextOf(const std::string& Content, const Line& L) {
  return std::string_view(Content).substr(L.Begin, L.TextEnd - L.Begin);
}

// The section's name when the line is a section header.
std::optional<std::string> SectionName(std::string_view Text) {
  std::string T = Trim(Text);
  if (T.empty() || T.front() != '[') return std::nullopt;
  std::size_t Close = T.find(']');
  if (Close == std::string::npos) return std::nullopt;
  return Trim(std::string_view(T).substr(1, Close - 1));
}

// Where one section's lines are: the header's index and the index after the
// section's last line.
struct SectionRange {
  std::size_t Header;
  std::size_t End;
};

std::optional<SectionRange> FindSection(const std::string& Content,
                                        const std::vector<Line>& Lines,
                                        std::string_view Section) {
  for (std::size_t I = 0; I < Lines.size(); ++I) {
    auto Name = SectionName(TextOf(Content, Lines[I]));
    if (!Name || !SameText(*Name, Section)) continue;
    std::size_t End = I + 1;
    while (End < Lines.size() && !SectionName(TextOf(Content, Lines[End])))
      ++End;
    return SectionRange{I, End};
  }
  return std::nullopt;
}

// Index of the key's line inside the section, and the position of its value.
struct KeyLine {
  std::size_t Index;
  std::size_t ValueBegin;
};

std::optional<KeyLine> FindKey(const std::string& Content,
                               const std::vector<Line>& Lines,
                               const SectionRange& Range,
                               std::string_view Ident) {
  for (std::size_t I = Range.Header + 1; I < Range.End; ++I) {
    std::string_view Text = TextOf(Content, Lines[I]);
    std::size_t Eq = Text.find('=');
    if (Eq == std::string_view::npos) continue;
    if (SameText(Trim(Text.substr(0, Eq)), Ident))
      return KeyLine{I, Lines[I].Begin + Eq + 1};
  }
  return std::nullopt;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::string& FileName, std::string& Content) {
  Content.clear();
  int Fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  char Buffer[8192];
  for (;;) {
    ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) {
      ::close(Fd);
      return ReadResult::Failed;
    }
    if (N == 0) break;
    Content.append(Buffer, static_cast<std::size_t>(N));
  }
  ::close(Fd);
  return ReadResult::Ok;
}

bool WriteAll(int Fd, const std::string& Content) {
  std::size_t Done = 0;
  while (Done < Content.size()) {
    ssize_t N = ::write(Fd, Content.data() + Done, Content.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    Done += static_cast<std::size_t>(N);
  }
  return true;
}

std::string FolderOf(const std::string& FileName) {
  std::size_t Slash = FileName.rfind('/');
  if (Slash == std::string::npos) return ".";
  if (Slash == 0) return "/";
  return FileName.substr(0, Slash);
}

// Writes Content to a new temporary file beside FileName and renames it over
// FileName, so that readers see the old file or the new one, never a part.
bool ReplaceFile(const std::string& FileName, const std::string& Content) {
  std::string Temp = FileName + ".XXXXXX";
  int Fd = ::mkostemp(Temp.data(), O_CLOEXEC);  // mode 0600
  if (Fd < 0) return false;
  bool Ok = WriteAll(Fd, Content) && ::fsync(Fd) == 0;
  Ok = ::close(Fd) == 0 && Ok;
  if (Ok) Ok = ::rename(Temp.c_str(), FileName.c_str()) == 0;
  if (!Ok) {
    ::unlink(Temp.c_str());
    return false;
  }
  // Make the rename itself durable; failing here loses nothing already done.
  int Dir = ::open(FolderOf(FileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Dir >= 0) {
    ::fsync(Dir);
    ::close(Dir);
  }
  return true;
}

bool HasLineBreak(std::string_view S) {
  return S.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName)) {}

bool TIniFile::Exists() const {
  struct stat St;
  return ::stat(FFileName.c_str(), &St) == 0;
}

std::string TIniFile::ReadString(std::string_view Section,
                                 std::string_view Ident,
                                 std::string_view Default) const {
  std::string Content;
  if (ReadWholeFile(FFileName, Content) != ReadResult::Ok)
    return std::string(Default);
  auto Lines = SplitLines(Content);
  auto Range = FindSection(Content, Lines, Section);
  if (!Range) return std::string(Default);
  auto Key = FindKey(Content, Lines, *Range, Ident);
  if (!Key) return std::string(Default);
  return Content.substr(Key->ValueBegin,
                        Lines[Key->Index].TextEnd - Key->ValueBegin);
}

std::int32_t TIniFile::ReadInteger(std::string_view Section,
                                   std::string_view Ident,
                                   std::int32_t Default) const {
  // A missing key reads as the empty text, which is no whole number.
  return StrToIntDef(ReadString(Section, Ident, ""), Default);
}

bool TIniFile::ReadBool(std::string_view Section, std::string_view Ident,
                        bool Default) const {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view Section, std::string_view Ident,
                           std::string_view Value) {
  // A line break would split the line and change the file's structure.
  if (HasLineBreak(Section) || HasLineBreak(Ident) || HasLineBreak(Value) ||
      Ident.find('=') != std::string_view::npos ||
      Section.find(']') != std::string_view::npos)
    FailWrite();

  std::string Content;
  // A file that exists but cannot be read must not be replaced by one that
  // holds only this key.
  ReadResult Read = ReadWholeFile(FFileName, Content);
  if (Read == ReadResult::Failed) FailWrite();
  // The rename would replace even a file that its owner made read-only.
  if (Read == ReadResult::Ok && ::access(FFileName.c_str(), W_OK) != 0)
    FailWrite();

  std::size_t FirstLf = Content.find('\n');
  std::string Eol =
      FirstLf != std::string::npos && FirstLf > 0 && Content[FirstLf - 1] == '\r'
          ? "\r\n"
          : "\n";
  std::string NewLine = std::string(Ident) + "=" + std::string(Value);

  auto Lines = SplitLines(Content);
  auto Range = FindSection(Content, Lines, Section);
  if (Range) {
    if (auto Key = FindKey(Content, Lines, *Range, Ident)) {
      const Line& L = Lines[Key->Index];
      Content.replace(L.Begin, L.TextEnd - L.Begin, NewLine);
    } else {
      // After the section's last non-blank line, so that blank lines that
      // separate it from the next section stay where they are.
      std::size_t Last = Range->End - 1;
      while (Last > Range->Header && Trim(TextOf(Content, Lines[Last])).empty())
        --Last;
      const Line& L = Lines[Last];
      std::string Insert = NewLine + Eol;
      if (Content[L.End - 1] != '\n') Insert = Eol + Insert;  // unended last line
      Content.insert(L.End, Insert);
    }
  } else {
    if (!Content.empty() && Content.back() != '\n') Content += Eol;
    Content += "[" + std::string(Section) + "]" + Eol + NewLine + Eol;
  }

  if (!ReplaceFile(FFileName, Content)) FailWrite();
}

void TIniFile::WriteInteger(std::string_view Section, std::string_view Ident,
                            std::int32_t Value) {
  WriteString(Section, Ident, IntToStr(Value));
}

void TIniFile::WriteBool(std::string_view Section, std::string_view Ident,
                         bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

void TIniFile::FailWrite() const {
  throw Exception(FFileName + " に書き込めません");
}

}  // namespace pelicore

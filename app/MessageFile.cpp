#include "app/MessageFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/Exceptions.h"
#include "platform/Strings.h"

namespace pelicore {

namespace {

constexpr std::string_view kExtension = ".eml";
// Bytes gathered before each write: large enough to keep system calls rare,
// small enough not to matter beside the message itself.
constexpr std::size_t kWriteChunk = 1 << 20;

bool IsContinuationByte(char C) { return (static_cast<unsigned char>(C) & 0xC0) == 0x80; }

// Base + Suffix within kMaxFileNameBytes: Base is cut, never Suffix, and
// never inside a UTF-8 sequence (a run of stray continuation bytes that is
// no sequence is cut where it falls).
std::string Fit(std::string_view Base, std::string_view Suffix) {
  const std::size_t Room = kMaxFileNameBytes - Suffix.size();
  if (Base.size() > Room) {
    std::size_t Cut = Room;
    std::size_t Lead = Cut;
    for (int Back = 0; Back < 4 && Lead > 0 && IsContinuationByte(Base[Lead]); ++Back) --Lead;
    if (!IsContinuationByte(Base[Lead]) && static_cast<unsigned char>(Base[Lead]) >= 0xC0) Cut = Lead;
    Base = Base.substr(0, Cut);
  }
  std::string Name(Base);
  Name += Suffix;
  return Name;
}

bool WriteAll(int Fd, const char* Data, std::size_t Length) {
  while (Length > 0) {
    const ssize_t N = ::write(Fd, Data, Length);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    Data += N;
    Length -= static_cast<std::size_t>(N);
  }
  return true;
}

// The lines, each with CR LF, gathered in chunks.
bool WriteLines(int Fd, const TStringList& Head, const TStringList& Body) {
  std::string Chunk;
  Chunk.reserve(kWriteChunk + 2);
  for (const TStringList* List : {&Head, &Body}) {
    for (const std::string& Line : List->Items()) {
      if (Line.size() >= kWriteChunk) {
        if (!WriteAll(Fd, Chunk.data(), Chunk.size()) || !WriteAll(Fd, Line.data(), Line.size())) return false;
        Chunk.assign("\r\n");
        continue;
      }
      if (Chunk.size() + Line.size() + 2 > kWriteChunk) {
        if (!WriteAll(Fd, Chunk.data(), Chunk.size())) return false;
        Chunk.clear();
      }
      Chunk += Line;
      Chunk += "\r\n";
    }
  }
  return WriteAll(Fd, Chunk.data(), Chunk.size());
}

// A name that cannot even be looked at counts as free: creating the file
// then fails and says so.
bool Exists(const std::string& Path) {
  struct stat St;
  return ::lstat(Path.c_str(), &St) == 0;
}

// Moves Temp to Target unless Target exists; false with errno EEXIST when it
// does. File systems without the no-replace rename get a hard link instead,
// which fails the same way.
bool MoveWithoutReplacing(const std::string& Temp, const std::string& Target) {
  if (::renameat2(AT_FDCWD, Temp.c_str(), AT_FDCWD, Target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(Temp.c_str(), Target.c_str()) != 0) return false;
  ::unlink(Temp.c_str());
  return true;
}

void SyncFolder(const std::string& Folder) {
  const int Dir = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Dir < 0) return;  // the file is in place; only its durability is less sure
  ::fsync(Dir);
  ::close(Dir);
}

[[noreturn]] void FailCreate(const std::string& Path) {
  throw EFCreateError("ファイル " + Path + " を作成できません");
}

}  // namespace

std::string MessageFileName(std::string_view Subject) {
  std::string Base(Subject);
  for (char& C : Base) {
    const auto Byte = static_cast<unsigned char>(C);
    if (C == '/' || Byte < 0x20 || Byte == 0x7F) C = '_';
  }
  return Fit(Base, kExtension);
}

std::string NumberedFileName(std::string_view Name, int N) {
  if (N <= 0) return std::string(Name);
  const std::size_t Dot = Name.rfind('.');
  const std::string_view Base = Dot == std::string_view::npos ? Name : Name.substr(0, Dot);
  const std::string_view Extension = Dot == std::string_view::npos ? std::string_view() : Name.substr(Dot);
  return Fit(Base, "_" + IntToStr(N) + std::string(Extension));
}

std::string WriteMessageFile(const std::string& Folder, const std::string& Name, const TStringList& Head,
                             const TStringList& Body) {
  int N = 0;
  while (Exists(Folder + NumberedFileName(Name, N))) ++N;
  std::string Target = Folder + NumberedFileName(Name, N);

  // Mode 0600: a message is private to its owner.
  std::string Temp = Folder + ".pelicore-download-XXXXXX";
  const int Fd = ::mkostemp(Temp.data(), O_CLOEXEC);
  if (Fd < 0) FailCreate(Target);
  bool Written = WriteLines(Fd, Head, Body) && ::fsync(Fd) == 0;
  Written = ::close(Fd) == 0 && Written;
  if (!Written) {
    ::unlink(Temp.c_str());
    throw EWriteError(Target + " に書き込めません");
  }

  // Another program may take the name between the look above and the move.
  while (!MoveWithoutReplacing(Temp, Target)) {
    if (errno != EEXIST) {
      ::unlink(Temp.c_str());
      FailCreate(Target);
    }
    Target = Folder + NumberedFileName(Name, ++N);
  }
  SyncFolder(Folder);
  return Target;
}

}  // namespace pelicore

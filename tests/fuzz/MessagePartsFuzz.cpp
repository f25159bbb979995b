// Fuzzes what a server controls once a message is stored: its lines go
// through header reading, splitting at the boundary, attachment naming and
// Base64/UU decoding, with a temporary folder as the attachment folder.
// Whatever the message holds, files appear only inside that folder: the
// target aborts when its parent holds anything else afterwards.
#include <stdlib.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/Exceptions.h"
#include "platform/StringList.h"
#include "pop3/NMpop3.h"

namespace {

namespace fs = std::filesystem;

fs::path Parent;  // holds only "attach" between runs
fs::path Attach;
pelicore::TNMPOP3* Pop = nullptr;

void Fail(const char* Why, const fs::path& Path) {
  std::fprintf(stderr, "%s: %s\n", Why, Path.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* Argc, char*** Argv) {
  static QCoreApplication App(*Argc, *Argv);
  std::string Template = (fs::temp_directory_path() / "pelicore-fuzz.XXXXXX").string();
  if (!::mkdtemp(Template.data())) Fail("cannot make a temporary folder", Template);
  Parent = Template;
  Attach = Parent / "attach";
  fs::create_directory(Attach);
  Pop = pelicore::MakeComponent<pelicore::TNMPOP3>(nullptr).release();
  Pop->SetAttachFilePath(Attach.string());
  std::atexit([] {
    std::error_code Ignored;
    fs::remove_all(Parent, Ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  // First byte: Parse on or off; the rest: the message, split into lines.
  if (Size == 0) return 0;
  Pop->Parse = (Data[0] & 1) != 0;
  // Stored lines may hold any byte but LF.
  pelicore::TStringList Lines;
  const std::string Text(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  for (std::size_t Start = 0; Start <= Text.size();) {
    const std::size_t End = std::min(Text.find('\n', Start), Text.size());
    Lines.Add(Text.substr(Start, End - Start));
    Start = End + 1;
  }
  try {
    Pop->ParseMessageLines(Lines);
  } catch (const pelicore::Exception&) {
    // File errors of the extraction (a name the folder cannot take) are
    // failures the caller sees, not faults.
  }
  for (const auto& Entry : fs::directory_iterator(Parent))
    if (Entry.path() != Attach) Fail("created outside the attachment folder", Entry.path());
  std::error_code Ignored;
  for (const auto& Entry : fs::directory_iterator(Attach, Ignored)) {
    if (Entry.is_directory() && !Entry.is_symlink()) Fail("made a folder", Entry.path());
    fs::remove(Entry.path(), Ignored);
  }
  return 0;
}

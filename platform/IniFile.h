#pragma once
// A settings file of sections and "key=value" lines.
//
// Every read goes to the file afresh and every write rewrites it at once, so
// the file on disk is the only copy. A write replaces the key's line where it
// stands, or adds the line at the end of its section, or adds the section at
// the end of the file; every other line keeps its bytes. The file is replaced
// atomically (a temporary file in the same folder, flushed, then renamed over
// it) and created readable by its owner only, because it may hold a password.
//
// Parsing: section and key names compare without regard to ASCII case and
// ignore blanks around them; the value is everything after the first "=" up
// to the line end, unchanged, so every value written reads back as it was.
// The first section and the first key of a name win. Lines may end in LF or
// CR LF; new lines take the line end the file already uses (LF for a new file).

#include <cstdint>
#include <string>
#include <string_view>

namespace pelicore {

class TIniFile {
 public:
  explicit TIniFile(std::string FileName);

  const std::string& FileName() const { return FFileName; }
  // Whether a file (of any kind) exists at FileName.
  bool Exists() const;

  // Missing key, missing or unreadable file: Default.
  std::string ReadString(std::string_view Section, std::string_view Ident,
                         std::string_view Default) const;
  // The value through the whole-number conversion; Default when it fails.
  std::int32_t ReadInteger(std::string_view Section, std::string_view Ident,
                           std::int32_t Default) const;
  // An integer: 0 is false, any other number true.
  bool ReadBool(std::string_view Section, std::string_view Ident,
                bool Default) const;

  // Each fails with Exception "<FileName> に書き込めません" when the file
  // cannot be read back or replaced, or when a name or the value holds a line
  // break; the file is then left as it was.
  void WriteString(std::string_view Section, std::string_view Ident,
                   std::string_view Value);
  void WriteInteger(std::string_view Section, std::string_view Ident,
                    std::int32_t Value);
  // Written as "1" or "0".
  void WriteBool(std::string_view Section, std::string_view Ident, bool Value);

 private:
  [[noreturn]] void FailWrite() const;

  std::string FFileName;
};

}  // namespace pelicore

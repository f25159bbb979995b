#include "platform/IniFile.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/Exceptions.h"
#include "tests/support/TempFolder.h"

namespace pelicore {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void Put(const std::string& Content) { testing::TempFolder::WriteFile(Path, Content); }
  std::string Get() const { return testing::TempFolder::ReadFile(Path); }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> Names;
    for (const auto& E : std::filesystem::directory_iterator(Folder))
      Names.push_back(E.path().filename().string());
    return Names;
  }

  testing::TempFolder Temp{"inifile"};
  const std::string Folder = Temp.Path();
  const std::string Path = Temp.PathOf("Pelicore.ini");
};

TEST_F(IniFileTest, ReadsValuesAsStored) {
  Put("; comment\n"
      "Top=1\n"
      "[Pelicore]\r\n"
      "  width = 800\r\n"
      "Width=900\r\n"
      "Host=  spaced value \r\n"
      "Empty=\r\n"
      "Eq=a=b\r\n"
      "[ praivate ]\n"
      "Host=mail.example\n"
      "Name=日本語\n"
      "Last=no line end");
  TIniFile Ini(Path);
  struct Case {
    const char* Section;
    const char* Ident;
    const char* Expected;
  } Cases[] = {
      {"Pelicore", "Width", " 800"},  // first of a name; key blanks ignored
      {"PELICORE", "Host", "  spaced value "},  // value kept as it stands
      {"Pelicore", "Empty", ""},
      {"Pelicore", "Eq", "a=b"},
      {"Pelicore", "Top", "default"},  // line before any section
      {"PRAIVATE", "Host", "mail.example"},
      {"PRAIVATE", "Name", "日本語"},
      {"PRAIVATE", "Last", "no line end"},
      {"PRAIVATE", "Width", "default"},  // key of another section
      {"Missing", "Host", "default"},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(Ini.ReadString(C.Section, C.Ident, "default"), C.Expected)
        << C.Section << "/" << C.Ident;
}

TEST_F(IniFileTest, ReadsIntegersAndBooleansThroughTheConversion) {
  Put("[S]\nDec=800\nHex=0x6E\nDollar=$6E\nWord=abc\nBlank=\nSpaced=1 1\n"
      "Neg=-5\nFalse=0\nTrue=2\nHuge=4294967296\n");
  TIniFile Ini(Path);
  EXPECT_EQ(Ini.ReadInteger("S", "Dec", 7), 800);
  EXPECT_EQ(Ini.ReadInteger("S", "Hex", 7), 110);
  EXPECT_EQ(Ini.ReadInteger("S", "Dollar", 7), 110);
  EXPECT_EQ(Ini.ReadInteger("S", "Neg", 7), -5);
  for (const char* Bad : {"Word", "Blank", "Spaced", "Huge", "Missing"})
    EXPECT_EQ(Ini.ReadInteger("S", Bad, 7), 7) << Bad;
  EXPECT_FALSE(Ini.ReadBool("S", "False", true));
  EXPECT_TRUE(Ini.ReadBool("S", "True", false));
  EXPECT_TRUE(Ini.ReadBool("S", "Word", true));
  EXPECT_FALSE(Ini.ReadBool("S", "Missing", false));
}

TEST_F(IniFileTest, MissingFileReadsDefaults) {
  TIniFile Ini(Path);
  EXPECT_FALSE(Ini.Exists());
  EXPECT_EQ(Ini.ReadString("S", "K", "d"), "d");
  EXPECT_EQ(Ini.ReadInteger("S", "K", 110), 110);
  EXPECT_TRUE(Ini.ReadBool("S", "K", true));
}

TEST_F(IniFileTest, WritesChangeOnlyTheKeysLine) {
  struct Case {
    const char* Name;
    const char* Before;
    const char* Section;
    const char* Ident;
    const char* Value;
    const char* After;
  } Cases[] = {
      {"replaced where it stands, other bytes kept",
       "; keep me\r\n[Pelicore]\r\nTop = 5\r\nx\r\n[PRAIVATE]\r\nHost=h\r\n",
       "pelicore", "Top", "112",
       "; keep me\r\n[Pelicore]\r\nTop=112\r\nx\r\n[PRAIVATE]\r\nHost=h\r\n"},
      {"added at the end of its section, before the blank separator",
       "[Pelicore]\nTop=1\n\n[PRAIVATE]\nHost=h\n", "Pelicore", "Left", "224",
       "[Pelicore]\nTop=1\nLeft=224\n\n[PRAIVATE]\nHost=h\n"},
      {"added right after an empty section's header",
       "[Pelicore]\n[PRAIVATE]\n", "Pelicore", "Top", "1",
       "[Pelicore]\nTop=1\n[PRAIVATE]\n"},
      {"section added at the end, with the file's CR LF",
       "[Pelicore]\r\nTop=1\r\n", "PRAIVATE", "Port", "110",
       "[Pelicore]\r\nTop=1\r\n[PRAIVATE]\r\nPort=110\r\n"},
      {"last line without a line end gets one first",
       "[Pelicore]\nTop=1", "Pelicore", "Left", "2",
       "[Pelicore]\nTop=1\nLeft=2\n"},
      {"section after a last line without a line end", "[A]\nK=1", "B", "K",
       "2", "[A]\nK=1\n[B]\nK=2\n"},
      {"new file", nullptr, "Pelicore", "Width", "639",
       "[Pelicore]\nWidth=639\n"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::filesystem::remove(Path);
    if (C.Before) Put(C.Before);
    TIniFile(Path).WriteString(C.Section, C.Ident, C.Value);
    EXPECT_EQ(Get(), C.After);
  }
}

TEST_F(IniFileTest, EveryWrittenValueReadsBackUnchanged) {
  TIniFile Ini(Path);
  for (const char* Value :
       {"", " leading and trailing ", "a=b", "\"quoted\"", "パスワード", "[x]"}) {
    Ini.WriteString("PRAIVATE", "Password", Value);
    EXPECT_EQ(Ini.ReadString("PRAIVATE", "Password", "default"), Value);
  }
  Ini.WriteInteger("Pelicore", "Top", -3);
  Ini.WriteBool("Pelicore", "SavePVData", false);
  EXPECT_EQ(Ini.ReadInteger("Pelicore", "Top", 0), -3);
  EXPECT_EQ(Ini.ReadString("Pelicore", "SavePVData", ""), "0");
  Ini.WriteBool("Pelicore", "SavePVData", true);
  EXPECT_EQ(Ini.ReadString("Pelicore", "SavePVData", ""), "1");
}

TEST_F(IniFileTest, FileIsPrivateAndReplacedWithoutLeftovers) {
  Put("[Pelicore]\nTop=1\n");
  ::chmod(Path.c_str(), 0644);
  TIniFile Ini(Path);
  Ini.WriteString("PRAIVATE", "Password", "secret");
  struct stat St;
  ASSERT_EQ(::stat(Path.c_str(), &St), 0);
  EXPECT_EQ(St.st_mode & 0777, 0600u);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Pelicore.ini"});
}

TEST_F(IniFileTest, FailedWriteNamesTheFileAndChangesNothing) {
  const std::string Text = " に書き込めません";
  // A folder that does not exist fails for every user, root included.
  TIniFile Nowhere(Folder + "/missing/Pelicore.ini");
  try {
    Nowhere.WriteString("Pelicore", "Top", "1");
    FAIL() << "no error";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), Folder + "/missing/Pelicore.ini" + Text);
  }

  // A line break would split the line: refused, file untouched.
  Put("[Pelicore]\nTop=1\n");
  TIniFile Ini(Path);
  EXPECT_THROW(Ini.WriteString("Pelicore", "Top", "1\n[Evil]"), Exception);
  EXPECT_EQ(Get(), "[Pelicore]\nTop=1\n");
}

// However the replacement fails, the old file stays whole and no temporary
// file is left behind. A full disk (here: a file size limit, which binds root
// as well) fails half-way through writing the new file.
TEST_F(IniFileTest, FailedReplacementLeavesTheOldFileWhole) {
  const bool Root = ::geteuid() == 0;  // root writes into read-only places
  struct Case {
    const char* Name;
    bool ForRoot;
    std::function<void()> Break;
    std::function<void()> Mend;
  } Cases[] = {
      {"read-only folder", false, [&] { ::chmod(Folder.c_str(), 0500); },
       [&] { ::chmod(Folder.c_str(), 0700); }},
      {"read-only file", false, [&] { ::chmod(Path.c_str(), 0400); },
       [&] { ::chmod(Path.c_str(), 0600); }},
      {"disk full", true,
       [] {
         std::signal(SIGXFSZ, SIG_IGN);
         rlimit Limit{8, RLIM_INFINITY};
         ::getrlimit(RLIMIT_FSIZE, &Limit);
         Limit.rlim_cur = 8;
         ::setrlimit(RLIMIT_FSIZE, &Limit);
       },
       [] {
         rlimit Limit{};
         ::getrlimit(RLIMIT_FSIZE, &Limit);
         Limit.rlim_cur = Limit.rlim_max;
         ::setrlimit(RLIMIT_FSIZE, &Limit);
         std::signal(SIGXFSZ, SIG_DFL);
       }},
  };
  const std::string Before = "[Pelicore]\nTop=1\nLeft=224\n";
  for (const auto& C : Cases) {
    if (Root && !C.ForRoot) continue;
    SCOPED_TRACE(C.Name);
    Put(Before);
    TIniFile Ini(Path);
    C.Break();
    std::string Error;
    try {
      Ini.WriteString("Pelicore", "Top", "112");
    } catch (const Exception& E) {
      Error = E.Message();
    }
    C.Mend();
    EXPECT_EQ(Error, Path + " に書き込めません");
    EXPECT_EQ(Get(), Before);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Pelicore.ini"});
  }
}

}  // namespace
}  // namespace pelicore

#include <gtest/gtest.h>

#include "tests/support/TempFolder.h"
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/Exceptions.h"
#include "platform/Streams.h"

using namespace pelicore;

namespace {

class StreamFiles : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Dir.PathOf(Name); }
  static std::string ContentOf(const std::string& Path) { return pelicore::testing::TempFolder::ReadFile(Path); }
  static void Put(const std::string& Path, const std::string& Data) { pelicore::testing::TempFolder::WriteFile(Path, Data); }

  pelicore::testing::TempFolder Dir{"pelicore-streams"};
};

std::string Text(std::int64_t Length, std::mt19937& Random) {
  std::string S(static_cast<std::size_t>(Length), '\0');
  for (auto& C : S) C = static_cast<char>('a' + Random() % 26);
  return S;
}

}  // namespace

// A long random mix of reads, writes, seeks and size changes, run against a
// plain string model: every result and the final file must be the same as if
// nothing were buffered. Lengths straddle the 64 KiB buffer.
TEST_F(StreamFiles, BufferingIsInvisible) {
  const std::string Path = PathOf("mix.bin");
  std::mt19937 Random(20240501);
  std::string Model;
  std::int64_t ModelPos = 0;
  const std::int64_t Lengths[] = {1, 2, 7, 200, 4096, 65535, 65536, 70000};
  auto AnyLength = [&] { return Lengths[Random() % std::size(Lengths)]; };

  TFileStream File(Path, fmCreate);
  for (int Step = 0; Step < 3000; ++Step) {
    SCOPED_TRACE("step " + std::to_string(Step));
    const auto ModelSize = static_cast<std::int64_t>(Model.size());
    switch (Random() % 6) {
      case 0:
      case 1: {
        const std::string Data = Text(AnyLength(), Random);
        ASSERT_EQ(File.Write(Data.data(), static_cast<std::int64_t>(Data.size())), static_cast<std::int64_t>(Data.size()));
        if (ModelPos > ModelSize) Model.resize(static_cast<std::size_t>(ModelPos), '\0');
        Model.replace(static_cast<std::size_t>(ModelPos), Data.size(), Data);
        ModelPos += static_cast<std::int64_t>(Data.size());
        break;
      }
      case 2: {
        const std::int64_t Want = AnyLength();
        std::string Got(static_cast<std::size_t>(Want), '\0');
        const std::int64_t N = File.Read(Got.data(), Want);
        const std::string Expected = ModelPos >= ModelSize ? std::string()
                                         : Model.substr(static_cast<std::size_t>(ModelPos), static_cast<std::size_t>(Want));
        ASSERT_EQ(Got.substr(0, static_cast<std::size_t>(N)), Expected);
        ModelPos += N;
        break;
      }
      case 3: {
        // Short steps back as line readers make, steps back across a whole
        // buffer, and jumps anywhere up to just past the end.
        const std::int64_t Back[] = {300, 140000};
        const std::int64_t Target =
            Random() % 3 ? std::max<std::int64_t>(0, ModelPos - static_cast<std::int64_t>(Random() % Back[Random() % 2]))
                         : static_cast<std::int64_t>(Random() % static_cast<unsigned>(ModelSize + 10));
        switch (Random() % 3) {
          case 0: ASSERT_EQ(File.Seek(Target, SeekOrigin::Beginning), Target); break;
          case 1: ASSERT_EQ(File.Seek(Target - ModelPos, SeekOrigin::Current), Target); break;
          default: ASSERT_EQ(File.Seek(Target - ModelSize, SeekOrigin::End), Target); break;
        }
        ModelPos = Target;
        break;
      }
      case 4:
        ASSERT_EQ(File.Size(), ModelSize);
        ASSERT_EQ(File.Position(), ModelPos);
        break;
      default:
        if (Random() % 8 == 0) {
          const std::int64_t NewSize = static_cast<std::int64_t>(Random() % static_cast<unsigned>(ModelSize + 100));
          File.SetSize(NewSize);
          Model.resize(static_cast<std::size_t>(NewSize), '\0');
          ModelPos = std::min(ModelPos, NewSize);
          ASSERT_EQ(File.Position(), ModelPos);
        }
        break;
    }
  }
  File.Flush();
  EXPECT_EQ(ContentOf(Path), Model);
}

// Another reader of the file sees every write once a size query, a moving
// seek, Flush or the destructor has handed it on.
TEST_F(StreamFiles, PendingWritesReachTheFileAtEachFlushPoint) {
  const std::string Path = PathOf("points.txt");
  {
    TFileStream File(Path, fmCreate);
    File.WriteBuffer("ab", 2);
    EXPECT_EQ(File.Size(), 2);
    EXPECT_EQ(ContentOf(Path), "ab");
    File.WriteBuffer("cd", 2);
    File.SetPosition(1);
    EXPECT_EQ(ContentOf(Path), "abcd");
    File.WriteBuffer("X", 1);
    File.Flush();
    EXPECT_EQ(ContentOf(Path), "aXcd");
    File.SetPosition(4);
    File.WriteBuffer("ef", 2);
  }
  EXPECT_EQ(ContentOf(Path), "aXcdef");
}

// Writes over bytes that were read ahead, small (through the buffer) and
// large (straight to the file), must show when those bytes are read again.
TEST_F(StreamFiles, ReadAheadNeverOutlivesAWrite) {
  const std::string Path = PathOf("overwrite.bin");
  Put(Path, std::string(200000, '.'));
  TFileStream File(Path, fmOpenReadWrite);
  char Byte;
  for (const std::int64_t Length : {1, 100000}) {
    SCOPED_TRACE(Length);
    const std::string Data(static_cast<std::size_t>(Length), Length == 1 ? 's' : 'L');
    File.SetPosition(0);
    File.ReadBuffer(&Byte, 1);  // reads ahead from 0
    File.WriteBuffer(Data.data(), Length);  // over bytes 1 to Length
    for (const std::int64_t At : {std::int64_t{1}, Length, Length + 1}) {
      File.SetPosition(At);
      File.ReadBuffer(&Byte, 1);
      EXPECT_EQ(Byte, At <= Length ? Data[0] : '.') << "at " << At;
    }
  }
}

// A reader that has reached the end sees the file grow when another writer
// appends to it.
TEST_F(StreamFiles, SizeAtTheEndFollowsTheFile) {
  const std::string Path = PathOf("growing.txt");
  Put(Path, "abc");
  TFileStream Reader(Path, fmOpenRead);
  char Buffer[8];
  EXPECT_EQ(Reader.Read(Buffer, 3), 3);
  EXPECT_EQ(Reader.Size(), 3);
  {
    TFileStream Writer(Path, fmOpenWrite);
    Writer.SetPosition(3);
    Writer.WriteBuffer("de", 2);
  }
  EXPECT_EQ(Reader.Size(), 5);
  EXPECT_EQ(Reader.Read(Buffer, 8), 2);
  EXPECT_EQ(std::string(Buffer, 2), "de");
}

TEST_F(StreamFiles, OpenModes) {
  const std::string Path = PathOf("modes.txt");
  Put(Path, "0123456789");
  {
    TFileStream Writer(Path, fmOpenWrite);  // keeps the content, starts at 0
    EXPECT_EQ(Writer.Size(), 10);
    Writer.WriteBuffer("ab", 2);
    char C;
    EXPECT_THROW(Writer.Read(&C, 1), EReadError);
  }
  EXPECT_EQ(ContentOf(Path), "ab23456789");
  {
    TFileStream Both(Path, fmOpenReadWrite);
    Both.SetPosition(8);
    Both.WriteBuffer("YZ!", 3);
    Both.SetPosition(0);
    char Head[3];
    Both.ReadBuffer(Head, 3);
    EXPECT_EQ(std::string(Head, 3), "ab2");
  }
  EXPECT_EQ(ContentOf(Path), "ab234567YZ!");
  {
    TFileStream Reader(Path, fmOpenRead);
    char Tail[4] = {};
    Reader.Seek(-3, SeekOrigin::End);
    EXPECT_EQ(Reader.Read(Tail, 4), 3);
    EXPECT_EQ(std::string(Tail, 3), "YZ!");
    try {
      Reader.Write("x", 1);  // refused at once, not when a buffer is written out
      FAIL() << "no exception";
    } catch (const EWriteError& E) {
      EXPECT_EQ(E.Message(), "Stream write error");
    }
  }
  TFileStream Created(Path, fmCreate);
  EXPECT_EQ(Created.Size(), 0);
}

TEST_F(StreamFiles, OpenAndCreateFailuresNameTheFile) {
  const std::string Missing = PathOf("missing.txt");
  try {
    TFileStream File(Missing, fmOpenRead);
    FAIL() << "no exception";
  } catch (const EFOpenError& E) {
    EXPECT_EQ(E.Message(), "ファイル " + Missing + " を開けません");
  }
  EXPECT_THROW(TFileStream(Dir.Path(), fmOpenRead), EFOpenError);
  const std::string NoFolder = PathOf("no/such/folder.txt");
  try {
    TFileStream File(NoFolder, fmCreate);
    FAIL() << "no exception";
  } catch (const EFCreateError& E) {
    EXPECT_EQ(E.Message(), "ファイル " + NoFolder + " を作成できません");
  }
}

TEST_F(StreamFiles, ShortReadsAndBadSeeksFail) {
  const std::string Path = PathOf("short.txt");
  Put(Path, "abc");
  TFileStream File(Path, fmOpenRead);
  char Buffer[4];
  try {
    File.ReadBuffer(Buffer, 4);
    FAIL() << "no exception";
  } catch (const EReadError& E) {
    EXPECT_EQ(E.Message(), "Stream read error");
  }
  File.SetPosition(1);
  EXPECT_THROW(File.Seek(-2, SeekOrigin::Current), EStreamError);
  EXPECT_EQ(File.Position(), 1);
  EXPECT_EQ(File.Seek(10, SeekOrigin::Beginning), 10);  // past the end is allowed
  EXPECT_EQ(File.Read(Buffer, 1), 0);
}

// /dev/full refuses every write: the failure surfaces when the buffer is
// written out, once, and the stream stays usable.
TEST(FileStream, FailingSystemWriteRaisesWriteError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  TFileStream Full("/dev/full", fmOpenWrite);
  Full.WriteBuffer("abc", 3);
  try {
    Full.Flush();
    FAIL() << "no exception";
  } catch (const EWriteError& E) {
    EXPECT_EQ(E.Message(), "Stream write error");
  }
  EXPECT_NO_THROW(Full.Flush());
  const std::string Large(100000, 'x');  // too big for the buffer: fails at once
  EXPECT_THROW(Full.WriteBuffer(Large.data(), static_cast<std::int64_t>(Large.size())), EWriteError);
}

TEST(MemoryStream, GrowsCutsAndSeeks) {
  TMemoryStream M;
  M.WriteBuffer("hello", 5);
  M.SetPosition(7);
  M.WriteBuffer("!", 1);
  EXPECT_EQ(M.DataString(), std::string("hello\0\0!", 8));
  M.SetSize(3);
  EXPECT_EQ(M.Position(), 3);
  EXPECT_EQ(M.DataString(), "hel");
  M.SetPosition(1);
  M.SetSize(10);
  EXPECT_EQ(M.Position(), 1);
  EXPECT_EQ(M.Size(), 10);
  EXPECT_THROW(M.Seek(-1, SeekOrigin::Beginning), EStreamError);
  M.Clear();
  EXPECT_EQ(M.Size(), 0);
  EXPECT_EQ(M.Position(), 0);
}

TEST_F(StreamFiles, CopyFromAndMemoryFiles) {
  TMemoryStream Source;
  Source.WriteBuffer("0123456789", 10);
  TMemoryStream Part;
  Source.SetPosition(4);
  EXPECT_EQ(Part.CopyFrom(Source, 3), 3);
  EXPECT_EQ(Part.DataString(), "456");
  EXPECT_THROW(Part.CopyFrom(Source, 4), EReadError);  // only 3 bytes are left

  const std::string Path = PathOf("memory.bin");
  {
    TFileStream File(Path, fmCreate);
    EXPECT_EQ(File.CopyFrom(Source, 0), 10);  // 0: all of it, from the start
  }
  TMemoryStream Loaded;
  Loaded.LoadFromFile(Path);
  EXPECT_EQ(Loaded.DataString(), "0123456789");
  EXPECT_EQ(Loaded.Position(), 0);
  Loaded.SaveToFile(PathOf("copy.bin"));
  EXPECT_EQ(ContentOf(PathOf("copy.bin")), "0123456789");
}

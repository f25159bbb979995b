#pragma once
// Seekable byte streams. Positions and sizes are 64-bit byte counts.
//
// TFileStream buffers reads and writes internally; every observable result
// (contents, Position, Size) is exactly what an unbuffered stream would give:
// pending writes are flushed before a seek that moves, a size query, a
// truncation and on destruction, and read-ahead is dropped when the position
// moves outside the buffered window. Write failures that only show when the
// buffer is written out are raised by the call that writes it out (Flush, a
// moving Seek, Size, SetSize); the destructor cannot raise, so callers that
// must know whether everything reached the file call Flush() before freeing.

#include <cstdint>
#include <string>
#include <vector>

namespace pelicore {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to Count bytes; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
  // Writes Count bytes; returns how many were written.
  virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
  // Returns the new position. Positions past the end are allowed; a
  // position below 0 fails with EStreamError "Stream seek error".
  virtual std::int64_t Seek(std::int64_t Offset, SeekOrigin Origin) = 0;
  virtual std::int64_t Size();
  // Cuts or extends (with zero bytes) to NewSize; the position stays where it
  // was unless it lay past the new end, then it moves to the new end.
  virtual void SetSize(std::int64_t NewSize) = 0;
  // Hands buffered writes on to the medium; EWriteError when that fails.
  // Streams without a buffer have nothing to do.
  virtual void Flush() {}

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t Pos) { Seek(Pos, SeekOrigin::Beginning); }

  // All or nothing: EReadError "Stream read error" / EWriteError
  // "Stream write error" when fewer bytes move.
  void ReadBuffer(void* Buffer, std::int64_t Count);
  // Inline for the common case of everything written at once: the decoders
  // write one byte at a time.
  void WriteBuffer(const void* Buffer, std::int64_t Count) {
    if (Count > 0) {
      const std::int64_t Put = Write(Buffer, Count);
      if (Put != Count) WriteRest(Buffer, Count, Put);
    }
  }
  // Copies Count bytes from Source's position (0 or less: all of Source from
  // 0); returns the number copied. EReadError when Source runs short.
  std::int64_t CopyFrom(TStream& Source, std::int64_t Count);

 private:
  void WriteRest(const void* Buffer, std::int64_t Count, std::int64_t Put);
};

enum FileMode : unsigned {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmCreate = 0xFF00,  // create or truncate, then read and write
};

class TFileStream : public TStream {
 public:
  // Fails with EFOpenError "ファイル <name> を開けません" (also for a
  // directory) or, for fmCreate, EFCreateError "ファイル <name> を作成できません".
  // New files get mode 0666 less the umask. Read and write failures of the
  // system raise EReadError "Stream read error" / EWriteError "Stream write
  // error"; writing to a stream opened for reading fails at once.
  TFileStream(const std::string& FileName, unsigned Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, SeekOrigin Origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t NewSize) override;

  // Writes out buffered data; EWriteError on failure (the data that failed is
  // dropped, so a later call does not fail again on the same bytes).
  void Flush() override;
  const std::string& FileName() const { return FFileName; }

 private:
  struct Impl;
  Impl* FImpl;
  std::string FFileName;
};

class TMemoryStream : public TStream {
 public:
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, SeekOrigin Origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
  void SetSize(std::int64_t NewSize) override;

  void Clear();
  const char* Memory() const { return FData.data(); }
  std::string DataString() const { return std::string(FData.begin(), FData.end()); }
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

 private:
  std::vector<char> FData;
  std::int64_t FPosition = 0;
};

}  // namespace pelicore

#include "platform/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/Exceptions.h"

namespace pelicore {

namespace {

const char* const kReadError = "Stream read error";
const char* const kWriteError = "Stream write error";
const char* const kSeekError = "Stream seek error";

// Base + Offset as a stream position: never below 0, never wrapping.
std::int64_t TargetPosition(std::int64_t Base, std::int64_t Offset) {
  std::int64_t Result = 0;
  if (__builtin_add_overflow(Base, Offset, &Result) || Result < 0) throw EStreamError(kSeekError);
  return Result;
}

}  // namespace

// ---------------------------------------------------------------- TStream

std::int64_t TStream::Size() {
  const std::int64_t Here = Seek(0, SeekOrigin::Current);
  const std::int64_t End = Seek(0, SeekOrigin::End);
  Seek(Here, SeekOrigin::Beginning);
  return End;
}

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
  auto* Out = static_cast<char*>(Buffer);
  while (Count > 0) {
    const std::int64_t Got = Read(Out, Count);
    if (Got <= 0) throw EReadError(kReadError);
    Out += Got;
    Count -= Got;
  }
}

void TStream::WriteRest(const void* Buffer, std::int64_t Count, std::int64_t Put) {
  const auto* In = static_cast<const char*>(Buffer);
  while (Put > 0 && Put < Count) {
    In += Put;
    Count -= Put;
    Put = Write(In, Count);
  }
  if (Put != Count) throw EWriteError(kWriteError);
}

std::int64_t TStream::CopyFrom(TStream& Source, std::int64_t Count) {
  if (Count <= 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  constexpr std::int64_t kChunk = std::int64_t{64} * 1024;
  const auto Chunk = std::make_unique<char[]>(kChunk);
  for (std::int64_t Left = Count; Left > 0;) {
    const std::int64_t N = std::min(Left, kChunk);
    Source.ReadBuffer(Chunk.get(), N);
    WriteBuffer(Chunk.get(), N);
    Left -= N;
  }
  return Count;
}

// ------------------------------------------------------------ TFileStream

// One buffer serves either as read-ahead (a window of the file's bytes around
// the position) or as pending writes (bytes that end at the position), never
// both. The descriptor is used with pread/pwrite only, so the kernel's file
// offset plays no part and the logical position is Pos alone.
struct TFileStream::Impl {
  static constexpr std::int64_t kBufferSize = std::int64_t{64} * 1024;
  enum class Use { Empty, ReadAhead, PendingWrite };

  int Fd = -1;
  bool CanRead = false;
  bool CanWrite = false;
  std::int64_t Pos = 0;
  Use State = Use::Empty;
  std::int64_t BufStart = 0;  // file offset of Buf[0]
  std::int64_t BufLen = 0;    // valid (read-ahead) or pending (write) bytes
  // The file's size as last asked of the system, or -1. Every read or write
  // of the system forgets it, so it is never older than the read-ahead, and
  // it is asked again once the position has reached it, so a reader at the
  // end sees the file grow. A line reader that asks for the size after each
  // line thus costs no system call.
  std::int64_t KnownSize = -1;
  std::unique_ptr<char[]> Buf = std::make_unique<char[]>(kBufferSize);

  // Up to Count bytes at Offset; fewer only at the end of the file.
  std::int64_t ReadAt(char* Out, std::int64_t Count, std::int64_t Offset) {
    KnownSize = -1;
    std::int64_t Done = 0;
    while (Done < Count) {
      const ssize_t N = ::pread(Fd, Out + Done, static_cast<size_t>(Count - Done), Offset + Done);
      if (N < 0) {
        if (errno == EINTR) continue;
        throw EReadError(kReadError);
      }
      if (N == 0) break;
      Done += N;
    }
    return Done;
  }

  void WriteAt(const char* In, std::int64_t Count, std::int64_t Offset) {
    KnownSize = -1;
    std::int64_t Done = 0;
    while (Done < Count) {
      const ssize_t N = ::pwrite(Fd, In + Done, static_cast<size_t>(Count - Done), Offset + Done);
      if (N < 0 && errno == EINTR) continue;
      if (N <= 0) throw EWriteError(kWriteError);
      Done += N;
    }
  }

  void DropReadAhead() {
    if (State == Use::ReadAhead) {
      State = Use::Empty;
      BufLen = 0;
    }
  }

  [[gnu::noinline]] std::int64_t Write(const char* In, std::int64_t Count) {
    if (Count <= 0) return 0;
    if (!CanWrite) throw EWriteError(kWriteError);
    if (State == Use::PendingWrite && BufLen + Count <= kBufferSize) {
      std::memcpy(Buf.get() + BufLen, In, static_cast<size_t>(Count));
      BufLen += Count;
      Pos += Count;
      return Count;
    }
    FlushPending();
    DropReadAhead();
    if (Count >= kBufferSize) {
      WriteAt(In, Count, Pos);
    } else {
      State = Use::PendingWrite;
      BufStart = Pos;
      std::memcpy(Buf.get(), In, static_cast<size_t>(Count));
      BufLen = Count;
    }
    Pos += Count;
    return Count;
  }

  // Pending bytes leave the buffer before they are written, so a failure is
  // reported once and the stream stays usable.
  void FlushPending() {
    if (State != Use::PendingWrite) return;
    const std::int64_t Count = BufLen;
    State = Use::Empty;
    BufLen = 0;
    WriteAt(Buf.get(), Count, BufStart);
  }
};

TFileStream::TFileStream(const std::string& FileName, unsigned Mode)
    : FImpl(new Impl), FFileName(FileName) {
  const bool Create = (Mode & fmCreate) == fmCreate;
  int Flags = O_CLOEXEC;
  if (Create) {
    Flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (Mode & 3u) {
      case fmOpenRead: Flags |= O_RDONLY; break;
      case fmOpenWrite: Flags |= O_WRONLY; break;
      case fmOpenReadWrite: Flags |= O_RDWR; break;
      default: Flags = -1; break;
    }
  }
  auto Fail = [&]() -> void {
    delete FImpl;
    FImpl = nullptr;
    if (Create) throw EFCreateError("ファイル " + FileName + " を作成できません");
    throw EFOpenError("ファイル " + FileName + " を開けません");
  };
  if (Flags == -1) Fail();
  do {
    FImpl->Fd = ::open(FileName.c_str(), Flags, 0666);
  } while (FImpl->Fd < 0 && errno == EINTR);
  if (FImpl->Fd < 0) Fail();
  struct stat Info {};
  if (::fstat(FImpl->Fd, &Info) != 0 || S_ISDIR(Info.st_mode)) {
    ::close(FImpl->Fd);
    Fail();
  }
  const int Access = Flags & O_ACCMODE;
  FImpl->CanRead = Access != O_WRONLY;
  FImpl->CanWrite = Access != O_RDONLY;
}

TFileStream::~TFileStream() {
  try {
    FImpl->FlushPending();
  } catch (...) {
    // A destructor cannot report; callers that must know call Flush() first.
  }
  ::close(FImpl->Fd);
  delete FImpl;
}

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
  Impl& S = *FImpl;
  if (Count <= 0) return 0;
  if (!S.CanRead) throw EReadError(kReadError);
  S.FlushPending();
  auto* Out = static_cast<char*>(Buffer);
  std::int64_t Done = 0;
  while (Done < Count) {
    if (S.State == Impl::Use::ReadAhead && S.Pos >= S.BufStart && S.Pos < S.BufStart + S.BufLen) {
      const std::int64_t N = std::min(Count - Done, S.BufStart + S.BufLen - S.Pos);
      std::memcpy(Out + Done, S.Buf.get() + (S.Pos - S.BufStart), static_cast<size_t>(N));
      S.Pos += N;
      Done += N;
      continue;
    }
    const std::int64_t Left = Count - Done;
    if (Left >= Impl::kBufferSize) {
      // A large read goes straight to the caller's memory.
      const std::int64_t N = S.ReadAt(Out + Done, Left, S.Pos);
      S.Pos += N;
      Done += N;
      break;
    }
    S.DropReadAhead();
    const std::int64_t N = S.ReadAt(S.Buf.get(), Impl::kBufferSize, S.Pos);
    if (N == 0) break;
    S.State = Impl::Use::ReadAhead;
    S.BufStart = S.Pos;
    S.BufLen = N;
  }
  return Done;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
  // One byte into room in the pending buffer is what the decoders do for
  // every byte they compute; it stays free of calls and register saving.
  Impl& S = *FImpl;
  if (Count == 1 && S.State == Impl::Use::PendingWrite && S.BufLen < Impl::kBufferSize) {
    S.Buf[static_cast<std::size_t>(S.BufLen++)] = *static_cast<const char*>(Buffer);
    ++S.Pos;
    return 1;
  }
  return S.Write(static_cast<const char*>(Buffer), Count);
}

std::int64_t TFileStream::Seek(std::int64_t Offset, SeekOrigin Origin) {
  Impl& S = *FImpl;
  std::int64_t Base = 0;
  switch (Origin) {
    case SeekOrigin::Beginning: Base = 0; break;
    case SeekOrigin::Current: Base = S.Pos; break;
    case SeekOrigin::End: Base = Size(); break;
  }
  const std::int64_t Target = TargetPosition(Base, Offset);
  if (Target != S.Pos) {
    S.FlushPending();
    // Read-ahead stays valid for a move inside its window: the line readers
    // read a block and step back to just after the line end.
    if (S.State == Impl::Use::ReadAhead && (Target < S.BufStart || Target > S.BufStart + S.BufLen))
      S.DropReadAhead();
    S.Pos = Target;
  }
  return S.Pos;
}

std::int64_t TFileStream::Size() {
  Impl& S = *FImpl;
  S.FlushPending();
  if (S.KnownSize < 0 || S.Pos >= S.KnownSize) {
    struct stat Info {};
    if (::fstat(S.Fd, &Info) != 0) throw EReadError(kReadError);
    S.KnownSize = static_cast<std::int64_t>(Info.st_size);
  }
  return S.KnownSize;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  Impl& S = *FImpl;
  if (NewSize < 0 || !S.CanWrite) throw EWriteError(kWriteError);
  S.FlushPending();
  S.DropReadAhead();
  S.KnownSize = -1;
  int Result;
  do {
    Result = ::ftruncate(S.Fd, static_cast<off_t>(NewSize));
  } while (Result != 0 && errno == EINTR);
  if (Result != 0) throw EWriteError(kWriteError);
  S.Pos = std::min(S.Pos, NewSize);
}

void TFileStream::Flush() { FImpl->FlushPending(); }

// ---------------------------------------------------------- TMemoryStream

// The bytes held, not a Size() that a derived stream may override: reads and
// writes must stay inside FData.
std::int64_t TMemoryStream::Read(void* Buffer, std::int64_t Count) {
  const std::int64_t Available = TMemoryStream::Size() - FPosition;
  if (Count <= 0 || Available <= 0) return 0;
  const std::int64_t N = std::min(Count, Available);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  const std::int64_t End = TargetPosition(FPosition, Count);
  if (End > TMemoryStream::Size()) FData.resize(static_cast<std::size_t>(End));  // a gap reads as zero bytes
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = End;
  return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, SeekOrigin Origin) {
  std::int64_t Base = 0;
  switch (Origin) {
    case SeekOrigin::Beginning: Base = 0; break;
    case SeekOrigin::Current: Base = FPosition; break;
    case SeekOrigin::End: Base = TMemoryStream::Size(); break;
  }
  FPosition = TargetPosition(Base, Offset);
  return FPosition;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0) throw EWriteError(kWriteError);
  FData.resize(static_cast<std::size_t>(NewSize));
  FPosition = std::min(FPosition, NewSize);
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream File(FileName, fmOpenRead);
  const std::int64_t Count = File.Size();
  std::vector<char> Data(static_cast<std::size_t>(Count));
  File.ReadBuffer(Data.data(), Count);
  FData.swap(Data);
  FPosition = 0;
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
  TFileStream File(FileName, fmCreate);
  File.WriteBuffer(FData.data(), Size());
  File.Flush();
}

}  // namespace pelicore

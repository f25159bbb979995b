// Bulk transfer of files and streams over the component's connection, and the
// header filter. Raw bytes: no line framing, no end-of-data line.
//
// Every loop dispatches pending events after each socket call. When a send
// finds the peer's window full, or a receive finds nothing, it waits for the
// next event (the socket becoming writable or readable, a posted message, a
// timer tick, user input) instead of trying again at once, so a transfer that
// cannot move costs no processor time; a cancel or the time-out ends it.

#include <cstring>
#include <memory>

#include "platform/Application.h"
#include "socket/Psock.h"
#include "socket/TimeOutScope.h"

namespace pelicore {

namespace {

constexpr const char* SendAbortedText = "Socket send aborted";
constexpr const char* CaptureAbortedText = "Socket capture aborted";

// The counters are 32-bit and wrap around on transfers beyond 2 GiB, as the
// platform's own counters do, instead of overflowing.
void AddTo(std::int32_t& Counter, int Count) {
  Counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(Counter) + static_cast<std::uint32_t>(Count));
}

}  // namespace

void TZedadedar::AwaitSocket() {
  if (!Canceled) Application().WaitForNextEvent();
}

void TZedadedar::RearmTimer() {
  StatusMessage(StatusLevel::Trace, "Timer On");
  TimedOut = false;
  const std::uint32_t Interval = TimerInterval();
  // Changing Enabled restarts the count, which is what re-arming means.
  Timer->SetEnabled(false);
  Timer->SetInterval(Interval);
  Timer->SetEnabled(true);
}

int TZedadedar::ReceiveChunk(const char*& Data) {
  // The socket is asked for as much as the input buffer holds, which saves
  // system calls and notifications on a fast stream; what it gives is handed
  // out in chunks of at most BufferSize bytes, each stored, counted and
  // reported on its own.
  if (InputPending() == 0) {
    const int Received = FillInput();
    if (Received <= 0) return Received;
  }
  const std::size_t Count = std::min(InputPending(), BufferSize);
  // The bytes stay where they are until the next receive, which comes only
  // after the caller has stored them.
  Data = InputData();
  ConsumeInput(Count);
  return static_cast<int>(Count);
}

void TZedadedar::SendChunk(std::size_t Length) {
  std::size_t Done = 0;
  while (Done < Length && !Canceled) {
    const int Sent = net::Send(SocketHandle, Buffer + Done, static_cast<int>(Length - Done), 0);
    if (Sent > 0) {
      Done += static_cast<std::size_t>(Sent);
      AddTo(BytesSent, Sent);
      if (OnPacketSent) OnPacketSent(this);
      Application().ProcessMessages();
    } else if (Sent == net::SocketError) {
      ErrorManager(net::SocketErrors::WouldBlock);
      // The peer's window is full: the platform wakes us when there is room.
      AwaitSocket();
    }
  }
}

void TZedadedar::SendFile(const std::string& FileName) {
  StatusMessage(StatusLevel::Trace, "SendFile");
  {
    TFileStream File(FileName, fmOpenRead);
    const std::int64_t Size = File.Size();
    do {
      if (!Canceled) {
        const auto Count = static_cast<std::size_t>(File.Read(Buffer, static_cast<std::int64_t>(BufferSize)));
        SendChunk(Count);
        // A file that shrinks while it is sent ends the send.
        if (Count == 0) break;
      }
    } while (File.Position() < Size && !Canceled);
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(SendAbortedText);
  }
}

void TZedadedar::SendStream(TStream& Stream) {
  StatusMessage(StatusLevel::Trace, "SendStream");
  Stream.SetPosition(0);
  if (!Canceled) {
    BytesSent = 0;
    const std::int64_t Size = Stream.Size();
    BytesTotal = static_cast<std::int32_t>(Size);
    while (Stream.Position() < Size && !Canceled) {
      const std::int64_t Count = std::min<std::int64_t>(Size - Stream.Position(), BufferSize);
      Stream.ReadBuffer(Buffer, Count);
      SendChunk(static_cast<std::size_t>(Count));
    }
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(SendAbortedText);
  }
}

void TZedadedar::AppendFile(const std::string& FileName) {
  StatusMessage(StatusLevel::Trace, "Append File");
  BytesRecvd = 0;
  {
    TFileStream File(FileName, fmOpenWrite);
    File.Seek(0, SeekOrigin::End);
    while (Connected && !Canceled) {
      const char* Data = nullptr;
      const int Received = ReceiveChunk(Data);
      if (Received > 0) {
        File.WriteBuffer(Data, Received);
        AddTo(BytesRecvd, Received);
        if (OnPacketRecvd) OnPacketRecvd(this);
        Application().ProcessMessages();
      } else if (Received == 0) {
        // The peer has closed. The close notification clears Connected, but
        // not while unread bytes remained when it came: then nothing else
        // would end this loop.
        break;
      } else {
        ErrorManager(net::SocketErrors::WouldBlock);
        AwaitSocket();
      }
    }
    File.Flush();
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(SendAbortedText);
  }
}

void TZedadedar::CaptureFile(const std::string& FileName) {
  StatusMessage(StatusLevel::Trace, "CaptureFile");
  BytesRecvd = 0;
  TimeOutScope Armed(*this);
  {
    TFileStream File(FileName, fmCreate);
    while (!Canceled) {
      const char* Data = nullptr;
      const int Received = ReceiveChunk(Data);
      if (Received == 0) break;
      if (Received > 0) {
        File.WriteBuffer(Data, Received);
        AddTo(BytesRecvd, Received);
        if (OnPacketRecvd) OnPacketRecvd(this);
        RearmTimer();
        Application().ProcessMessages();
        continue;
      }
      LastErrorNo = net::LastError();
      if (LastErrorNo == net::SocketErrors::NotConnected) break;
      ErrorManager(net::SocketErrors::WouldBlock);
      AwaitSocket();
    }
    File.Flush();
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(SendAbortedText);
  }
}

void TZedadedar::CaptureStream(TStream& Stream, std::int32_t Size) {
  StatusMessage(StatusLevel::Trace, "Capture Stream");
  BytesRecvd = 0;
  TimeOutScope Armed(*this);
  for (;;) {
    if (Canceled) break;
    if (Size != -1 && Stream.Size() >= Size) break;
    const char* Data = nullptr;
    const int Received = ReceiveChunk(Data);
    if (Received == 0) break;
    if (Received > 0) {
      Stream.WriteBuffer(Data, Received);
      AddTo(BytesRecvd, Received);
      if (OnPacketRecvd) OnPacketRecvd(this);
      RearmTimer();
      Application().ProcessMessages();
    } else {
      LastErrorNo = net::LastError();
      if (LastErrorNo == net::SocketErrors::NotConnected) break;
      ErrorManager(net::SocketErrors::WouldBlock);
      // With -1 the one receive is all there is: no waiting.
      if (Size == -1)
        Application().ProcessMessages();
      else
        AwaitSocket();
    }
    if (Size == -1) break;
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(CaptureAbortedText);
  }
}

void TZedadedar::CaptureString(std::string& Text, std::int32_t Size) {
  StatusMessage(StatusLevel::Trace, "Capture String");
  Text.clear();
  BytesRecvd = 0;
  TimeOutScope Armed(*this);
  while (!Canceled && (Size == -1 || Text.size() < static_cast<std::size_t>(std::max(Size, 0)))) {
    const char* Data = nullptr;
    const int Received = ReceiveChunk(Data);
    if (Received == 0) break;
    if (Received > 0) {
      Text.append(Data, static_cast<std::size_t>(Received));
      AddTo(BytesRecvd, Received);
      if (OnPacketRecvd) OnPacketRecvd(this);
      RearmTimer();
      Application().ProcessMessages();
    } else {
      LastErrorNo = net::LastError();
      if (LastErrorNo == net::SocketErrors::NotConnected) break;
      ErrorManager(net::SocketErrors::WouldBlock);
      AwaitSocket();
    }
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError(CaptureAbortedText);
  }
}

void TZedadedar::FilterHeader(TStream& Stream) {
  StatusMessage(StatusLevel::Trace, "FilterHeader");
  for (;;) {
    const std::string Line = ReadLn();
    Stream.WriteBuffer(Line.data(), static_cast<std::int64_t>(Line.size()));
    if (Line.empty() || Line == "\n" || Line == "\r\n") return;
  }
}

void StreamLn(TStream& Stream, const std::string& Text) {
  const std::string Line = Text + "\r\n";
  Stream.WriteBuffer(Line.data(), static_cast<std::int64_t>(Line.size()));
}

}  // namespace pelicore

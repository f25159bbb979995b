// Line and buffer transfer over the component's socket, and the word
// splitters of protocol replies.
//
// Input is taken from the socket in large chunks into a buffer of the
// component's own and handed out from there: one receive serves hundreds of
// lines. Every reader looks at that buffer before the socket, so what callers
// see is what they would see if the bytes were still queued in the socket:
// bytes after a line's end stay pending for the next read, and the buffer goes
// with its socket when that is closed.
//
// The read waits dispatch all pending events in every pass, so the interface
// stays alive and a cancel or the time-out ends them; when a pass finds
// nothing the wait blocks until the next event instead of spinning. That is
// safe because every receive re-arms the socket's read notification: data
// arriving after a receive that found nothing always wakes the wait.

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/Application.h"
#include "platform/Strings.h"
#include "socket/Psock.h"
#include "socket/TimeOutScope.h"

namespace pelicore {

void TZedadedar::ConsumeInput(std::size_t Count) {
  if (Count == 0) return;
  ++FInputConsumptions;
  FInputStart += Count;
  if (FInputStart == FInputEnd) FInputStart = FInputEnd = 0;
}

void TZedadedar::DropInput() {
  FInputStart = FInputEnd = 0;
  ++FInputGeneration;
}

int TZedadedar::FillInput() {
  if (FInputStart == FInputEnd) {
    FInputStart = FInputEnd = 0;
  } else if (InputCapacity - FInputEnd < BufferSize) {
    // Only a part line (less than BufferSize bytes) is ever moved.
    std::memmove(FInput.get(), FInput.get() + FInputStart, InputPending());
    FInputEnd = InputPending();
    FInputStart = 0;
  }
  const int Received =
      net::Recv(SocketHandle, FInput.get() + FInputEnd, static_cast<int>(InputCapacity - FInputEnd), 0);
  if (Received > 0) FInputEnd += static_cast<std::size_t>(Received);
  return Received;
}

void TZedadedar::SendBuffer(const char* Data, std::uint16_t Length) {
  StatusMessage(StatusLevel::Traffic, "Sending Buffer");
  TimeOutScope Armed(*this);
  if (!Canceled) {
    std::size_t Total = Length;
    if (Total == 0) {
      Total = strnlen(Data, BufferSize);
      if (Total >= BufferSize) throw ERangeError("Text too long to send: 65536 bytes or more");
    }
    std::size_t Remaining = Total;
    do {
      const int Sent = net::Send(SocketHandle, Data + (Total - Remaining), static_cast<int>(Remaining), 0);
      if (Sent == 0) break;
      if (Sent == net::SocketError) {
        ErrorManager(net::SocketErrors::WouldBlock);
        // The peer takes nothing for now: wait for room (the platform
        // wakes us) or any other event, so that a cancel or the time-out
        // can end a peer that never reads, without retrying at full speed.
        AwaitSocket();
      } else {
        Remaining -= static_cast<std::size_t>(Sent);
      }
    } while (Remaining != 0 && !Canceled);
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError("Socket send aborted");
  }
}

void TZedadedar::Write(const std::string& Text) {
  StatusMessage(StatusLevel::Trace, "Write");
  // c_str() ends in a zero byte, so the text is sent up to its first zero.
  SendBuffer(Text.c_str(), 0);
}

void TZedadedar::Writeln(const std::string& Text) {
  StatusMessage(StatusLevel::Trace, "Writeln");
  Write(Text + "\r\n");
}

std::string TZedadedar::Read(std::uint16_t Count) {
  StatusMessage(StatusLevel::Trace, "Read( " + IntToStr(Count) + " )");
  std::size_t Wanted = Count;
  if (Wanted == 0) {
    if (InputPending() < BufferSize && FillInput() == net::SocketError) ErrorManager(net::SocketErrors::WouldBlock);
    if (InputPending() >= BufferSize) throw ERangeError("Read( 0 ): 65536 bytes or more pending");
    Wanted = InputPending();
  } else {
    const std::uint32_t Generation = FInputGeneration;
    while (InputPending() < Wanted) {
      const int Received = FillInput();
      if (Received == 0) {
        // The peer has closed: what is left is all there will be.
        std::string Rest(InputData(), InputPending());
        ConsumeInput(InputPending());
        return Rest;
      }
      if (Received == net::SocketError) {
        ErrorManager(net::SocketErrors::WouldBlock);
        if (!Canceled) Application().WaitForNextEvent();
      }
      if (InputPending() >= Wanted) break;
      Application().ProcessMessages();
      if (Canceled) break;
      // The peer's close was handled meanwhile (nothing was left unread, so
      // the socket was closed and replaced): nothing more will come.
      if (Generation != FInputGeneration) return {};
    }
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError("Socket send aborted");
  }
  std::string Result(InputData(), Wanted);
  ConsumeInput(Wanted);
  return Result;
}

std::string TZedadedar::ReadLn() {
  StatusMessage(StatusLevel::Trace, "ReadLn");
  const std::size_t Window = std::min(InputPending(), BufferSize);
  if (!Canceled && Window != 0) {
    if (const void* End = std::memchr(InputData(), '\n', Window)) {
      // The line is here already: no wait, so the time-out cannot run.
      PulseTimer();
      const std::size_t Length = static_cast<std::size_t>(static_cast<const char*>(End) - InputData()) + 1;
      std::string Line(InputData(), Length);
      ConsumeInput(Length);
      return Line;
    }
  }

  TimeOutScope Armed(*this);
  // Taken: bytes at the front of the input that belong to this line and
  // have been searched already (no LF among them). A cancel drops them.
  std::size_t Taken = 0;
  std::size_t LineLength = 0;
  std::uint32_t Generation = FInputGeneration;
  std::uint32_t Consumptions = FInputConsumptions;
  for (;;) {
    int Received = 1;
    if (InputPending() <= Taken) Received = FillInput();
    if (Received == 0) {
      ConsumeInput(InputPending());
      return {};
    }
    if (Received == net::SocketError) {
      LastErrorNo = net::LastError();
      if (LastErrorNo == net::SocketErrors::NotConnected) {
        ConsumeInput(Taken);
        Taken = 0;
        break;
      }
      ErrorManager(net::SocketErrors::WouldBlock);
      // A cancel left over from before the call ends it without a wait.
      if (!Canceled) Application().WaitForNextEvent();
    } else {
      const std::size_t Limit = std::min(InputPending(), BufferSize);
      if (const void* End = std::memchr(InputData() + Taken, '\n', Limit - Taken)) {
        LineLength = static_cast<std::size_t>(static_cast<const char*>(End) - InputData()) + 1;
        break;
      }
      Taken = Limit;
      if (Taken == BufferSize) {
        ConsumeInput(BufferSize);
        throw ESockError("Line too long");
      }
    }
    Application().ProcessMessages();
    if (Generation != FInputGeneration || Consumptions != FInputConsumptions) {
      // The socket was closed, or a read nested in the dispatch took input:
      // the part line is gone, and what is pending now is searched afresh.
      Generation = FInputGeneration;
      Consumptions = FInputConsumptions;
      Taken = 0;
    }
    if (Canceled) break;
  }
  if (Canceled) {
    ConsumeInput(Taken);
    Canceled = false;
    throw EAbortError("Socket readln aborted");
  }
  Armed.Disarm();
  if (LineLength == 0) return {};
  std::string Line(InputData(), LineLength);
  ConsumeInput(LineLength);
  return Line;
}

std::string TZedadedar::Transaction(const std::string& Command) {
  StatusMessage(StatusLevel::Trace, "Transaction");
  ReplyNumber = 0;
  Writeln(Command);
  TransactionReply = ReadLn();
  if (!TransactionReply.empty()) {
    StatusMessage(StatusLevel::Replies, TransactionReply);
    std::int64_t Value = 0;
    std::size_t Digits = 0;
    while (Digits < 10 && Digits < TransactionReply.size() && TransactionReply[Digits] >= '0' &&
           TransactionReply[Digits] <= '9') {
      Value = Value * 10 + (TransactionReply[Digits] - '0');
      ++Digits;
    }
    if (Digits > 0) {
      if (Value > INT32_MAX) Value = 0;
      if (Value > INT16_MAX) throw ERangeError("Reply number out of range: " + IntToStr(Value));
      ReplyNumber = static_cast<std::int16_t>(Value);
    }
  }
  return TransactionReply;
}

bool TZedadedar::DataAvailable() {
  StatusMessage(StatusLevel::Trace, "Data Available");
  if (InputPending() != 0) return true;
  // A scratch byte of its own: the close notification can run this while a
  // send is still working from Buffer.
  char Byte;
  return net::Recv(SocketHandle, &Byte, 1, net::RecvPeek) == 1;
}

void TZedadedar::ClearInput() {
  StatusMessage(StatusLevel::Trace, "Clearing Input");
  // One receive of up to BufferSize bytes, counting those already taken.
  const std::size_t FromBuffer = std::min(InputPending(), BufferSize);
  ConsumeInput(FromBuffer);
  if (FromBuffer < BufferSize && InputPending() == 0) {
    net::Recv(SocketHandle, FInput.get(), static_cast<int>(BufferSize - FromBuffer), 0);
  }
}

std::string NthWord(std::string_view Text, char Delimiter, std::int32_t N) {
  std::string Word;
  std::int32_t Delimiters = 0;
  for (const char C : Text) {
    if (C == Delimiter) {
      if (++Delimiters == N) break;
    } else if (Delimiters == N - 1) {
      Word += C;
    }
  }
  return Word;
}

std::int32_t NthPos(std::string_view Text, char Delimiter, std::int32_t N) {
  const auto End = static_cast<std::int32_t>(Text.size()) + 1;
  std::int32_t Delimiters = 0;
  for (std::int32_t Position = 1; Position < End; ++Position) {
    if (Text[static_cast<std::size_t>(Position - 1)] == Delimiter && ++Delimiters == N) {
      // A delimiter in the last place counts as the end of the text.
      return Position == End - 1 ? End : Position;
    }
  }
  return End;
}

}  // namespace pelicore

#include "pop3/ReplyReader.h"

#include <cstring>

#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "socket/Psock.h"
#include "socket/TimeOutScope.h"

namespace pelicore {

namespace {
// The largest read the socket component hands out at once.
constexpr std::uint16_t kLargestRead = 65535;
// The longest stretch of reading without dispatching the window's events.
constexpr auto kDispatchEvery = std::chrono::milliseconds(10);
}  // namespace

void TReplyReader::Start(std::int64_t Limit) {
  FBuffer.clear();
  FStart = FSearched = 0;
  FTaken = 0;
  FLimit = Limit;
  FDispatched = std::chrono::steady_clock::now();
}

bool TReplyReader::Fill() {
  if (!FSocket.Connected) return false;
  std::string Chunk;
  try {
    // What is there now, without waiting.
    Chunk = FSocket.Read(0);
  } catch (const ERangeError&) {
    // 64 KiB or more are pending: a full read returns at once.
    Chunk = FSocket.Read(kLargestRead);
  }
  if (Chunk.empty()) {
    // Nothing pending: wait for one byte, as ReadLn waits, with the time-out.
    {
      TimeOutScope Armed(FSocket);
      Chunk = FSocket.Read(1);
    }
    if (Chunk.empty()) return false;
    FDispatched = std::chrono::steady_clock::now();
  } else if (const auto Now = std::chrono::steady_clock::now(); Now - FDispatched >= kDispatchEvery) {
    // Data keeps coming without a wait: let the window live (repaint, the
    // progress bar, Esc) as a wait would, and honour a cancel made there.
    FDispatched = Now;
    Application().ProcessMessages();
    if (FSocket.Canceled) {
      FSocket.Canceled = false;
      throw EAbortError("Socket send aborted");
    }
  }
  if (FStart > 0 && FStart >= FBuffer.size() / 2) {
    FBuffer.erase(0, FStart);
    FStart = 0;
  }
  FBuffer += Chunk;
  return true;
}

bool TReplyReader::Next(std::string& Line) {
  for (;;) {
    const std::size_t Held = FBuffer.size() - FStart;
    if (Held > FSearched) {
      const char* From = FBuffer.data() + FStart;
      if (const void* End = std::memchr(From + FSearched, '\n', Held - FSearched)) {
        const auto Length = static_cast<std::size_t>(static_cast<const char*>(End) - From) + 1;
        FTaken += static_cast<std::int64_t>(Length);
        if (FTaken > FLimit) throw BudgetExceeded{};
        Line.assign(From, Length);
        FStart += Length;
        FSearched = 0;
        if (FStart == FBuffer.size()) {
          FBuffer.clear();
          FStart = 0;
        }
        return true;
      }
      FSearched = Held;
    }
    if (FTaken + static_cast<std::int64_t>(Held) > FLimit) throw BudgetExceeded{};
    if (!Fill()) {
      // A part line without its end is no line.
      FBuffer.clear();
      FStart = FSearched = 0;
      return false;
    }
  }
}

}  // namespace pelicore

#pragma once
// The lines of a long multi-line reply (a whole message), taken from the
// socket component in large reads and split here.
//
// ReadLn refuses lines of 64 KiB and more, while mail in the wild has longer
// ones; this reader keeps any line whole and bounds memory by a budget for
// the whole reply instead. It waits as ReadLn does (dispatching events, the
// time-out armed, a cancel ending the wait) and takes the bytes the socket
// component has already buffered first. Bytes it holds past the line handed
// out belong to the same reply: a server sends nothing after the end of a
// reply until the next command.

#include <chrono>
#include <cstdint>
#include <string>

namespace pelicore {

class TZedadedar;

class TReplyReader {
 public:
  explicit TReplyReader(TZedadedar& Socket) : FSocket(Socket) {}

  // Forgets buffered bytes and starts a new budget of Limit bytes.
  void Start(std::int64_t Limit);
  // The next line with its line end (LF, normally after CR) into Line.
  // False when the peer closed (or the socket is closed) before the line
  // ended. Throws BudgetExceeded once the lines handed out and the part line
  // held pass the budget; the socket's EAbortError on a cancel or time-out and
  // its ESockError on a socket error.
  bool Next(std::string& Line);
  // Bytes handed out since Start.
  std::int64_t Taken() const { return FTaken; }

  struct BudgetExceeded {};

 private:
  // One more chunk into FBuffer; false when nothing more will come.
  bool Fill();

  TZedadedar& FSocket;
  std::string FBuffer;
  std::size_t FStart = 0;     // first byte not handed out
  std::size_t FSearched = 0;  // bytes from FStart known to hold no LF
  std::int64_t FTaken = 0;
  std::int64_t FLimit = 0;
  // When pending events were last dispatched: a fast server keeps data
  // pending, so the reader never waits, and the window would freeze for
  // the whole message without a dispatch of its own now and then.
  std::chrono::steady_clock::time_point FDispatched;
};

}  // namespace pelicore

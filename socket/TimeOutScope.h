#pragma once
// Arms the socket component's time-out for one timed wait and disarms it
// exactly once, however the wait ends: at Disarm(), where the order of the
// status texts asks for it, or else when the scope is left (an exception
// included).

#include "socket/Psock.h"

namespace pelicore {

class TimeOutScope {
 public:
  // TimerOn: ERangeError for a negative TimeOut, and then nothing is armed.
  explicit TimeOutScope(TZedadedar& Socket) : FSocket(Socket) { FSocket.TimerOn(); }
  // TimerOff only reports and stops the timer, which never fails.
  ~TimeOutScope() { Disarm(); }
  TimeOutScope(const TimeOutScope&) = delete;
  TimeOutScope& operator=(const TimeOutScope&) = delete;

  void Disarm() {
    if (!FArmed) return;
    FArmed = false;
    FSocket.TimerOff();
  }

 private:
  TZedadedar& FSocket;
  bool FArmed = true;
};

}  // namespace pelicore

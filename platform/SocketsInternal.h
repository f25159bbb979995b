#pragma once
// Between the socket files of the platform only: the registration table that
// the calls, the notifications and the look-ups share.

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/Sockets.h"

namespace pelicore::net::detail {

// Sets the calling thread's last error and returns SocketError.
int Fail(int Code);
// The same for the current errno.
int FailErrno();

enum class Phase { Idle, Connecting, Connected, Listening, Done };

struct Watch;

struct SocketState {
  int Fd = -1;
  win::WindowHandle Window = 0;
  std::uint32_t Message = 0;
  std::int32_t Events = 0;
  Phase State = Phase::Idle;
  bool ReadArmed = true;
  bool AcceptArmed = true;
  bool ClosePosted = false;
  int EpollFd = -1;
  std::uint32_t Mask = 0;  // what the epoll set holds now; 0: not in the set
  Watch* Notifier = nullptr;
};

struct Table {
  std::mutex Lock;
  std::unordered_map<int, std::shared_ptr<SocketState>> Sockets;
  int StartupCount = 0;
};

Table& Tab();

// The following: caller holds Tab().Lock.

// The socket's registration, or null.
std::shared_ptr<SocketState> Lookup(TSocket Socket);
// Recomputes the epoll mask from the state. A
// connected socket is watched edge-triggered: every arrival of data and the
// peer's close are reported once, and whether a read notification is armed is
// decided in user space, so arming and disarming costs no system call.
// Recheck re-registers an unchanged mask, so that the kernel reports again
// what already holds (data pending, a closed peer).
void UpdateMask(SocketState& S, bool Recheck = false);
// Ends the socket's watch (deleted later when on another thread).
void DisposeWatch(SocketState& S);

// From outside the dispatch of the socket's own watch: queue the event, in
// order with the window's other messages; dropped if the socket is closed
// first or the event is not selected.
void PostEvent(const std::shared_ptr<SocketState>& S, std::int32_t Event, int Error);

// Bytes the kernel holds unread for the descriptor.
int PendingBytes(int Fd);

}  // namespace pelicore::net::detail

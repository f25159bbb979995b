#pragma once
// Message windows: hidden objects that receive numbered messages on the thread
// that created them. A window belongs to a registered window class, whose
// procedure handles every message; each window carries one pointer of data
// (the object bound to it). Messages posted from any thread are delivered in
// the order they were posted, only while the owning thread dispatches events
// (Application().ProcessMessages() or the main loop). Destroying a window drops
// its pending messages and timers: nothing reaches a freed object.

#include <cstdint>

namespace pelicore::win {

using WindowHandle = std::uint32_t;  // 0 means none
using ModuleHandle = const void*;

// A message as a handler sees it.
struct TMessage {
  std::uint32_t Msg;
  std::uint32_t WParam;
  std::int32_t LParam;
  std::int32_t Result;
};

inline std::uint16_t LowWord(std::int32_t L) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(L) & 0xFFFFu); }
inline std::uint16_t HighWord(std::int32_t L) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(L) >> 16); }
inline std::int32_t MakeLong(std::uint16_t Low, std::uint16_t High) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(Low) | (static_cast<std::uint32_t>(High) << 16));
}

constexpr std::uint32_t ActivateAppMessage = 28;
constexpr std::uint32_t TimerMessage = 275;   // WParam: the timer's identifier
constexpr std::uint32_t UserMessage = 1024;   // first number free for programs

using WindowProc = std::int32_t (*)(WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam,
                                    std::int32_t LParam);

struct WindowClassInfo {
  const char* ClassName;
  WindowProc Procedure;
  int ExtraBytes;         // room for the bound object
  ModuleHandle Instance;  // filled in by the first user
};

ModuleHandle ProgramInstance();

bool IsWindowClassRegistered(const char* ClassName);
// False when the name is taken or the record is incomplete.
bool RegisterWindowClass(const WindowClassInfo& Info);
// A hidden window of a registered class, owned by the calling thread; 0 when
// the class is unknown.
WindowHandle CreateHiddenWindow(const char* ClassName);
// From any thread: no message reaches the window from the moment of the
// call; the Qt parts are freed by the owning thread (at once when that is the
// caller, else when it next dispatches). False for an unknown handle.
bool DestroyHiddenWindow(WindowHandle Window);
bool IsWindow(WindowHandle Window);

void SetWindowData(WindowHandle Window, void* Data);
void* GetWindowData(WindowHandle Window);

// What a window does with a message its procedure does not handle.
std::int32_t DefaultWindowProc(WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam,
                               std::int32_t LParam);

// Thread-safe. False when the window does not exist (any more).
bool PostWindowMessage(WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam);
// Calls the window's procedure now, on the calling thread (its owner).
std::int32_t SendWindowMessage(WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam,
                               std::int32_t LParam);

// A periodic timer of the window that ticks as TimerMessage with WParam = Id.
// Starting a running timer again restarts its full interval. From another
// thread than the owner the start (or stop) is handed to the owner and
// happens when it next dispatches. False when the window does not exist or
// Milliseconds is 0.
bool StartWindowTimer(WindowHandle Window, std::uint32_t Id, std::uint32_t Milliseconds);
// Harmless when no such timer runs.
void StopWindowTimer(WindowHandle Window, std::uint32_t Id);

}  // namespace pelicore::win

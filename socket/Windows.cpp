// The hidden windows of the socket component and of its timer, and the window
// procedures that route their messages to the bound objects.

#include <mutex>

#include "socket/Psock.h"

namespace pelicore {

win::WindowClassInfo PsockWindowClass = {"PsockWindowClass", PsockWindowProc, sizeof(void*), nullptr};
win::WindowClassInfo TmrWindowClass = {"TmrWindowClass", TmrWindowProc, sizeof(void*), nullptr};

namespace {

// Components of the listening server are made on threads of their own, so the
// first use of a class may happen on two threads at once.
std::mutex ClassRegistrationLock;

win::WindowHandle AllocateHWnd(win::WindowClassInfo& Class, void* Object) {
  {
    std::lock_guard<std::mutex> Lock(ClassRegistrationLock);
    if (Class.Instance == nullptr) Class.Instance = win::ProgramInstance();
    if (!win::IsWindowClassRegistered(Class.ClassName) && !win::RegisterWindowClass(Class)) return 0;
  }
  const win::WindowHandle Window = win::CreateHiddenWindow(Class.ClassName);
  if (Window == 0) return 0;
  if (Object != nullptr) win::SetWindowData(Window, Object);
  return Window;
}

}  // namespace

win::WindowHandle PsockAllocateHWnd(TZedadedar* Object) { return AllocateHWnd(PsockWindowClass, Object); }

win::WindowHandle TmrAllocateHWnd(TThreadTimer* Object) { return AllocateHWnd(TmrWindowClass, Object); }

std::int32_t PsockWindowProc(win::WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam) {
  auto* Object = static_cast<TZedadedar*>(win::GetWindowData(Window));
  if (Object == nullptr || Msg < SocketMessage) return win::DefaultWindowProc(Window, Msg, WParam, LParam);
  win::TMessage Message{Msg, WParam, LParam, 0};
  Object->MessageProc(Message);
  return Message.Result;
}

std::int32_t TmrWindowProc(win::WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam) {
  auto* Object = static_cast<TThreadTimer*>(win::GetWindowData(Window));
  if (Object == nullptr) return win::DefaultWindowProc(Window, Msg, WParam, LParam);
  if (Msg == win::ActivateAppMessage) return 0;
  win::TMessage Message{Msg, WParam, LParam, 0};
  Object->MessageProc(Message);
  return Message.Result;
}

}  // namespace pelicore

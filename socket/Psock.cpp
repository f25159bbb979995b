// The socket component: start-up, notifications, name resolution, connecting,
// closing, cancelling, the time-out and the address queries.

#include <cstring>

#include "platform/Application.h"
#include "platform/Strings.h"
#include "socket/Psock.h"
#include "socket/TimeOutScope.h"

namespace pelicore {

std::atomic<std::int32_t> WinsockRefCount{0};

namespace {

constexpr std::int32_t AllNotifications = net::FdRead | net::FdOob | net::FdAccept | net::FdConnect | net::FdClose;
constexpr const char* StartupFailedText = "Initializaton of windows sockets failed";

std::string VersionText(std::uint16_t Version) {
  return IntToStr(Version >> 8) + "." + IntToStr(Version & 0xFF);
}

// "Host Lookup Failed" is the one resolver failure that Connect turns into
// "Null Remote Address"; the others end the connect.
bool EndsConnect(const ESockError& E) {
  return E.Message() == "Host Lookup Timed Out" || E.Message() == "Host Lookup Canceled";
}

}  // namespace

TZedadedar::TZedadedar(TComponent* AOwner) : TComponent(AOwner) {
  Handle = PsockAllocateHWnd(this);
  Proxy.clear();
  HostEntryBuffer = std::make_unique<char[]>(HostEntryBufferSize);
  FInput = std::make_unique_for_overwrite<char[]>(InputCapacity);
  Timer = new TThreadTimer(this);
  Timer->SetEnabled(false);
  Timer->SetOnTimer([this](TComponent* Sender) { TimerFired(Sender); });
  TimeOut = 0;
  WSAInfo = std::make_unique<TStringList>();
  Canceled = false;
  Destroying = false;
  Connected = false;
  try {
    // Without its window the component would never hear of its socket.
    if (Handle == 0) throw ESockError(StartupFailedText);
    InitWinsock();
  } catch (...) {
    if (Handle != 0) win::DestroyHiddenWindow(Handle);
    Handle = 0;
    throw;
  }
}

void TZedadedar::BeforeDestruction() {
  // Nothing may stop the destruction: a failing Abort (a derived one may
  // close its connection) still lets the socket be closed and counted out.
  try {
    Abort();
  } catch (...) {
  }
  try {
    Cancel();
  } catch (...) {
  }
  TComponent::BeforeDestruction();
}

TZedadedar::~TZedadedar() {
  WSAInfo.reset();
  if (Timer != nullptr) Timer->Free();
  Timer = nullptr;
  // The window goes before the look-up block: a look-up still running writes
  // its result only while the window exists.
  if (Handle != 0) win::DestroyHiddenWindow(Handle);
  Handle = 0;
  HostEntryBuffer.reset();
  Destroying = true;
  try {
    RequestCloseSocket();
  } catch (...) {
  }
  if (FCountedInSocketLayer) {
    FCountedInSocketLayer = false;
    if (--WinsockRefCount == 0) net::Cleanup();
  }
}

int TZedadedar::SelectNotifications(net::TSocket Socket) {
  return net::AsyncSelect(Socket, Handle, SocketMessage, AllNotifications);
}

void TZedadedar::InitWinsock() {
  StatusMessage(StatusLevel::Trace, "Initializing Winsock");
  if (IsDesigning()) return;
  FCountedInSocketLayer = true;
  if (++WinsockRefCount == 1) {
    net::Startup(0x0101, WinsockData);
    WSAInfo->Add("Version= " + VersionText(WinsockData.Version));
    WSAInfo->Add("High Version= " + VersionText(WinsockData.HighVersion));
    WSAInfo->Add(std::string("Description= ") + WinsockData.Description);
    WSAInfo->Add(std::string("System= ") + WinsockData.SystemStatus);
    WSAInfo->Add("Max Sockets= " + IntToStr(WinsockData.MaxSockets));
    WSAInfo->Add("Max Udp pack size= " + IntToStr(WinsockData.MaxUdpDatagram));
  }
  SocketHandle = net::CreateSocket(net::AddressFamilyInet, net::StreamSocket, net::ProtocolTcp);
  bool Ready = SocketHandle != net::InvalidSocket;
  if (Ready) {
    // Closing this socket resets its connection instead of ending it orderly.
    net::SetLinger(SocketHandle, true, 0);
    Ready = SelectNotifications(SocketHandle) != net::SocketError;
    if (!Ready) {
      net::CloseSocket(SocketHandle);
      SocketHandle = net::InvalidSocket;
    }
  }
  if (!Ready) {
    FCountedInSocketLayer = false;
    if (--WinsockRefCount == 0) net::Cleanup();
    throw ESockError(StartupFailedText);
  }
}

void TZedadedar::MessageProc(win::TMessage& Message) {
  try {
    const std::uint16_t Event = win::LowWord(Message.LParam);
    const std::uint16_t Error = win::HighWord(Message.LParam);
    // A notification of a socket closed since it was posted, or the late
    // completion of a look-up nobody waits for any more, would act on the
    // wrong socket or end the wrong wait.
    if (Message.Msg == SocketMessage && Message.WParam != SocketHandle) return;
    // A completion that carries no request number (0) cannot be told apart
    // and is taken as the awaited one.
    if (Message.Msg == AsyncMessage && Event != net::FdAccept && Message.WParam != 0 &&
        Message.WParam != static_cast<std::uint32_t>(FLookupRequest))
      return;

    Succeeded = Error == 0;
    if (Message.Msg == SocketMessage) {
      switch (Event) {
        case net::FdRead:
          try {
            if (OnDataArrived) OnDataArrived(this);
          } catch (...) {
          }
          break;
        case net::FdAccept:
          Connected = true;
          if (OnAccept) OnAccept(this);
          break;
        case net::FdConnect:
          if (Succeeded) {
            Connected = true;
            ++FConnectsSeen;
            if (OnConnect) OnConnect(this);
          }
          break;
        case net::FdClose:
          // With input still unread the close shows later as an empty read.
          if (!DataAvailable()) RequestCloseSocket();
          break;
        default:
          break;
      }
    } else if (Message.Msg == AsyncMessage) {
      AsyncDone = true;
      if (Event == net::FdAccept) Connected = true;
    }
  } catch (...) {
    // Nothing may cross the event loop; the waiting call learns of the
    // outcome through the flags.
  }
}

void TZedadedar::ResolveRemoteHost() {
  StatusMessage(StatusLevel::Trace, "Resolve Host");
  const std::string& HostName = Proxy.empty() ? Host : Proxy;
  const std::size_t Length = std::min(HostName.size(), BufferSize);
  std::memcpy(Buffer, HostName.data(), Length);
  Buffer[Length] = '\0';

  const std::uint32_t Address = net::DottedToAddress(Buffer);
  if (Address != net::NoAddress) {
    RemoteAddress.Address = Address;
    return;
  }

  RemoteAddress.Address = 0;
  {
    TimeOutScope Armed(*this);
    AsyncDone = false;
    FLookupRequest = net::AsyncGetHostByName(Handle, AsyncMessage, Buffer, HostEntryBuffer.get(),
                                             static_cast<int>(HostEntryBufferSize));
    if (FLookupRequest == 0) {
      // No look-up could be started: nothing would ever end the wait.
      Succeeded = false;
      AsyncDone = true;
    }
    do {
      SleepMs(2);
      Application().ProcessMessages();
    } while (!AsyncDone && !TimedOut && !Canceled);
  }
  FLookupRequest = 0;

  if (TimedOut) throw ESockError("Host Lookup Timed Out");
  if (Canceled) throw ESockError("Host Lookup Canceled");
  if (!Succeeded) throw ESockError("Host Lookup Failed");

  net::THostInfo Entry;
  std::memcpy(&Entry, HostEntryBuffer.get(), sizeof Entry);
  char* First = Entry.AddressList != nullptr ? Entry.AddressList[0] : nullptr;
  if (First == nullptr) throw ESockError("Host Lookup Failed");
  std::memcpy(&RemoteAddress.Address, First, sizeof RemoteAddress.Address);
  if (OnHostResolved) OnHostResolved(this);
}

void TZedadedar::Connect() {
  StatusMessage(StatusLevel::Trace, "Connecting");
  Canceled = false;
  if (Connected) throw ESockError("Already connected");

  for (int Retries = 0;; ++Retries) {
    try {
      ResolveRemoteHost();
    } catch (const ESockError& E) {
      if (EndsConnect(E)) throw;
    }
    if (RemoteAddress.Address != 0) break;
    if (Retries > 0 || !OnInvalidHost) throw ESockError("Null Remote Address");
    bool Handled = false;
    OnInvalidHost(Handled);
    if (!Handled) throw ESockError("Null Remote Address");
  }

  RemoteAddress.Family = net::AddressFamilyInet;
  const auto RemotePort = static_cast<std::uint16_t>(Proxy.empty() ? Port : ProxyPort);
  RemoteAddress.Port = net::HostToNet16(RemotePort);
  AsyncDone = false;
  Succeeded = true;
  // A negative TimeOut fails here rather than when the time-out is armed
  // below: an attempt left under way would connect the component after the
  // caller was told the connect had failed.
  TimerInterval();
  if (UseTls && net::UseTls(SocketHandle, {Proxy.empty() ? Host : Proxy, TlsCaFile}) != 0) {
    const net::TTlsFailure Failure = net::TlsFailureOf(SocketHandle);
    if (OnConnectionFailed) OnConnectionFailed(this);
    throw ETlsError(Failure.Code, "TLS failed: " + Failure.Detail);
  }
  if (net::Connect(SocketHandle, RemoteAddress) == net::SocketError) ErrorManager(net::SocketErrors::WouldBlock);
  // The peer may accept and close (or reset) at once: the close is handled in
  // the same dispatch as the connect, so Connected can be false again when
  // the wait looks. The wait therefore also ends when the socket has been
  // closed, and success is judged by whether the connection opened.
  const std::uint32_t Opens = FConnectsSeen;
  const std::uint32_t Generation = FInputGeneration;
  {
    TimeOutScope Armed(*this);
    do {
      SleepMs(2);
      Application().ProcessMessages();
    } while (!Connected && !TimedOut && !Canceled && Succeeded && Generation == FInputGeneration);
  }

  const bool Opened = FConnectsSeen != Opens;
  if (Opened && !TimedOut && !Canceled) return;

  const net::TTlsFailure Tls = UseTls ? net::TlsFailureOf(SocketHandle) : net::TTlsFailure{};
  if (Generation == FInputGeneration) {
    // A socket whose connect failed cannot connect again, and an attempt that
    // is still under way would finish later and connect the component behind
    // the caller's back: the next attempt gets a fresh socket.
    net::CloseSocket(SocketHandle);
    SocketHandle = MakeNextSocket();
    Connected = false;
  }
  if (OnConnectionFailed) OnConnectionFailed(this);
  if (TimedOut) throw ESockError("Connection Timed out");
  if (Canceled) throw ESockError("Connection Canceled");
  if (Tls.Code != 0) throw ETlsError(Tls.Code, "TLS failed: " + Tls.Detail);
  throw ESockError("Connection Failed");
}

void TZedadedar::Disconnect() {
  StatusMessage(StatusLevel::Trace, "Disconnecting");
  RequestCloseSocket();
}

net::TSocket TZedadedar::MakeNextSocket() {
  DropInput();
  const net::TSocket Socket = net::CreateSocket(net::AddressFamilyInet, net::StreamSocket, net::DefaultProtocol);
  if (Socket == net::InvalidSocket) return net::InvalidSocket;
  if (SelectNotifications(Socket) == net::SocketError) {
    const int Error = net::LastError();
    net::CloseSocket(Socket);
    net::SetLastError(Error);
    return net::InvalidSocket;
  }
  return Socket;
}

void TZedadedar::RequestCloseSocket() {
  StatusMessage(StatusLevel::Traffic, "Request Close Socket");
  Connected = false;
  if (SocketHandle == net::InvalidSocket) return;
  DropInput();
  if (net::CloseSocket(SocketHandle) != 0) {
    ErrorManager(net::SocketErrors::WouldBlock);
    return;
  }
  // The closed handle is never kept: the number may be handed out again.
  SocketHandle = net::InvalidSocket;
  // The next socket is made before OnDisconnect, so that a handler that
  // fails, or connects again, finds it ready.
  if (!Destroying) SocketHandle = MakeNextSocket();
  const bool NoNextSocket = !Destroying && SocketHandle == net::InvalidSocket;
  const int Error = net::LastError();
  if (!IsDestroying() && OnDisconnect) OnDisconnect(this);
  if (NoNextSocket) {
    net::SetLastError(Error);
    ErrorManager(net::SocketErrors::WouldBlock);
    throw ESockError("No socket could be made after the close");
  }
}

void TZedadedar::Close(net::TSocket Socket) {
  StatusMessage(StatusLevel::Trace, "Closing Socket");
  net::CloseSocket(Socket);
}

void TZedadedar::CertifyConnect() {
  StatusMessage(StatusLevel::Trace, "Checking Connection");
  for (int Asked = 0; !Connected; ++Asked) {
    if (Asked > 0 || !OnConnectionRequired) throw Exception("Not Connected");
    bool Handled = false;
    OnConnectionRequired(Handled);
    if (!Handled) throw Exception("Not Connected");
  }
}

void TZedadedar::Cancel() {
  StatusMessage(StatusLevel::Trace, "Canceling");
  Canceled = true;
}

void TZedadedar::Abort() {
  StatusMessage(StatusLevel::Trace, "Abort");
  Cancel();
}

std::uint32_t TZedadedar::TimerInterval() const {
  if (TimeOut < 0) throw ERangeError("TimeOut out of range: " + IntToStr(TimeOut));
  return static_cast<std::uint32_t>(TimeOut);
}

void TZedadedar::TimerOn() {
  StatusMessage(StatusLevel::Trace, "Timer On");
  TimedOut = false;
  Timer->SetInterval(TimerInterval());
  Timer->SetEnabled(true);
}

void TZedadedar::TimerOff() {
  StatusMessage(StatusLevel::Trace, "Timer Off");
  Timer->SetEnabled(false);
}

void TZedadedar::PulseTimer() {
  StatusMessage(StatusLevel::Trace, "Timer On");
  TimedOut = false;
  Timer->SetInterval(TimerInterval());
  // Enabling and at once disabling leaves the timer disabled; starting the
  // platform timer only to stop it again would change nothing.
  StatusMessage(StatusLevel::Trace, "Timer Off");
  Timer->SetEnabled(false);
}

void TZedadedar::TimerFired(TComponent* /*Sender*/) {
  StatusMessage(StatusLevel::Trace, "Timer Triggered");
  TimerOff();
  TimedOut = true;
  AsyncDone = true;
  Abort();
}

std::string TZedadedar::GetRemoteIP() {
  StatusMessage(StatusLevel::Trace, "Getting Remote IP");
  return net::AddressToDotted(RemoteAddress.Address);
}

std::string TZedadedar::GetLocalIP() {
  StatusMessage(StatusLevel::Trace, "Getting Local IP");
  char LocalName[200] = {};
  if (net::GetHostName(LocalName, sizeof LocalName) != 0) return {};
  const net::THostInfo* Entry = net::GetHostByName(LocalName);
  if (Entry == nullptr || Entry->AddressList == nullptr || Entry->AddressList[0] == nullptr) return {};
  const auto* Bytes = reinterpret_cast<const unsigned char*>(Entry->AddressList[0]);
  return IntToStr(Bytes[0]) + "." + IntToStr(Bytes[1]) + "." + IntToStr(Bytes[2]) + "." + IntToStr(Bytes[3]);
}

std::string TZedadedar::GetLocalAddress() {
  net::TSocketAddress Local = {};
  net::GetSockName(SocketHandle, Local);
  std::string Text = net::AddressToDotted(Local.Address);
  for (char& C : Text) {
    if (C == '.') C = ',';
  }
  return Text;
}

std::string TZedadedar::GetPortString() {
  net::TSocketAddress Local = {};
  net::GetSockName(SocketHandle, Local);
  const std::uint16_t LocalPort = net::NetToHost16(Local.Port);
  return "," + IntToStr(LocalPort / 256) + "," + IntToStr(LocalPort % 256);
}

}  // namespace pelicore

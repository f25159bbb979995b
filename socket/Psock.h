#pragma once
// The socket component: one IPv4 TCP connection whose asynchronous socket
// notifications are turned into blocking calls. A call that has to wait (name
// look-up, connect, reading) loops on the user-interface thread and dispatches
// pending events between its checks, so the interface stays alive and a
// cancel, an abort or the time-out can run inside the wait. The nested calls
// talk to the waiting loop only through the flags Canceled, TimedOut,
// AsyncDone, Succeeded and Connected.
//
// Failures are exceptions: ESockError for socket errors ("<number>:<text>"
// from WinsockMessage) and for host and connect failures, EAbortError for a
// transfer ended by a cancel or the time-out, ERangeError for values out of
// range, and the plain Exception for "Not Connected" and "No Timer".
//
// A component runs on one thread: the one that created it, or, for a
// connection server of TNMGeneralServer, the connection's own thread, which
// takes the component over before it serves. Only the flags (and Handle) are
// read across threads; they are atomic.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Component.h"
#include "platform/Exceptions.h"
#include "platform/Messages.h"
#include "platform/Sockets.h"
#include "platform/Streams.h"
#include "platform/Tls.h"
#include "platform/StringList.h"
#include "platform/Threads.h"
#include "socket/Events.h"

namespace pelicore {

class TZedadedar;
class TThreadTimer;

// Socket notifications (LParam: event code low, error code high) and the
// completion of a host look-up.
constexpr std::uint32_t SocketMessage = win::UserMessage + 101;  // 1125
constexpr std::uint32_t AsyncMessage = win::UserMessage + 102;   // 1126

// Levels of the status texts: a text is reported when its level is at most
// ReportLevel, so 0 reports nothing and Trace or more reports everything.
namespace StatusLevel {
constexpr std::uint8_t Replies = 1;  // server replies and results
constexpr std::uint8_t Traffic = 4;  // sending, closing and accepting
constexpr std::uint8_t Trace = 8;    // the name of every socket operation
}  // namespace StatusLevel

class ESockError : public Exception {
 public:
  using Exception::Exception;
};

// A transfer ended by a cancel or the time-out; TimedOut tells which.
class EAbortError : public ESockError {
 public:
  using ESockError::ESockError;
};

// The connection could not be made secure (UseTls): Reason is one of
// net::TlsErrors, the message names it in English.
class ETlsError : public ESockError {
 public:
  ETlsError(int Reason, std::string Message) : ESockError(std::move(Message)), FReason(Reason) {}
  int Reason() const { return FReason; }

 private:
  int FReason;
};

// ---------------------------------------------------------------------------
// Error table

struct TWinsockMessageEntry {
  std::int32_t Code;
  const char* Text;
};

// The socket error numbers and their texts; the last row (code 0) is never
// returned by SocketErrorStr.
extern const std::array<TWinsockMessageEntry, 51> WinsockMessage;

// Number of components that have started the socket layer and not yet shut
// it down. Components are made and freed on several threads by the listening
// server, so it is atomic.
extern std::atomic<std::int32_t> WinsockRefCount;

// ---------------------------------------------------------------------------
// Hidden windows

// Window classes, registered on first use. The window procedures route
// messages to the object bound to the window.
extern win::WindowClassInfo PsockWindowClass;  // "PsockWindowClass"
extern win::WindowClassInfo TmrWindowClass;    // "TmrWindowClass"

// Messages numbered SocketMessage and above go to TZedadedar::MessageProc,
// all others get the default handling.
std::int32_t PsockWindowProc(win::WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam);
// Every message but the application-activation message goes to
// TThreadTimer::MessageProc.
std::int32_t TmrWindowProc(win::WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam);

// A hidden window bound to the object (which may be null: then unbound);
// 0 when the class cannot be registered or the window cannot be made.
win::WindowHandle PsockAllocateHWnd(TZedadedar* Object);
win::WindowHandle TmrAllocateHWnd(TThreadTimer* Object);

// ---------------------------------------------------------------------------
// The time-out timer: ticks on the thread that created it, through its own
// hidden window, only while that thread dispatches events. It runs exactly
// while Enabled is true, Interval is above 0 and OnTimer is set; entering the
// running state always starts a full interval.

class TThreadTimer : public TComponent {
 public:
  explicit TThreadTimer(TComponent* AOwner);

  bool Enabled() const { return FEnabled; }
  // Restarts the count only when the value changes.
  void SetEnabled(bool Value);
  std::uint32_t Interval() const { return FInterval; }
  // Milliseconds; 0 stops the timer. Restarts only when the value changes.
  void SetInterval(std::uint32_t Value);
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  // Always restarts the count, also for the same callback.
  void SetOnTimer(TNotifyEvent Value);

  win::WindowHandle WindowHandle() const { return FWindowHandle; }

  // A tick calls Timer(); an exception from it goes to the application's
  // exception handler and the timer keeps running. Other messages get the
  // default handling.
  void MessageProc(win::TMessage& Message);

 protected:
  ~TThreadTimer() override;
  // Restarts or stops the platform timer according to the properties.
  // Throws Exception "No Timer" when the platform refuses to start it.
  void UpdateTimer();
  // What a tick does: raise OnTimer.
  virtual void Timer();

 private:
  static constexpr std::uint32_t TimerId = 1;

  std::uint32_t FInterval;
  win::WindowHandle FWindowHandle;
  TNotifyEvent FOnTimer;
  bool FEnabled;
  // Whether the platform timer runs, so that stopping a stopped timer costs
  // nothing (the line readers arm and disarm it for every line).
  bool FRunning = false;
};

// ---------------------------------------------------------------------------
// The socket component

class TZedadedar : public TComponent {
 public:
  static constexpr std::size_t BufferSize = 65536;
  static constexpr std::size_t HostEntryBufferSize = 1024;

  // Starts the socket layer (first component of the process) and makes the
  // first socket. Throws ESockError "Initializaton of windows sockets failed".
  explicit TZedadedar(TComponent* AOwner);

  // Waits (2 ms passes) until a connection request has been reported
  // (AsyncDone), accepts it, registers the new socket with this component's
  // window and returns it; the peer's address goes to RemoteAddress and the
  // listening socket keeps listening. ESockError "Accepting Canceled"
  // (Canceled stays set), "Error creating Data Connection", or the socket
  // error of a failed accept.
  virtual net::TSocket Accept();
  // Resolves Proxy or Host and connects to Port (ProxyPort with a proxy);
  // returns when the connection is open (with UseTls: and the server's
  // certificate has verified for the name connected to). Throws ESockError "Already
  // connected", "Null Remote Address", "Host Lookup Timed Out", "Host Lookup
  // Canceled", "Connection Timed out", "Connection Canceled", "Connection
  // Failed" (OnConnectionFailed is raised first for the last three), or a
  // socket error; ETlsError (after OnConnectionFailed) when TLS fails.
  virtual void Connect();
  // Closes the socket (RequestCloseSocket).
  virtual void Disconnect();
  // Sends Command with CR LF and returns the first reply line (line end
  // included); sets TransactionReply and ReplyNumber. ERangeError for a reply
  // number above 32767.
  virtual std::string Transaction(const std::string& Command);
  // Cancel().
  virtual void Abort();

  // Starts the socket layer when first and makes the first socket.
  void InitWinsock();
  // Handles one notification (number SocketMessage or above). Never throws.
  void MessageProc(win::TMessage& Message);
  // Fills the address of RemoteAddress from Proxy or Host; a dotted address
  // needs no look-up. Throws ESockError "Host Lookup Timed Out", "Host Lookup
  // Canceled", "Host Lookup Failed".
  void ResolveRemoteHost();
  // Closes the current socket, raises OnDisconnect and makes the next socket.
  // A failed close or a failure to make the next socket throws ESockError.
  void RequestCloseSocket();
  // Closes the given handle and nothing else.
  void Close(net::TSocket Socket);
  // Returns only while connected (after asking OnConnectionRequired once);
  // otherwise throws Exception "Not Connected".
  void CertifyConnect();
  // Sets Canceled, which ends every wait at its next test.
  void Cancel();
  // Arms the time-out with TimeOut (ERangeError when negative).
  void TimerOn();
  void TimerOff();
  // The time-out has run out: sets TimedOut and AsyncDone, calls Abort().
  void TimerFired(TComponent* Sender);

  // Line and buffer transfer. Reads see the bytes the component has already
  // taken from the socket before anything the socket still holds.

  // Sends Length bytes (0: up to the first zero byte, which must come before
  // 65536 bytes, else ERangeError). EAbortError "Socket send aborted" when a
  // cancel is pending or the time-out runs out while the peer takes nothing.
  void SendBuffer(const char* Data, std::uint16_t Length);
  // Sends the text up to its first zero byte (at most 65535 bytes).
  void Write(const std::string& Text);
  void Writeln(const std::string& Text);
  // Waits until Count bytes are pending and returns them; Count 0 returns
  // what is pending now, without waiting. After the peer has closed it
  // returns what is left (the empty string when nothing is). EAbortError
  // "Socket send aborted" on a cancel.
  std::string Read(std::uint16_t Count);
  // The next line with its line end (LF, normally after CR). The empty string
  // when the peer has closed (a part line is dropped) or the socket is not
  // connected. EAbortError "Socket readln aborted" on a cancel or the
  // time-out; ESockError "Line too long" when 65536 bytes hold no LF (they are
  // consumed).
  std::string ReadLn();
  // Whether a byte is pending. Never throws.
  bool DataAvailable();
  // Discards up to 65536 pending bytes.
  void ClearInput();

  // Stream and file transfer: raw bytes, no line framing. The sends dispatch
  // events after every send call and, while the peer takes nothing, wait for
  // the next event; the captures likewise while nothing arrives. Bytes the
  // component has already taken from the socket come first. A cancel (or
  // the time-out of a capture, measured since the last data) ends them with
  // EAbortError: "Socket send aborted" for SendFile, SendStream, AppendFile
  // and CaptureFile, "Socket capture aborted" for CaptureStream and
  // CaptureString. Socket errors raise ESockError; in the captures "not
  // connected" (10057) ends quietly with LastErrorNo set.

  // The whole file from its start; BytesSent goes on counting.
  void SendFile(const std::string& FileName);
  // The whole stream from position 0; BytesSent starts at 0, BytesTotal is
  // the stream's size.
  void SendStream(TStream& Stream);
  // Appends what arrives to an existing file (EFOpenError when there is
  // none) until the connection has closed. No time-out.
  void AppendFile(const std::string& FileName);
  // What arrives, into a new (or emptied) file, until the peer closes.
  void CaptureFile(const std::string& FileName);
  // What arrives, into the stream at its position, until the stream's whole
  // size has reached Size (tested before each receive) or the peer closes;
  // Size -1: exactly one receive, without waiting.
  void CaptureStream(TStream& Stream, std::int32_t Size);
  // What arrives, into Text (emptied first), until its length has reached
  // Size or the peer closes; Size -1: until the peer closes. The last chunk
  // may go past Size.
  void CaptureString(std::string& Text, std::int32_t Size);
  // Header lines (ReadLn) into the stream, up to and including the first
  // empty line, or until the connection closes; what follows stays pending.
  void FilterHeader(TStream& Stream);

  // Listening. Binds ListenAddress (every local address when empty) and
  // Port, and listens for connections. Mode false: each request is reported
  // as SocketMessage and raises OnAccept, whose handler calls Accept; mode
  // true: it is reported as AsyncMessage and a call of Accept waits for it.
  // ESockError with the socket error's text when binding or listening fails;
  // ERangeError for a Port outside 0..65535 or an address that is not dotted.
  void Listen(bool Mode);

  // Reporting.
  // Reports Text when Level is at most ReportLevel; never throws.
  void StatusMessage(std::uint8_t Level, std::string_view Text);
  // "<code>:<text>", "Unknown Error No. <code>", or empty for 0.
  std::string SocketErrorStr(std::uint16_t Code);
  // Takes the platform's last socket error into LastErrorNo; a real error
  // (not IgnoreCode, above 10000) raises OnError and throws ESockError.
  std::string ErrorManager(std::uint16_t IgnoreCode);
  void SetWSAError(std::uint16_t Code, const std::string& Text);
  std::int32_t GetLastErrorNo();
  void SetLastErrorNo(std::int32_t Value);

  // Address queries.
  std::string GetRemoteIP();
  // The local machine's first address; empty when its name cannot be looked up.
  std::string GetLocalIP();
  // Local address of the socket with commas for dots ("127,0,0,1").
  std::string GetLocalAddress();
  // Local port p of the socket as ",<p div 256>,<p mod 256>".
  std::string GetPortString();

  // Members, in declared order.
  char Buffer[BufferSize + 1] = {};  // the name handed to a look-up
  TNotifyEvent OnDataArrived;
  TNotifyEvent OnAccept;
  TNotifyEvent OnConnect;  // the TCP connection has opened
  TNotifyEvent OnDisconnect;  // the component has closed its socket
  TOnErrorEvent OnError;  // raised before a socket error becomes an exception
  THandlerEvent OnInvalidHost;  // asked once when Connect finds no address
  TOnHostResolved OnHostResolved;
  THandlerEvent OnConnectionRequired;  // asked once by CertifyConnect
  TOnStatus OnStatus;
  TNotifyEvent OnConnectionFailed;
  std::unique_ptr<TStringList> WSAInfo;  // start-up lines, first component only
  std::int32_t BytesSent = 0;
  std::atomic<bool> Canceled{false};
  bool Destroying = false;
  std::int32_t LastErrorNo = 0;
  std::int32_t TimeOut = 0;  // milliseconds per timed operation; 0: none
  std::int32_t ReportLevel = 0;  // the highest StatusLevel reported
  std::string LastStatus;
  std::string Proxy;  // resolved and connected to instead of Host when set
  std::uint16_t ProxyPort = 0;
  TThreadTimer* Timer = nullptr;  // owned
  std::atomic<bool> Succeeded{false};
  std::atomic<bool> TimedOut{false};
  std::int32_t Port = 0;
  std::int32_t BytesTotal = 0;
  std::int32_t BytesRecvd = 0;
  TNotifyEvent OnPacketRecvd;
  TNotifyEvent OnPacketSent;
  std::atomic<bool> AsyncDone{false};
  net::TStartupData WinsockData = {};
  net::TSocketAddress RemoteAddress = {};
  std::string Host;  // a dotted IPv4 address or a name
  std::unique_ptr<char[]> HostEntryBuffer;  // HostEntryBufferSize bytes
  std::string TransactionReply;
  std::int16_t ReplyNumber = 0;
  net::TSocket SocketHandle = net::InvalidSocket;
  std::atomic<win::WindowHandle> Handle{0};
  std::atomic<bool> Connected{false};
  // TLS from the connect on (platform/Tls.h), and PEM certificates trusted
  // beside the system's.
  bool UseTls = false;
  std::string TlsCaFile;
  // The local address Listen binds, dotted; empty: every local address.
  std::string ListenAddress;

 protected:
  ~TZedadedar() override;
  // Abort() through the virtual slot, then Cancel(), while the object is whole.
  void BeforeDestruction() override;

 private:
  // Registers a socket for the five notifications at Handle.
  int SelectNotifications(net::TSocket Socket);
  // The bytes taken from the socket but not yet handed out.
  std::size_t InputPending() const { return FInputEnd - FInputStart; }
  const char* InputData() const { return FInput.get() + FInputStart; }
  void ConsumeInput(std::size_t Count);
  void DropInput();
  // One receive into the input buffer: bytes added, 0 when the peer has
  // closed, SocketError on an error (the platform's last error holds it).
  int FillInput();
  // Takes input until at least Wanted bytes are pending or the socket holds
  // no more; returns the last FillInput result (1 when nothing was needed).
  int FillInputTo(std::size_t Wanted);
  // TimerOn immediately followed by TimerOff, without touching the platform
  // timer when it is not running.
  void PulseTimer();
  // TimeOut as the timer's interval; ERangeError when negative.
  std::uint32_t TimerInterval() const;
  // Makes a socket that replaces the current one (already closed) and
  // registers it; InvalidSocket when that fails.
  net::TSocket MakeNextSocket();

 protected:
  // One chunk for the bulk transfers: at most BufferSize bytes, those already
  // taken from the socket first, else from a receive into the input buffer.
  // Data points at the bytes, valid until the next receive; the result is as
  // FillInput's.
  int ReceiveChunk(const char*& Data);
  // Sends Length bytes from Buffer, counting and reporting every send.
  void SendChunk(std::size_t Length);
  // After a send or receive that would block: wait for the next event, unless
  // a cancel is pending.
  void AwaitSocket();
  // TimerOn that always starts a full interval, also while the timer runs.
  void RearmTimer();
  // Moves the component's window, timer and socket notifications onto the
  // calling thread, which then serves it. Throws ESockError when no window
  // can be made there.
  void TakeOverOnThisThread();

 private:

  static constexpr std::size_t InputCapacity = 4 * BufferSize;

  std::unique_ptr<char[]> FInput;
  std::size_t FInputStart = 0;
  std::size_t FInputEnd = 0;
  // Changes whenever the input buffer is discarded, so that a read which
  // dispatched events can tell that its part line went with the old socket.
  std::uint32_t FInputGeneration = 0;
  // Changes whenever input is handed out, so that a read which dispatched
  // events can tell that a nested read took part of its line.
  std::uint32_t FInputConsumptions = 0;
  // The look-up being awaited; completions of earlier ones are ignored.
  int FLookupRequest = 0;
  // Counts the connections opened, so that Connect can tell one that opened
  // and closed again while it waited.
  std::uint32_t FConnectsSeen = 0;
  // Whether this component counts in WinsockRefCount.
  bool FCountedInSocketLayer = false;
};

// Writes Text and CR LF to the stream at its position, in one write.
void StreamLn(TStream& Stream, const std::string& Text);

// ---------------------------------------------------------------------------
// The listening server

class InstantiateServethread;

// Listens on Port once loaded (EndLoading) and gives every client a
// connection server of its own class, whose Serve runs on a thread of its
// own. Derive from TNMServerClass<YourServer> and override Serve; the
// connection server's blocking operations serve the client. When Serve
// returns (or throws: the exception is discarded) the connection is closed
// and the connection server freed on its thread.
//
// Threads: the listening server, its accepts, OnClientContact and its Abort
// run on the thread that made it. A connection server is made there too and
// then taken over by its connection's thread, on which its notifications,
// its time-out and the OnConnect / OnDisconnect they raise run (sender: the
// connection server). A connection server is made with its listening server
// as owner but is not kept among its components: it is freed by its thread.
// Freeing the listening server cancels every connection and waits (bounded,
// ConnectionEndWait) for their threads to end.
class TNMGeneralServer : public TZedadedar {
 public:
  // A connection server when AOwner is a TNMGeneralServer, else a listening
  // server with an empty ConnectionList.
  explicit TNMGeneralServer(TComponent* AOwner);

  // A server never connects out.
  void Connect() override;
  // Listening server: cancels every connection server in ConnectionList and
  // wakes its wait. Connection server: nothing.
  void Abort() override;
  // OnAccept's handler: accepts and starts the connection's thread (any
  // failure is discarded), then raises OnClientContact.
  void ServerAccept(TComponent* Sender);
  // The protocol: empty here.
  virtual void Serve();

  // The connection servers whose threads have not ended; absent in a
  // connection server.
  std::shared_ptr<TThreadList<TNMGeneralServer>> ConnectionList;
  TNotifyEvent OnClientContact;
  TNMGeneralServer* ListeningServer = nullptr;  // in a connection server
  InstantiateServethread* ServeThread = nullptr;  // in a connection server

  // How long freeing the listening server waits for connection threads.
  static constexpr std::chrono::milliseconds ConnectionEndWait{10000};

 protected:
  ~TNMGeneralServer() override;
  // Listens (mode false) unless designing.
  void Loaded() override;
  // A new component of this server's own class, owned by AOwner.
  virtual TNMGeneralServer* NewInstance(TComponent* AOwner);

  friend class InstantiateServethread;

 private:
  // In a connection server: the list it is in, kept alive while it runs.
  std::shared_ptr<TThreadList<TNMGeneralServer>> FServedList;
};

// Gives a server class its own connection servers:
//   class TEchoServer : public TNMServerClass<TEchoServer> {
//    public:
//     using TNMServerClass::TNMServerClass;
//     void Serve() override { ... }
//   };
template <class Derived, class Base = TNMGeneralServer>
class TNMServerClass : public Base {
 public:
  using Base::Base;

 protected:
  TNMGeneralServer* NewInstance(TComponent* AOwner) override { return new Derived(AOwner); }
};

// Runs one connection server's Serve, then removes it from its listening
// server's list and frees it, on the connection's own thread.
class InstantiateServethread : public TThread {
 public:
  // On the listening server's thread, under ServerLock: makes the
  // connection server for the accepted socket and starts the thread. When
  // that fails the accepted socket is closed and the error thrown.
  InstantiateServethread(TNMGeneralServer* AOwner, net::TSocket Socket);
  ~InstantiateServethread() override;

  TNMGeneralServer* ConnectionServer = nullptr;

 protected:
  void Execute() override;
};

// Held around making and freeing connection servers, in every server of the
// process.
TCriticalSection& ServerLock();

// The N-th word (from 1) of Text split at single Delimiter characters;
// nothing is trimmed, two delimiters in a row enclose an empty word, and N
// outside 1..words gives the empty string.
std::string NthWord(std::string_view Text, char Delimiter, std::int32_t N);
// 1-based position of the N-th Delimiter in Text, or Text's length + 1 when
// there is none or it is the last character.
std::int32_t NthPos(std::string_view Text, char Delimiter, std::int32_t N);

}  // namespace pelicore

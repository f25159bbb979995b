#pragma once
// IPv4 stream sockets with asynchronous notifications delivered as window
// messages (see Messages.h), on POSIX sockets.
//
// Handles fit in 16 bits; InvalidSocket (65535) means none. Calls return
// SocketError (-1) on failure and leave the error number in LastError(), with
// POSIX errors mapped onto the numbering of the socket error table (10000 and
// above; see SocketErrors). "Would block" is WouldBlock (10035).
//
// Notifications after AsyncSelect(socket, window, message, events): the window
// receives `message` with WParam = socket and LParam = MakeLong(event, error).
//   FdRead     data is pending; posted once, then again only after a receive
//              (a peek included) finds data still pending
//   FdAccept   a connection waits to be accepted; re-armed by Accept
//   FdConnect  a non-blocking connect has finished; error 0 on success
//   FdClose    the peer has closed (also while unread data remains) or reset;
//              posted once
//   FdOob      never posted (TCP urgent data is not used)
// A send that finds the socket's buffer full ("would block") makes the
// window's thread wake up from its wait for the next event once there is
// room again; nothing is delivered for it.
// Notifications are delivered to the window procedure while the window's
// thread dispatches events, in the order they occurred. None is delivered for
// a socket after it has been closed, also when it was already due.

#include <cstdint>
#include <string>

#include "platform/Messages.h"

namespace pelicore::net {

using TSocket = std::uint16_t;
constexpr TSocket InvalidSocket = 65535;
constexpr int SocketError = -1;

constexpr int AddressFamilyInet = 2;
constexpr int StreamSocket = 1;
constexpr int DefaultProtocol = 0;
constexpr int ProtocolTcp = 6;
constexpr std::uint32_t NoAddress = 0xFFFFFFFFu;  // DottedToAddress: not a dotted address

constexpr int RecvPeek = 2;  // Recv flag: copy without consuming

enum : std::int32_t { FdRead = 1, FdWrite = 2, FdOob = 4, FdAccept = 8, FdConnect = 16, FdClose = 32 };

namespace SocketErrors {
constexpr int Interrupted = 10004;
constexpr int BadHandle = 10009;
constexpr int AccessDenied = 10013;
constexpr int BadAddress = 10014;
constexpr int InvalidArgument = 10022;
constexpr int TooManyOpenFiles = 10024;
constexpr int WouldBlock = 10035;
constexpr int InProgress = 10036;
constexpr int AlreadyInProgress = 10037;
constexpr int NotASocket = 10038;
constexpr int DestinationRequired = 10039;
constexpr int MessageTooLong = 10040;
constexpr int WrongProtocolType = 10041;
constexpr int BadProtocolOption = 10042;
constexpr int ProtocolNotSupported = 10043;
constexpr int SocketTypeNotSupported = 10044;
constexpr int OperationNotSupported = 10045;
constexpr int ProtocolFamilyNotSupported = 10046;
constexpr int AddressFamilyNotSupported = 10047;
constexpr int AddressInUse = 10048;
constexpr int AddressNotAvailable = 10049;
constexpr int NetworkDown = 10050;
constexpr int NetworkUnreachable = 10051;
constexpr int NetworkReset = 10052;
constexpr int ConnectionAborted = 10053;
constexpr int ConnectionReset = 10054;
constexpr int NoBufferSpace = 10055;
constexpr int AlreadyConnected = 10056;
constexpr int NotConnected = 10057;
constexpr int ShutDown = 10058;
constexpr int TooManyReferences = 10059;
constexpr int TimedOut = 10060;
constexpr int ConnectionRefused = 10061;
constexpr int SymlinkLoop = 10062;
constexpr int NameTooLong = 10063;
constexpr int HostDown = 10064;
constexpr int HostUnreachable = 10065;
constexpr int DirectoryNotEmpty = 10066;
constexpr int TooManyProcesses = 10067;
constexpr int TooManyUsers = 10068;
constexpr int QuotaExceeded = 10069;
constexpr int StaleHandle = 10070;
constexpr int RemotePathTooDeep = 10071;
constexpr int SystemNotReady = 10091;
constexpr int VersionNotSupported = 10092;
constexpr int NotInitialised = 10093;
constexpr int HostNotFound = 11001;
constexpr int TryAgain = 11002;
constexpr int NoRecovery = 11003;
constexpr int NoData = 11004;
}  // namespace SocketErrors

// Maps a POSIX errno value onto the numbering above (0 stays 0).
int MapErrno(int Errno);

// 16 bytes: family, port and address in network byte order, 8 bytes of zero.
struct TSocketAddress {
  std::uint16_t Family;
  std::uint16_t Port;
  std::uint32_t Address;
  std::uint8_t Zero[8];
};
static_assert(sizeof(TSocketAddress) == 16);

// A host entry as the look-ups write it into a caller's block: every pointer
// points into the same block. Only IPv4 addresses are listed.
struct THostInfo {
  char* Name;
  char** Aliases;
  std::int16_t AddressType;
  std::int16_t AddressLength;
  char** AddressList;  // null-terminated list of 4-byte addresses
};

struct TStartupData {
  std::uint16_t Version;      // low byte major, high byte minor
  std::uint16_t HighVersion;
  char Description[257];
  char SystemStatus[129];
  std::uint16_t MaxSockets;
  std::uint16_t MaxUdpDatagram;
};

// Reference-counted per process; returns 0 on success.
int Startup(std::uint16_t RequestedVersion, TStartupData& Data);
int Cleanup();
// How many start-ups are not yet matched by a clean-up (for tests).
int StartupCount();

TSocket CreateSocket(int Family, int Type, int Protocol);
int SetLinger(TSocket Socket, bool On, std::uint16_t Seconds);
// Registers the socket for the given events (0 cancels) and makes it
// non-blocking. What already holds (pending data, a pending connection) is
// reported under the new selection, also for a socket that was connected or
// listening before it was registered. Call on the thread that owns the window.
int AsyncSelect(TSocket Socket, win::WindowHandle Window, std::uint32_t Message, std::int32_t Events);

std::uint32_t DottedToAddress(const char* Text);  // network order, or NoAddress
std::string AddressToDotted(std::uint32_t Address);

// Resolves Name on a thread of its own; address text is not a name and fails
// with HostNotFound. When done, and only if the window
// still exists, the result (a THostInfo) is copied into Buffer on the window's
// thread and then `Message` is delivered with WParam = the request number and
// LParam = MakeLong(0, error).
// The caller keeps Buffer alive as long as the window. Returns a request
// number (never 0), or 0 when no look-up could be started.
int AsyncGetHostByName(win::WindowHandle Window, std::uint32_t Message, const char* Name, char* Buffer,
                       int BufferLength);

int Connect(TSocket Socket, const TSocketAddress& Address);
int Send(TSocket Socket, const void* Data, int Length, int Flags);
int Recv(TSocket Socket, void* Data, int Length, int Flags);
int CloseSocket(TSocket Socket);
int Bind(TSocket Socket, const TSocketAddress& Address);
int Listen(TSocket Socket, int Backlog);
TSocket Accept(TSocket Socket, TSocketAddress* Peer);
int GetSockName(TSocket Socket, TSocketAddress& Address);
int GetPeerName(TSocket Socket, TSocketAddress& Address);

// The calling thread's last socket error.
int LastError();
void SetLastError(int Code);

int GetHostName(char* Name, int Length);
// Blocking look-up into storage of the calling thread; null on failure.
THostInfo* GetHostByName(const char* Name);

std::uint16_t HostToNet16(std::uint16_t V);
std::uint16_t NetToHost16(std::uint16_t V);
std::uint32_t HostToNet32(std::uint32_t V);
std::uint32_t NetToHost32(std::uint32_t V);

}  // namespace pelicore::net

// Status texts, the socket error table and the turning of socket errors into
// exceptions.

#include "platform/Strings.h"
#include "socket/Psock.h"

namespace pelicore {

const std::array<TWinsockMessageEntry, 51> WinsockMessage = {{
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
    {0, "Unrecognized error code"},
}};

void TZedadedar::StatusMessage(std::uint8_t Level, std::string_view Text) {
  if (Level > ReportLevel) return;
  try {
    LastStatus = Text;
    if (!IsDestroying() && OnStatus) OnStatus(this, LastStatus);
  } catch (...) {
    // A status report never changes the outcome of the operation.
  }
}

std::string TZedadedar::SocketErrorStr(std::uint16_t Code) {
  StatusMessage(StatusLevel::Trace, "Looking Up Error Message");
  if (Code == 0) return {};
  for (const TWinsockMessageEntry& Entry : WinsockMessage) {
    if (Entry.Code == Code) return IntToStr(Code) + ":" + Entry.Text;
  }
  return "Unknown Error No. " + IntToStr(Code);
}

std::string TZedadedar::ErrorManager(std::uint16_t IgnoreCode) {
  LastErrorNo = net::LastError();
  if (LastErrorNo == IgnoreCode || LastErrorNo <= 10000) return {};
  const auto Code = static_cast<std::uint16_t>(LastErrorNo);
  const std::string Text = SocketErrorStr(Code);
  if (OnError) OnError(this, Code, Text);
  throw ESockError(Text);
}

void TZedadedar::SetWSAError(std::uint16_t Code, const std::string& Text) {
  StatusMessage(StatusLevel::Trace, "Setting Winsock Error");
  LastErrorNo = Code;
  const std::string Message = Text.empty() ? SocketErrorStr(Code) : Text;
  net::SetLastError(Code);
  if (OnError) OnError(this, Code, Message);
}

std::int32_t TZedadedar::GetLastErrorNo() {
  StatusMessage(StatusLevel::Trace, "Getting LastError Number");
  return LastErrorNo;
}

void TZedadedar::SetLastErrorNo(std::int32_t Value) {
  StatusMessage(StatusLevel::Trace, "Setting LastError Number");
  LastErrorNo = Value;
}

}  // namespace pelicore

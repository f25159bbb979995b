// The calling thread's last socket error and the mapping of POSIX errors
// onto the socket error numbering.

#include <cerrno>

#include "platform/SocketsInternal.h"

namespace pelicore::net {
namespace {
thread_local int TheLastError = 0;
}  // namespace

namespace detail {

int Fail(int Code) {
  TheLastError = Code;
  return SocketError;
}

int FailErrno() { return Fail(MapErrno(errno)); }

}  // namespace detail

int MapErrno(int E) {
  namespace X = SocketErrors;
  switch (E) {
    case 0: return 0;
    case EINTR: return X::Interrupted;
    case EBADF: return X::NotASocket;
    case ENOTSOCK: return X::NotASocket;
    case EACCES: case EPERM: return X::AccessDenied;
    case EFAULT: return X::BadAddress;
    case EINVAL: return X::InvalidArgument;
    case EMFILE: case ENFILE: return X::TooManyOpenFiles;
    case EAGAIN: case EINPROGRESS: return X::WouldBlock;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return X::WouldBlock;
#endif
    case EALREADY: return X::AlreadyInProgress;
    case EDESTADDRREQ: return X::DestinationRequired;
    case EMSGSIZE: return X::MessageTooLong;
    case EPROTOTYPE: return X::WrongProtocolType;
    case ENOPROTOOPT: return X::BadProtocolOption;
    case EPROTONOSUPPORT: return X::ProtocolNotSupported;
    case ESOCKTNOSUPPORT: return X::SocketTypeNotSupported;
    case EOPNOTSUPP: return X::OperationNotSupported;
    case EPFNOSUPPORT: return X::ProtocolFamilyNotSupported;
    case EAFNOSUPPORT: return X::AddressFamilyNotSupported;
    case EADDRINUSE: return X::AddressInUse;
    case EADDRNOTAVAIL: return X::AddressNotAvailable;
    case ENETDOWN: return X::NetworkDown;
    case ENETUNREACH: return X::NetworkUnreachable;
    case ENETRESET: return X::NetworkReset;
    case ECONNABORTED: return X::ConnectionAborted;
    case ECONNRESET: case EPIPE: return X::ConnectionReset;
    case ENOBUFS: case ENOMEM: return X::NoBufferSpace;
    case EISCONN: return X::AlreadyConnected;
    case ENOTCONN: return X::NotConnected;
    case ESHUTDOWN: return X::ShutDown;
    case ETOOMANYREFS: return X::TooManyReferences;
    case ETIMEDOUT: return X::TimedOut;
    case ECONNREFUSED: return X::ConnectionRefused;
    case ELOOP: return X::SymlinkLoop;
    case ENAMETOOLONG: return X::NameTooLong;
    case EHOSTDOWN: return X::HostDown;
    case EHOSTUNREACH: return X::HostUnreachable;
    case ENOTEMPTY: return X::DirectoryNotEmpty;
    case EUSERS: return X::TooManyUsers;
    case EDQUOT: return X::QuotaExceeded;
    case ESTALE: return X::StaleHandle;
    case EREMOTE: return X::RemotePathTooDeep;
    default: return 10100 + E;  // outside the table: shown as an unknown error number
  }
}

int LastError() { return TheLastError; }
void SetLastError(int Code) { TheLastError = Code; }

}  // namespace pelicore::net

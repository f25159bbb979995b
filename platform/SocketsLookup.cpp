// Host names and addresses: the dotted-address conversions, the blocking
// look-up and the look-up on a thread of its own.

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/MessagesInternal.h"
#include "platform/SocketsInternal.h"

namespace pelicore::net {
namespace {

using detail::Fail;
using detail::FailErrno;

// Host entry packed into a caller's block: header, then pointer arrays, then
// the name and the addresses. Returns 0 or an error number.
int PackHostInfo(const std::string& Name, const std::vector<std::uint32_t>& Addresses, char* Block, int Length) {
  const std::size_t Count = Addresses.size();
  const std::size_t Need = sizeof(THostInfo) + sizeof(char*) /*aliases*/ + (Count + 1) * sizeof(char*) +
                           Count * 4 + Name.size() + 1;
  if (Length < 0 || Need > static_cast<std::size_t>(Length)) return SocketErrors::NoBufferSpace;
  std::memset(Block, 0, Need);
  auto* Info = reinterpret_cast<THostInfo*>(Block);
  char* P = Block + sizeof(THostInfo);
  Info->Aliases = reinterpret_cast<char**>(P);
  P += sizeof(char*);
  Info->AddressList = reinterpret_cast<char**>(P);
  P += (Count + 1) * sizeof(char*);
  for (std::size_t I = 0; I < Count; ++I) {
    std::memcpy(P, &Addresses[I], 4);
    Info->AddressList[I] = P;
    P += 4;
  }
  std::memcpy(P, Name.c_str(), Name.size() + 1);
  Info->Name = P;
  Info->AddressType = AddressFamilyInet;
  Info->AddressLength = 4;
  return 0;
}

int MapLookupError(int Code) {
  switch (Code) {
    case 0:
      return 0;
    case EAI_NONAME:
      return SocketErrors::HostNotFound;
    case EAI_AGAIN:
      return SocketErrors::TryAgain;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return SocketErrors::NoData;
    case EAI_MEMORY:
      return SocketErrors::NoBufferSpace;
    default:
      return SocketErrors::NoRecovery;
  }
}

// Blocking IPv4 look-up of a name; returns 0 or an error number. Address
// text is no name: getaddrinfo would hand it back as its own address, so that
// 255.255.255.255, which the dotted-address conversion cannot tell from its
// failure, would "resolve" instead of failing as an unknown host.
int Resolve(const std::string& Name, std::string& Canonical, std::vector<std::uint32_t>& Addresses) {
  in_addr Numeric{};
  if (Name.empty() || ::inet_aton(Name.c_str(), &Numeric) != 0) return SocketErrors::HostNotFound;
  addrinfo Hints{};
  Hints.ai_family = AF_INET;
  Hints.ai_socktype = SOCK_STREAM;
  Hints.ai_flags = AI_CANONNAME;
  addrinfo* Result = nullptr;
  const int Rc = ::getaddrinfo(Name.c_str(), nullptr, &Hints, &Result);
  if (Rc != 0) return MapLookupError(Rc);
  Canonical = (Result && Result->ai_canonname) ? Result->ai_canonname : Name;
  for (addrinfo* A = Result; A; A = A->ai_next) {
    const auto* In = reinterpret_cast<const sockaddr_in*>(A->ai_addr);
    bool Seen = false;
    for (std::uint32_t X : Addresses) Seen = Seen || X == In->sin_addr.s_addr;
    if (!Seen) Addresses.push_back(In->sin_addr.s_addr);
  }
  ::freeaddrinfo(Result);
  return Addresses.empty() ? SocketErrors::NoData : 0;
}

}  // namespace

std::uint32_t DottedToAddress(const char* Text) {
  if (!Text) return NoAddress;
  in_addr A{};
  if (::inet_aton(Text, &A) == 0) return NoAddress;
  return A.s_addr;
}

std::string AddressToDotted(std::uint32_t Address) {
  in_addr A{};
  A.s_addr = Address;
  char Buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &A, Buf, sizeof Buf);
  return Buf;
}

int AsyncGetHostByName(win::WindowHandle Window, std::uint32_t Message, const char* Name, char* Buffer,
                       int BufferLength) {
  if (!win::IsWindow(Window) || !Name || !Buffer) {
    Fail(SocketErrors::InvalidArgument);
    return 0;
  }
  static std::atomic<int> NextRequest{1};
  const int Request = NextRequest.fetch_add(1);
  // The resolver owns its copy of everything; the caller's block is written
  // only on delivery, on the window's thread, and only while the window exists.
  try {
    std::thread([Window, Message, Request, Host = std::string(Name), Buffer, BufferLength] {
      std::string Canonical;
      std::vector<std::uint32_t> Addresses;
      const int Error = Resolve(Host, Canonical, Addresses);
      win::detail::PostWindowTask(Window, [=] {
        int Err = Error;
        if (Err == 0) Err = PackHostInfo(Canonical, Addresses, Buffer, BufferLength);
        win::SendWindowMessage(Window, Message, static_cast<std::uint32_t>(Request),
                               win::MakeLong(0, static_cast<std::uint16_t>(Err)));
      });
    }).detach();
  } catch (const std::system_error&) {
    Fail(SocketErrors::NoBufferSpace);  // no thread to resolve on
    return 0;
  }
  return Request;
}

int GetHostName(char* Name, int Length) {
  if (!Name || Length <= 0) return Fail(SocketErrors::BadAddress);
  if (::gethostname(Name, static_cast<std::size_t>(Length)) != 0) return FailErrno();
  Name[Length - 1] = '\0';
  return 0;
}

THostInfo* GetHostByName(const char* Name) {
  thread_local std::vector<char> Block(1024);
  std::string Canonical;
  std::vector<std::uint32_t> Addresses;
  int Err = Resolve(Name ? Name : "", Canonical, Addresses);
  if (Err == 0) Err = PackHostInfo(Canonical, Addresses, Block.data(), static_cast<int>(Block.size()));
  if (Err != 0) {
    Fail(Err);
    return nullptr;
  }
  return reinterpret_cast<THostInfo*>(Block.data());
}

}  // namespace pelicore::net

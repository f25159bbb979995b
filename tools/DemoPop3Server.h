#pragma once
// The demo POP3 server: a listening server whose connection servers speak
// POP3 (RFC 1939: USER, PASS, STAT, LIST, TOP, UIDL, RETR, DELE, RSET, NOOP,
// QUIT) over the demo mailbox, one thread per client. One account: user
// "demo", password "demo".

#include <memory>
#include <string>

#include "socket/Psock.h"
#include "tools/DemoMailbox.h"

namespace pelicore::demo {

inline constexpr const char* DemoUser = "demo";
inline constexpr const char* DemoPassword = "demo";
inline constexpr int DemoPort = 11110;

class TDemoPop3Server : public TNMServerClass<TDemoPop3Server> {
 public:
  using TNMServerClass::TNMServerClass;

  // Set on the listening server before it is loaded.
  std::shared_ptr<TDemoMailbox> Mailbox;

  void Serve() override;

  // RFC 1939 asks for an idle time of at least ten minutes before a session
  // is dropped.
  static constexpr std::int32_t IdleTimeOut = 10 * 60 * 1000;
};

}  // namespace pelicore::demo

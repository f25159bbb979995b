// pelicore-demo-pop3 [--port N] [--folder DIR]: a POP3 server on 127.0.0.1
// that serves the sample messages of DIR to user "demo", password "demo",
// so that Pelicore can be tried without a mail account. Port 0 lets the
// system choose; the port in use is printed on the first line.

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "platform/Exceptions.h"
#include "tools/DemoPop3Server.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: pelicore-demo-pop3 [--port N] [--folder DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pelicore;
  QCoreApplication App(argc, argv);
  int Port = demo::DemoPort;
  std::string Folder = PELICORE_DEMO_MAILBOX;
  for (int I = 1; I < argc; ++I) {
    if (std::strcmp(argv[I], "--port") == 0 && I + 1 < argc)
      Port = std::atoi(argv[++I]);
    else if (std::strcmp(argv[I], "--folder") == 0 && I + 1 < argc)
      Folder = argv[++I];
    else
      return Usage();
  }
  try {
    auto Mailbox = std::make_shared<demo::TDemoMailbox>(Folder);
    auto Server = MakeComponent<demo::TDemoPop3Server>(nullptr);
    Server->Mailbox = Mailbox;
    Server->ListenAddress = "127.0.0.1";
    Server->Port = Port;
    Server->BeginLoading();
    Server->EndLoading();
    net::TSocketAddress Local = {};
    net::GetSockName(Server->SocketHandle, Local);
    std::printf("pelicore-demo-pop3: listening on 127.0.0.1:%u with %zu messages (user %s, password %s)\n",
                net::NetToHost16(Local.Port), Mailbox->Count(), demo::DemoUser, demo::DemoPassword);
    std::fflush(stdout);
    return App.exec();
  } catch (const std::exception& E) {
    std::fprintf(stderr, "pelicore-demo-pop3: %s\n", E.what());
    return 1;
  }
}

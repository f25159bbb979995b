#pragma once
// A private POP3 server for the integration tests and the benchmark: one
// Dovecot instance whose configuration, state, logs and mail all live in a
// temporary folder of its own. It listens on 127.0.0.1 on a free port (and,
// when asked, with implicit TLS on a second one), allows plain USER/PASS, reads its users from a passwd file and keeps
// their mail in maildirs. The system's own Dovecot configuration and service
// are never read or touched.
//
// The instance is a child process that is sent SIGTERM and reaped by Stop()
// (also from the destructor); it is started with a parent-death signal, so it
// goes away with the test process even when that one crashes.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace pelicore::testing {

class DovecotServer {
 public:
  // Path of the dovecot binary, or empty when it is not installed.
  static std::string BinaryPath();

  DovecotServer();
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  // Writes the configuration, starts the instance and waits until its port
  // accepts connections. Throws std::runtime_error (with the end of the log)
  // when it does not come up.
  void Start();
  // Stops exactly this instance and removes its folder. Safe to call twice.
  void Stop();

  bool Running() const { return FPid > 0; }
  int Port() const { return FPort; }

  // Before Start: also listen with implicit TLS (as on port 995) on
  // TlsPort(), with this certificate chain and key (PEM files).
  void EnableTls(const std::string& CertFile, const std::string& KeyFile);
  int TlsPort() const { return FTlsPort; }

  // Adds a user whose mailbox holds Messages in this order. Each message is
  // stored as given, normally with LF line ends; the server counts and sends
  // its lines with CR LF. Users may be added while the instance runs; since
  // the server rereads its passwd file at most once a second, that call then
  // waits until the change is sure to be seen (up to a second).
  void AddUser(const std::string& User, const std::string& Password,
               const std::vector<std::string>& Messages);
  // Messages currently stored in the user's maildir (new/ and cur/).
  int MessagesOnDisk(const std::string& User) const;

  // The instance's log, for failure messages.
  std::string LogText() const;

 private:
  void WriteConfig() const;
  void WritePasswd() const;
  bool Launch(std::string& Failure);
  void KillChild();
  std::string Path(const std::string& Name) const { return FRoot + "/" + Name; }

  std::string FRoot;  // the temporary folder; empty once removed
  int FPort = 0;
  int FTlsPort = 0;  // 0: no TLS listener
  std::string FTlsCert;
  std::string FTlsKey;
  pid_t FPid = -1;
  uid_t FMailUid;
  gid_t FMailGid;
  // Without root, the calling user and group run every process.
  std::string FInternalUser;
  std::string FInternalGroup;
  std::vector<std::string> FPasswdLines;
  int FNextFile = 0;
};

// The instance of this test process, stopped at exit. A test adds its own
// user first and then calls Start() (which does nothing once it runs), so
// cases never see each other's mail and the first one never waits.
DovecotServer& SharedDovecot();

// Size of a message as a POP3 server reports it: every LF counted as CR LF.
std::size_t WireSize(const std::string& LfText);

}  // namespace pelicore::testing

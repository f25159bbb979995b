#include "tests/pop3/support/DovecotServer.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/Loopback.h"

namespace pelicore::testing {

namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& Name, const std::string& Text) {
  // Written beside the target and renamed, so a running server never reads a
  // half-written file.
  const std::string Temp = Name + ".tmp";
  {
    std::ofstream Out(Temp, std::ios::binary | std::ios::trunc);
    Out << Text;
    if (!Out.flush()) throw std::runtime_error("cannot write " + Temp);
  }
  fs::rename(Temp, Name);
}

void Own(const std::string& Name, uid_t Uid, gid_t Gid) {
  if (geteuid() == 0 && chown(Name.c_str(), Uid, Gid) != 0)
    throw std::runtime_error("cannot chown " + Name + ": " + std::strerror(errno));
}

// A port that was free a moment ago, for the server to bind.
int FreeLoopbackPort() { return test::RefusingPort().Port(); }

bool PortAccepts(int Port) { return test::ConnectToLoopback(static_cast<std::uint16_t>(Port)).Valid(); }

int CountFiles(const std::string& Dir) {
  std::error_code Ec;
  int N = 0;
  for (const auto& E : fs::directory_iterator(Dir, Ec))
    if (E.is_regular_file()) ++N;
  return N;
}

}  // namespace

std::string DovecotServer::BinaryPath() {
  for (const char* P : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot"})
    if (access(P, X_OK) == 0) return P;
  return std::string();
}

DovecotServer::DovecotServer() {
  std::string Template = (fs::temp_directory_path() / "pelicore-dovecot-XXXXXX").string();
  if (!mkdtemp(Template.data())) throw std::runtime_error("mkdtemp failed");
  FRoot = Template;
  // The server's own processes run under other users and must reach the
  // passwd file and the maildirs.
  chmod(FRoot.c_str(), 0755);

  if (geteuid() == 0) {
    // Dovecot gives no mail access to uid 0; the mail processes run as
    // nobody, and the package's own users run the login and auth processes.
    const passwd* Nobody = getpwnam("nobody");
    if (!Nobody) throw std::runtime_error("no user 'nobody' for the mail processes");
    FMailUid = Nobody->pw_uid;
    FMailGid = Nobody->pw_gid;
  } else {
    // Without root everything runs as the calling user.
    FMailUid = getuid();
    FMailGid = getgid();
    const passwd* Me = getpwuid(FMailUid);
    if (!Me) throw std::runtime_error("the calling user has no name");
    FInternalUser = Me->pw_name;
    const group* Mine = getgrgid(FMailGid);
    if (!Mine) throw std::runtime_error("the calling user's group has no name");
    FInternalGroup = Mine->gr_name;
  }
  for (const char* Dir : {"run", "state", "mail", "home"}) fs::create_directory(Path(Dir));
  Own(Path("mail"), FMailUid, FMailGid);
  Own(Path("home"), FMailUid, FMailGid);
  WritePasswd();
}

DovecotServer::~DovecotServer() {
  try {
    Stop();
  } catch (...) {
    // A destructor must not throw; the folder is left behind at worst.
  }
}

void DovecotServer::WriteConfig() const {
  // Only root may chroot; without it the services run unconfined.
  const char* NoChroot = FInternalUser.empty() ? "" : "  chroot =\n";
  std::ostringstream C;
  C << "base_dir = " << Path("run") << "\n"
    << "state_dir = " << Path("state") << "\n"
    << "instance_name = pelicore-test-" << getpid() << "\n"
    << "log_path = " << Path("dovecot.log") << "\n"
    << "info_log_path = " << Path("dovecot.log") << "\n"
    << "protocols = pop3\n"
    << "listen = 127.0.0.1\n"
    << "ssl = no\n"
    << "disable_plaintext_auth = no\n"
    << "auth_mechanisms = plain\n"
    << "auth_username_format = %u\n"  // user names as given, not lower-cased
    // Wrong passwords are part of the tests: no delay, no growing penalty.
    << "auth_failure_delay = 0\n"
    << "login_trusted_networks = 127.0.0.0/8\n"
    << "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n" << NoChroot << "}\n"
    << "mail_fsync = never\n"
    << "first_valid_uid = " << FMailUid << "\n"
    << "first_valid_gid = " << FMailGid << "\n"
    << "mail_location = maildir:" << Path("mail") << "/%u\n"
    << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " << Path("passwd")
    << "\n}\n"
    << "userdb {\n  driver = passwd-file\n  args = username_format=%u " << Path("passwd") << "\n}\n"
    << "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n    port = " << FPort
    << "\n  }\n" << NoChroot << "}\n";
  if (!FInternalUser.empty())
    C << "default_internal_user = " << FInternalUser << "\n"
      << "default_login_user = " << FInternalUser << "\n"
      << "default_internal_group = " << FInternalGroup << "\n";
  WriteFile(Path("dovecot.conf"), C.str());
}

void DovecotServer::WritePasswd() const {
  std::string Text;
  for (const std::string& L : FPasswdLines) Text += L + "\n";
  WriteFile(Path("passwd"), Text);
}

void DovecotServer::AddUser(const std::string& User, const std::string& Password,
                            const std::vector<std::string>& Messages) {
  const std::string Box = Path("mail/" + User);
  for (const char* Sub : {"", "/new", "/cur", "/tmp"}) {
    fs::create_directories(Box + Sub);
    Own(Box + Sub, FMailUid, FMailGid);
  }
  const std::string Home = Path("home/" + User);
  fs::create_directories(Home);
  Own(Home, FMailUid, FMailGid);

  // Maildir names begin with a time stamp, and new mail is numbered in the
  // order of those stamps; an increasing counter keeps the given order.
  for (const std::string& M : Messages) {
    const int Serial = ++FNextFile;
    const std::string Name = Box + "/new/" + std::to_string(1000000000 + Serial) + ".M" +
                             std::to_string(Serial) + "P" + std::to_string(getpid()) + ".pelicore";
    WriteFile(Name, M);
    Own(Name, FMailUid, FMailGid);
  }
  FPasswdLines.push_back(User + ":{PLAIN}" + Password + ":" + std::to_string(FMailUid) + ":" +
                         std::to_string(FMailGid) + "::" + Home + "::nodelay=yes");
  WritePasswd();
  if (!Running()) return;
  // The server looks at the file again only in a later second of its clock
  // than its last look, which may have come just before the rename; wait for
  // the second after the one the new file appeared in. The server's clock is
  // the precise wall clock: time() lags it by up to a tick.
  using Clock = std::chrono::system_clock;
  const auto Written = std::chrono::floor<std::chrono::seconds>(Clock::now());
  while (std::chrono::floor<std::chrono::seconds>(Clock::now()) <= Written)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int DovecotServer::MessagesOnDisk(const std::string& User) const {
  const std::string Box = Path("mail/" + User);
  return CountFiles(Box + "/new") + CountFiles(Box + "/cur");
}

std::string DovecotServer::LogText() const {
  std::ifstream In(Path("dovecot.log"), std::ios::binary);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

bool DovecotServer::Launch(std::string& Failure) {
  FPort = FreeLoopbackPort();
  WriteConfig();
  const std::string Binary = BinaryPath();
  const std::string Config = Path("dovecot.conf");
  const pid_t Parent = getpid();
  const pid_t Child = fork();
  if (Child < 0) throw std::runtime_error("fork failed");
  if (Child == 0) {
    // Dies with the test process; SIGTERM lets the master stop its children.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != Parent) _exit(127);
    execl(Binary.c_str(), Binary.c_str(), "-F", "-c", Config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  FPid = Child;

  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < Deadline) {
    int Status = 0;
    if (waitpid(FPid, &Status, WNOHANG) == FPid) {
      FPid = -1;
      Failure = "dovecot exited during start-up";
      return false;
    }
    if (PortAccepts(FPort)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Failure = "dovecot did not accept connections within 20 s";
  KillChild();
  return false;
}

void DovecotServer::Start() {
  if (Running()) return;
  if (BinaryPath().empty()) throw std::runtime_error("dovecot is not installed");
  std::string Failure;
  // The free port is only probed, so another process may take it before the
  // server binds it; try a few ports before giving up.
  for (int Attempt = 0; Attempt < 3; ++Attempt) {
    if (Launch(Failure)) return;
    if (LogText().find("Address already in use") == std::string::npos) break;
  }
  throw std::runtime_error(Failure + "; log:\n" + LogText());
}

void DovecotServer::KillChild() {
  if (FPid <= 0) return;
  kill(FPid, SIGTERM);
  int Status = 0;
  while (waitpid(FPid, &Status, 0) < 0 && errno == EINTR) {
  }
  FPid = -1;
}

void DovecotServer::Stop() {
  KillChild();
  if (!FRoot.empty()) {
    std::error_code Ec;
    fs::remove_all(FRoot, Ec);
    FRoot.clear();
  }
}

DovecotServer& SharedDovecot() {
  static DovecotServer Server;
  return Server;
}

std::size_t WireSize(const std::string& LfText) {
  std::size_t Size = LfText.size();
  for (std::size_t I = 0; I < LfText.size(); ++I)
    if (LfText[I] == '\n' && (I == 0 || LfText[I - 1] != '\r')) ++Size;
  return Size;
}

}  // namespace pelicore::testing

#pragma once
// A folder in which nothing can be created for as long as the object lives:
// its write permission is taken away, and so, for a test run as root, is the
// capability that lets root write anyway (on the calling thread only, where
// the window runs).

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

namespace pelicore::testing {

class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(std::string Path) : FPath(std::move(Path)) {
    ::chmod(FPath.c_str(), 0500);
    if (::geteuid() == 0 && Capabilities(false)) FLowered = true;
  }
  ~ReadOnlyFolder() {
    if (FLowered) Capabilities(true);
    ::chmod(FPath.c_str(), 0700);
  }
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

 private:
  // Lowers or raises CAP_DAC_OVERRIDE in the effective set (it stays
  // permitted, so it can be raised again).
  static bool Capabilities(bool Raise) {
    __user_cap_header_struct Header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct Data[2] = {};
    if (::syscall(SYS_capget, &Header, Data) != 0) return false;
    const unsigned Bit = 1u << CAP_DAC_OVERRIDE;
    if (Raise)
      Data[0].effective |= Bit;
    else
      Data[0].effective &= ~Bit;
    return ::syscall(SYS_capset, &Header, Data) == 0;
  }

  std::string FPath;
  bool FLowered = false;
};

}  // namespace pelicore::testing

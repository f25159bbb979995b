#pragma once
// A private folder for one test, removed with everything in it (read-only
// parts included) when the test ends; and whole-file helpers.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace pelicore::testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& Prefix = "pelicore") {
    std::string Template = ::testing::TempDir() + Prefix + ".XXXXXX";
    if (!::mkdtemp(Template.data())) throw std::runtime_error("cannot make a temporary folder");
    FPath = Template;
  }
  ~TempFolder() {
    std::error_code Ignored;
    for (auto It = std::filesystem::recursive_directory_iterator(FPath, Ignored);
         It != std::filesystem::recursive_directory_iterator(); It.increment(Ignored))
      std::filesystem::permissions(It->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, Ignored);
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 Ignored);
    std::filesystem::remove_all(FPath, Ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Without a trailing '/'.
  const std::string& Path() const { return FPath; }
  std::string PathOf(const std::string& Name) const { return FPath + "/" + Name; }

  static std::string ReadFile(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), {});
  }
  static void WriteFile(const std::string& Path, const std::string& Data) {
    std::ofstream(Path, std::ios::binary) << Data;
  }

 private:
  std::string FPath;
};

}  // namespace pelicore::testing

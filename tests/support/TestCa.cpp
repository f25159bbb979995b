#include "tests/support/TestCa.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pelicore::test {

namespace fs = std::filesystem;

namespace {

void Run(const std::string& Command, const std::string& Folder) {
  const std::string Line = "cd '" + Folder + "' && " + Command + " >>openssl.log 2>&1";
  if (std::system(Line.c_str()) != 0) throw std::runtime_error("openssl failed: " + Command);
}

void Write(const std::string& Name, const std::string& Text) {
  std::ofstream Out(Name, std::ios::binary | std::ios::trunc);
  Out << Text;
  if (!Out.flush()) throw std::runtime_error("cannot write " + Name);
}

std::string Subject(const std::string& CommonName) { return "-subj '/CN=" + CommonName + "'"; }

std::string AltNames(const std::string& Names) {
  return Names.empty() ? std::string() : " -addext 'subjectAltName=" + Names + "'";
}

}  // namespace

TestCa::TestCa() {
  std::string Template = (fs::temp_directory_path() / "pelicore-ca-XXXXXX").string();
  if (!mkdtemp(Template.data())) throw std::runtime_error("mkdtemp failed");
  FRoot = Template;
  FCaFile = FRoot + "/ca.pem";
  Write(FRoot + "/index.txt", "");
  Write(FRoot + "/serial", "1000\n");
  // `openssl ca` is the one command that takes any start and end date.
  Write(FRoot + "/ca.cnf",
        "[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
        "default_md = sha256\npolicy = any\ncopy_extensions = copy\nunique_subject = no\n"
        "[any]\ncommonName = supplied\n");
  Run("openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 " + Subject("Pelicore Test CA") +
          " -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign'",
      FRoot);
}

TestCa::~TestCa() {
  std::error_code Ec;
  fs::remove_all(FRoot, Ec);
}

TestCa::Leaf TestCa::Issue(const std::string& Name, const LeafOptions& Options) {
  const std::string Key = Name + ".key";
  const std::string Cert = Name + ".pem";
  const std::string NewKey = "-newkey rsa:" + std::to_string(Options.KeyBits) + " -nodes -keyout " + Key;
  if (Options.SelfSigned) {
    Run("openssl req -x509 " + NewKey + " -out " + Cert + " -days 2 " + Subject(Options.CommonName) +
            AltNames(Options.AltNames),
        FRoot);
  } else {
    Run("openssl req -new " + NewKey + " -out " + Name + ".csr " + Subject(Options.CommonName) +
            AltNames(Options.AltNames),
        FRoot);
    std::string Dates = "-days 2";
    if (Options.When == Validity::Expired) Dates = "-startdate 20200101000000Z -enddate 20210101000000Z";
    if (Options.When == Validity::NotYetValid) Dates = "-startdate 20990101000000Z -enddate 20991231000000Z";
    Run("openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in " + Name + ".csr -out " + Cert +
            " " + Dates,
        FRoot);
  }
  return {FRoot + "/" + Cert, FRoot + "/" + Key};
}

}  // namespace pelicore::test

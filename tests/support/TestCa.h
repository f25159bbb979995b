#pragma once
// Certificates for TLS tests, made by the openssl command line in a temporary
// folder of their own: one test CA and leaf certificates it issues (or that
// sign themselves), with the names, key size and validity a case asks for.
// Throws std::runtime_error when a command fails.

#include <string>

namespace pelicore::test {

class TestCa {
 public:
  enum class Validity { Current, Expired, NotYetValid };
  struct LeafOptions {
    std::string CommonName = "localhost";
    std::string AltNames = "DNS:localhost,IP:127.0.0.1";  // empty: no subjectAltName at all
    int KeyBits = 2048;
    Validity When = Validity::Current;
    bool SelfSigned = false;
  };
  struct Leaf {
    std::string CertFile;
    std::string KeyFile;
  };

  TestCa();
  ~TestCa();
  TestCa(const TestCa&) = delete;
  TestCa& operator=(const TestCa&) = delete;

  // The CA's certificate (PEM), to be trusted by the client.
  const std::string& CaFile() const { return FCaFile; }
  // A new leaf certificate and key under a name of its own.
  Leaf Issue(const std::string& Name, const LeafOptions& Options);

 private:
  std::string FRoot;
  std::string FCaFile;
};

}  // namespace pelicore::test

#include "harness/TestCA.h"

#include "harness/ServerLaunch.h"

namespace qninet::harness {
namespace {

const char* const kKey[] = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};

}  // namespace

TestCA::TestCA() {
  const std::string d = FDir.Path().string();
  std::vector<std::string> req{RequireProgram("openssl", "openssl"), "req", "-x509"};
  req.insert(req.end(), std::begin(kKey), std::end(kKey));
  req.insert(req.end(), {"-keyout", d + "/ca.key", "-out", d + "/ca.crt", "-days", "30", "-subj",
                         "/CN=QNInet Test CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                         "keyUsage=critical,keyCertSign,cRLSign"});
  RunOrThrow(req);
  IssueServerCert("server", "IP:127.0.0.1,IP:::1,DNS:localhost");
}

void TestCA::IssueServerCert(const std::string& stem, const std::string& subjectAltName) const {
  const std::string openssl = RequireProgram("openssl", "openssl"), base = FDir.Path().string() + "/" + stem;
  std::vector<std::string> req{openssl, "req"};
  req.insert(req.end(), std::begin(kKey), std::end(kKey));
  req.insert(req.end(), {"-keyout", base + ".key", "-out", base + ".csr", "-subj", "/CN=" + stem});
  RunOrThrow(req);
  FDir.Write(stem + ".ext",
             "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
             "extendedKeyUsage=serverAuth\nsubjectAltName=" +
                 subjectAltName + "\n");
  RunOrThrow({openssl, "x509", "-req", "-in", base + ".csr", "-CA", CaCert().string(), "-CAkey",
              CaKey().string(), "-CAcreateserial", "-out", base + ".crt", "-days", "30", "-extfile",
              base + ".ext"});
}

}  // namespace qninet::harness

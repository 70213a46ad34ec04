#include "harness/TestCA.h"

#include "harness/ServerLaunch.h"

namespace qninet::harness {

TestCA::TestCA() {
  const std::string openssl = RequireProgram("openssl", "openssl");
  const std::string dir = FDir.Path().string();
  RunOrThrow({openssl,
              "req",
              "-x509",
              "-newkey",
              "ec",
              "-pkeyopt",
              "ec_paramgen_curve:prime256v1",
              "-nodes",
              "-keyout",
              dir + "/ca.key",
              "-out",
              dir + "/ca.crt",
              "-days",
              "30",
              "-subj",
              "/CN=QNInet Test CA",
              "-addext",
              "basicConstraints=critical,CA:TRUE",
              "-addext",
              "keyUsage=critical,keyCertSign,cRLSign"});
  IssueServerCert("server", "IP:127.0.0.1,IP:::1,DNS:localhost");
}

void TestCA::IssueServerCert(const std::string& stem, const std::string& subjectAltName) const {
  const std::string openssl = RequireProgram("openssl", "openssl");
  const std::string dir = FDir.Path().string();
  RunOrThrow({openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
              "-keyout", dir + "/" + stem + ".key", "-out", dir + "/" + stem + ".csr", "-subj",
              "/CN=" + stem});
  FDir.Write(stem + ".ext",
             "basicConstraints=CA:FALSE\n"
             "keyUsage=critical,digitalSignature,keyEncipherment\n"
             "extendedKeyUsage=serverAuth\n"
             "subjectAltName=" +
                 subjectAltName + "\n");
  RunOrThrow({openssl, "x509", "-req", "-in", dir + "/" + stem + ".csr", "-CA", dir + "/ca.crt", "-CAkey",
              dir + "/ca.key", "-CAcreateserial", "-out", dir + "/" + stem + ".crt", "-days", "30",
              "-extfile", dir + "/" + stem + ".ext"});
}

}  // namespace qninet::harness

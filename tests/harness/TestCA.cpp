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
  RunOrThrow({openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
              "-keyout", dir + "/server.key", "-out", dir + "/server.csr", "-subj", "/CN=localhost"});
  FDir.Write("server.ext",
             "basicConstraints=CA:FALSE\n"
             "keyUsage=critical,digitalSignature,keyEncipherment\n"
             "extendedKeyUsage=serverAuth\n"
             "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\n");
  RunOrThrow({openssl, "x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.crt", "-CAkey",
              dir + "/ca.key", "-CAcreateserial", "-out", dir + "/server.crt", "-days", "30", "-extfile",
              dir + "/server.ext"});
}

}  // namespace qninet::harness

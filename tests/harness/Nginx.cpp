#include "harness/Nginx.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace qninet::harness {

Nginx::Nginx(bool https) {
  FDocRoot = FDir.Path() / "www";
  std::filesystem::create_directories(FDocRoot);
  std::filesystem::create_directories(FDir.Path() / "tmp");
  if (https) {
    auto ports = FreePorts(2);
    FPort = ports[0];
    FHttpsPort = ports[1];
    FCA = std::make_unique<TestCA>();
  } else {
    FPort = FreePort();
  }
}

Nginx::~Nginx() { Stop(); }

void Nginx::AddLocation(const std::string& text) { FLocations += text + "\n"; }

void Nginx::AddBasicAuthLocation(const std::string& path, const std::string& user,
                                 const std::string& password) {
  std::string hash = RunOrThrow({RequireProgram("openssl", "openssl"), "passwd", "-apr1", password});
  while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
  auto file = FDir.Write("htpasswd-" + std::to_string(++FAuthFiles), user + ":" + hash + "\n");
  AddLocation("location " + path + " {\n  auth_basic \"QNInet test\";\n  auth_basic_user_file " +
              file.string() + ";\n}");
}

void Nginx::AddStatusLocation(const std::string& path, int status) {
  AddLocation("location = " + path + " { return " + std::to_string(status) + "; }");
}

void Nginx::AddRedirect(const std::string& path, const std::string& url, int status) {
  AddLocation("location = " + path + " { return " + std::to_string(status) + " " + url + "; }");
}

std::filesystem::path Nginx::WriteFile(const std::string& relativePath, std::string_view bytes) const {
  auto path = FDocRoot / relativePath;
  std::filesystem::create_directories(path.parent_path());
  WriteFileBytes(path, bytes);
  return path;
}

std::filesystem::path Nginx::WriteLargeFile(const std::string& relativePath, std::uint64_t size) const {
  auto path = FDocRoot / relativePath;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string piece(1 << 16, '\0');
  for (std::uint64_t at = 0; at < size;) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size - at));
    for (std::size_t k = 0; k < n; ++k) piece[k] = PatternByte(at + k);
    out.write(piece.data(), static_cast<std::streamsize>(n));
    at += n;
  }
  out.close();
  if (!out) throw std::runtime_error("Nginx: cannot write " + path.string());
  return path;
}

std::string Nginx::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string Nginx::HttpsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(FHttpsPort) + path;
}

std::string Nginx::ErrorLog() const { return ReadFileText(FDir.File("error.log")); }
std::string Nginx::AccessLog() const { return ReadFileText(FDir.File("access.log")); }

void Nginx::Start() {
  if (FProcess) throw std::runtime_error("Nginx: already started");
  const std::string nginx = RequireProgram("nginx", "nginx");
  const std::string d = FDir.Path().string();
  std::string conf;
  // Root CI: workers would otherwise switch to nobody/www-data and lose the temp folder.
  if (::geteuid() == 0) conf += "user root;\n";
  conf +=
      "worker_processes 1;\n"
      "pid " +
      d +
      "/nginx.pid;\n"
      "error_log " +
      d +
      "/error.log info;\n"
      "events { worker_connections 128; }\n"
      "http {\n";
  if (std::filesystem::exists("/etc/nginx/mime.types")) conf += "  include /etc/nginx/mime.types;\n";
  conf +=
      "  default_type application/octet-stream;\n"
      "  access_log " +
      d +
      "/access.log;\n"
      "  client_body_temp_path " +
      d +
      "/tmp/body;\n"
      "  proxy_temp_path " +
      d +
      "/tmp/proxy;\n"
      "  fastcgi_temp_path " +
      d +
      "/tmp/fastcgi;\n"
      "  uwsgi_temp_path " +
      d +
      "/tmp/uwsgi;\n"
      "  scgi_temp_path " +
      d +
      "/tmp/scgi;\n"
      "  sendfile on;\n"
      "  tcp_nopush on;\n"
      "  keepalive_timeout 10;\n"
      "  server {\n"
      "    listen 127.0.0.1:" +
      std::to_string(FPort) + ";\n";
  if (FCA) {
    conf += "    listen 127.0.0.1:" + std::to_string(FHttpsPort) +
            " ssl;\n"
            "    ssl_certificate " +
            FCA->ServerCert().string() +
            ";\n"
            "    ssl_certificate_key " +
            FCA->ServerKey().string() + ";\n";
  }
  conf +=
      "    server_name localhost 127.0.0.1;\n"
      "    root " +
      FDocRoot.string() + ";\n" + FLocations +
      "  }\n"
      "}\n";
  FDir.Write("nginx.conf", conf);
  FProcess = std::make_unique<Process>(std::vector<std::string>{nginx, "-p", d, "-e", d + "/error.log", "-c",
                                                                d + "/nginx.conf", "-g", "daemon off;"},
                                       std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "nginx", std::chrono::seconds(15),
                [this] {
                  return WaitForTcpPort(FPort, std::chrono::milliseconds(100)) &&
                         (!FCA || WaitForTcpPort(FHttpsPort, std::chrono::milliseconds(100)));
                },
                {FDir.File("error.log")});
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

void Nginx::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness

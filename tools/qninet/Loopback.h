#pragma once
// The demo steps' loopback servers: the scripted servers that the test harness uses too, and a
// small web server for the web components' steps.

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "loopback/ScriptedServer.h"
#include "loopback/UdpScriptedServer.h"

namespace qninet::tool::loopback {

using qninet::loopback::Script;
using qninet::loopback::ScriptedServer;
using qninet::loopback::UdpScriptedServer;

/// A request that ends with an empty line (HTTP, and the socket engine's header block).
inline bool HeaderComplete(const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; }

/// Serves one file at `path` to every connection: HEAD and GET, with its length, type and a
/// last-modified time an hour ago; any other request is not found.
inline std::unique_ptr<ScriptedServer> ServeFile(std::string path, std::string body, std::string type) {
  const std::time_t modified = std::time(nullptr) - 3600;
  auto answer = [=](const std::string& request) {
    const bool head = request.rfind("HEAD " + path + " ", 0) == 0;
    if (!head && request.rfind("GET " + path + " ", 0) != 0)
      return std::string("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    char date[64];
    std::tm tm{};
    gmtime_r(&modified, &tm);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nLast-Modified: " + date + "\r\nContent-Type: " + type + "\r\n\r\n" +
           (head ? std::string() : body);
  };
  return std::make_unique<ScriptedServer>(std::vector<Script>{Script().Reply(HeaderComplete, answer)},
                                          ScriptedServer::Family::IPv4, std::chrono::seconds(10), true);
}

/// While it lives, the environment's HTTP proxy is set aside, so a demo step reaches its
/// loopback server directly.
class DirectConnections {
public:
  DirectConnections() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"})
      if (const char* v = std::getenv(name)) {
        FSaved.emplace_back(name, v);
        ::unsetenv(name);
      }
  }
  ~DirectConnections() {
    for (const auto& [name, value] : FSaved) ::setenv(name.c_str(), value.c_str(), 1);
  }
  DirectConnections(const DirectConnections&) = delete;
  DirectConnections& operator=(const DirectConnections&) = delete;

private:
  std::vector<std::pair<std::string, std::string>> FSaved;
};

}  // namespace qninet::tool::loopback

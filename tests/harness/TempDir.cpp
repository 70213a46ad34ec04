#include "harness/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace qninet::harness {

TempDir::TempDir(std::string_view prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      (base && *base ? std::string(base) : std::string("/tmp")) + "/" + std::string(prefix) + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) throw std::runtime_error("TempDir: mkdtemp failed for " + pattern);
  FPath = std::filesystem::path(buffer.data());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::filesystem::path TempDir::File(std::string_view name) const { return FPath / name; }

std::filesystem::path TempDir::Write(std::string_view name, std::string_view bytes) const {
  auto path = File(name);
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  WriteFileBytes(path, bytes);
  return path;
}

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Tail(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  return "..." + text.substr(text.size() - maxBytes);
}

}  // namespace qninet::harness

#include "harness/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace qninet::harness {

TempDir::TempDir(std::string_view prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = base && *base ? base : "/tmp";
  ((pattern += '/') += prefix) += "-XXXXXX";  // built in place: GCC 12 warns falsely on "a" + string&&
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("TempDir: mkdtemp failed for " + pattern);
  FPath = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::filesystem::path TempDir::Write(std::string_view name, std::string_view bytes) const {
  WriteFileBytes(File(name), bytes);
  return File(name);
}

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  if (in) out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Tail(const std::string& text, std::size_t maxBytes) {
  return text.size() <= maxBytes ? text : "..." + text.substr(text.size() - maxBytes);
}

}  // namespace qninet::harness

#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qninet::harness {

/// A fresh folder made with mkdtemp under $TMPDIR (or /tmp), removed with everything in it when
/// the object goes. Throws std::runtime_error when the folder cannot be made.
class TempDir {
public:
  explicit TempDir(std::string_view prefix = "qninet-harness");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path File(std::string_view name) const { return FPath / name; }
  std::filesystem::path Write(std::string_view name, std::string_view bytes) const;

private:
  std::filesystem::path FPath;
};

/// The whole content of a file, or an empty string when it cannot be read.
std::string ReadFileText(const std::filesystem::path& path);
/// Writes bytes to a file, replacing it (folders made). Throws std::runtime_error on failure.
void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);
/// The last maxBytes of text (whole text when shorter), for error messages.
std::string Tail(const std::string& text, std::size_t maxBytes = 3000);

}  // namespace qninet::harness

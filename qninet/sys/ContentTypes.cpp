#include "qninet/sys/ContentTypes.h"

#include <fstream>
#include <mutex>
#include <sstream>

#include "qninet/sys/AsciiText.h"
#include "qninet/sys/Files.h"

namespace qninet::sys {

namespace {

std::mutex g_mutex;
std::optional<std::vector<std::string>> g_override;

bool read_whole_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

}  // namespace

std::vector<std::string> content_type_files() {
  {
    std::lock_guard lock(g_mutex);
    if (g_override) return *g_override;
  }
  std::vector<std::string> files{"/etc/mime.types"};
  const std::string home = home_directory();
  if (!home.empty()) files.push_back(home + (home.back() == '/' ? "" : "/") + ".mime.types");
  return files;
}

void set_content_type_files_override(std::optional<std::vector<std::string>> files) {
  std::lock_guard lock(g_mutex);
  g_override = std::move(files);
}

std::string content_type_in_table(const std::string& table, const std::string& extension) {
  const std::string wanted = lower_ascii(extension);
  if (wanted.empty()) return {};
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string type, word;
    if (!(words >> type) || type.find('/') == std::string::npos) continue;
    while (words >> word)
      if (lower_ascii(word) == wanted) return type;
  }
  return {};
}

std::string content_type_of_extension(const std::string& extension) {
  std::string result;
  for (const std::string& file : content_type_files()) {
    std::string text;
    if (!read_whole_file(file, text)) continue;
    if (std::string found = content_type_in_table(text, extension); !found.empty()) result = std::move(found);
  }
  return result;
}

}  // namespace qninet::sys

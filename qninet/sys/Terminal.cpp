#include "qninet/sys/Terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace qninet::sys {

Terminal::Terminal() { FFd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }

Terminal::~Terminal() {
  if (FFd >= 0) ::close(FFd);
}

bool Terminal::Ok() const { return FFd >= 0 && ::isatty(FFd); }

void Terminal::Write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(FFd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

bool Terminal::ReadLine(std::string& line, bool hidden) {
  termios saved{};
  const bool have = ::tcgetattr(FFd, &saved) == 0;
  if (hidden && have) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(FFd, TCSAFLUSH, &quiet);
  }
  line.clear();
  bool ok = false;
  for (;;) {
    char c;
    const ssize_t n = ::read(FFd, &c, 1);
    if (n <= 0) break;
    if (c == '\n' || c == '\r') {
      ok = true;
      break;
    }
    if (c == '\x1b' && line.empty()) break;
    line.push_back(c);
  }
  if (hidden && have) {
    ::tcsetattr(FFd, TCSAFLUSH, &saved);
    Write("\n");
  }
  return ok;
}

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }
bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace qninet::sys

#pragma once
// The controlling terminal, for prompts that must not read a pipe: lines in, text out, and
// input without echo for passwords.

#include <memory>
#include <string>

namespace qninet::sys {

class Terminal {
public:
  /// Opens /dev/tty; `Ok()` tells whether there is one and it is a terminal.
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool Ok() const;
  void Write(const std::string& text);
  /// Reads one line; false at the end of input or when Escape is typed first. `hidden` turns
  /// the echo off while the line is typed.
  bool ReadLine(std::string& line, bool hidden);

private:
  int FFd = -1;
};

bool stdin_is_terminal();
bool stderr_is_terminal();

}  // namespace qninet::sys

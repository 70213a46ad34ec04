#pragma once
// Runs the built program with its arguments, as the program tests all do, and checks one run
// against what a user should see.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "harness/Process.h"

namespace qninet::harness {

inline RunResult Qninet(std::vector<std::string> args) {
  args.insert(args.begin(), QNINET_PROGRAM);
  return RunToCompletion(std::move(args), std::chrono::seconds(60));
}

/// The lines of `text` sorted, so the order of a server's folder does not matter.
inline std::string sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

/// An SNTP server's answer: version 4, server mode, the stratum and the transmit seconds.
inline std::string SntpReply(unsigned stratum, std::uint32_t seconds) {
  std::string p(48, '\0');
  p[0] = 0x24;
  p[1] = static_cast<char>(stratum);
  for (int i = 0; i < 4; ++i) p[40 + i] = static_cast<char>((seconds >> (24 - 8 * i)) & 0xFF);
  return p;
}

/// A PNG head of 4 x 5 pixels: what the console backend reads of a picture.
inline const std::string kPng =
    std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x04\0\0\0\x05", 24) + std::string(8, '\0');

/// A standard output that is not compared.
inline const std::string kAnyOutput = "\x01 any";

/// One run as a user types it: the arguments after the program's name, the exit code, the whole
/// standard output (or kAnyOutput; a listing's lines sorted), texts the output holds, each after
/// the one before, and texts it must not hold (a secret).
struct ProgramRun {
  std::vector<std::string> Args;
  int Exit;
  std::string Stdout = kAnyOutput;
  std::vector<std::string> Says = {}, Lacks = {};
};

inline RunResult ExpectRun(const ProgramRun& want) {
  const RunResult r = Qninet(want.Args);
  EXPECT_EQ(r.ExitCode, want.Exit) << r.Output;
  const bool listing = !want.Args.empty() && (want.Args[0] == "ls" || want.Args[0] == "run");
  if (want.Stdout != kAnyOutput) {
    EXPECT_EQ(listing ? sorted_lines(r.Stdout) : r.Stdout, want.Stdout) << r.Output;
  }
  std::size_t at = 0;
  for (const std::string& text : want.Says) {
    const std::size_t found = r.Output.find(text, at);
    EXPECT_NE(found, std::string::npos) << text << "\n" << r.Output;
    if (found != std::string::npos) at = found + text.size();
  }
  for (const std::string& text : want.Lacks) EXPECT_EQ(r.Output.find(text), std::string::npos) << text;
  return r;
}

}  // namespace qninet::harness

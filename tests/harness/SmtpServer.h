#pragma once
#include "harness/ServerLaunch.h"  // every launched server lives there

namespace qninet::harness {

/// SmtpServer with bearer tokens and the extensions chosen, by its older name: User "joe", no
/// password, SMTPUTF8 off unless asked for.
struct ExtendedSmtpServer : SmtpServer {
  struct Options {
    std::string User = "joe", Token;
    bool Smtputf8 = false, EightBitMime = true;
  };
  explicit ExtendedSmtpServer(const Options& o)
      : SmtpServer([&o] {
          SmtpServer::Options s;
          s.User = o.User, s.Token = o.Token, s.Smtputf8 = o.Smtputf8, s.EightBitMime = o.EightBitMime;
          return s;
        }()) {}
};

}  // namespace qninet::harness

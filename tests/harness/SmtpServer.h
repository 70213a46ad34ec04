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
      : SmtpServer(account(o.User), o.Token, o.Smtputf8, o.EightBitMime) {}

private:
  static SmtpServer::Options account(const std::string& user) {
    SmtpServer::Options s;
    s.User = user;
    return s;
  }
};

}  // namespace qninet::harness

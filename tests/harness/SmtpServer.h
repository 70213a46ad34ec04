#pragma once
#include "harness/ServerLaunch.h"  // every launched server lives there

namespace qninet::harness {

/// aiosmtpd (smtp_server.py) with XOAUTH2 and OAUTHBEARER for User with Token (none without a
/// token), SMTPUTF8 and 8BITMIME offered or not; Received() is every byte the clients sent.
struct ExtendedSmtpServer : Peer {
  struct Options {
    std::string User = "joe", Token;
    bool Smtputf8 = false, EightBitMime = true;
  };
  explicit ExtendedSmtpServer(const Options& o) : Peer("aiosmtpd") {
    std::filesystem::create_directories(FDir.File("messages"));
    Start({}, {o.User, "", "0", "", "qninet.test", "none", "", "", "", o.Token, o.Smtputf8 ? "1" : "0",
               o.EightBitMime ? "1" : "0"});
  }
  std::string Received() const { return ReadFileText(FDir.File("received.log")); }
};

}  // namespace qninet::harness

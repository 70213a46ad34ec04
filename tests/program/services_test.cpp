// `qninet translate`, `detect`, `languages`, `speak` and `ups` as a user runs them, against the
// loopback HTTPS service fixture.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Qninet.h"
#include "harness/ServiceFixture.h"
#include "harness/TempDir.h"

using namespace qninet::harness;

TEST(ProgramServices, SubCommandsPrintResultsJsonAndExitCodes) {
  ServiceFixture fixture;
  const std::string audio("RIFF\x10\0\0\0WAVEfmt ", 16);
  fixture.SetAudio(audio);
  TempDir dir("qninet-services-prog");
  const std::string wav = dir.File("hi.wav").string();
  const std::string base = fixture.Url("/v2/Http.svc");
  const std::string port = std::to_string(fixture.Port());
  const std::vector<std::string> t = {"--base", base, "--cacert", fixture.CaFile()};
  const std::vector<std::string> u = {"--host", "127.0.0.1", "--port", port, "--cacert", fixture.CaFile()};
  const auto with = [](std::vector<std::string> head, const std::vector<std::string>& common,
                       std::vector<std::string> tail) {
    head.insert(head.end(), common.begin(), common.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  // A failure names the service and carries its message; under --json its status is the kind.
  const ProgramRun runs[] = {
      {with({"translate"}, t, {"--from", "en", "--to", "de", "a & b"}), 0, "b & a\n"},
      {with({"languages"}, t, {}), 0, "de\nen\nfr\npt-BR\n"},
      {with({"speak"}, t, {"--language", "en", "-o", wav, "hi"}), 0, ""},
      {with({"ups"}, u, {"1Z999"}), 0,
       "ShipperNumber: A1B2C3\nShipperAddress: 12 Dock Road Unit 4 TIMONIUM 21093 US\n"
       "ShipToAddress: MONTREAL CA\nIdentificationNumber: 1Z999\nPickupDate: 2012-05-15\n"
       "Service: 002 2ND DAY AIR\nShipmentWeight: 5.50 LBS\n"
       "2012-05-17 14:03:09  DELIVERED  ANYTOWN US  FRONT DOOR  signed for by JONES\n"
       "ARRIVAL SCAN  BALTIMORE US\n2012-05-15 09:30:00  BILLING INFORMATION RECEIVED  TIMONIUM US\n"},
      {with({"translate", "--app-id", "bad-app-id"}, t, {"--from", "en", "--to", "de", "x"}),
       1,
       kAnyOutput,
       {"qninet translate: " + base + ": HTTP 400: Invalid appId"}},
      {with({"ups"}, u, {"1ZINVALID"}),
       1,
       kAnyOutput,
       {"qninet ups: 127.0.0.1:" + port + ": Invalid tracking number (151018)"}},
      {{"translate", "--base", "gopher://h/x", "--to", "de", "x"}, 2, "", {"--base wants an http://"}},
      {with({"ups", "--host", "[::1"}, {}, {"1Z999"}), 2, "", {"qninet ups: --host [::1: "}},
  };
  for (ProgramRun run : runs) {
    SCOPED_TRACE(run.Args[0]);
    ExpectRun(run);
    if (run.Exit == 0) continue;
    run.Args.insert(run.Args.begin() + 1, "--json");
    const RunResult r = ExpectRun({run.Args, run.Exit});
    EXPECT_EQ(nlohmann::json::parse(r.Stdout)["status"], run.Exit == 1 ? "failed" : "bad-input") << r.Output;
  }
  EXPECT_EQ(ReadFileText(wav), audio);

  auto r = Qninet(with({"ups", "--json"}, u, {"1ZTWOPACKAGES"}));
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["ShipperAddress"]["City"], "TIMONIUM");
  EXPECT_EQ(j["PickupDate"], "2012-05-15");
  ASSERT_EQ(j["Activities"].size(), 3u);
  EXPECT_EQ(j["Activities"][0]["DateTime"], "2012-05-17 14:03:09");
  EXPECT_EQ(j["Activities"][0]["Location"]["City"], "ANYTOWN");
  EXPECT_EQ(j["Activities"][2]["StatusTypeDescription"], "BILLING INFORMATION RECEIVED");

  r = Qninet(with({"languages", "--speak", "--json"}, t, {}));
  EXPECT_EQ(nlohmann::json::parse(r.Stdout)["Languages"], nlohmann::json({"de", "en"})) << r.Output;
}

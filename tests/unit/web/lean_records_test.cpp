// Activities kept as lean records and made on first ask: readers on several threads asking at
// once all get the one object per scan, holding what the answer said of it.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "qninet/web/QNIUPS.h"

using namespace qninet;

TEST(LeanRecords, ThreadsAskingAtOnceShareOneObjectPerScan) {
  constexpr int kScans = 2000, kThreads = 4;
  std::string xml_scans, rest_scans;
  for (int i = 0; i < kScans; ++i) {
    // Every third scan is empty: it keeps no record at all.
    const std::string code = i % 3 ? std::to_string(i) : "";
    xml_scans +=
        i % 3 ? "<Activity><Status><StatusType><Code>" + code + "</Code></StatusType></Status></Activity>"
              : "<Activity/>";
    if (i) rest_scans += ',';
    rest_scans += i % 3 ? R"({"status":{"type":")" + code + R"("}})" : std::string("{}");
  }
  const std::pair<std::string, bool> answers[] = {
      // the body, and whether it is the REST form
      {"<TrackResponse><Response><ResponseStatusCode>1</ResponseStatusCode></Response><Shipment><Package>" +
           xml_scans + "</Package></Shipment></TrackResponse>",
       false},
      {R"({"trackResponse":{"shipment":[{"package":[{"activity":[)" + rest_scans + "]}]}]}}", true}};
  for (const auto& [body, rest] : answers) {
    SCOPED_TRACE(rest ? "rest" : "xml");
    TQNUPSTracker t(nullptr);
    ASSERT_EQ(ToUtf8(rest ? t.ReadJsonAnswer(body, 200, "ups") : t.ReadAnswer(body, 200)), "");
    ASSERT_EQ(t.Activities()->Count(), kScans);
    std::vector<std::vector<TQNInetActivity*>> seen(kThreads, std::vector<TQNInetActivity*>(kScans));
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k)
      threads.emplace_back([&, k] {
        for (int i = 0; i < kScans; ++i) seen[k][i] = t.Activities()->GetActivity(i);
      });
    for (auto& th : threads) th.join();
    for (int i = 0; i < kScans; ++i) {
      for (int k = 1; k < kThreads; ++k) ASSERT_EQ(seen[k][i], seen[0][i]) << i;
      ASSERT_EQ(ToUtf8(seen[0][i]->StatusTypeCode()), i % 3 ? std::to_string(i) : "") << i;
    }
  }
}

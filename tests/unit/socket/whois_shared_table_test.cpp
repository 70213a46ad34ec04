// The WHOIS clients share one default server table until one asks for or edits its own list.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qninet/rtl/FormFile.h"
#include "qninet/socket/QNWhoIs.h"

using namespace qninet;

// Each row edits one component's list (or not); a second component and the default stay as they
// were, each chooses by its own list, and a form keeps the list only when it is not the default.
TEST(WhoIsSharedTable, EditsStayWithTheirComponentAndFormsKeepOnlyEditedLists) {
  TStringList table;
  for (const String& line : WhoIsDefaultServers()) table.Add(line);
  const struct {
    const char* What;
    std::function<void(TQNWhoIs&)> Edit;
    const char16_t* Domain;
    const char16_t* Host;
    bool Stored;
  } rows[] = {
      {"never asked", [](TQNWhoIs&) {}, u"example.de", u"whois.denic.de", false},
      {"asked, unchanged", [](TQNWhoIs& w) { w.ServerList(); }, u"example.de", u"whois.denic.de", false},
      {"a line changed through the getter",
       [](TQNWhoIs& w) {
         w.ServerList()->SetStrings(w.ServerList()->IndexOfName(u"de"), u"de=whois.d.example");
       },
       u"example.de", u"whois.d.example", true},
      {"a line added", [](TQNWhoIs& w) { w.ServerList()->Add(u"xy=whois.xy.example"); }, u"example.xy",
       u"whois.xy.example", true},
      {"replaced",
       [](TQNWhoIs& w) {
         TStringList mine;
         mine.Add(u"*=whois.star.example");
         w.SetServerList(&mine);
       },
       u"example.de", u"whois.star.example", true},
      {"emptied", [](TQNWhoIs& w) { w.ServerList()->Clear(); }, u"example.de", u"whois.internic.net", true},
      {"changed and changed back",
       [](TQNWhoIs& w) {
         w.ServerList()->Add(u"xy=whois.xy.example");
         w.ServerList()->Delete(w.ServerList()->Count() - 1);
       },
       u"example.xy", u"whois.internic.net", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.What);
    TQNWhoIs w(nullptr), other(nullptr);
    row.Edit(w);
    const std::string form = WriteObjectToJSON(w);
    EXPECT_EQ(form.find("\"ServerList\"") != std::string::npos, row.Stored) << form;
    TQNWhoIs back(nullptr);
    ReadObjectFromJSON(back, form);
    EXPECT_TRUE(back.ServerList()->Equals(*w.ServerList()));
    for (TQNWhoIs* c : {&w, &back}) {
      c->SetDomain(row.Domain);
      EXPECT_EQ(c->Host(), row.Host);
    }
    other.SetDomain(row.Domain);
    const String by_default = WhoIsServerOf(table, WhoIsKeyOf(row.Domain));
    EXPECT_EQ(other.Host(), by_default.empty() ? WhoIsServerOf(table, u"*") : by_default);
    EXPECT_TRUE(other.ServerList()->Equals(table));
    EXPECT_TRUE(TQNWhoIs(nullptr).ServerList()->Equals(table));
  }
}

// Threads that ask new components for their lists at once all get each component's one list.
// They ask in the same order: one that falls behind finds lists made and catches up, and from
// then on the threads ask for the same component together.
TEST(WhoIsSharedTable, ConcurrentFirstAsksMakeOneList) {
  constexpr std::size_t kThreads = 4, kComponents = 3000;
  std::vector<std::unique_ptr<TQNWhoIs>> clients;
  for (std::size_t i = 0; i < kComponents; ++i) clients.push_back(std::make_unique<TQNWhoIs>(nullptr));
  std::vector<std::vector<TStrings*>> seen(kThreads, std::vector<TStrings*>(kComponents));
  std::atomic<std::size_t> ready{0};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (std::size_t i = 0; i < kComponents; ++i) seen[t][i] = clients[i]->ServerList();
    });
  for (auto& th : threads) th.join();
  for (std::size_t i = 0; i < kComponents; ++i) {
    for (std::size_t t = 0; t < kThreads; ++t) ASSERT_EQ(seen[t][i], clients[i]->ServerList()) << i;
    ASSERT_EQ(clients[i]->ServerList()->Count(), static_cast<int>(WhoIsDefaultServers().size())) << i;
  }
}

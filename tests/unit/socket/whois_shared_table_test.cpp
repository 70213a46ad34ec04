// WHOIS clients read one shared server table until one asks for its own list.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "qninet/rtl/FormFile.h"
#include "qninet/socket/QNWhoIs.h"

using namespace qninet;

// Each row edits one client's list (or not): it chooses by that list, a form keeps the list when
// it is not the default (then the server differs), and another client keeps the default.
TEST(WhoIsSharedTable, EditsStayWithTheirClientAndFormsKeepOnlyEditedLists) {
  TStringList star;
  star.Add(u"*=s.example");
  const std::pair<std::function<void(TQNWhoIs&)>, const char16_t*> rows[] = {
      {[](TQNWhoIs&) {}, u"whois.denic.de"},
      {[](TQNWhoIs& w) { w.ServerList()->Insert(0, u"x=y"), w.ServerList()->Delete(0); }, u"whois.denic.de"},
      {[](TQNWhoIs& w) { w.ServerList()->SetStrings(w.ServerList()->IndexOfName(u"de"), u"de=d.example"); },
       u"d.example"},
      {[&](TQNWhoIs& w) { w.SetServerList(&star); }, u"s.example"},
      {[](TQNWhoIs& w) { w.ServerList()->Clear(); }, QNWhoIsFallbackServer.c_str()}};
  for (const auto& [edit, host] : rows) {
    TQNWhoIs w(nullptr), back(nullptr), other(nullptr);
    edit(w);
    const std::string form = WriteObjectToJSON(w);
    EXPECT_EQ(form.find("ServerList") != std::string::npos, String(host) != u"whois.denic.de") << form;
    ReadObjectFromJSON(back, form);
    for (TQNWhoIs* c : {&w, &back, &other}) c->SetDomain(u"example.de");
    EXPECT_EQ(w.Host(), host);
    EXPECT_EQ(back.Host(), host);
    EXPECT_EQ(other.Host(), u"whois.denic.de");
  }
}

// Threads ask in one order: one that falls behind finds the lists made and catches up, and from
// then on they ask for the same new client together. Each must get that client's one list.
TEST(WhoIsSharedTable, ConcurrentFirstAsksMakeOneList) {
  constexpr std::size_t kThreads = 4, kClients = 3000;
  std::vector<std::unique_ptr<TQNWhoIs>> clients(kClients);
  for (auto& c : clients) c = std::make_unique<TQNWhoIs>(nullptr);
  std::vector<TStrings*> seen(kThreads * kClients);
  std::atomic<std::size_t> ready{0};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (ready.fetch_add(1); ready.load() < kThreads;) std::this_thread::yield();
      for (std::size_t i = 0; i < kClients; ++i) seen[t * kClients + i] = clients[i]->ServerList();
    });
  for (auto& th : threads) th.join();
  for (std::size_t k = 0; k < seen.size(); ++k) ASSERT_EQ(seen[k], clients[k % kClients]->ServerList()) << k;
}

// A program built against the installed package: it must find the headers, link the library
// and get the same results as the library's own tests. It includes the umbrella, so an
// installed header that reaches one left out of the package fails to compile here.
#include <cstdio>

#include "qninet/qninet.h"

int main() {
  using namespace qninet;
  TStringList list;
  list.SetText(u"a=1\nb=2");
  String s = u"&lt;ok&gt;";
  ReplaceHTMLChars(s);
  const bool ok = list.Values(u"b") == u"2" && Encode64(u"ab") == u"YWI=" && s == u"<ok>";
  std::puts(ok ? "consumer ok" : "consumer FAILED");
  return ok ? 0 : 1;
}

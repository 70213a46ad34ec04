// The translator's answer reader on arbitrary bodies: values and messages come from the body
// and never outgrow it, a message is one line, and a text written as the service writes it
// reads back whole.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "qninet/web/QNIMSTranslator.h"

using namespace qninet;

namespace {

std::string xml_text(std::string_view s) {
  std::string out;
  for (const char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out.push_back(c);
  }
  return out;
}

void check_values(std::string_view body, const char16_t* tag) {
  TStringList values;
  String why;
  if (!TQNMSTranslator::ReadAnswer(body, tag, &values, why)) {
    FUZZ_CHECK(!why.empty() && values.Count() == 0);
    FUZZ_CHECK(why.find_first_of(u"\r\n") == String::npos);
    return;
  }
  std::size_t total = 0;
  for (int i = 0; i < values.Count(); ++i) total += values.Strings(i).size();
  FUZZ_CHECK(total <= body.size());
  if (SameText(tag, u"string")) FUZZ_CHECK(values.Count() == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body = fuzz::bytes_of(data, size);
  check_values(body, u"string");
  check_values(body, u"ArrayOfstring");
  const String message = TQNMSTranslator::ErrorMessage(body);
  FUZZ_CHECK(message.size() <= body.size() && message.find_first_of(u"\r\n") == String::npos);

  // Plain ASCII text, as a translation answer, reads back as it was sent.
  const std::string_view line = body.substr(0, body.find('\n'));
  bool ascii = true;
  for (const char c : line) ascii = ascii && c >= 0x20 && c < 0x7F;
  if (ascii && !line.empty() && line.front() != ' ' && line.back() != ' ') {
    const std::string answer = "<string xmlns=\"http://schemas.microsoft.com/2003/10/Serialization/\">" +
                               xml_text(line) + "</string>";
    TStringList values;
    String why;
    FUZZ_CHECK(TQNMSTranslator::ReadAnswer(answer, u"string", &values, why) && values.Count() == 1);
    FUZZ_CHECK(values.Strings(0) == FromBytes(line));
  }
  return 0;
}

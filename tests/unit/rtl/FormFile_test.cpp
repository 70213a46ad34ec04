#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness/Forked.h"

#include "qninet/rtl/Collections.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"

using namespace qninet;
using testing::HasSubstr;
using testing::StartsWith;
using testing::ThrowsMessage;

namespace formfile_test {

enum TFlavour : std::uint8_t { flPlain, flSweet, flSour };
QNINET_DECLARE_ENUM_INFO(TFlavour)
QNINET_DEFINE_ENUM_INFO(TFlavour, "flPlain", "flSweet", "flSour")

class TAddress : public TCollectionItem {
  QNINET_OBJECT(TAddress, TCollectionItem)
public:
  using TCollectionItem::TCollectionItem;
  const String& Text() const { return FText; }
  void SetText(const String& v) { FText = v; }

private:
  String FText;
};

class TSettings : public TPersistent {
  QNINET_OBJECT(TSettings, TPersistent)
public:
  Integer Port() const { return FPort; }
  void SetPort(Integer v) { FPort = v; }

private:
  Integer FPort = 0;
};

class TGadget : public TComponent {
  QNINET_OBJECT(TGadget, TComponent)
public:
  explicit TGadget(TComponent* owner) : TComponent(owner), FAddresses(this) {}
  // Port follows Service unless the component is loading, like the web components' rule.
  TFlavour Flavour() const { return FFlavour; }
  void SetFlavour(TFlavour v) {
    FFlavour = v;
    if (!ComponentState().Contains(csLoading)) FPort = 100 + v;
  }
  Integer Port() const { return FPort; }
  void SetPort(Integer v) { FPort = v; }
  TSet<TFlavour> Mix() const { return FMix; }
  void SetMix(TSet<TFlavour> v) { FMix = v; }
  std::uint16_t Small() const { return FSmall; }
  void SetSmall(std::uint16_t v) { FSmall = v; }
  Cardinal Wide() const { return FWide; }
  void SetWide(Cardinal v) { FWide = v; }
  double Ratio() const { return FRatio; }
  void SetRatio(double v) { FRatio = v; }
  TStringList* Lines() const { return &FLines; }
  TCollectionOf<TAddress>* Addresses() const { return &FAddresses; }
  TSettings* Settings() const { return &FSettings; }

private:
  TFlavour FFlavour = flPlain;
  Integer FPort = 100;
  TSet<TFlavour> FMix;
  std::uint16_t FSmall = 0;
  Cardinal FWide = 0;
  double FRatio = 1.5;
  mutable TStringList FLines;
  mutable TCollectionOf<TAddress> FAddresses;
  mutable TSettings FSettings;
};

}  // namespace formfile_test
using namespace formfile_test;

QNINET_CLASS_INFO(TAddress, Published("Text", &Self::Text, &Self::SetText))
QNINET_CLASS_INFO(TSettings, Published("Port", &Self::Port, &Self::SetPort, 0))
QNINET_CLASS_INFO(TGadget, Published("Flavour", &Self::Flavour, &Self::SetFlavour, flPlain),
                  Published("Port", &Self::Port, &Self::SetPort, 100),
                  Published("Mix", &Self::Mix, &Self::SetMix),
                  Published("Small", &Self::Small, &Self::SetSmall, 0),
                  Published("Wide", &Self::Wide, &Self::SetWide, 0),
                  Published("Ratio", &Self::Ratio, &Self::SetRatio, 1.5), Published("Lines", &Self::Lines),
                  Published("Addresses", &Self::Addresses), Published("Settings", &Self::Settings))

// Defaults are not written; a refused text names the file, the component and the property,
// changes nothing and leaves no loading state behind. (A text that is no JSON, a whole number
// given as text, an unknown class, 70000 for a 16-bit port and a negative unsigned interval:
// the program's form rows.)
TEST(FormFiles, DefaultsAreNotWrittenAndBadTextIsRefusedWholly) {
  TGadget g(nullptr);
  const std::string text = WriteObjectToJSON(g);
  EXPECT_EQ(text.find("Port"), std::string::npos);
  EXPECT_EQ(text.find("Lines"), std::string::npos);
  EXPECT_NE(text.find("\"Mix\""), std::string::npos);  // a set has no default: always kept
  const std::pair<const char*, const char*> cases[] = {
      {R"("Nope":1)", "f.json: G1: property Nope: the class TGadget has no such property"},
      {R"("Flavour":"flBitter")", "f.json: G1: property Flavour: an unknown value name \"flBitter\""},
      {R"("Settings":{"Port":true})", "f.json: G1: property Settings.Port: a whole number is expected"},
      {R"("Addresses":[{"Text":"a"},{"Text":2}])",
       "f.json: G1: property Addresses[1].Text: a text is expected"},
      {R"("Addresses":[{"Txt":"a"}])", "property Addresses[0].Txt: the class TAddress has no such property"},
      {R"("Lines":["a",1])", "f.json: G1: property Lines: a line is no text"},
      // a value outside the property's type is refused, not wrapped
      {R"("Settings":{"Port":2147483648})",
       "property Settings.Port: 2147483648 is out of range (-2147483648 to"},
      {R"("Port":-2147483649)", "property Port: -2147483649 is out of range"},
      {R"("Small":-1)", "property Small: -1 is out of range (0 to 65535)"},
      {R"("Wide":18446744073709551615)", "property Wide: 18446744073709551615 is out of range"}};
  for (const auto& [props, message] : cases) {
    // Valid values come first in published order: none of them may be set.
    const std::string form =
        std::string(R"({"Class":"TGadget","Properties":{"Name":"G1","Flavour":"flSour","Lines":["x"],)") +
        R"("Addresses":[{"Text":"kept?"}],)" + props + "}}";
    EXPECT_THAT([&] { ReadObjectFromJSON(g, form, "f.json"); }, ThrowsMessage<EReadError>(HasSubstr(message)))
        << props;
    EXPECT_EQ(g.Name(), u"");
    EXPECT_EQ(g.Flavour(), flPlain);
    EXPECT_EQ(g.Lines()->Count(), 0);
    EXPECT_EQ(g.Addresses()->Count(), 0);
    EXPECT_FALSE(g.ComponentState().Contains(csLoading));
  }
}

TEST(FormFiles, FormsAreMadeByTheFactoryAndRefusedWhole) {
  int made = 0;
  const TComponentFactory make = [&made](const std::string& cls) -> TComponent* {
    return cls == "TGadget" ? (++made, new TGadget(nullptr)) : nullptr;
  };
  auto form = ReadFormFromJSON(R"([{"Class":"TGadget","Properties":{"Name":"A","Port":7}},
                                   {"Class":"TGadget","Properties":{"Name":"B"}}])",
                               "f.json", make);
  ASSERT_EQ(form.size(), 2u);
  EXPECT_EQ(form[0]->Name() + form[1]->Name(), u"AB");
  EXPECT_EQ(static_cast<TGadget&>(*form[0]).Port(), 7);
  EXPECT_EQ(ReadFormFromJSON(WriteObjectToJSON(*form[1]), "", make).size(), 1u);
  // Each component costs kilobytes of a few dozen bytes of text: their count is bounded.
  std::string many = "[";
  for (std::size_t i = 0; i < kMaxFormComponents; ++i) many += R"({"Class":"TGadget","Properties":{}},)";
  EXPECT_EQ(ReadFormFromJSON(many.substr(0, many.size() - 1) + "]", "", make).size(), kMaxFormComponents);
  const std::pair<std::string, const char*> cases[] = {
      {many + R"({"Class":"TGadget","Properties":{}}])",
       "f.json: Invalid form file: more than 1024 components"},
      {R"([{"Class":"TGadget","Properties":{}},{"Properties":{"Name":"N"}}])",
       "f.json: N: Invalid form file: no class"},
      {R"([{"Class":"TGadget","Properties":{"Port":1.5}}])",
       "f.json: TGadget: property Port: a whole number"},
      {"[]", "f.json: Invalid form file: no component"},
      // a value the property itself refuses is a read error of the file too
      {R"({"Class":"TGadget","Properties":{"Name":"F)ed"}})",
       "f.json: F)ed: property Name: 'F)ed' is not a valid"}};
  for (const auto& [text, message] : cases) {
    EXPECT_THAT(([&, &text = text] { ReadFormFromJSON(text, "f.json", make); }),
                ThrowsMessage<EReadError>(StartsWith(message)))
        << text;
  }
}

// Inputs shaped to be hard, each in a child with a few seconds of processor time: work that grows
// with the square of the input, or a stack overflow, ends the child instead of finishing.
TEST(FormFiles, EveryShapeIsReadInLinearWork) {
  const std::function<harness::CaseResult()> cases[] = {
      [] {  // a collection cleared from the back found each item from the front
        TCollectionOf<TAddress> many;
        for (int i = 0; i < 300000; ++i) many.Add();
        many.Clear();
        return harness::CaseResult{many.Count() == 0, ""};
      },
      [] {  // a value nested 200,000 deep overflowed the stack when the form was copied
        const std::string deep = std::string(200000, '[') + std::string(200000, ']');
        try {
          ReadFormFromJSON(R"({"Class":"TGadget","Properties":{"Lines":)" + deep + "}}", "deep.json",
                           [](const std::string&) -> TComponent* { return new TGadget(nullptr); });
        } catch (const EReadError& e) {
          const std::string text = ToUtf8(e.Message());
          return harness::CaseResult{text == "deep.json: Invalid form file: nested deeper than 256 levels",
                                     text};
        }
        return harness::CaseResult{false, "read"};
      },
      [] {  // a list of many objects
        TGadget g(nullptr);
        std::string items;
        for (int i = 0; i < 300000; ++i) items += R"({"Text":"a"},)";
        items.back() = ']';
        ReadObjectFromJSON(g, R"({"Class":"TGadget","Properties":{"Addresses":[)" + items + "}}");
        return harness::CaseResult{g.Addresses()->Count() == 300000, ""};
      }};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto outcome = harness::RunForked(cases[i], 4);
    EXPECT_TRUE(outcome.Ran && outcome.Success) << "case " << i << ": " << outcome.Text;
  }
}

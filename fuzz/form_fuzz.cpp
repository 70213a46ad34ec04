// Form files on arbitrary text: a text is refused with EReadError or loads components of the
// registered classes, and each component's form text loads into a component that writes the
// same text again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/design/QNIReg.h"

using namespace qninet;

namespace {

std::vector<std::unique_ptr<TComponent>> read_form(std::string_view text) {
  return ReadFormFromJSON(text, "fuzz.json", CreateQNInetComponent);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::unique_ptr<TComponent>> form;
  try {
    form = read_form(fuzz::bytes_of(data, size));
  } catch (const EReadError&) {
    return 0;
  }
  FUZZ_CHECK(!form.empty());
  for (const auto& component : form) {
    const std::string written = WriteObjectToJSON(*component);
    const auto again = read_form(written);
    FUZZ_CHECK(again.size() == 1);
    FUZZ_CHECK(WriteObjectToJSON(*again.front()) == written);
  }
  return 0;
}

// Fuzzes the regedit-format reader and writer with any bytes: parsing never
// fails unsafely, and a document that parses and can be written reads back
// with the same keys and values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/regfile.h"

namespace {

bool SameDocument(const regfile::Document& a, const regfile::Document& b) {
  if (a.keys.size() != b.keys.size()) return false;
  for (std::size_t k = 0; k < a.keys.size(); ++k) {
    const regfile::Key& x = a.keys[k];
    const regfile::Key& y = b.keys[k];
    if (x.path != y.path || x.values.size() != y.values.size()) return false;
    for (std::size_t v = 0; v < x.values.size(); ++v) {
      if (x.values[v].name != y.values[v].name ||
          x.values[v].type != y.values[v].type ||
          x.values[v].data != y.values[v].data) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  regfile::Document document;
  if (!regfile::Parse(data, size, &document)) return 0;
  std::string text;
  if (!regfile::Write(document, &text)) return 0;
  regfile::Document again;
  if (!regfile::Parse(reinterpret_cast<const unsigned char*>(text.data()),
                      text.size(), &again)) {
    std::abort();
  }
  if (!SameDocument(document, again)) std::abort();
  // Writing is stable: the second text is the first.
  std::string text_again;
  if (!regfile::Write(again, &text_again) || text_again != text) std::abort();
  return 0;
}

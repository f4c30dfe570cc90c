// Fuzzes the manifest reader with any bytes, delivered in chunks of varied
// sizes, and checks what every update list must satisfy whatever the input.
//
// Input layout: the first byte picks the chunk sizes; the rest is the
// manifest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "manifest/manifest.h"

namespace {

// Chunk sizes cycle through a small table chosen by the first byte, so that
// line breaks, CR bytes and Ctrl-Z fall on chunk boundaries in every way.
constexpr std::size_t kChunkSizes[] = {1, 2, 3, 7, 64, 997, 998, 999, 4096};
constexpr std::size_t kChunkSizeCount =
    sizeof kChunkSizes / sizeof *kChunkSizes;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// A field holds a terminated word of at most `longest` characters and no
// white space.
void CheckWord(const char* field, std::size_t width, std::size_t longest) {
  const void* end = std::memchr(field, '\0', width);
  if (end == nullptr) std::abort();
  const std::size_t length =
      static_cast<std::size_t>(static_cast<const char*>(end) - field);
  if (length > longest) std::abort();
  for (std::size_t i = 0; i < length; ++i) {
    if (IsBlank(field[i])) std::abort();
  }
}

void Read(const std::uint8_t* data, std::size_t size, std::size_t first_chunk,
          std::size_t step, UpdateList* list) {
  ManifestReader reader;
  BeginManifest(&reader, list);
  std::size_t offset = 0;
  std::size_t pick = first_chunk;
  while (offset < size) {
    std::size_t chunk = kChunkSizes[pick % kChunkSizeCount];
    pick += step;
    if (chunk > size - offset) chunk = size - offset;
    if (!FeedManifest(&reader, data + offset, chunk)) break;
    offset += chunk;
  }
  EndManifest(&reader);
}

bool SameEntry(const UpdateEntry& a, const UpdateEntry& b) {
  return std::strcmp(a.module_name, b.module_name) == 0 &&
         std::strcmp(a.folder_word, b.folder_word) == 0 &&
         std::strcmp(a.action_word, b.action_word) == 0 && a.line == b.line &&
         a.long_word == b.long_word;
}

// Two lists are large; keep them off the stack.
UpdateList chunked;
UpdateList whole;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::size_t first_chunk = data[0] & 0x0F;
  const std::size_t step = (data[0] >> 4) + 1;
  ++data;
  --size;

  Read(data, size, first_chunk, step, &chunked);
  if (chunked.count > kMaxEntries) std::abort();
  unsigned previous_line = 1;
  for (std::size_t i = 0; i < chunked.count; ++i) {
    const UpdateEntry& entry = chunked.entries[i];
    CheckWord(entry.module_name, kModuleNameWidth, kMaxModuleNameLength);
    CheckWord(entry.folder_word, kFolderWordWidth, kMaxFolderWordLength);
    CheckWord(entry.action_word, kActionWordWidth, kMaxActionWordLength);
    if (entry.line < previous_line) std::abort();
    previous_line = entry.line;
  }

  // How the bytes arrive must not matter: all at once gives the same list.
  ManifestReader reader;
  BeginManifest(&reader, &whole);
  FeedManifest(&reader, data, size);
  EndManifest(&reader);
  if (whole.count != chunked.count) std::abort();
  for (std::size_t i = 0; i < whole.count; ++i) {
    if (!SameEntry(whole.entries[i], chunked.entries[i])) std::abort();
  }
  return 0;
}

// Manifest reading: line pieces, word scanning, the update list.
#include "manifest/manifest.h"

#include <cstring>

#include "platform/platform.h"

UpdateList update_list = {};

namespace {

constexpr unsigned char kCarriageReturn = 0x0D;
constexpr unsigned char kEndOfFileMark = 0x1A;  // Ctrl-Z
constexpr std::size_t kWordsPerLine = 3;
constexpr std::size_t kReadChunkSize = 4096;

// The white space of the C library's "C" locale.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Splits one piece into up to three words, as a formatted scan of three
// strings would, but refuses a word that does not fit its field instead of
// spilling its rest into the next word.
void StoreEntry(const char* piece, std::size_t length, unsigned line,
                UpdateEntry* entry) {
  char* const fields[kWordsPerLine] = {entry->module_name, entry->folder_word,
                                       entry->action_word};
  const std::size_t longest[kWordsPerLine] = {
      kMaxModuleNameLength, kMaxFolderWordLength, kMaxActionWordLength};
  const LongWord faults[kWordsPerLine] = {
      LongWord::kModuleName, LongWord::kFolderWord, LongWord::kActionWord};

  for (char* field : fields) field[0] = '\0';
  entry->line = line;
  entry->long_word = LongWord::kNone;

  // A zero byte ends the words of a line, as it ends a C string.
  const char* end = static_cast<const char*>(std::memchr(piece, '\0', length));
  if (end == nullptr) end = piece + length;

  const char* p = piece;
  for (std::size_t word = 0; word < kWordsPerLine; ++word) {
    while (p < end && IsBlank(*p)) ++p;
    if (p == end) break;
    const char* start = p;
    while (p < end && !IsBlank(*p)) ++p;
    const std::size_t word_length = static_cast<std::size_t>(p - start);
    if (word_length > longest[word]) {
      if (entry->long_word == LongWord::kNone) entry->long_word = faults[word];
      continue;
    }
    std::memcpy(fields[word], start, word_length);
    fields[word][word_length] = '\0';
  }
}

void FinishPiece(ManifestReader* reader) {
  UpdateList* list = reader->list;
  StoreEntry(reader->piece, reader->piece_length, reader->piece_line,
             &list->entries[list->count]);
  ++list->count;
  reader->piece_length = 0;
  reader->piece_line = reader->line;
  if (list->count == kMaxEntries) reader->done = true;
}

}  // namespace

void BeginManifest(ManifestReader* reader, UpdateList* list) {
  reader->list = list;
  reader->piece_length = 0;
  reader->line = 1;
  reader->piece_line = 1;
  reader->done = false;
  list->count = 0;
}

bool FeedManifest(ManifestReader* reader, const unsigned char* bytes,
                  std::size_t size) {
  for (std::size_t i = 0; i < size && !reader->done; ++i) {
    const unsigned char byte = bytes[i];
    // Text mode drops every CR, so a CR LF pair ends a line as LF does and
    // a lone CR joins the text on its two sides.
    if (byte == kCarriageReturn) continue;
    if (byte == kEndOfFileMark) {
      EndManifest(reader);
      break;
    }
    reader->piece[reader->piece_length++] = static_cast<char>(byte);
    if (byte == '\n') {
      ++reader->line;
      FinishPiece(reader);
    } else if (reader->piece_length == kMaxLinePiece) {
      FinishPiece(reader);
    }
  }
  return !reader->done;
}

void EndManifest(ManifestReader* reader) {
  if (!reader->done && reader->piece_length > 0) FinishPiece(reader);
  reader->done = true;
}

bool ReadUpdateList(const char* file_name) {
  update_list.count = 0;
  platform::ReadFile* file = nullptr;
  if (!platform::OpenReadFile(file_name, &file)) return false;

  ManifestReader reader;
  BeginManifest(&reader, &update_list);
  unsigned char chunk[kReadChunkSize];
  std::size_t got = 0;
  // A read error ends the manifest as the end of the file would.
  while (platform::ReadBytes(file, chunk, sizeof chunk, &got) && got > 0) {
    if (!FeedManifest(&reader, chunk, got)) break;
  }
  EndManifest(&reader);
  platform::CloseReadFile(file);
  return true;
}

// The update manifest and the update list it becomes.
//
// The manifest is single-byte text read as bytes, with the line rules of the
// C runtime's text mode applied here so that every build reads a manifest
// identically: CR bytes are dropped, the first Ctrl-Z ends the file, and a
// line is delivered in pieces of at most 998 characters, each piece an
// entry of its own.
#ifndef VELMORA_MANIFEST_MANIFEST_H
#define VELMORA_MANIFEST_MANIFEST_H

#include <cstddef>

constexpr char kManifestName[] = "vlmfile.upd";

constexpr std::size_t kMaxEntries = 50;

// Field widths of one entry and the longest word each accepts.
constexpr std::size_t kModuleNameWidth = 260;
constexpr std::size_t kMaxModuleNameLength = 255;
constexpr std::size_t kFolderWordWidth = 256;
constexpr std::size_t kMaxFolderWordLength = 255;
constexpr std::size_t kActionWordWidth = 200;
constexpr std::size_t kMaxActionWordLength = 199;

// A line is read into a 1,000-byte buffer, at most 998 characters a piece.
constexpr std::size_t kLineBufferSize = 1000;
constexpr std::size_t kMaxLinePiece = kLineBufferSize - 2;

// The word of an entry that was longer than its field, if any. Such a word
// is never stored cut: the entry keeps it empty and says so here.
enum class LongWord { kNone, kModuleName, kFolderWord, kActionWord };

struct UpdateEntry {
  char module_name[kModuleNameWidth];
  char folder_word[kFolderWordWidth];
  char action_word[kActionWordWidth];
  unsigned line;       // the manifest line the entry was read from, from 1
  LongWord long_word;  // the first word that did not fit
};

struct UpdateList {
  UpdateEntry entries[kMaxEntries];
  std::size_t count;
};

// The update list of this run, empty until ReadUpdateList fills it.
extern UpdateList update_list;

// Reads the manifest named file_name (relative to the current directory)
// into update_list. Returns true when the file opens, whatever it holds;
// false, with an empty list, when it does not.
bool ReadUpdateList(const char* file_name);

// Reads manifest bytes into list exactly as ReadUpdateList reads a file.
// The bytes may arrive in any number of chunks:
//   ManifestReader reader; BeginManifest(&reader, &list);
//   while (FeedManifest(&reader, chunk, size)) { ...next chunk... }
//   EndManifest(&reader);
struct ManifestReader {
  UpdateList* list;
  char piece[kLineBufferSize];
  std::size_t piece_length;
  unsigned line;        // the line the current piece belongs to
  unsigned piece_line;  // the line the current piece started on
  bool done;            // 50 entries stored, or a Ctrl-Z seen
};
void BeginManifest(ManifestReader* reader, UpdateList* list);
// Returns false once the reader wants no more bytes.
bool FeedManifest(ManifestReader* reader, const unsigned char* bytes,
                  std::size_t size);
void EndManifest(ManifestReader* reader);

#endif  // VELMORA_MANIFEST_MANIFEST_H

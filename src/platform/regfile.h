// The regedit-format text model: a registry file read into keys and values,
// and written back as a REGEDIT4 file.
//
// Portable C++ only: the POSIX registry keeps its settings key in such a
// file, and the Windows test tooling reads and writes the same files. No
// operating-system header may be included here.
//
// Data is kept as the bytes the single-byte (ANSI) registry calls see: a
// REG_SZ written as "Name"="text" holds the text and one zero byte.
#ifndef VELMORA_PLATFORM_REGFILE_H
#define VELMORA_PLATFORM_REGFILE_H

#include <cstddef>
#include <string>
#include <vector>

namespace regfile {

// Value types that have a syntax of their own; every other type number is
// written as hex(N) and kept as it stands.
constexpr unsigned long kTypeString = 1;  // REG_SZ: "text"
constexpr unsigned long kTypeBinary = 3;  // REG_BINARY: hex:
constexpr unsigned long kTypeDword = 4;   // REG_DWORD: dword:

// Files larger than this are refused rather than read into memory.
constexpr std::size_t kMaxFileBytes = 64u * 1024u * 1024u;

struct Value {
  std::string name;  // empty for the default value (@)
  unsigned long type = kTypeString;
  std::vector<unsigned char> data;
};

struct Key {
  std::string path;  // the full key path, as first written in the file
  std::vector<Value> values;
};

struct Document {
  std::vector<Key> keys;  // in order of first appearance
  // False when the file held characters that a single-byte file cannot
  // carry (UTF-16 code units above 0xFF, read as '?'): such a document can
  // be read but Write refuses it, so that nothing is lost by a rewrite.
  bool single_byte = true;
};

// Parses a whole file: REGEDIT4, or "Windows Registry Editor Version 5.00"
// in UTF-16LE with a byte-order mark, UTF-8 or ASCII. Duplicate sections
// merge and a repeated value keeps its last data. False, with *document
// undefined, for anything not understood: deletions, unknown syntax,
// truncated data, a value before any section, undecodable bytes.
bool Parse(const unsigned char* bytes, std::size_t size, Document* document);

// Writes *document as REGEDIT4 text with CR LF line ends. False when the
// document is not single_byte or holds a name or path that cannot stand on
// one line; *text is then undefined.
bool Write(const Document& document, std::string* text);

// Key paths compare ignoring ASCII case and trailing backslashes; value
// names ignoring ASCII case. Null when absent.
Key* FindKey(Document* document, const std::string& path);
const Value* FindValue(const Key& key, const std::string& name);

// Returns the key with this path, appending an empty one when absent.
Key* AddKey(Document* document, const std::string& path);

// Sets (replaces or appends) a value of the key.
void SetValue(Key* key, const std::string& name, unsigned long type,
              const unsigned char* data, std::size_t size);

}  // namespace regfile

#endif  // VELMORA_PLATFORM_REGFILE_H

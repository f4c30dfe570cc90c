// The regedit-format reader and writer. Everything is held in std::string
// and std::vector: a file may be any junk, of any length, and nothing here
// may overflow or read past its input.
#include "platform/regfile.h"

#include <cstdint>

namespace regfile {
namespace {

constexpr char kHeader4[] = "REGEDIT4";
constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";
constexpr std::size_t kLineWidth = 80;   // regedit wraps hex data here
constexpr std::size_t kDwordDigits = 8;  // dword:xxxxxxxx
constexpr std::size_t kTypeDigits = 8;   // hex(N): N fits 32 bits
constexpr char kUnmappable = '?';        // as the ANSI calls show such text
constexpr unsigned long kTypeExpandString = 2;  // REG_EXPAND_SZ
constexpr unsigned long kTypeMultiString = 7;   // REG_MULTI_SZ

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

std::string WithoutTrailingBackslashes(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && path[end - 1] == '\\') --end;
  return path.substr(0, end);
}

bool IsSurrogateHigh(unsigned unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsSurrogateLow(unsigned unit) { return unit >= 0xDC00 && unit < 0xE000; }

// UTF-16LE to single bytes: units up to 0xFF stand for themselves, all
// others (a surrogate pair counting once) become '?' and clear
// *single_byte. In file text (`text_rules`) a zero unit or a lone surrogate
// is an undecodable file; in value data they are simply data.
bool NarrowUtf16(const unsigned char* bytes, std::size_t size, bool text_rules,
                 std::string* out, bool* single_byte) {
  if (size % 2 != 0) return false;
  const std::size_t units = size / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const unsigned unit = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (unit <= 0xFF) {
      if (unit == 0 && text_rules) return false;
      out->push_back(static_cast<char>(unit));
      continue;
    }
    if (IsSurrogateHigh(unit) && i + 1 < units &&
        IsSurrogateLow(bytes[2 * i + 2] | (bytes[2 * i + 3] << 8))) {
      ++i;
    } else if ((IsSurrogateHigh(unit) || IsSurrogateLow(unit)) && text_rules) {
      return false;
    }
    out->push_back(kUnmappable);
    *single_byte = false;
  }
  return true;
}

// Strict UTF-8 (no overlong forms, surrogates or zero bytes) to single
// bytes, with the same rule as NarrowUtf16 for code points above 0xFF.
bool NarrowUtf8(const unsigned char* bytes, std::size_t size, std::string* out,
                bool* single_byte) {
  std::size_t i = 0;
  while (i < size) {
    const unsigned lead = bytes[i];
    std::size_t length = 0;
    std::uint32_t point = 0;
    std::uint32_t minimum = 0;
    if (lead == 0) return false;
    if (lead < 0x80) {
      length = 1;
      point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      point = lead & 0x1F;
      minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      point = lead & 0x0F;
      minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      point = lead & 0x07;
      minimum = 0x10000;
    } else {
      return false;
    }
    if (length > size - i) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
      point = (point << 6) | (bytes[i + k] & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF ||
        (point >= 0xD800 && point < 0xE000)) {
      return false;
    }
    if (point <= 0xFF) {
      out->push_back(static_cast<char>(point));
    } else {
      out->push_back(kUnmappable);
      *single_byte = false;
    }
    i += length;
  }
  return true;
}

bool StartsWith(const unsigned char* bytes, std::size_t size,
                const char* prefix) {
  for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= size || bytes[i] != static_cast<unsigned char>(prefix[i])) {
      return false;
    }
  }
  return true;
}

// The whole file as single-byte text: UTF-16LE after its byte-order mark,
// UTF-8 after its mark or for a version 5 file, the bytes themselves for
// REGEDIT4.
bool DecodeText(const unsigned char* bytes, std::size_t size, std::string* text,
                bool* single_byte) {
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    return NarrowUtf16(bytes + 2, size - 2, true, text, single_byte);
  }
  if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    return NarrowUtf8(bytes + 3, size - 3, text, single_byte);
  }
  if (!StartsWith(bytes, size, kHeader4)) {
    return NarrowUtf8(bytes, size, text, single_byte);
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] == 0) return false;
  }
  text->assign(reinterpret_cast<const char*>(bytes), size);
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text.size();
    std::size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.push_back(text.substr(start, stop - start));
    if (last) break;
    start = end + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t SkipBlanks(const std::string& line, std::size_t pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return pos;
}

std::string TrimRight(const std::string& line) {
  std::size_t end = line.size();
  while (end > 0 && IsBlank(line[end - 1])) --end;
  return line.substr(0, end);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A run of 1 to max_digits hex digits at *pos.
bool ParseHexNumber(const std::string& line, std::size_t* pos,
                    std::size_t max_digits, unsigned long* number) {
  std::size_t digits = 0;
  unsigned long value = 0;
  while (*pos < line.size() && HexDigit(line[*pos]) >= 0) {
    if (++digits > max_digits) return false;
    value = value * 16 + static_cast<unsigned long>(HexDigit(line[*pos]));
    ++*pos;
  }
  *number = value;
  return digits > 0;
}

// "text" starting at line[*pos]; \\ and \" are the only escapes.
bool ParseQuoted(const std::string& line, std::size_t* pos, std::string* out) {
  for (std::size_t p = *pos + 1; p < line.size(); ++p) {
    const char c = line[p];
    if (c == '"') {
      *pos = p + 1;
      return true;
    }
    if (c == '\\') {
      if (p + 1 >= line.size()) return false;
      const char next = line[p + 1];
      if (next != '\\' && next != '"') return false;
      out->push_back(next);
      ++p;
      continue;
    }
    out->push_back(c);
  }
  return false;
}

// Comma-separated bytes of two hex digits, continued on the next line after
// a trailing backslash. Advances *index past the continuation lines.
bool ParseHexBytes(const std::vector<std::string>& lines, std::size_t* index,
                   std::size_t pos, std::vector<unsigned char>* data) {
  const std::string* line = &lines[*index];
  bool need_byte = false;  // after a comma or a continuation
  for (;;) {
    pos = SkipBlanks(*line, pos);
    if (pos == line->size()) return !need_byte;
    if ((*line)[pos] == '\\' && SkipBlanks(*line, pos + 1) == line->size()) {
      if (!need_byte && !data->empty()) return false;
      if (++*index >= lines.size()) return false;
      line = &lines[*index];
      pos = 0;
      need_byte = true;
      continue;
    }
    if (pos + 1 >= line->size()) return false;
    const int high = HexDigit((*line)[pos]);
    const int low = HexDigit((*line)[pos + 1]);
    if (high < 0 || low < 0) return false;
    data->push_back(static_cast<unsigned char>(high * 16 + low));
    need_byte = false;
    pos = SkipBlanks(*line, pos + 2);
    if (pos == line->size()) return true;
    if ((*line)[pos] != ',') return false;
    ++pos;
    need_byte = true;
  }
}

bool MatchWord(const std::string& line, std::size_t* pos, const char* word) {
  std::size_t p = *pos;
  for (std::size_t i = 0; word[i] != '\0'; ++i, ++p) {
    if (p >= line.size() || FoldCase(line[p]) != word[i]) return false;
  }
  *pos = p;
  return true;
}

bool IsStringType(unsigned long type) {
  return type == kTypeString || type == kTypeExpandString ||
         type == kTypeMultiString;
}

// The data after '=' of lines[*index], starting at pos.
bool ParseData(const std::vector<std::string>& lines, std::size_t* index,
               std::size_t pos, bool version5, Value* value,
               bool* single_byte) {
  const std::string& line = lines[*index];
  if (pos < line.size() && line[pos] == '"') {
    std::string text;
    if (!ParseQuoted(line, &pos, &text)) return false;
    if (SkipBlanks(line, pos) != line.size()) return false;
    value->type = kTypeString;
    value->data.assign(text.begin(), text.end());
    value->data.push_back(0);
    return true;
  }
  if (MatchWord(line, &pos, "dword:")) {
    unsigned long number = 0;
    if (!ParseHexNumber(line, &pos, kDwordDigits, &number)) return false;
    if (SkipBlanks(line, pos) != line.size()) return false;
    value->type = kTypeDword;
    value->data.clear();
    for (int shift = 0; shift < 32; shift += 8) {
      value->data.push_back(static_cast<unsigned char>(number >> shift));
    }
    return true;
  }
  if (!MatchWord(line, &pos, "hex")) return false;
  value->type = kTypeBinary;
  if (pos < line.size() && line[pos] == '(') {
    ++pos;
    if (!ParseHexNumber(line, &pos, kTypeDigits, &value->type)) return false;
    if (!MatchWord(line, &pos, ")")) return false;
  }
  if (!MatchWord(line, &pos, ":")) return false;
  std::vector<unsigned char> bytes;
  if (!ParseHexBytes(lines, index, pos, &bytes)) return false;
  // Version 5 files hold string data as UTF-16; the single-byte calls see
  // it narrowed, and a REGEDIT4 rewrite must carry it narrowed.
  if (version5 && IsStringType(value->type) && bytes.size() % 2 == 0) {
    std::string narrow;
    NarrowUtf16(bytes.data(), bytes.size(), false, &narrow, single_byte);
    value->data.assign(narrow.begin(), narrow.end());
  } else {
    value->data.swap(bytes);
  }
  return true;
}

void AppendEscaped(const std::string& text, std::string* out) {
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
}

bool HoldsLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// A REG_SZ that "text" reproduces exactly: one final zero byte, no other,
// and nothing that would break the line.
bool IsPlainString(const Value& value) {
  if (value.type != kTypeString || value.data.empty()) return false;
  if (value.data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
    const unsigned char c = value.data[i];
    if (c == 0 || c == '\r' || c == '\n') return false;
  }
  return true;
}

void AppendHex(unsigned long number, std::size_t min_digits, std::string* out) {
  static const char kDigits[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[number % 16]);
    number /= 16;
  } while (number != 0);
  while (digits.size() < min_digits) digits.insert(digits.begin(), '0');
  out->append(digits);
}

void AppendValue(const Value& value, std::string* out) {
  std::string line;
  if (value.name.empty()) {
    line = "@";
  } else {
    line = "\"";
    AppendEscaped(value.name, &line);
    line += "\"";
  }
  line += "=";
  if (IsPlainString(value)) {
    line += "\"";
    AppendEscaped(std::string(value.data.begin(), value.data.end() - 1), &line);
    line += "\"";
  } else if (value.type == kTypeDword && value.data.size() == 4) {
    unsigned long number = 0;
    for (int i = 3; i >= 0; --i) number = number * 256 + value.data[i];
    line += "dword:";
    AppendHex(number, kDwordDigits, &line);
  } else {
    if (value.type == kTypeBinary) {
      line += "hex:";
    } else {
      line += "hex(";
      AppendHex(value.type, 1, &line);
      line += "):";
    }
    std::size_t column = line.size();
    out->append(line);
    line.clear();
    for (std::size_t i = 0; i < value.data.size(); ++i) {
      // Room for "xx," and the continuation backslash.
      if (column + 4 > kLineWidth) {
        out->append("\\\r\n  ");
        column = 2;
      }
      AppendHex(value.data[i], 2, out);
      column += 2;
      if (i + 1 < value.data.size()) {
        out->push_back(',');
        ++column;
      }
    }
  }
  out->append(line);
  out->append("\r\n");
}

}  // namespace

bool Parse(const unsigned char* bytes, std::size_t size, Document* document) {
  document->keys.clear();
  document->single_byte = true;
  if (size > kMaxFileBytes) return false;
  std::string text;
  if (!DecodeText(bytes, size, &text, &document->single_byte)) return false;
  const std::vector<std::string> lines = SplitLines(text);
  const std::string header = TrimRight(lines[0]);
  const bool version5 = header == kHeader5;
  if (!version5 && header != kHeader4) return false;

  bool in_section = false;
  std::size_t section = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string line = TrimRight(lines[i]);
    std::size_t pos = SkipBlanks(line, 0);
    if (pos == line.size() || line[pos] == ';') continue;
    if (line[pos] == '[') {
      if (line.back() != ']' || line.size() - pos < 3) return false;
      const std::string path = line.substr(pos + 1, line.size() - pos - 2);
      if (path[0] == '-') return false;
      // An index, not a pointer: later sections grow the vector.
      section = static_cast<std::size_t>(AddKey(document, path) -
                                         document->keys.data());
      in_section = true;
      continue;
    }
    if (!in_section) return false;
    Value value;
    if (line[pos] == '@') {
      ++pos;
    } else if (line[pos] != '"' || !ParseQuoted(line, &pos, &value.name)) {
      return false;
    }
    pos = SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=') return false;
    pos = SkipBlanks(line, pos + 1);
    // ParseData reads lines[i] itself (the same text with its trailing
    // blanks) so that it can go on to continuation lines.
    if (!ParseData(lines, &i, pos, version5, &value, &document->single_byte)) {
      return false;
    }
    SetValue(&document->keys[section], value.name, value.type,
             value.data.data(), value.data.size());
  }
  return true;
}

bool Write(const Document& document, std::string* text) {
  if (!document.single_byte) return false;
  text->assign(kHeader4);
  text->append("\r\n\r\n");
  for (const Key& key : document.keys) {
    // "[-" would read back as a deletion.
    if (key.path.empty() || key.path[0] == '-' || HoldsLineBreak(key.path)) {
      return false;
    }
    text->append("[");
    text->append(key.path);
    text->append("]\r\n");
    for (const Value& value : key.values) {
      if (HoldsLineBreak(value.name)) return false;
      AppendValue(value, text);
    }
    text->append("\r\n");
  }
  return true;
}

Key* FindKey(Document* document, const std::string& path) {
  const std::string wanted = WithoutTrailingBackslashes(path);
  for (Key& key : document->keys) {
    if (SameIgnoringCase(WithoutTrailingBackslashes(key.path), wanted)) {
      return &key;
    }
  }
  return nullptr;
}

const Value* FindValue(const Key& key, const std::string& name) {
  for (const Value& value : key.values) {
    if (SameIgnoringCase(value.name, name)) return &value;
  }
  return nullptr;
}

Key* AddKey(Document* document, const std::string& path) {
  Key* existing = FindKey(document, path);
  if (existing != nullptr) return existing;
  document->keys.push_back(Key());
  document->keys.back().path = path;
  return &document->keys.back();
}

void SetValue(Key* key, const std::string& name, unsigned long type,
              const unsigned char* data, std::size_t size) {
  Value* target = nullptr;
  for (Value& value : key->values) {
    if (SameIgnoringCase(value.name, name)) target = &value;
  }
  if (target == nullptr) {
    key->values.push_back(Value());
    target = &key->values.back();
    target->name = name;
  }
  target->type = type;
  target->data.assign(data, data + size);
}

}  // namespace regfile

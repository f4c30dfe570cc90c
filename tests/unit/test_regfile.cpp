// The regedit-format model: what it accepts, what it refuses, and that a
// document written and read back keeps every key and value byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/regfile.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes FromText(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// ASCII/Latin-1 text as a UTF-16LE file with its byte-order mark.
Bytes Utf16File(const std::string& text) {
  Bytes bytes = {0xFF, 0xFE};
  for (unsigned char c : text) {
    bytes.push_back(c);
    bytes.push_back(0);
  }
  return bytes;
}

bool ParseText(const std::string& text, regfile::Document* document) {
  return regfile::Parse(reinterpret_cast<const unsigned char*>(text.data()),
                        text.size(), document);
}

Bytes Sz(const std::string& text) {
  Bytes data = FromText(text);
  data.push_back(0);
  return data;
}

// The value's data, or a marker that cannot be equal to real data.
Bytes DataOf(regfile::Document* document, const std::string& key,
             const std::string& name, unsigned long* type = nullptr) {
  const regfile::Key* found = regfile::FindKey(document, key);
  if (found == nullptr) return FromText("<no key>");
  const regfile::Value* value = regfile::FindValue(*found, name);
  if (value == nullptr) return FromText("<no value>");
  if (type != nullptr) *type = value->type;
  return value->data;
}

const char kKey[] = "HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora";

TEST(RegfileParse, ReadsEveryValueFormOfARegedit4File) {
  const std::string text =
      "REGEDIT4\r\n"
      "\r\n"
      "; a comment line\r\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\r\n"
      "\"Path\"=\"C:\\\\Program Files\\\\Velmora\"\r\n"
      "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
      "@=\"the default\"\r\n"
      "\"Empty\"=\"\"\r\n"
      "\"Bin\"=hex:01,02,ff\r\n"
      "\"NoBytes\"=hex:\r\n"
      "\"Count\"=dword:0000002a\r\n"
      "\"Multi\"=hex(7):61,00,62,00,00\r\n"
      "\"Odd type\"=hex(1234abcd):05\r\n"
      "\"Wrapped\"=hex:00,01,02,\\\r\n"
      "  03,04,\\\r\n"
      "\t05\r\n"
      "\"Spaced\" = \"x\"   \r\n";
  regfile::Document document;
  ASSERT_TRUE(ParseText(text, &document));
  ASSERT_EQ(document.keys.size(), 1u);
  EXPECT_TRUE(document.single_byte);
  EXPECT_EQ(document.keys[0].path, kKey);
  EXPECT_EQ(document.keys[0].values.size(), 11u);

  unsigned long type = 0;
  EXPECT_EQ(DataOf(&document, kKey, "Path", &type),
            Sz("C:\\Program Files\\Velmora"));
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(DataOf(&document, kKey, "Quote"), Sz("say \"hi\""));
  EXPECT_EQ(DataOf(&document, kKey, ""), Sz("the default"));
  EXPECT_EQ(DataOf(&document, kKey, "Empty"), Sz(""));
  EXPECT_EQ(DataOf(&document, kKey, "Bin", &type), Bytes({1, 2, 0xFF}));
  EXPECT_EQ(type, 3u);
  EXPECT_EQ(DataOf(&document, kKey, "NoBytes"), Bytes());
  EXPECT_EQ(DataOf(&document, kKey, "Count", &type), Bytes({0x2A, 0, 0, 0}));
  EXPECT_EQ(type, 4u);
  EXPECT_EQ(DataOf(&document, kKey, "Multi", &type),
            Bytes({'a', 0, 'b', 0, 0}));
  EXPECT_EQ(type, 7u);
  EXPECT_EQ(DataOf(&document, kKey, "Odd type", &type), Bytes({5}));
  EXPECT_EQ(type, 0x1234abcdu);
  EXPECT_EQ(DataOf(&document, kKey, "Wrapped"), Bytes({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(DataOf(&document, kKey, "Spaced"), Sz("x"));
}

TEST(RegfileParse, ReadsAVersion5FileInUtf16WithCrLf) {
  // String data of a version 5 file is UTF-16 and is seen narrowed.
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\r\n"
      "\"Path\"=\"/opt/velmora \xE9t\xE9\"\r\n"
      "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"Bin\"=hex:25,00\r\n"
      "\"Count\"=dword:00000001\r\n";
  const Bytes file = Utf16File(text);
  regfile::Document document;
  ASSERT_TRUE(regfile::Parse(file.data(), file.size(), &document));
  EXPECT_TRUE(document.single_byte);
  EXPECT_EQ(DataOf(&document, kKey, "Path"), Sz("/opt/velmora \xE9t\xE9"));
  EXPECT_EQ(DataOf(&document, kKey, "Expand"), Bytes({'%', 'A', '%', 0}));
  EXPECT_EQ(DataOf(&document, kKey, "Bin"), Bytes({0x25, 0}));
  EXPECT_EQ(DataOf(&document, kKey, "Count"), Bytes({1, 0, 0, 0}));
}

TEST(RegfileParse, ReadsAVersion5FileInUtf8WithOrWithoutMark) {
  const std::string body =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\n"
      "\"Path\"=\"/opt/caf\xC3\xA9\"\n";
  for (const std::string& text : {body, "\xEF\xBB\xBF" + body}) {
    regfile::Document document;
    ASSERT_TRUE(ParseText(text, &document));
    EXPECT_TRUE(document.single_byte);
    EXPECT_EQ(DataOf(&document, kKey, "Path"), Sz("/opt/caf\xE9"));
  }
}

TEST(RegfileParse, TextBeyondOneByteIsReadButNeverWrittenBack) {
  // U+03A9 in a UTF-16 file and in a UTF-8 file; the ANSI view shows '?'.
  Bytes utf16 = Utf16File(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\r\n"
      "\"Path\"=\"a");
  utf16.push_back(0xA9);
  utf16.push_back(0x03);
  const Bytes tail = Utf16File("b\"\r\n");
  utf16.insert(utf16.end(), tail.begin() + 2, tail.end());
  const std::string utf8 =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\n"
      "\"Path\"=\"a\xCE\xA9"
      "b\"\n";
  for (const Bytes& file : {utf16, FromText(utf8)}) {
    regfile::Document document;
    ASSERT_TRUE(regfile::Parse(file.data(), file.size(), &document));
    EXPECT_FALSE(document.single_byte);
    EXPECT_EQ(DataOf(&document, kKey, "Path"), Sz("a?b"));
    std::string text;
    EXPECT_FALSE(regfile::Write(document, &text));
  }
}

TEST(RegfileParse, DuplicateSectionsMergeAndTheLastValueWins) {
  const std::string text =
      "REGEDIT4\n\n"
      "[HKEY_USERS\\A]\n"
      "\"x\"=\"1\"\n"
      "\"y\"=\"1\"\n"
      "[HKEY_USERS\\B]\n"
      "\"z\"=\"1\"\n"
      "[hkey_users\\a\\]\n"
      "\"X\"=\"2\"\n"
      "\"w\"=\"2\"\n"
      "\"x\"=\"3\"\n";
  regfile::Document document;
  ASSERT_TRUE(ParseText(text, &document));
  ASSERT_EQ(document.keys.size(), 2u);
  EXPECT_EQ(document.keys[0].path, "HKEY_USERS\\A");
  EXPECT_EQ(document.keys[1].path, "HKEY_USERS\\B");
  ASSERT_EQ(document.keys[0].values.size(), 3u);
  EXPECT_EQ(document.keys[0].values[0].name, "x");
  EXPECT_EQ(document.keys[0].values[0].data, Sz("3"));
  EXPECT_EQ(document.keys[0].values[1].data, Sz("1"));
  EXPECT_EQ(document.keys[0].values[2].name, "w");
}

TEST(RegfileParse, RefusesWhatItDoesNotUnderstand) {
  const std::string head = "REGEDIT4\n\n[HKEY_USERS\\A]\n";
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"empty file", ""},
      {"no header", "[HKEY_USERS\\A]\n\"x\"=\"1\"\n"},
      {"other header", "REGEDIT5\n\n[HKEY_USERS\\A]\n"},
      {"key deletion", "REGEDIT4\n\n[-HKEY_USERS\\A]\n"},
      {"value deletion", head + "\"x\"=-\n"},
      {"section not closed", "REGEDIT4\n\n[HKEY_USERS\\A\n"},
      {"empty section", "REGEDIT4\n\n[]\n"},
      {"value before any section", "REGEDIT4\n\n\"x\"=\"1\"\n"},
      {"junk line", head + "hello\n"},
      {"name not closed", head + "\"x=\"1\"\n"},
      {"string not closed", head + "\"x\"=\"1\n"},
      {"text after string", head + "\"x\"=\"1\" junk\n"},
      {"unknown escape", head + "\"x\"=\"a\\nb\"\n"},
      {"missing equals", head + "\"x\" \"1\"\n"},
      {"truncated hex byte", head + "\"x\"=hex:01,0\n"},
      {"dangling comma", head + "\"x\"=hex:01,\n"},
      {"continuation at end of file", head + "\"x\"=hex:01,\\\n"},
      {"continuation onto blank line", head + "\"x\"=hex:01,\\\n\n"},
      {"bytes without comma", head + "\"x\"=hex:01 02\n"},
      {"not a hex digit", head + "\"x\"=hex:0g\n"},
      {"hex type not closed", head + "\"x\"=hex(2:01\n"},
      {"hex type empty", head + "\"x\"=hex():01\n"},
      {"hex type too long", head + "\"x\"=hex(123456789):01\n"},
      {"dword too long", head + "\"x\"=dword:000000001\n"},
      {"dword empty", head + "\"x\"=dword:\n"},
      {"unknown data form", head + "\"x\"=str(2):\"a\"\n"},
      {"zero byte", head + std::string("\"x\"=\"a\0b\"\n", 11)},
      {"invalid UTF-8 in version 5",
       "Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\A]\n"
       "\"x\"=\"\xE9\"\n"},
      {"UTF-8 overlong form",
       "Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\A]\n"
       "\"x\"=\"\xC0\xAF\"\n"},
      {"UTF-16 big-endian", "\xFE\xFF"},
  };
  for (const Case& c : cases) {
    regfile::Document document;
    EXPECT_FALSE(ParseText(c.text, &document)) << c.what;
  }
}

TEST(RegfileParse, RefusesUndecodableUtf16) {
  const Bytes good = Utf16File("REGEDIT4\r\n\r\n[HKEY_USERS\\A]\r\n");
  Bytes odd = good;
  odd.push_back('x');
  Bytes lone_surrogate = good;
  lone_surrogate.insert(lone_surrogate.end(), {0x00, 0xD8, 'a', 0});
  Bytes zero_unit = good;
  zero_unit.insert(zero_unit.end(), {0, 0});
  regfile::Document document;
  ASSERT_TRUE(regfile::Parse(good.data(), good.size(), &document));
  EXPECT_FALSE(regfile::Parse(odd.data(), odd.size(), &document));
  EXPECT_FALSE(
      regfile::Parse(lone_surrogate.data(), lone_surrogate.size(), &document));
  EXPECT_FALSE(regfile::Parse(zero_unit.data(), zero_unit.size(), &document));
}

TEST(RegfileParse, SurvivesBinaryJunkAndHugeLines) {
  // A pseudo-random file of every byte value: refused, and nothing breaks.
  Bytes junk;
  unsigned state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245u + 12345u;
    junk.push_back(static_cast<unsigned char>(state >> 16));
  }
  regfile::Document document;
  EXPECT_FALSE(regfile::Parse(junk.data(), junk.size(), &document));
  Bytes junk_after_header = FromText("REGEDIT4\n\n[HKEY_USERS\\A]\n");
  junk_after_header.insert(junk_after_header.end(), junk.begin(), junk.end());
  EXPECT_FALSE(regfile::Parse(junk_after_header.data(),
                              junk_after_header.size(), &document));

  std::string text = "REGEDIT4\n\n[HKEY_USERS\\A]\n\"big\"=hex:";
  const std::size_t kBytes = 300000;
  for (std::size_t i = 0; i < kBytes; ++i)
    text += i + 1 < kBytes ? "ab," : "ab";
  text += "\n\"name\"=\"" + std::string(1000000, 'n') + "\"\n";
  ASSERT_TRUE(ParseText(text, &document));
  EXPECT_EQ(DataOf(&document, "HKEY_USERS\\A", "big"), Bytes(kBytes, 0xAB));
  EXPECT_EQ(DataOf(&document, "HKEY_USERS\\A", "name").size(), 1000001u);
}

TEST(RegfileWrite, WritesRegedit4TextExactly) {
  regfile::Document document;
  regfile::Key* key = regfile::AddKey(&document, kKey);
  const Bytes path = Sz("C:\\Velmora \"4\"");
  regfile::SetValue(key, "Path", 1, path.data(), path.size());
  const Bytes count = {0x2A, 0, 0, 0};
  regfile::SetValue(key, "Count", 4, count.data(), count.size());
  const Bytes binary = {1, 0xAB};
  regfile::SetValue(key, "", 3, binary.data(), binary.size());
  const Bytes bare = FromText("no zero");
  regfile::SetValue(key, "Bare", 1, bare.data(), bare.size());
  regfile::SetValue(key, "Other", 0x1b, binary.data(), binary.size());
  regfile::AddKey(&document, "HKEY_USERS\\Empty");
  std::string text;
  ASSERT_TRUE(regfile::Write(document, &text));
  EXPECT_EQ(text,
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\r\n"
            "\"Path\"=\"C:\\\\Velmora \\\"4\\\"\"\r\n"
            "\"Count\"=dword:0000002a\r\n"
            "@=hex:01,ab\r\n"
            "\"Bare\"=hex(1):6e,6f,20,7a,65,72,6f\r\n"
            "\"Other\"=hex(1b):01,ab\r\n"
            "\r\n"
            "[HKEY_USERS\\Empty]\r\n"
            "\r\n");
}

TEST(RegfileWrite, WrapsLongHexLinesBelowEightyColumns) {
  regfile::Document document;
  const Bytes data(100, 0x5A);
  regfile::SetValue(regfile::AddKey(&document, "HKEY_USERS\\A"), "x", 3,
                    data.data(), data.size());
  std::string text;
  ASSERT_TRUE(regfile::Write(document, &text));
  std::size_t start = 0;
  int continued = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    EXPECT_LE(line.size(), 80u) << line;
    if (!line.empty() && line.back() == '\\') ++continued;
    start = end + 2;
  }
  EXPECT_GE(continued, 3);
}

TEST(RegfileWrite, RefusesNamesThatCannotStandOnOneLine) {
  regfile::Document document;
  regfile::Key* key = regfile::AddKey(&document, "HKEY_USERS\\A");
  const Bytes data = Sz("v");
  regfile::SetValue(key, "two\nlines", 1, data.data(), data.size());
  std::string text;
  EXPECT_FALSE(regfile::Write(document, &text));
  regfile::Document bad_path;
  regfile::AddKey(&bad_path, "HKEY_USERS\\A\r\nB");
  EXPECT_FALSE(regfile::Write(bad_path, &text));
  regfile::Document deletion_like;
  regfile::AddKey(&deletion_like, "-HKEY_USERS\\A");
  EXPECT_FALSE(regfile::Write(deletion_like, &text));
}

TEST(RegfileWrite, RoundTripKeepsEveryKeyAndValue) {
  struct Item {
    const char* name;
    unsigned long type;
    Bytes data;
  };
  const Item items[] = {
      {"Path", 1, Sz("/opt/velmora")},
      {"Escapes \\ \"", 1, Sz("a\\b\"c\\")},
      {"", 1, Sz("")},
      {"No terminator", 1, FromText("abc")},
      {"Inner zero", 1, Bytes({'a', 0, 'b', 0})},
      {"Only zero bytes", 1, Bytes({0, 0})},
      {"Empty sz", 1, Bytes()},
      {"Line break", 1, Sz("a\nb\rc")},
      {"High bytes", 1, Sz("\xE9\xFF\x80")},
      {"Dword", 4, Bytes({1, 2, 3, 4})},
      {"Short dword", 4, Bytes({1, 2})},
      {"Binary", 3, Bytes(500, 0x17)},
      {"Empty binary", 3, Bytes()},
      {"Expand", 2, Sz("%HOME%")},
      {"Unknown", 0xDEADBEEF, Bytes({9, 8, 7})},
      {"None", 0, Bytes()},
  };
  regfile::Document document;
  regfile::Key* key = regfile::AddKey(&document, kKey);
  for (const Item& item : items) {
    regfile::SetValue(key, item.name, item.type, item.data.data(),
                      item.data.size());
  }
  regfile::AddKey(&document, "HKEY_USERS\\Other\\Key With ] Bracket");

  std::string text;
  ASSERT_TRUE(regfile::Write(document, &text));
  regfile::Document again;
  ASSERT_TRUE(ParseText(text, &again)) << text;
  ASSERT_EQ(again.keys.size(), 2u);
  EXPECT_EQ(again.keys[1].path, "HKEY_USERS\\Other\\Key With ] Bracket");
  ASSERT_EQ(again.keys[0].values.size(), sizeof items / sizeof items[0]);
  for (std::size_t i = 0; i < again.keys[0].values.size(); ++i) {
    const regfile::Value& value = again.keys[0].values[i];
    EXPECT_EQ(value.name, items[i].name);
    EXPECT_EQ(value.type, items[i].type) << items[i].name;
    EXPECT_EQ(value.data, items[i].data) << items[i].name;
  }
  std::string text_again;
  ASSERT_TRUE(regfile::Write(again, &text_again));
  EXPECT_EQ(text_again, text);
}

TEST(RegfileLookup, KeysAndNamesIgnoreCaseAndTrailingBackslashes) {
  regfile::Document document;
  regfile::Key* key = regfile::AddKey(&document, kKey);
  const Bytes data = Sz("v");
  regfile::SetValue(key, "Build Number", 1, data.data(), data.size());
  EXPECT_EQ(
      regfile::FindKey(&document,
                       "hkey_users\\.default\\SOFTWARE\\corvane\\velmora\\"),
      key);
  EXPECT_EQ(regfile::AddKey(&document,
                            "HKEY_USERS\\.DEFAULT\\Software\\"
                            "Corvane\\Velmora\\"),
            key);
  EXPECT_EQ(document.keys.size(), 1u);
  EXPECT_EQ(regfile::FindKey(&document, "HKEY_USERS\\.DEFAULT\\Software"),
            nullptr);
  EXPECT_NE(regfile::FindValue(*key, "BUILD NUMBER"), nullptr);
  EXPECT_EQ(regfile::FindValue(*key, "Build  Number"), nullptr);
  const Bytes other = Sz("w");
  regfile::SetValue(key, "build number", 1, other.data(), other.size());
  ASSERT_EQ(key->values.size(), 1u);
  EXPECT_EQ(key->values[0].data, other);
}

}  // namespace

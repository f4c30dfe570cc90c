// Manifest reading: line pieces, CR and Ctrl-Z rules, word scanning.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "manifest/manifest.h"

namespace {

struct Words {
  std::string module, folder, action;
  LongWord long_word = LongWord::kNone;
  unsigned line = 0;
};

bool operator==(const Words& a, const Words& b) {
  return a.module == b.module && a.folder == b.folder && a.action == b.action &&
         a.long_word == b.long_word && a.line == b.line;
}

std::ostream& operator<<(std::ostream& out, const Words& w) {
  return out << "{" << w.module << "|" << w.folder << "|" << w.action
             << "| long " << static_cast<int>(w.long_word) << " line " << w.line
             << "}";
}

// Reads text as a manifest, fed in chunks of chunk bytes.
std::vector<Words> Read(const std::string& text, std::size_t chunk = 4096) {
  static UpdateList list;
  ManifestReader reader;
  BeginManifest(&reader, &list);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t at = 0; at < text.size(); at += chunk) {
    const std::size_t size = std::min(chunk, text.size() - at);
    if (!FeedManifest(&reader, bytes + at, size)) break;
  }
  EndManifest(&reader);
  std::vector<Words> words;
  for (std::size_t i = 0; i < list.count; ++i) {
    const UpdateEntry& e = list.entries[i];
    words.push_back(
        {e.module_name, e.folder_word, e.action_word, e.long_word, e.line});
  }
  return words;
}

TEST(Manifest, LineRules) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<Words> expected;
  };
  const std::string line998 = "a.txt root" + std::string(998 - 10, ' ');
  const Case cases[] = {
      {"empty file", "", {}},
      {"three words",
       "a.dll elmdll _AddModule\n",
       {{"a.dll", "elmdll", "_AddModule", LongWord::kNone, 1}}},
      {"fourth word ignored",
       "a b c d\n",
       {{"a", "b", "c", LongWord::kNone, 1}}},
      {"only a module name",
       "a.dll\n",
       {{"a.dll", "", "", LongWord::kNone, 1}}},
      {"blank line in the middle",
       "a x\n\nb y\n",
       {{"a", "x", "", LongWord::kNone, 1},
        {"", "", "", LongWord::kNone, 2},
        {"b", "y", "", LongWord::kNone, 3}}},
      {"last line without a break",
       "a x\nb y",
       {{"a", "x", "", LongWord::kNone, 1},
        {"b", "y", "", LongWord::kNone, 2}}},
      {"crlf reads as lf",
       "a x\r\nb y\r\n",
       {{"a", "x", "", LongWord::kNone, 1},
        {"b", "y", "", LongWord::kNone, 2}}},
      {"lone cr joins words", "a\rx\n", {{"ax", "", "", LongWord::kNone, 1}}},
      {"ctrl-z ends the file",
       "a x\nb\x1Ay\nc z\n",
       {{"a", "x", "", LongWord::kNone, 1}, {"b", "", "", LongWord::kNone, 2}}},
      {"zero byte ends the words",
       std::string("a\0b c\nd e\n", 10),
       {{"a", "", "", LongWord::kNone, 1}, {"d", "e", "", LongWord::kNone, 2}}},
      {"all white space separates",
       "\t a\vb\fc \n",
       {{"a", "b", "c", LongWord::kNone, 1}}},
      {"high bytes belong to words",
       "\xE9t\xE9.txt root\n",
       {{"\xE9t\xE9.txt", "root", "", LongWord::kNone, 1}}},
      {"998 characters then the break",
       line998 + "\nb y\n",
       {{"a.txt", "root", "", LongWord::kNone, 1},
        {"", "", "", LongWord::kNone, 1},
        {"b", "y", "", LongWord::kNone, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.text), c.expected);
    EXPECT_EQ(Read(c.text, 1), c.expected) << "fed one byte at a time";
  }
}

TEST(Manifest, LongLineComesInPiecesOf998) {
  const std::string long_line = std::string(1500, 'w');
  const std::vector<Words> words = Read(long_line + "\nnext root\n");
  ASSERT_EQ(words.size(), 3u);
  // Both pieces hold a word too long for the module name field.
  EXPECT_EQ(words[0].long_word, LongWord::kModuleName);
  EXPECT_EQ(words[1].long_word, LongWord::kModuleName);
  EXPECT_EQ(words[0].line, 1u);
  EXPECT_EQ(words[1].line, 1u);
  EXPECT_EQ(words[2], (Words{"next", "root", "", LongWord::kNone, 2}));
}

TEST(Manifest, FiftyEntriesAtMost) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "m" + std::to_string(i) + " root\n";
  const std::vector<Words> words = Read(text);
  ASSERT_EQ(words.size(), 50u);
  EXPECT_EQ(words.back().module, "m49");
}

TEST(Manifest, WordLimitsAreExactAndNeverCut) {
  struct Case {
    std::string line;
    LongWord long_word;
  };
  const Case cases[] = {
      {std::string(255, 'm') + " f a", LongWord::kNone},
      {std::string(256, 'm') + " f a", LongWord::kModuleName},
      {"m " + std::string(255, 'f') + " a", LongWord::kNone},
      {"m " + std::string(256, 'f') + " a", LongWord::kFolderWord},
      {"m f " + std::string(199, 'a'), LongWord::kNone},
      {"m f " + std::string(200, 'a'), LongWord::kActionWord},
      // Only the first fault is kept; a long fourth word does not count.
      {std::string(300, 'm') + " " + std::string(300, 'f'),
       LongWord::kModuleName},
      {"m f a " + std::string(600, 'z'), LongWord::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 20));
    const std::vector<Words> words = Read(c.line + "\n");
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].long_word, c.long_word);
    if (c.long_word == LongWord::kNone) {
      EXPECT_EQ(
          words[0].module + " " + words[0].folder + " " + words[0].action,
          c.line.substr(0, words[0].module.size() + words[0].folder.size() +
                               words[0].action.size() + 2));
    } else {
      // The long word is never stored cut: its field stays empty.
      const std::string& field =
          c.long_word == LongWord::kModuleName   ? words[0].module
          : c.long_word == LongWord::kFolderWord ? words[0].folder
                                                 : words[0].action;
      EXPECT_EQ(field, "");
    }
  }
}

}  // namespace

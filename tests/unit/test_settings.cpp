// The settings key: how "Path" becomes install_dir, and how the build number
// is stored, against the registry file of the native build.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/regfile.h"
#include "scratch_dir.h"
#include "settings/settings.h"

namespace {

constexpr char kKey[] = "HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora";

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (!text.empty()) text += ',';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

class SettingsTest : public scratch::ScratchTest {
 protected:
  SettingsTest() : ScratchTest("velmora-settings") {}
  void SetUp() override {
    ScratchTest::SetUp();
    const char* old = std::getenv("VELMORA_REGISTRY");
    had_registry_ = old != nullptr;
    if (had_registry_) old_registry_ = old;
    setenv("VELMORA_REGISTRY", At("registry.reg").c_str(), 1);
    std::memset(install_dir, 0, sizeof install_dir);
  }
  void TearDown() override {
    if (had_registry_) {
      setenv("VELMORA_REGISTRY", old_registry_.c_str(), 1);
    } else {
      unsetenv("VELMORA_REGISTRY");
    }
    std::memset(install_dir, 0, sizeof install_dir);
  }
  // The registry file holding the settings key with one value line.
  void WriteKey(const std::string& value_line) {
    scratch::WriteWholeFile(At("registry.reg"),
                            "REGEDIT4\r\n\r\n[" + std::string(kKey) + "]\r\n" +
                                value_line + "\r\n");
  }
  bool HasRegistryFile() const {
    struct stat st;
    return stat(At("registry.reg").c_str(), &st) == 0;
  }

 private:
  bool had_registry_ = false;
  std::string old_registry_;
};

TEST_F(SettingsTest, PathBecomesInstallDirOnlyWhenItFits) {
  struct Case {
    const char* name;
    std::string value_line;  // empty: no "Path" at all
    std::string expected;
  };
  const std::string longest(kInstallDirCapacity - 1, 'p');
  const Case cases[] = {
      {"plain text", "\"Path\"=\"C:\\\\Velmora\"", "C:\\Velmora"},
      {"no value", "", ""},
      {"499 characters and the terminator", "\"Path\"=\"" + longest + "\"",
       longest},
      {"500 characters: no room for the terminator",
       "\"Path\"=\"" + longest + "p\"", ""},
      {"bytes without a terminator, with room for one",
       "\"Path\"=hex:" + Hex(longest), longest},
      {"bytes without a terminator that fill the buffer",
       "\"Path\"=hex:" + Hex(longest + "p"), ""},
      {"text stops at its first zero byte",
       "\"Path\"=hex(1):" + Hex(std::string("ab\0cd", 5)), "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteKey(c.value_line);
    std::memset(install_dir, 'x', sizeof install_dir);
    install_dir[0] = '\0';
    ReadInstallDir();
    EXPECT_EQ(std::string(install_dir), c.expected);
  }
}

TEST_F(SettingsTest, BuildNumberIsAStringWithItsTerminator) {
  WriteKey("\"Path\"=\"C:\\\\Velmora\"");
  ASSERT_TRUE(WriteBuildNumber("4.2.1"));
  const std::string text = scratch::ReadWholeFile(At("registry.reg"));
  regfile::Document document;
  ASSERT_TRUE(
      regfile::Parse(reinterpret_cast<const unsigned char*>(text.data()),
                     text.size(), &document));
  regfile::Key* key = regfile::FindKey(&document, kKey);
  ASSERT_NE(key, nullptr);
  const regfile::Value* value = regfile::FindValue(*key, "Build Number");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->type, 1u);
  EXPECT_EQ(value->data,
            (std::vector<unsigned char>{'4', '.', '2', '.', '1', '\0'}));
  ASSERT_NE(regfile::FindValue(*key, "Path"), nullptr);
}

TEST_F(SettingsTest, EmptyBuildNumberOpensNoKey) {
  EXPECT_FALSE(WriteBuildNumber(""));
  // Opening the key would have created the registry file.
  EXPECT_FALSE(HasRegistryFile());
  EXPECT_TRUE(WriteBuildNumber("1"));
  EXPECT_TRUE(HasRegistryFile());
}

TEST_F(SettingsTest, BuildNumberIsNotStoredInAFileThatCannotBeParsed) {
  scratch::WriteWholeFile(At("registry.reg"), "not a registry file");
  EXPECT_FALSE(WriteBuildNumber("4.2.1"));
  EXPECT_EQ(scratch::ReadWholeFile(At("registry.reg")), "not a registry file");
}

}  // namespace

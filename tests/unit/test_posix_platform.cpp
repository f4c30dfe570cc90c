// The POSIX backend against the Win32 contract of platform.h: attributes,
// read-only emulation (the tests run as root, who could write anything),
// search, copy, folders, reading, the registry file and message blocks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_path.h"
#include "platform/regfile.h"
#include "scratch_dir.h"

namespace {

// Restores an environment variable when it goes out of scope.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name) : name_(name) {
    const char* value = std::getenv(name);
    had_ = value != nullptr;
    if (had_) value_ = value;
  }
  ~SavedVariable() {
    if (had_) {
      setenv(name_, value_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string value_;
};

class PlatformTest : public scratch::ScratchTest {
 protected:
  PlatformTest() : ScratchTest("velmora-platform") {}

  void Write(const std::string& relative, const std::string& content,
             mode_t mode = 0644) {
    ASSERT_TRUE(scratch::WriteWholeFile(At(relative), content)) << relative;
    ASSERT_EQ(chmod(At(relative).c_str(), mode), 0);
  }
  std::string Read(const std::string& relative) const {
    return scratch::ReadWholeFile(At(relative));
  }
  bool Exists(const std::string& relative) const {
    struct stat info;
    return lstat(At(relative).c_str(), &info) == 0;
  }
  void MakeFolder(const std::string& relative) {
    ASSERT_EQ(mkdir(At(relative).c_str(), 0755), 0) << relative;
  }
  // False when the file system keeps no user extended attributes.
  bool SetDos(const std::string& relative, const std::string& value) {
    return setxattr(At(relative).c_str(), "user.DOSATTRIB", value.data(),
                    value.size(), 0) == 0;
  }
  std::vector<std::string> Names(const std::string& relative) const {
    std::vector<std::string> names;
    platform::Search* search = nullptr;
    platform::FoundEntry entry;
    if (!platform::SearchFirst((At(relative) + "/*").c_str(), &search,
                               &entry)) {
      return names;
    }
    do {
      names.push_back(entry.name);
    } while (platform::SearchNext(search, &entry));
    platform::SearchClose(search);
    return names;
  }
};

// ---- Paths and attributes -----------------------------------------------

TEST_F(PlatformTest, AttributesFollowModeDotNamesAndDosAttributes) {
  Write("plain", "x");
  Write(".hidden", "x");
  Write("readonly", "x", 0444);
  Write("owner_write_only", "x", 0200);
  Write(".readonly_hidden", "x", 0400);
  MakeFolder("folder");
  MakeFolder(".folder");
  Write("dos_hidden", "x");
  Write("dos_system", "x");
  Write("dos_both", "x");
  Write("dos_archive", "x");
  Write("dos_terminated", "x");
  Write("dos_binary", "x");
  const bool xattrs = SetDos("dos_hidden", "0x2");
  if (xattrs) {
    ASSERT_TRUE(SetDos("dos_system", "0x4"));
    ASSERT_TRUE(SetDos("dos_both", "0X26"));
    ASSERT_TRUE(SetDos("dos_archive", "0x20"));
    ASSERT_TRUE(SetDos("dos_terminated", std::string("0x2\0", 4)));
    ASSERT_TRUE(SetDos("dos_binary", std::string("\x03\x00\x02\x00", 4)));
  }
  struct Case {
    const char* name;
    unsigned long attributes;
    bool needs_xattrs;
  };
  const Case cases[] = {
      {"plain", 0x20, false},
      {"PLAIN", 0x20, false},
      {".hidden", 0x02, false},
      {".HIDDEN", 0x02, false},
      {"readonly", 0x01, false},
      {"owner_write_only", 0x20, false},
      {".readonly_hidden", 0x03, false},
      {"folder", 0x10, false},
      {".folder", 0x12, false},
      {"folder\\", 0x10, false},
      {"dos_hidden", 0x02, true},
      {"dos_system", 0x04, true},
      {"dos_both", 0x06, true},
      {"dos_archive", 0x20, true},
      {"dos_terminated", 0x02, true},
      {"dos_binary", 0x20, true},
  };
  for (const Case& c : cases) {
    if (c.needs_xattrs && !xattrs) continue;
    unsigned long attributes = 0;
    ASSERT_TRUE(platform::GetAttributes(At(c.name).c_str(), &attributes))
        << c.name;
    EXPECT_EQ(attributes, c.attributes) << c.name;
  }
  unsigned long attributes = 0;
  ASSERT_TRUE(platform::GetAttributes(root_.c_str(), &attributes));
  EXPECT_EQ(attributes, 0x10u);
}

TEST_F(PlatformTest, PathErrorsTellMissingFoldersFromMissingNames) {
  Write("file", "x");
  struct Case {
    std::string path;
    platform::ErrorCode error;
  };
  const Case cases[] = {
      {At("missing"), platform::kErrorFileNotFound},
      {At("missing/file"), platform::kErrorPathNotFound},
      {At("file/below"), platform::kErrorPathNotFound},
      {At("file\\"), platform::kErrorPathNotFound},
      {At("bad|name"), platform::kErrorInvalidName},
      {At("bad:folder/file"), platform::kErrorInvalidName},
      {At("wild*card"), platform::kErrorInvalidName},
      {At("tab\tname"), platform::kErrorInvalidName},
      {At(std::string(300, 'n')), platform::kErrorFilenameTooLong},
      {"", platform::kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    unsigned long attributes = 0;
    EXPECT_FALSE(platform::GetAttributes(c.path.c_str(), &attributes))
        << c.path;
    EXPECT_EQ(platform::LastError(), c.error) << c.path;
  }
  // Every call refuses a forbidden name, not only GetAttributes.
  const std::string bad = At("a<b");
  EXPECT_FALSE(platform::ProbeOpenForUpdate(bad.c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidName);
  EXPECT_FALSE(platform::CreateFolder(bad.c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidName);
  EXPECT_FALSE(platform::CopyFileOver(At("file").c_str(), bad.c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidName);
  EXPECT_FALSE(platform::DeleteOneFile(bad.c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidName);
  EXPECT_FALSE(Exists("a<b"));
}

TEST_F(PlatformTest, ReadOnlyIsEnforcedEvenForRoot) {
  Write("Module.dll", "old", 0444);
  Write("source.dll", "new");
  EXPECT_FALSE(platform::ProbeOpenForUpdate(At("module.DLL").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(platform::CopyFileOver(At("source.dll").c_str(),
                                      At("module.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  EXPECT_EQ(Read("Module.dll"), "old");
  EXPECT_FALSE(platform::DeleteOneFile(At("Module.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  EXPECT_TRUE(Exists("Module.dll"));
  EXPECT_EQ(Names(""), std::vector<std::string>({"Module.dll", "source.dll"}));
}

TEST_F(PlatformTest, ProbeOpensAWritableFileWithoutTouchingIt) {
  Write("module.dll", "content");
  struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, At("module.dll").c_str(), old_times, 0), 0);
  EXPECT_TRUE(platform::ProbeOpenForUpdate(At("MODULE.dll").c_str()));
  struct stat info;
  ASSERT_EQ(stat(At("module.dll").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(Read("module.dll"), "content");
  EXPECT_FALSE(platform::ProbeOpenForUpdate(At("absent.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
  EXPECT_FALSE(Exists("absent.dll"));
}

TEST_F(PlatformTest, AFolderNeverOpensAsAFile) {
  MakeFolder("folder.dll");
  Write("file", "x");
  platform::ReadFile* file = nullptr;
  EXPECT_FALSE(platform::ProbeOpenForUpdate(At("folder.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(platform::OpenReadFile(At("folder.dll").c_str(), &file));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(platform::DeleteOneFile(At("folder.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(
      platform::CopyFileOver(At("folder.dll").c_str(), At("copy").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(Exists("copy"));
  EXPECT_FALSE(
      platform::CopyFileOver(At("file").c_str(), At("folder.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  unsigned long attributes = 0;
  ASSERT_TRUE(platform::GetAttributes(At("folder.dll").c_str(), &attributes));
  EXPECT_EQ(attributes, 0x10u);
  EXPECT_EQ(Names(""), std::vector<std::string>({"file", "folder.dll"}));
}

// ---- Search -------------------------------------------------------------

TEST_F(PlatformTest, SearchMatchesWildcardsIgnoringCaseInNameOrder) {
  Write("b.dll", "x");
  Write("A.DLL", "x");
  Write("c.txt", "x");
  Write(".e.dll", "x");
  Write("_f.dll", "x");
  Write("Z.dll", "x");
  Write("core.dll.old", "x");
  MakeFolder("d.dll");
  struct Expected {
    const char* name;
    unsigned long attributes;
  };
  const Expected expected[] = {{".e.dll", 0x02}, {"A.DLL", 0x20},
                               {"b.dll", 0x20},  {"d.dll", 0x10},
                               {"Z.dll", 0x20},  {"_f.dll", 0x20}};
  for (const char* pattern : {"*.dll", "*.DlL"}) {
    platform::Search* search = nullptr;
    platform::FoundEntry entry;
    ASSERT_TRUE(platform::SearchFirst((root_ + "\\" + pattern).c_str(), &search,
                                      &entry));
    for (std::size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
      if (i > 0) {
        ASSERT_TRUE(platform::SearchNext(search, &entry)) << i;
      }
      EXPECT_STREQ(entry.name, expected[i].name);
      EXPECT_EQ(entry.attributes, expected[i].attributes) << entry.name;
    }
    EXPECT_FALSE(platform::SearchNext(search, &entry));
    EXPECT_EQ(platform::LastError(), platform::kErrorNoMoreFiles);
    EXPECT_FALSE(platform::SearchNext(search, &entry));
    EXPECT_EQ(platform::LastError(), platform::kErrorNoMoreFiles);
    platform::SearchClose(search);
  }
}

TEST_F(PlatformTest, SearchFindsOneNameOrReportsWhyNot) {
  Write("c.txt", "x");
  Write("file", "x");
  MakeFolder("Sub");
  Write("Sub/Inner.Dll", "x");
  struct Case {
    std::string pattern;
    const char* first;  // null: the search fails
    platform::ErrorCode error;
  };
  const Case cases[] = {
      {At("C.TXT"), "c.txt", 0},
      {At("?.txt"), "c.txt", 0},
      {At("??.txt"), nullptr, platform::kErrorFileNotFound},
      {At("sub/*"), "Inner.Dll", 0},
      {At("SUB\\inner.dll"), "Inner.Dll", 0},
      {At("*.none"), nullptr, platform::kErrorFileNotFound},
      {At("missing/*.dll"), nullptr, platform::kErrorPathNotFound},
      {At("file/*.dll"), nullptr, platform::kErrorPathNotFound},
      {At("Sub\\"), nullptr, platform::kErrorFileNotFound},
      {At("b*d/*.dll"), nullptr, platform::kErrorInvalidName},
  };
  for (const Case& c : cases) {
    platform::Search* search = nullptr;
    platform::FoundEntry entry;
    const bool found =
        platform::SearchFirst(c.pattern.c_str(), &search, &entry);
    if (c.first == nullptr) {
      EXPECT_FALSE(found) << c.pattern;
      EXPECT_EQ(platform::LastError(), c.error) << c.pattern;
    } else {
      ASSERT_TRUE(found) << c.pattern;
      EXPECT_STREQ(entry.name, c.first);
      EXPECT_FALSE(platform::SearchNext(search, &entry)) << c.pattern;
      platform::SearchClose(search);
    }
  }
}

// ---- Copy -----------------------------------------------------------------

TEST_F(PlatformTest, CopyOverwritesAndCarriesModeTimeAndDosAttributes) {
  Write("source.dll", "new content", 0750);
  const bool xattrs = SetDos("source.dll", "0x4");
  struct timespec times[2] = {{1234567890, 0}, {987654321, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, At("source.dll").c_str(), times, 0), 0);
  MakeFolder("Target");
  Write("Target/Module.dll", "old content, longer than the new one");

  ASSERT_TRUE(platform::CopyFileOver(At("SOURCE.DLL").c_str(),
                                     At("target\\module.dll").c_str()));
  EXPECT_EQ(Read("Target/Module.dll"), "new content");
  struct stat info;
  ASSERT_EQ(stat(At("Target/Module.dll").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  EXPECT_EQ(info.st_mtim.tv_sec, 987654321);
  EXPECT_EQ(info.st_mtim.tv_nsec, 123456789);
  if (xattrs) {
    char value[16] = {};
    EXPECT_EQ(getxattr(At("Target/Module.dll").c_str(), "user.DOSATTRIB", value,
                       sizeof value),
              3);
    EXPECT_STREQ(value, "0x4");
  }
  EXPECT_EQ(Names("Target"), std::vector<std::string>({"Module.dll"}));
  EXPECT_EQ(Read("source.dll"), "new content");
}

TEST_F(PlatformTest, CopyCreatesANewNameAsWrittenAndCopiesLargeFiles) {
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>(i * 7 + i / 251);
  Write("big.bin", big);
  Write("empty.bin", "");
  MakeFolder("sub");
  ASSERT_TRUE(
      platform::CopyFileOver(At("big.bin").c_str(), At("SUB/New.Bin").c_str()));
  ASSERT_TRUE(platform::CopyFileOver(At("empty.bin").c_str(),
                                     At("Sub/Empty.Bin").c_str()));
  EXPECT_EQ(Names("sub"), std::vector<std::string>({"Empty.Bin", "New.Bin"}));
  EXPECT_EQ(Read("sub/New.Bin"), big);
  EXPECT_EQ(Read("sub/Empty.Bin"), "");
}

TEST_F(PlatformTest, CopyFailuresReportWindowsNumbersAndChangeNothing) {
  Write("source", "x");
  Write("target", "old");
  struct Case {
    std::string from;
    std::string to;
    platform::ErrorCode error;
  };
  const Case cases[] = {
      {At("missing"), At("copy"), platform::kErrorFileNotFound},
      {At("missing"), At("nofolder/copy"), platform::kErrorFileNotFound},
      {At("nofolder/x"), At("copy"), platform::kErrorPathNotFound},
      {At("source"), At("nofolder/copy"), platform::kErrorPathNotFound},
      {At("source"), At("source"), platform::kErrorSharingViolation},
      {At("source"), At("SOURCE"), platform::kErrorSharingViolation},
      {At("so?rce"), At("copy"), platform::kErrorInvalidName},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(platform::CopyFileOver(c.from.c_str(), c.to.c_str()))
        << c.from << " -> " << c.to;
    EXPECT_EQ(platform::LastError(), c.error) << c.from << " -> " << c.to;
  }
  EXPECT_EQ(Names(""), std::vector<std::string>({"source", "target"}));
  EXPECT_EQ(Read("source"), "x");
}

TEST_F(PlatformTest, ACopyThatRunsOutOfRoomLeavesTheOldTargetAndNoTemporary) {
  // A file-size limit stands for a full disk: with SIGXFSZ ignored, the
  // write comes up short and then fails with EFBIG.
  Write("source", std::string(256 * 1024, 's'));
  Write("target", "old");
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 100 * 1024;
  void (*saved_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool copied =
      platform::CopyFileOver(At("source").c_str(), At("target").c_str());
  const platform::ErrorCode error = platform::LastError();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, saved_handler);

  EXPECT_FALSE(copied);
  EXPECT_EQ(error, platform::kErrorDiskFull);
  EXPECT_EQ(Read("target"), "old");
  EXPECT_EQ(Names(""), std::vector<std::string>({"source", "target"}));
}

// ---- Folders, deletion, reading -------------------------------------------

TEST_F(PlatformTest, CreateFolderMakesNewNamesAndRefusesExistingOnes) {
  Write("file", "x");
  MakeFolder("Backup");
  ASSERT_TRUE(platform::CreateFolder(At("New Folder").c_str()));
  EXPECT_EQ(Names(""),
            std::vector<std::string>({"Backup", "file", "New Folder"}));
  struct Case {
    std::string path;
    platform::ErrorCode error;
  };
  const Case cases[] = {
      {At("Backup"), platform::kErrorAlreadyExists},
      {At("BACKUP"), platform::kErrorAlreadyExists},
      {At("file"), platform::kErrorAlreadyExists},
      {At("missing/New"), platform::kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(platform::CreateFolder(c.path.c_str())) << c.path;
    EXPECT_EQ(platform::LastError(), c.error) << c.path;
  }
}

TEST_F(PlatformTest, RemoveFolderAndDeleteOneFileMirrorWindows) {
  MakeFolder("Backup");
  Write("Backup/Old.DLL", "x");
  Write("Backup/keep.txt", "x");
  EXPECT_FALSE(platform::RemoveFolder(At("backup").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorDirNotEmpty);
  ASSERT_TRUE(platform::DeleteOneFile(At("BACKUP\\old.dll").c_str()));
  EXPECT_FALSE(platform::DeleteOneFile(At("backup\\old.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
  ASSERT_TRUE(platform::DeleteOneFile(At("backup/KEEP.TXT").c_str()));
  ASSERT_TRUE(platform::RemoveFolder(At("backup").c_str()));
  EXPECT_FALSE(Exists("Backup"));
  EXPECT_FALSE(platform::RemoveFolder(At("backup").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
  EXPECT_FALSE(platform::RemoveFolder(At("missing/inner").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorPathNotFound);
  EXPECT_FALSE(platform::DeleteOneFile(At("missing/inner").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorPathNotFound);
}

TEST_F(PlatformTest, ReadFileStreamsTheWholeFile) {
  std::string content;
  for (int i = 0; i < 10000; ++i) content += static_cast<char>(i % 256);
  Write("VlmFile.upd", content, 0444);
  platform::ReadFile* file = nullptr;
  ASSERT_TRUE(platform::OpenReadFile(At("vlmfile.upd").c_str(), &file));
  std::string got;
  unsigned char buffer[999];
  for (;;) {
    std::size_t count = 0;
    ASSERT_TRUE(platform::ReadBytes(file, buffer, sizeof buffer, &count));
    if (count == 0) break;
    got.append(reinterpret_cast<char*>(buffer), count);
  }
  platform::CloseReadFile(file);
  EXPECT_EQ(got, content);
  EXPECT_FALSE(platform::OpenReadFile(At("absent.upd").c_str(), &file));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
}

// ---- Registry -------------------------------------------------------------

const char kSubkey[] = ".DEFAULT\\Software\\Corvane\\Velmora\\";
const char kKeyPath[] = "HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora";

class RegistryTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    setenv("VELMORA_REGISTRY", At("registry.reg").c_str(), 1);
  }
  bool Open(unsigned long access, platform::RegistryKey** key) {
    return platform::RegistryCreateUsersKey(kSubkey, "Class", access, key);
  }
  bool ParseFile(const std::string& relative, regfile::Document* document) {
    const std::string text = Read(relative);
    return regfile::Parse(reinterpret_cast<const unsigned char*>(text.data()),
                          text.size(), document);
  }
  std::vector<unsigned char> ValueInFile(const std::string& relative,
                                         const std::string& key,
                                         const std::string& name) {
    regfile::Document document;
    if (!ParseFile(relative, &document)) return {};
    const regfile::Key* found = regfile::FindKey(&document, key);
    if (found == nullptr) return {};
    const regfile::Value* value = regfile::FindValue(*found, name);
    return value == nullptr ? std::vector<unsigned char>() : value->data;
  }

  SavedVariable saved_registry_{"VELMORA_REGISTRY"};
};

TEST_F(RegistryTest, OpeningCreatesTheFileItsFoldersAndTheKey) {
  setenv("VELMORA_REGISTRY", At("a/b/registry.reg").c_str(), 1);
  platform::RegistryKey* key = nullptr;
  ASSERT_TRUE(Open(platform::kKeyRead, &key));
  regfile::Document document;
  ASSERT_TRUE(ParseFile("a/b/registry.reg", &document));
  ASSERT_EQ(document.keys.size(), 1u);
  EXPECT_EQ(document.keys[0].path, kKeyPath);
  EXPECT_TRUE(document.keys[0].values.empty());
  EXPECT_EQ(Read("a/b/registry.reg").substr(0, 10), "REGEDIT4\r\n");

  unsigned char data[16];
  unsigned long size = sizeof data;
  EXPECT_FALSE(platform::RegistryQueryValue(key, "Path", data, &size));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
  const unsigned char value[] = "1";
  EXPECT_FALSE(platform::RegistrySetValue(key, "Build Number", 1, value, 2));
  EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
  platform::RegistryCloseKey(key);
  EXPECT_EQ(Names("a/b"), std::vector<std::string>({"registry.reg"}));
}

TEST_F(RegistryTest, WritingKeepsEveryOtherKeyAndValue) {
  const std::string original =
      "REGEDIT4\r\n\r\n"
      "[HKEY_USERS\\Other]\r\n"
      "\"Keep\"=hex:01,02\r\n\r\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\r\n"
      "\"Path\"=\"/opt/velmora\"\r\n"
      "\"Build Number\"=\"4.1\"\r\n";
  Write("registry.reg", original, 0600);
  platform::RegistryKey* key = nullptr;
  ASSERT_TRUE(Open(platform::kKeyWrite, &key));
  EXPECT_EQ(Read("registry.reg"), original);  // opening changed nothing
  const unsigned char build[] = "4.2.1";
  ASSERT_TRUE(platform::RegistrySetValue(key, "Build Number", 1, build, 6));
  platform::RegistryCloseKey(key);

  regfile::Document document;
  ASSERT_TRUE(ParseFile("registry.reg", &document));
  ASSERT_EQ(document.keys.size(), 2u);
  EXPECT_EQ(ValueInFile("registry.reg", "HKEY_USERS\\Other", "Keep"),
            std::vector<unsigned char>({1, 2}));
  const std::string path = "/opt/velmora";
  std::vector<unsigned char> path_data(path.begin(), path.end());
  path_data.push_back(0);
  EXPECT_EQ(ValueInFile("registry.reg", kKeyPath, "Path"), path_data);
  EXPECT_EQ(ValueInFile("registry.reg", kKeyPath, "Build Number"),
            std::vector<unsigned char>({'4', '.', '2', '.', '1', 0}));
  struct stat info;
  ASSERT_EQ(stat(At("registry.reg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(Names(""), std::vector<std::string>({"registry.reg"}));
}

TEST_F(RegistryTest, QueryCopiesOnlyWhatFits) {
  Write("registry.reg",
        "REGEDIT4\n\n[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\n"
        "\"path\"=\"/opt/velmora\"\n");
  platform::RegistryKey* key = nullptr;
  ASSERT_TRUE(
      platform::RegistryCreateUsersKey(".default\\software\\corvane\\velmora",
                                       "Class", platform::kKeyRead, &key));
  unsigned char data[32];
  std::memset(data, 'z', sizeof data);
  unsigned long size = 12;
  EXPECT_FALSE(platform::RegistryQueryValue(key, "Path", data, &size));
  EXPECT_EQ(platform::LastError(), platform::kErrorMoreData);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(data[0], 'z');
  size = 13;
  ASSERT_TRUE(platform::RegistryQueryValue(key, "PATH", data, &size));
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 13),
            std::string("/opt/velmora\0", 13));
  platform::RegistryCloseKey(key);
}

TEST_F(RegistryTest, WritingRereadsTheFile) {
  platform::RegistryKey* key = nullptr;
  ASSERT_TRUE(Open(platform::kKeyWrite, &key));
  Write("registry.reg",
        "REGEDIT4\n\n[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\n"
        "\"Path\"=\"/changed\"\n[HKEY_USERS\\Later]\n");
  const unsigned char build[] = "7";
  ASSERT_TRUE(platform::RegistrySetValue(key, "Build Number", 1, build, 2));
  platform::RegistryCloseKey(key);
  EXPECT_EQ(
      ValueInFile("registry.reg", kKeyPath, "Path"),
      std::vector<unsigned char>({'/', 'c', 'h', 'a', 'n', 'g', 'e', 'd', 0}));
  regfile::Document document;
  ASSERT_TRUE(ParseFile("registry.reg", &document));
  EXPECT_NE(regfile::FindKey(&document, "HKEY_USERS\\Later"), nullptr);
}

TEST_F(RegistryTest, NeverRewritesAFileItCannotParse) {
  const std::string junk = "REGEDIT4\n\n[HKEY_USERS\\A]\n\"x\"=-\n";
  Write("registry.reg", junk);
  platform::RegistryKey* key = nullptr;
  EXPECT_FALSE(Open(platform::kKeyRead, &key));
  EXPECT_FALSE(Open(platform::kKeyWrite, &key));
  EXPECT_EQ(Read("registry.reg"), junk);
  EXPECT_EQ(Names(""), std::vector<std::string>({"registry.reg"}));
}

TEST_F(RegistryTest, AFileBeyondOneByteTextIsReadButNeverRewritten) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\r\n"
      "\"Path\"=\"/opt/v\"\r\n"
      "\"Name\"=\"";
  std::string file = "\xFF\xFE";
  for (char c : text) file += std::string(1, c) + '\0';
  file += "\xA9\x03";  // U+03A9
  for (char c : std::string("\"\r\n")) file += std::string(1, c) + '\0';
  Write("registry.reg", file);
  platform::RegistryKey* key = nullptr;
  ASSERT_TRUE(Open(platform::kKeyWrite, &key));
  unsigned char data[16];
  unsigned long size = sizeof data;
  ASSERT_TRUE(platform::RegistryQueryValue(key, "Path", data, &size));
  EXPECT_EQ(size, 7u);
  const unsigned char build[] = "5";
  EXPECT_FALSE(platform::RegistrySetValue(key, "Build Number", 1, build, 2));
  platform::RegistryCloseKey(key);
  EXPECT_EQ(Read("registry.reg"), file);
  EXPECT_EQ(Names(""), std::vector<std::string>({"registry.reg"}));
}

TEST_F(RegistryTest, OpeningFailsWhenTheKeyCannotBeCreated) {
  Write("not_a_folder", "x");
  setenv("VELMORA_REGISTRY", At("not_a_folder/registry.reg").c_str(), 1);
  platform::RegistryKey* key = nullptr;
  EXPECT_FALSE(Open(platform::kKeyRead, &key));
  EXPECT_EQ(Read("not_a_folder"), "x");
}

TEST_F(RegistryTest, WithoutTheVariableTheFileIsInTheConfigFolder) {
  SavedVariable saved_config("XDG_CONFIG_HOME");
  SavedVariable saved_home("HOME");
  unsetenv("VELMORA_REGISTRY");
  setenv("XDG_CONFIG_HOME", At("config").c_str(), 1);
  platform::RegistryKey* key = nullptr;
  ASSERT_TRUE(Open(platform::kKeyRead, &key));
  platform::RegistryCloseKey(key);
  EXPECT_TRUE(Exists("config/velmora/registry.reg"));

  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", At("home").c_str(), 1);
  ASSERT_TRUE(Open(platform::kKeyRead, &key));
  platform::RegistryCloseKey(key);
  EXPECT_TRUE(Exists("home/.config/velmora/registry.reg"));
}

// ---- Messages -------------------------------------------------------------

// What ShowMessageBox writes to standard error and to standard output.
void CaptureMessage(const char* text, const char* caption, std::string* err,
                    std::string* out) {
  std::fflush(stdout);
  std::fflush(stderr);
  FILE* err_file = std::tmpfile();
  FILE* out_file = std::tmpfile();
  const int saved_err = dup(STDERR_FILENO);
  const int saved_out = dup(STDOUT_FILENO);
  dup2(fileno(err_file), STDERR_FILENO);
  dup2(fileno(out_file), STDOUT_FILENO);
  platform::ShowMessageBox(text, caption);
  std::fflush(stdout);
  dup2(saved_err, STDERR_FILENO);
  dup2(saved_out, STDOUT_FILENO);
  close(saved_err);
  close(saved_out);
  for (auto [file, target] :
       {std::make_pair(err_file, err), std::make_pair(out_file, out)}) {
    std::rewind(file);
    target->clear();
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
      target->append(buffer, got);
    }
    std::fclose(file);
  }
}

TEST(MessageBlock, EachMessageIsOneBlockOnStandardError) {
  struct Case {
    const char* text;
    const char* caption;
    const char* block;
  };
  const Case cases[] = {
      {"A\nB", "Velmora4 Update", "+-- Velmora4 Update\n| A\n| B\n+--\n"},
      {"CopyFile=x.dll, error=2\n", "Update WinMain",
       "+-- Update WinMain\n| CopyFile=x.dll, error=2\n|\n+--\n"},
      {"The following files were updated:\n\nUpdate BuildNumber to: 4.2\n",
       "Velmora4 Update",
       "+-- Velmora4 Update\n| The following files were updated:\n|\n"
       "| Update BuildNumber to: 4.2\n|\n+--\n"},
      {"", "", "+-- \n|\n+--\n"},
  };
  for (const Case& c : cases) {
    std::string err;
    std::string out;
    CaptureMessage(c.text, c.caption, &err, &out);
    EXPECT_EQ(err, c.block);
    EXPECT_EQ(out, "");
  }
}

}  // namespace

// Faults injected into the POSIX backend through its system-call table: a
// copy or a registry write that fails half-way, at the flush, while naming
// its temporary file or at the rename leaves the old file whole, no
// temporary file behind, and reports the Windows number of the cause. Also
// files in use: held open by another descriptor, or running as a program.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_syscalls.h"
#include "scratch_dir.h"

namespace {

// Which call fails, at which of its calls, and how.
enum class Call { kWrite, kFsync, kLinkat, kRename };
struct Fault {
  Call call;
  int failing_call;  // 1 for the first call of that kind
  int error;         // errno; for kWrite, 0 means "wrote nothing"
};

Fault fault;
int calls_seen = 0;

bool Strikes(Call call) {
  if (call != fault.call) return false;
  return ++calls_seen == fault.failing_call;
}

ssize_t FaultyWrite(int fd, const void* data, std::size_t size) {
  if (Strikes(Call::kWrite)) {
    if (fault.error == 0) return 0;
    errno = fault.error;
    return -1;
  }
  return ::write(fd, data, size);
}

int FaultyFsync(int fd) {
  if (Strikes(Call::kFsync)) {
    errno = fault.error;
    return -1;
  }
  return ::fsync(fd);
}

int FaultyLinkat(int from_folder, const char* from, int to_folder,
                 const char* to, int flags) {
  if (Strikes(Call::kLinkat)) {
    errno = fault.error;
    return -1;
  }
  return ::linkat(from_folder, from, to_folder, to, flags);
}

int FaultyRename(const char* from, const char* to) {
  if (Strikes(Call::kRename)) {
    errno = fault.error;
    return -1;
  }
  return ::rename(from, to);
}

class FaultTest : public scratch::ScratchTest {
 protected:
  FaultTest() : ScratchTest("velmora-faults") {}
  void SetUp() override {
    ScratchTest::SetUp();
    calls_seen = 0;
  }
  void TearDown() override {
    posix_syscalls::Reset();
    unsetenv("VELMORA_REGISTRY");
  }
  void Inject(const Fault& f) {
    fault = f;
    calls_seen = 0;
    posix_syscalls::calls.write = FaultyWrite;
    posix_syscalls::calls.fsync = FaultyFsync;
    posix_syscalls::calls.linkat = FaultyLinkat;
    posix_syscalls::calls.rename = FaultyRename;
  }

  void Write(const std::string& relative, const std::string& content) {
    ASSERT_TRUE(scratch::WriteWholeFile(At(relative), content)) << relative;
  }
  std::string Read(const std::string& relative) const {
    return scratch::ReadWholeFile(At(relative));
  }
  // Every name in the folder, hidden ones included, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    std::vector<std::string> found;
    if (DIR* dir = opendir(root_.c_str())) {
      while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") found.push_back(name);
      }
      closedir(dir);
    }
    std::sort(found.begin(), found.end());
    return found;
  }
};

// The faults every file replacement must survive, with the Windows number
// each is reported as.
struct FaultCase {
  const char* name;
  Fault fault;
  platform::ErrorCode error;
};
const FaultCase kReplaceFaults[] = {
    {"disk full half-way", {Call::kWrite, 2, ENOSPC}, 112},
    {"quota half-way", {Call::kWrite, 3, EDQUOT}, 112},
    {"no progress half-way", {Call::kWrite, 2, 0}, 112},
    {"first write fails", {Call::kWrite, 1, EIO}, 31},
    {"flush fails", {Call::kFsync, 1, EIO}, 31},
    {"naming the temporary fails", {Call::kLinkat, 1, ENOSPC}, 112},
    {"rename refused", {Call::kRename, 1, EACCES}, 5},
};

TEST_F(FaultTest, ACopyThatFailsAnywhereLeavesTheOldTargetAndNoTemporary) {
  // Several buffers' worth, so that a failing second write is half-way.
  const std::string content(300 * 1024, 'n');
  Write("source.dll", content);
  for (const FaultCase& c : kReplaceFaults) {
    SCOPED_TRACE(c.name);
    Write("target.dll", "old module");
    Inject(c.fault);
    const bool copied = platform::CopyFileOver(At("source.dll").c_str(),
                                               At("target.dll").c_str());
    const platform::ErrorCode error = platform::LastError();
    posix_syscalls::Reset();
    EXPECT_FALSE(copied);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(calls_seen, c.fault.failing_call) << "the fault never struck";
    EXPECT_EQ(Read("target.dll"), "old module");
    EXPECT_EQ(Names(), std::vector<std::string>({"source.dll", "target.dll"}));
  }
  // The same faults where no module was installed: still nothing there.
  for (const FaultCase& c : kReplaceFaults) {
    SCOPED_TRACE(std::string(c.name) + ", new target");
    Inject(c.fault);
    EXPECT_FALSE(platform::CopyFileOver(At("source.dll").c_str(),
                                        At("added.dll").c_str()));
    EXPECT_EQ(platform::LastError(), c.error);
    posix_syscalls::Reset();
    EXPECT_EQ(Names(), std::vector<std::string>({"source.dll", "target.dll"}));
  }
  // And without a fault the copy goes through.
  ASSERT_TRUE(platform::CopyFileOver(At("source.dll").c_str(),
                                     At("target.dll").c_str()));
  EXPECT_EQ(Read("target.dll"), content);
}

TEST_F(FaultTest, ARegistryWriteThatFailsAnywhereLeavesTheFileAsItWas) {
  const std::string file = At("registry.reg");
  setenv("VELMORA_REGISTRY", file.c_str(), 1);
  // Other keys and a long value, so that the text is not one small write.
  std::string original =
      "REGEDIT4\r\n\r\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora]\r\n"
      "\"Path\"=\"/opt/velmora\"\r\n"
      "\"Build Number\"=\"4.1.0\"\r\n\r\n"
      "[HKEY_USERS\\Other]\r\n\"Blob\"=\"" +
      std::string(200 * 1024, 'b') + "\"\r\n\r\n";
  for (const FaultCase& c : kReplaceFaults) {
    // The text goes out in one write: a later write cannot fail.
    if (c.fault.call == Call::kWrite && c.fault.failing_call > 1) continue;
    SCOPED_TRACE(c.name);
    Write("registry.reg", original);
    platform::RegistryKey* key = nullptr;
    ASSERT_TRUE(platform::RegistryCreateUsersKey(
        ".DEFAULT\\Software\\Corvane\\Velmora\\", "Class", platform::kKeyWrite,
        &key));
    Inject(c.fault);
    const unsigned char build[] = "4.2.1";
    const bool stored =
        platform::RegistrySetValue(key, "Build Number", 1, build, sizeof build);
    const platform::ErrorCode error = platform::LastError();
    posix_syscalls::Reset();
    platform::RegistryCloseKey(key);
    EXPECT_FALSE(stored);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(calls_seen, c.fault.failing_call) << "the fault never struck";
    EXPECT_EQ(Read("registry.reg"), original);
    EXPECT_EQ(Names(), std::vector<std::string>({"registry.reg"}));
  }
}

TEST_F(FaultTest, AFileHeldOpenElsewhereIsInUse) {
  Write("held.dll", "installed");
  Write("source.dll", "new");
  const int held = open(At("held.dll").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  EXPECT_FALSE(platform::ProbeOpenForUpdate(At("held.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorSharingViolation);
  EXPECT_FALSE(
      platform::CopyFileOver(At("source.dll").c_str(), At("held.dll").c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorSharingViolation);
  EXPECT_EQ(Read("held.dll"), "installed");
  close(held);
  // Let go of, the same file is free again.
  EXPECT_TRUE(platform::ProbeOpenForUpdate(At("held.dll").c_str()));
  EXPECT_TRUE(
      platform::CopyFileOver(At("source.dll").c_str(), At("held.dll").c_str()));
  EXPECT_EQ(Read("held.dll"), "new");
  // Copying from a file someone holds is fine: only targets are refused.
  const int reader = open(At("source.dll").c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(platform::CopyFileOver(At("source.dll").c_str(),
                                     At("other.dll").c_str()));
  close(reader);
}

TEST_F(FaultTest, ARunningProgramIsInUse) {
  // A copy of a real program, started from its installed place.
  {
    std::ifstream in("/bin/sleep", std::ios::binary);
    ASSERT_TRUE(in) << "no /bin/sleep";
    std::ofstream out(At("velmora.exe"), std::ios::binary);
    out << in.rdbuf();
  }
  ASSERT_EQ(chmod(At("velmora.exe").c_str(), 0755), 0);
  Write("new.exe", "new program");
  const std::string program = At("velmora.exe");
  const pid_t child = fork();
  if (child == 0) {
    execl(program.c_str(), "velmora.exe", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(child, 0);
  // Wait until the kernel runs it: then it refuses writers.
  bool running = false;
  for (int i = 0; i < 500 && !running; ++i) {
    const int fd = open(program.c_str(), O_WRONLY);
    running = fd < 0 && errno == ETXTBSY;
    if (fd >= 0) close(fd);
    if (!running) usleep(2000);
  }
  const std::string before = Read("velmora.exe");
  const bool probed = platform::ProbeOpenForUpdate(program.c_str());
  const platform::ErrorCode probe_error = platform::LastError();
  const bool copied =
      platform::CopyFileOver(At("new.exe").c_str(), program.c_str());
  const platform::ErrorCode copy_error = platform::LastError();
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  ASSERT_TRUE(running) << "the program never started";
  EXPECT_FALSE(probed);
  EXPECT_EQ(probe_error, platform::kErrorSharingViolation);
  EXPECT_FALSE(copied);
  EXPECT_EQ(copy_error, platform::kErrorSharingViolation);
  EXPECT_EQ(Read("velmora.exe"), before);
}

}  // namespace

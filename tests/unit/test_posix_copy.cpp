// How the POSIX backend moves the bytes of a copy: in the kernel where it
// can, by read and write where it cannot, switching between the two in the
// middle of a file. Whatever way the bytes took, the target must hold
// exactly the source, every byte at its own offset.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace {

using scratch::ReadWholeFile;
using scratch::WriteWholeFile;

constexpr std::size_t kMiB = 1024 * 1024;

// Every 8 bytes hold their own offset, so a piece copied twice, dropped or
// put at the wrong place shows up as a mismatch, not as plausible data.
std::string Numbered(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t at = 0; at < size; ++at) {
    const std::uint64_t block = at / 8;
    text[at] = static_cast<char>(block >> (8 * (at % 8)));
  }
  return text;
}

class CopyTest : public scratch::ScratchTest {
 protected:
  CopyTest() : ScratchTest("velmora-copy") {}
};

TEST_F(CopyTest, EverySizeArrivesWholeAndInPlace) {
  // Around the read buffer (64 KiB) and the pieces the kernel is asked for
  // (2 MiB), and several pieces with a ragged end.
  const std::size_t sizes[] = {0,
                               1,
                               64 * 1024 + 1,
                               2 * kMiB - 1,
                               2 * kMiB,
                               2 * kMiB + 1,
                               9 * kMiB + 12345};
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string content = Numbered(size);
    ASSERT_TRUE(WriteWholeFile(At("source.dll"), content));
    ASSERT_TRUE(
        WriteWholeFile(At("target.dll"), "old module, longer than some"));
    ASSERT_TRUE(platform::CopyFileOver(At("source.dll").c_str(),
                                       At("target.dll").c_str()));
    const std::string copied = ReadWholeFile(At("target.dll"));
    ASSERT_EQ(copied.size(), size);
    EXPECT_TRUE(copied == content) << "the bytes differ";
  }
}

// Sources the kernel will not copy into this file system: another file
// system (memory-backed), and a procfs file whose size reads as 0 although
// it has content. The copy falls back to reading and must still be whole.
TEST_F(CopyTest, SourcesTheKernelCannotCopyFromArriveWhole) {
  struct stat sandbox;
  ASSERT_EQ(stat(root_.c_str(), &sandbox), 0);
  int tried = 0;

  struct stat shm;
  const std::string elsewhere =
      "/dev/shm/velmora-copy-" + std::to_string(getpid());
  if (stat("/dev/shm", &shm) == 0 && shm.st_dev != sandbox.st_dev &&
      WriteWholeFile(elsewhere, Numbered(3 * kMiB + 7))) {
    ++tried;
    const bool copied =
        platform::CopyFileOver(elsewhere.c_str(), At("from-shm.dll").c_str());
    const std::string expected = ReadWholeFile(elsewhere);
    unlink(elsewhere.c_str());
    ASSERT_TRUE(copied);
    EXPECT_TRUE(ReadWholeFile(At("from-shm.dll")) == expected)
        << "the bytes differ";
  }

  const std::string expected = ReadWholeFile("/proc/version");
  if (!expected.empty()) {
    ++tried;
    ASSERT_TRUE(
        platform::CopyFileOver("/proc/version", At("version.txt").c_str()));
    EXPECT_EQ(ReadWholeFile(At("version.txt")), expected);
  }
  if (tried == 0) GTEST_SKIP() << "no second file system and no /proc here";
}

}  // namespace

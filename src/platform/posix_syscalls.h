// The fault-injection seam of the POSIX backend: the system calls that put
// file contents on disk and publish them, reached through one table that a
// test may point elsewhere (to fail a write half-way, a flush or a rename,
// or to stop the process at a chosen call).
//
// The tool itself never changes the table; in a normal run each entry is
// the system call and costs one indirect call. Besides the backend, only
// test code includes this header.
#ifndef VELMORA_PLATFORM_POSIX_SYSCALLS_H
#define VELMORA_PLATFORM_POSIX_SYSCALLS_H

#include <sys/types.h>

#include <cstddef>

namespace posix_syscalls {

struct Table {
  ssize_t (*write)(int fd, const void* data, std::size_t size);
  int (*fsync)(int fd);
  // Gives an unnamed temporary file its name.
  int (*linkat)(int from_folder, const char* from, int to_folder,
                const char* to, int flags);
  int (*rename)(const char* from, const char* to);
};

// The calls in use. A test that changes an entry restores it with Reset.
extern Table calls;

// Points every entry back at the system call.
void Reset();

}  // namespace posix_syscalls

#endif  // VELMORA_PLATFORM_POSIX_SYSCALLS_H

// The process entry of the POSIX build: the arguments joined into the one
// argument text that the updater takes on every platform.
#include <csignal>
#include <string>

#include "run/updater.h"

int main(int argc, char** argv) {
  // A file-size limit or a closed standard error must turn into failed
  // writes that the tool reports or ignores, not kill it half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  return RunUpdater(arguments.c_str());
}

// The process entry of the Windows build: a GUI-subsystem program, so no
// console window opens; every word it says is a message box.
#include <windows.h>

#include "run/updater.h"

// The C runtime hands over the command line with the program's own name
// and the blanks after it already removed, which is the argument text the
// updater expects.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  return RunUpdater(command_line);
}

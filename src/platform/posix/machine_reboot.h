// The simulated restart of the emulated machine: what Windows does at its
// next start and at the user's next logon, carried out on the machine.
//
// In this order:
//  1. the boot-time moves recorded in the session manager's value
//     PendingFileRenameOperations (HKLM, key
//     "SYSTEM\CurrentControlSet\Control\Session Manager"; REG_MULTI_SZ
//     pairs "\??\source", "\??\target"; an empty target deletes the source,
//     a target written "!\??\..." may replace an existing file), in order;
//     then the value is removed;
//  2. the [Rename] section of C:\WINDOWS\wininit.ini from the top down
//     ("target=source"; the target NUL deletes the source). This runs before
//     long names are available, as on the systems that use the file: names
//     may be 8.3 aliases, and a file moved onto a target gets the target's
//     last element as written (an alias becomes the file's name; the rename
//     batch of the installation gives the long name back). Then the section
//     is removed and the rest of the file kept (the file goes when nothing
//     else is left);
//  3. at logon, each batch file (.bat, .cmd) of the current user's Startup
//     folder (HKCU "Software\Microsoft\Windows\CurrentVersion\Explorer\Shell
//     Folders" value Startup) that is there when the logon begins, in name
//     order, run by RunStartupBatch.
//
// A scheduled operation whose file is missing is skipped, as Windows skips
// it: a deletion of something already gone is reported and counts as done;
// a move whose source is missing is reported and counts as not done.
#ifndef CRX_PLATFORM_POSIX_MACHINE_REBOOT_H
#define CRX_PLATFORM_POSIX_MACHINE_REBOOT_H

#include <functional>
#include <string>

#include "platform/platform.h"

namespace crx {

// Receives one line (without its line end) per action and each line a
// batch file echoes.
using RebootOutput = std::function<void(const std::string& line)>;

// Carries out steps 1 to 3. True when every step was carried out; false
// when something failed, was skipped or was refused (the reason is among
// the lines printed).
bool RebootMachine(Platform& platform, const RebootOutput& print);

// The three steps on their own, in the order RebootMachine takes them.
bool CarryOutPendingRenames(Platform& platform, const RebootOutput& print);
bool CarryOutWininit(Platform& platform, const RebootOutput& print);
bool RunStartupBatches(Platform& platform, const RebootOutput& print);

// Runs one batch file (a Windows path) with the small command interpreter
// for the lines Cratex's programs write into Startup batch files:
//   echo off | echo TEXT | echo.TEXT   (echo prints TEXT; echo off nothing)
//   X:                                 switch to drive X
//   cd "FOLDER"                        the current folder of FOLDER's drive
//   if exist "A" rename "A" "NAME"     rename A to NAME in A's folder
//   if exist "A" del "A"               delete A
//   rmdir "A"                          remove the empty folder A
//   del "A"                            delete A
//   pause                              prints the prompt, does not wait
//   "PROGRAM" ARGUMENTS                start PROGRAM on the machine in the
//                                      current folder and wait for it
// Keywords are found without regard to case; arguments may be quoted or
// single words. Blank lines are passed over. Any other line is refused
// with a line naming it, and the batch stops there. The file is read whole
// before its first line runs, so its last line may delete it. The batch
// starts in its own folder. True when every line was carried out (a
// program that ends with an exit code other than 0 counts as a failure).
bool RunStartupBatch(Platform& platform, const std::string& batch_path, const RebootOutput& print);

}  // namespace crx

#endif  // CRX_PLATFORM_POSIX_MACHINE_REBOOT_H

// Where the programs find what they load: the module, the video library and, for --wine, the
// DLL and its helper. All of it lies in one library folder whose place relative to the program
// is fixed when the project is configured (../lib/selvanore for a program in bin/), so an
// install finds its own files wherever its prefix is, and the build tree keeps the same layout
// around its programs. No path of the build folder is compiled in.
#pragma once

#include "tools/preview/Options.h"

#include <string>

namespace preview {

// The library folder of the running program, from /proc/self/exe, with its final '/'; empty
// when the program's own place cannot be read.
std::string LibraryFolder();

// The defaults of --module and --wine-helper: the native module, and the DLL and the helper in
// the library folder's windows/, present when the Windows build was installed or configured.
TDefaults ProgramDefaults();

} // namespace preview

// Where the programs find what they load: the module, the video library and, for --wine, the
// DLL and its helper. All of it lies in one library folder whose place relative to the program
// is fixed when the project is configured (../lib/selvanore for a program in bin/), so an
// install finds its own files wherever its prefix is, and the build tree keeps the same layout
// around its programs. No path of the build folder is compiled in.
#pragma once

#include <string>

namespace common {

// The library folder of the running program, from /proc/self/exe, with its final '/'; empty
// when the program's own place cannot be read.
std::string LibraryFolder();

// What the programs load unless told otherwise: the native module, and the DLL and the helper in
// the library folder's windows/, present when the Windows build was installed or configured.
struct TProgramFiles {
    std::string Module;
    std::string WineModule;
    std::string WineHelper;
};

// The files of the running program's library folder; all empty when it cannot be found.
TProgramFiles ProgramFiles();

} // namespace common

// Finds the program's library folder from the program's own place.
#include "tools/lib/common/ProgramPaths.h"

#include <unistd.h>

#include <array>
#include <filesystem>

// The library folder relative to the program's folder, as the build configured it.
#ifndef SELVANORE_LIBRARY_FROM_PROGRAM
#error "SELVANORE_LIBRARY_FROM_PROGRAM must name the library folder relative to the program"
#endif

namespace common {

namespace {

// The folder of the running program, symbolic links resolved (the kernel's record of what it
// started), so that a link to the program in another folder still finds the install.
std::filesystem::path ProgramFolder()
{
    std::array<char, 4096> path{};
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size() - 1)
        return {};
    return std::filesystem::path(std::string(path.data(), static_cast<std::size_t>(length))).parent_path();
}

} // namespace

std::string LibraryFolder()
{
    const std::filesystem::path program = ProgramFolder();
    if (program.empty())
        return {};
    // Lexically, so that a message names /usr/lib/selvanore rather than /usr/bin/../lib/selvanore.
    return ((program / SELVANORE_LIBRARY_FROM_PROGRAM).lexically_normal() / "").string();
}

TProgramFiles ProgramFiles()
{
    const std::string folder = LibraryFolder();
    if (folder.empty())
        return {};
    return {folder + "Selvanore.so", folder + "windows/Selvanore.dll", folder + "windows/selvanore-wine-helper.exe"};
}

} // namespace common

// The paths of outputs: path text, symbolic links followed to the final place, descriptors
// with owners, and the error that names an output that cannot be written.
#pragma once

#include <optional>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

namespace output {

// An open file descriptor, closed with its owner; -1 when none.
class TDescriptor {
public:
    TDescriptor() noexcept = default;
    // Takes ownership of ADescriptor.
    explicit TDescriptor(int ADescriptor) noexcept : FDescriptor(ADescriptor) {}
    ~TDescriptor() { Reset(); }
    TDescriptor(TDescriptor&& AOther) noexcept;
    TDescriptor& operator=(TDescriptor&& AOther) noexcept;

    // Borrowed: still owned by this object.
    int Get() const noexcept { return FDescriptor; }
    explicit operator bool() const noexcept { return FDescriptor >= 0; }
    void Reset() noexcept;

private:
    int FDescriptor = -1;
};

// "cannot write output 'APath': <the C library's text for errno>".
[[noreturn]] void ThrowWriteError(const std::string& APath);

// APath without the slashes it ends with ("/" stays).
std::string WithoutTrailingSlashes(std::string APath);
// The folder a path's last name lies in ("." for a bare name).
std::string FolderOf(const std::string& APath);
// The last name of a path.
std::string NameOf(const std::string& APath);
// The permissions a plain creation would give (mkstemp and mkdtemp keep their files private).
mode_t UsualMode(mode_t AFull);
// APath with its symbolic links followed to the final place; AStat describes that place when
// AExists. Nothing (errno set) when the path cannot be looked at; a path that does not exist
// (yet) is no error.
std::optional<std::string> FollowLinks(std::string APath, struct stat& AStat, bool& AExists);
// FollowLinks, or ThrowWriteError naming AShownName when the path cannot be looked at.
std::string FinalPlaceOf(const std::string& APath, const std::string& AShownName, struct stat& AStat, bool& AExists);
// Whether APath is a regular file itself (a symbolic link is not).
bool IsRegularFile(const std::string& APath);
// Syncs a folder's entries to disk; nothing when it cannot be opened.
void SyncFolder(const std::string& APath) noexcept;

} // namespace output

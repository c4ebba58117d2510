#include "tools/lib/output/Paths.h"

#include "tools/lib/common/ToolError.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace output {

TDescriptor::TDescriptor(TDescriptor&& AOther) noexcept : FDescriptor(AOther.FDescriptor)
{
    AOther.FDescriptor = -1;
}

TDescriptor& TDescriptor::operator=(TDescriptor&& AOther) noexcept
{
    if (this != &AOther) {
        Reset();
        FDescriptor = AOther.FDescriptor;
        AOther.FDescriptor = -1;
    }
    return *this;
}

void TDescriptor::Reset() noexcept
{
    if (FDescriptor >= 0)
        close(FDescriptor);
    FDescriptor = -1;
}

void ThrowWriteError(const std::string& APath)
{
    throw common::EToolError("cannot write output " + common::Quoted(APath) + ": " + std::strerror(errno));
}

std::string WithoutTrailingSlashes(std::string APath)
{
    while (APath.size() > 1 && APath.back() == '/')
        APath.pop_back();
    return APath;
}

std::string FolderOf(const std::string& APath)
{
    const std::size_t slash = APath.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return APath.substr(0, slash);
}

std::string NameOf(const std::string& APath)
{
    const std::size_t slash = APath.rfind('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

mode_t UsualMode(mode_t AFull)
{
    const mode_t mask = umask(0);
    umask(mask);
    return AFull & ~mask;
}

std::optional<std::string> FollowLinks(std::string APath, struct stat& AStat, bool& AExists)
{
    for (int hops = 0;; ++hops) {
        if (lstat(APath.c_str(), &AStat) != 0) {
            if (errno != ENOENT)
                return std::nullopt;
            AExists = false;
            return APath;
        }
        if (!S_ISLNK(AStat.st_mode)) {
            AExists = true;
            return APath;
        }
        if (hops == 40) {
            errno = ELOOP;
            return std::nullopt;
        }
        char link[PATH_MAX];
        const ssize_t length = readlink(APath.c_str(), link, sizeof link);
        if (length < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(length) == sizeof link) {
            errno = ENAMETOOLONG;
            return std::nullopt;
        }
        const std::string target(link, static_cast<std::size_t>(length));
        APath = !target.empty() && target[0] == '/' ? target : FolderOf(APath) + "/" + target;
    }
}

std::string FinalPlaceOf(const std::string& APath, const std::string& AShownName, struct stat& AStat, bool& AExists)
{
    const std::optional<std::string> final = FollowLinks(APath, AStat, AExists);
    if (!final)
        ThrowWriteError(AShownName);
    return *final;
}

bool IsRegularFile(const std::string& APath)
{
    struct stat status {};
    return lstat(APath.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

void SyncFolder(const std::string& APath) noexcept
{
    const int folder = open(APath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

} // namespace output

#include "tools/preview/AtomicOutput.h"

#include "tools/preview/PreviewError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace preview {

namespace {

std::string WithoutTrailingSlashes(std::string APath)
{
    while (APath.size() > 1 && APath.back() == '/')
        APath.pop_back();
    return APath;
}

// The permissions a plain creation would give (mkstemp and mkdtemp keep their files private).
mode_t UsualMode(mode_t AFull)
{
    const mode_t mask = umask(0);
    umask(mask);
    return AFull & ~mask;
}

} // namespace

void ThrowWriteError(const std::string& APath)
{
    throw EPreviewError("cannot write output '" + APath + "': " + std::strerror(errno));
}

TAtomicFile::TAtomicFile(std::string ATarget) : FTarget(std::move(ATarget))
{
    std::vector<char> name(FTarget.begin(), FTarget.end());
    const char suffix[] = ".tmp-XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0)
        ThrowWriteError(FTarget);
    FTemporary = name.data();
    fchmod(descriptor, UsualMode(0666));
    FStream = fdopen(descriptor, "wb");
    if (!FStream) {
        const int error = errno;
        close(descriptor);
        std::remove(FTemporary.c_str());
        errno = error;
        ThrowWriteError(FTarget);
    }
}

TAtomicFile::~TAtomicFile()
{
    if (FStream)
        std::fclose(FStream);
    if (!FCommitted)
        std::remove(FTemporary.c_str());
}

void TAtomicFile::Commit()
{
    const bool written = std::fflush(FStream) == 0 && !std::ferror(FStream);
    const int error = errno;
    const bool closed = std::fclose(FStream) == 0;
    FStream = nullptr;
    if (!written || !closed) {
        errno = written ? errno : error;
        ThrowWriteError(FTarget);
    }
    if (std::rename(FTemporary.c_str(), FTarget.c_str()) != 0)
        ThrowWriteError(FTarget);
    FCommitted = true;
}

TAtomicFolder::TAtomicFolder(std::string ATarget) : FTarget(WithoutTrailingSlashes(std::move(ATarget)))
{
    std::error_code error;
    if (std::filesystem::exists(FTarget, error) && !std::filesystem::is_directory(FTarget, error))
        throw EPreviewError("cannot write output '" + FTarget + "': it exists and is not a folder");
    std::vector<char> name(FTarget.begin(), FTarget.end());
    const char suffix[] = ".tmp-XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);
    if (!mkdtemp(name.data()))
        ThrowWriteError(FTarget);
    FTemporary = name.data();
    chmod(FTemporary.c_str(), UsualMode(0777));
}

TAtomicFolder::~TAtomicFolder()
{
    if (!FCommitted) {
        std::error_code error;
        std::filesystem::remove_all(FTemporary, error);
    }
}

void TAtomicFolder::Commit()
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::exists(FTarget, error)) {
        if (std::rename(FTemporary.c_str(), FTarget.c_str()) != 0)
            ThrowWriteError(FTarget);
        FCommitted = true;
        return;
    }
    // The target folder exists: each file is renamed into it, replacing one of the same name.
    for (const fs::directory_entry& entry : fs::directory_iterator(FTemporary, error)) {
        const fs::path destination = fs::path(FTarget) / entry.path().filename();
        if (std::rename(entry.path().c_str(), destination.c_str()) != 0)
            ThrowWriteError(destination.string());
    }
    if (error)
        throw EPreviewError("cannot write output '" + FTarget + "': " + error.message());
    fs::remove(FTemporary, error);
    FCommitted = true;
}

} // namespace preview

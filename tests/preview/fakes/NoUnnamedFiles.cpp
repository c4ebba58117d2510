// Preloaded into a run of the preview (LD_PRELOAD), this stands for a file system without
// unnamed files, as NFS and many FUSE file systems are: open() and openat() with O_TMPFILE fail
// with EOPNOTSUPP. Every other opening is glibc's own.
#undef _FORTIFY_SOURCE
#include <cerrno>
#include <cstdarg>

#include <dlfcn.h>
#include <fcntl.h>

namespace {

using TOpen = int (*)(const char*, int, ...);
using TOpenAt = int (*)(int, const char*, int, ...);

bool IsUnnamed(int AFlags) noexcept
{
    return (AFlags & O_TMPFILE) == O_TMPFILE;
}

} // namespace

// The mode is read only when the flags say one was passed, as the C library does.
#define SELVANORE_MODE_OF(AFlags)                                                                                      \
    mode_t mode = 0;                                                                                                   \
    if ((AFlags & O_CREAT) != 0 || IsUnnamed(AFlags)) {                                                                \
        va_list arguments;                                                                                             \
        va_start(arguments, AFlags);                                                                                   \
        mode = static_cast<mode_t>(va_arg(arguments, unsigned int));                                                   \
        va_end(arguments);                                                                                             \
    }

extern "C" [[gnu::visibility("default")]] int open(const char* APath, int AFlags, ...)
{
    SELVANORE_MODE_OF(AFlags)
    if (IsUnnamed(AFlags)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    static const auto real = reinterpret_cast<TOpen>(dlsym(RTLD_NEXT, "open"));
    return real(APath, AFlags, mode);
}

extern "C" [[gnu::visibility("default")]] int open64(const char* APath, int AFlags, ...)
{
    SELVANORE_MODE_OF(AFlags)
    if (IsUnnamed(AFlags)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    static const auto real = reinterpret_cast<TOpen>(dlsym(RTLD_NEXT, "open64"));
    return real(APath, AFlags, mode);
}

extern "C" [[gnu::visibility("default")]] int openat(int AFolder, const char* APath, int AFlags, ...)
{
    SELVANORE_MODE_OF(AFlags)
    if (IsUnnamed(AFlags)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    static const auto real = reinterpret_cast<TOpenAt>(dlsym(RTLD_NEXT, "openat"));
    return real(AFolder, APath, AFlags, mode);
}

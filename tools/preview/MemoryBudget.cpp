#include "tools/preview/MemoryBudget.h"

#include "tools/lib/common/ToolError.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace preview {

namespace {

constexpr std::uint64_t MiB = std::uint64_t{1} << 20;

std::uint64_t CeilMiB(std::uint64_t ABytes) noexcept
{
    return (ABytes + MiB - 1) / MiB;
}

// The value of AKey in a "key value" or "Key: value kB" file such as /proc/meminfo, in the
// file's unit times AUnit; empty when it is not there.
std::optional<std::uint64_t> ReadKey(const std::string& APath, const std::string& AKey, std::uint64_t AUnit)
{
    std::ifstream in(APath);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, AKey.size(), AKey) != 0 || line.size() == AKey.size() ||
            (line[AKey.size()] != ' ' && line[AKey.size()] != ':'))
            continue;
        std::istringstream fields(line.substr(AKey.size() + 1));
        std::uint64_t value = 0;
        if (fields >> value)
            return value * AUnit;
        return std::nullopt;
    }
    return std::nullopt;
}

// A file holding one number, or "max" for none.
std::optional<std::uint64_t> ReadNumber(const std::string& APath)
{
    std::ifstream in(APath);
    std::uint64_t value = 0;
    if (in >> value)
        return value;
    return std::nullopt;
}

std::uint64_t Headroom(std::uint64_t ALimit, std::uint64_t AUsed) noexcept
{
    return ALimit > AUsed ? ALimit - AUsed : 0;
}

void KeepLeast(std::optional<std::uint64_t>& ALeast, std::uint64_t AValue) noexcept
{
    ALeast = ALeast ? std::min(*ALeast, AValue) : AValue;
}

// A resource limit less what /proc/self/status counts against it (AUsedKey, in kB).
std::optional<std::uint64_t> RlimitHeadroom(int AResource, const char* AUsedKey)
{
    rlimit limit{};
    if (getrlimit(AResource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    const std::optional<std::uint64_t> used = ReadKey("/proc/self/status", AUsedKey, 1024);
    return Headroom(limit.rlim_cur, used.value_or(0));
}

// The page cache the kernel gives back before it refuses a control group more memory.
std::uint64_t Reclaimable(const std::string& AStat, const char* AInactive, const char* AActive)
{
    return ReadKey(AStat, AInactive, 1).value_or(0) + ReadKey(AStat, AActive, 1).value_or(0);
}

} // namespace

std::optional<std::uint64_t> GroupHeadroomOf(const std::string& AMembership, const std::string& AHierarchy)
{
    std::optional<std::uint64_t> least;
    std::ifstream groups(AMembership);
    for (std::string line; std::getline(groups, line);) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? std::string::npos : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        if (path.empty() || path.front() != '/')
            continue;
        if (controllers.empty()) {
            // v2: each level from this group up to the root may hold a limit of its own.
            for (;;) {
                const std::string folder = AHierarchy + (path == "/" ? std::string() : path);
                const std::optional<std::uint64_t> limit = ReadNumber(folder + "/memory.max");
                const std::optional<std::uint64_t> used = ReadNumber(folder + "/memory.current");
                if (limit && used)
                    KeepLeast(
                        least,
                        Headroom(*limit + Reclaimable(folder + "/memory.stat", "inactive_file", "active_file"), *used));
                if (path == "/")
                    break;
                path.erase(std::max<std::size_t>(path.rfind('/'), 1));
            }
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            // v1: the statistics name the limit in force over the whole hierarchy.
            const std::string folder = AHierarchy + "/memory" + (path == "/" ? std::string() : path);
            const std::string stat = folder + "/memory.stat";
            const std::optional<std::uint64_t> limit = ReadKey(stat, "hierarchical_memory_limit", 1);
            const std::optional<std::uint64_t> used = ReadNumber(folder + "/memory.usage_in_bytes");
            // "No limit" is the largest page-aligned 63-bit number.
            if (limit && used && *limit < (std::uint64_t{1} << 62))
                KeepLeast(least,
                          Headroom(*limit + Reclaimable(stat, "total_inactive_file", "total_active_file"), *used));
        }
    }
    return least;
}

namespace {

std::string SizeText(std::int32_t AWidth, std::int32_t AHeight)
{
    return std::to_string(AWidth) + "x" + std::to_string(AHeight);
}

// The writer's own bytes per pixel, beyond the surface, for the help's figures.
std::uint64_t WriterBytesPerPixel(output::TOutputKind AKind) noexcept
{
    return output::FormatOf(AKind).BytesPerPixel;
}

} // namespace

std::uint64_t MemoryNeededFor(std::int32_t AWidth, std::int32_t AHeight, output::TOutputKind AKind) noexcept
{
    const output::TOutputFormat& format = output::FormatOf(AKind);
    const std::uint64_t pixels = static_cast<std::uint64_t>(AWidth) * static_cast<std::uint64_t>(AHeight);
    return FixedBytes + format.LibraryBytes + pixels * (SurfaceBytesPerPixel + format.BytesPerPixel);
}

TMemoryNeed MemoryNeededFor(const TMemoryRequest& ARequest) noexcept
{
    TMemoryNeed need;
    need.Process = MemoryNeededFor(ARequest.Width, ARequest.Height, ARequest.Kind);
    need.Machine = need.Process;
    if (ARequest.Wine)
        need.Machine += static_cast<std::uint64_t>(ARequest.Width) * static_cast<std::uint64_t>(ARequest.Height) *
                        WineHelperBytesPerPixel;
    return need;
}

TMemoryHeadroom CurrentMemoryHeadroom()
{
    TMemoryHeadroom headroom;
    headroom.AddressSpace = RlimitHeadroom(RLIMIT_AS, "VmSize");
    headroom.Data = RlimitHeadroom(RLIMIT_DATA, "VmData");
    headroom.Group = GroupHeadroomOf("/proc/self/cgroup", "/sys/fs/cgroup");
    const std::optional<std::uint64_t> available = ReadKey("/proc/meminfo", "MemAvailable", 1024);
    if (available)
        headroom.System = *available + ReadKey("/proc/meminfo", "SwapFree", 1024).value_or(0);
    return headroom;
}

void CheckMemory(const TMemoryNeed& ANeed, const TMemoryHeadroom& AHeadroom, const std::string& ASize)
{
    struct TBound {
        const std::optional<std::uint64_t>& Headroom;
        std::uint64_t Need;
        const char* What;
    } const bounds[] = {
        {AHeadroom.AddressSpace, ANeed.Process, "its address-space limit (ulimit -v)"},
        {AHeadroom.Data, ANeed.Process, "its data limit (ulimit -d)"},
        {AHeadroom.Group, ANeed.Machine, "its control group's memory limit"},
        {AHeadroom.System, ANeed.Machine, "the memory the system has available"},
    };
    for (const TBound& bound : bounds) {
        if (bound.Headroom && bound.Need > *bound.Headroom)
            throw common::EToolError("--size " + ASize + " needs about " + std::to_string(CeilMiB(bound.Need)) +
                                     " MiB of memory, more than the " + std::to_string(*bound.Headroom / MiB) +
                                     " MiB this process may still use under " + bound.What +
                                     ": choose a smaller --size");
    }
}

void CheckMemoryFor(const TMemoryRequest& ARequest, const std::string& ASize)
{
    CheckMemory(MemoryNeededFor(ARequest), CurrentMemoryHeadroom(),
                ASize.empty() ? SizeText(ARequest.Width, ARequest.Height) : ASize);
}

std::string MemoryHelpText()
{
    using output::TOutputKind;
    const std::uint64_t gif = WriterBytesPerPixel(TOutputKind::Gif);
    const std::uint64_t stream = WriterBytesPerPixel(TOutputKind::Stream);
    const std::uint64_t video = WriterBytesPerPixel(TOutputKind::Mp4);
    const std::uint64_t videoLibraries = output::FormatOf(TOutputKind::Mp4).LibraryBytes;
    const auto example = [](std::int32_t AWidth, std::int32_t AHeight) {
        const auto mib = [&](TOutputKind AKind) {
            return std::to_string(CeilMiB(MemoryNeededFor(AWidth, AHeight, AKind))) + " MiB";
        };
        const std::string size = SizeText(AWidth, AHeight);
        return "  " + size + std::string(11 - size.size(), ' ') + mib(TOutputKind::Gif) + " as a GIF, " +
               mib(TOutputKind::PngFolder) + " as PNG frames, " + mib(TOutputKind::Stream) + " as a stream\n";
    };
    return "Memory:\n"
           "  A run needs about " +
           std::to_string(FixedBytes / MiB) +
           " MiB, and for each pixel of --size: " + std::to_string(SurfaceBytesPerPixel + gif) +
           " bytes with a GIF\n"
           "  output, " +
           std::to_string(SurfaceBytesPerPixel) + " with PNG frames, " + std::to_string(SurfaceBytesPerPixel + stream) +
           " with the stream on standard output, " + std::to_string(SurfaceBytesPerPixel + video) +
           " with a\n"
           "  video, which also loads about " +
           std::to_string(videoLibraries / MiB) +
           " MiB of FFmpeg's libraries (with --wine, the\n"
           "  helper under Wine takes " +
           std::to_string(WineHelperBytesPerPixel) +
           " more). A size that does not fit in the memory this\n"
           "  process may use is refused before anything is written. For example:\n" +
           example(640, 480) + example(1920, 1080) + example(3840, 2160) + example(8192, 8192);
}

} // namespace preview

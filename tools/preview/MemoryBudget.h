// What a run needs in memory, and what this process may still have. A size whose buffers do not
// fit is refused before anything is decoded, drawn or written, instead of failing half-way
// (an allocation error) or being killed by the system.
#pragma once

#include "tools/lib/output/Formats.h"

#include <cstdint>
#include <optional>
#include <string>

namespace preview {

// Bytes a run holds for every pixel of the drawing area: the drawing surface's 32-bit pixels
// (with --wine, the copy the helper sends back) and the copies of the frames that wait for the
// writer thread; the output's own buffers and the libraries it loads are in its row of the
// table of formats (output/Formats.h).
inline constexpr std::uint64_t SurfaceBytesPerPixel = 4 * (1 + output::QueuedFrames);
// Under Wine the helper holds its own surface, in its own process.
inline constexpr std::uint64_t WineHelperBytesPerPixel = 4;
// All that a run adds beyond the size's buffers and what the process holds when it starts: the
// decoded built-in signal (2.8 MB), the decoder's and encoders' state, the module's rings and
// pools. The least address-space limit under which an 8x8 run of each output succeeds lies
// 3.1 MiB above the address space in use at the start of the run with the built-in signal,
// 0.7 MiB with an Ogg file; this leaves room for larger inputs' blocks and the libraries'
// growth, and for the sound that waits with the frames for a video (at most a second's worth
// each, 3 MB at 384 kHz and 1 frame per second). The writer thread's stack comes on top: glibc
// reserves the stack limit (ulimit -s, usually 8 MiB) for it.
inline constexpr std::uint64_t FixedBytes = std::uint64_t{16} << 20;

struct TMemoryNeed {
    std::uint64_t Process = 0; // in this process's address space
    std::uint64_t Machine = 0; // in all, counting the helper under Wine
};

// What the estimate depends on.
struct TMemoryRequest {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    output::TOutputKind Kind = output::TOutputKind::Gif;
    bool Wine = false; // the frames are drawn by the helper under Wine
};

// The estimate for a run of ARequest's size, output and renderer.
TMemoryNeed MemoryNeededFor(const TMemoryRequest& ARequest) noexcept;
// The same for AWidth x AHeight pixels of the given output, natively; for --help.
std::uint64_t MemoryNeededFor(std::int32_t AWidth, std::int32_t AHeight, output::TOutputKind AKind) noexcept;

// How much more each limit lets this process take, in bytes; empty where there is no such limit
// or it cannot be read.
struct TMemoryHeadroom {
    std::optional<std::uint64_t> AddressSpace; // RLIMIT_AS less the address space in use
    std::optional<std::uint64_t> Data;         // RLIMIT_DATA less the data in use
    std::optional<std::uint64_t> Group;        // the control group's limit less its use, page cache aside
    std::optional<std::uint64_t> System;       // the system's available memory and free swap
};

// Reads the limits as they stand now.
TMemoryHeadroom CurrentMemoryHeadroom();

// The least headroom of the control groups that AMembership (the form of /proc/self/cgroup)
// names under AHierarchy (where the cgroup file systems are mounted, /sys/fs/cgroup): under
// cgroup v2 every level from the group up to the root, under v1 the memory controller's limit
// over the hierarchy. The page cache counts as free, as the kernel reclaims it before it
// refuses memory. Empty when no group has a limit.
std::optional<std::uint64_t> GroupHeadroomOf(const std::string& AMembership, const std::string& AHierarchy);

// common::EToolError with a one-line message when ANeed does not fit AHeadroom; ASize is the --size
// text the message quotes.
void CheckMemory(const TMemoryNeed& ANeed, const TMemoryHeadroom& AHeadroom, const std::string& ASize);
// The same for ARequest's run and the limits as they stand now; ASize as in CheckMemory.
void CheckMemoryFor(const TMemoryRequest& ARequest, const std::string& ASize);

// The text of --help about memory: what a size needs, with examples.
std::string MemoryHelpText();

} // namespace preview

#include "rtl/SysUtils.h"

#include <atomic>

namespace rtl {

namespace {

// Zero-initialized before any code of the module runs; only ever incremented.
constinit std::atomic<std::uint64_t> ContainedErrors{0};

} // namespace

void NoteRaise(const Exception&) noexcept
{
    // Deliberately empty and out of line: set a breakpoint here to stop at the first failure.
}

[[gnu::noinline]] void NoteContained(const Exception*) noexcept
{
    // Out of line: set a breakpoint here to stop wherever a slot swallows an error.
    ContainedErrors.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t ContainedCount() noexcept
{
    return ContainedErrors.load(std::memory_order_relaxed);
}

std::string FormatInt(const std::string& AFormat, std::int32_t AValue)
{
    const std::string number = std::to_string(AValue);
    std::string result;
    result.reserve(AFormat.size() + number.size());
    for (std::size_t i = 0; i < AFormat.size(); ++i) {
        if (AFormat[i] == '%' && i + 1 < AFormat.size() && AFormat[i + 1] == 'd') {
            result += number;
            ++i;
        } else {
            result += AFormat[i];
        }
    }
    return result;
}

} // namespace rtl

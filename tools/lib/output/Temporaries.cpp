#include "tools/lib/output/Temporaries.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/png/FrameName.h"

#include <atomic>
#include <climits>
#include <cstring>

#include <unistd.h>

namespace output {

namespace {

// Each slot is published with a lock-free atomic state: the path is filled in while the slot is
// "claimed" and becomes visible to the handler only once the state turns "live" (release
// order), and a slot stops being live before it is reused.
enum : int { SlotFree = 0, SlotClaimed = 1, SlotLive = 2 };

struct TSlot {
    std::atomic<int> State{SlotFree};
    std::atomic<std::int64_t> Frames{0};
    TTemporaryKind Kind = TTemporaryKind::File;
    char Path[PATH_MAX] = {};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::int64_t>::is_always_lock_free,
              "the handler may read only lock-free atomics");

// A trace, a GIF or a PNG and a folder at most are written at once; the rest is headroom.
constexpr int SlotCount = 8;
TSlot Slots[SlotCount];

} // namespace

TTemporaryRecord::TTemporaryRecord(const std::string& APath, TTemporaryKind AKind)
{
    common::SetEndingCleanup(&RemoveRecordedTemporaries);
    if (APath.size() >= PATH_MAX)
        throw common::EToolError("cannot write output " + common::Quoted(APath) + ": the path is too long");
    for (int slot = 0; slot < SlotCount; ++slot) {
        int expected = SlotFree;
        if (!Slots[slot].State.compare_exchange_strong(expected, SlotClaimed))
            continue;
        TSlot& entry = Slots[slot];
        std::memcpy(entry.Path, APath.c_str(), APath.size() + 1);
        entry.Kind = AKind;
        entry.Frames.store(0);
        entry.State.store(SlotLive, std::memory_order_release);
        FSlot = slot;
        return;
    }
    throw common::EToolError("cannot write output " + common::Quoted(APath) + ": too many outputs at once");
}

TTemporaryRecord::~TTemporaryRecord()
{
    Drop();
}

TTemporaryRecord::TTemporaryRecord(TTemporaryRecord&& AOther) noexcept : FSlot(AOther.FSlot)
{
    AOther.FSlot = -1;
}

TTemporaryRecord& TTemporaryRecord::operator=(TTemporaryRecord&& AOther) noexcept
{
    if (this != &AOther) {
        Drop();
        FSlot = AOther.FSlot;
        AOther.FSlot = -1;
    }
    return *this;
}

void TTemporaryRecord::SetFrameCount(std::int64_t ACount) noexcept
{
    if (FSlot >= 0)
        Slots[FSlot].Frames.store(ACount);
}

void TTemporaryRecord::Drop() noexcept
{
    if (FSlot >= 0)
        Slots[FSlot].State.store(SlotFree, std::memory_order_release);
    FSlot = -1;
}

void RemoveRecordedTemporaries() noexcept
{
    for (TSlot& slot : Slots) {
        if (slot.State.load(std::memory_order_acquire) != SlotLive)
            continue;
        if (slot.Kind == TTemporaryKind::File) {
            unlink(slot.Path);
            continue;
        }
        char path[PATH_MAX + 40];
        const std::size_t folder = std::strlen(slot.Path);
        std::memcpy(path, slot.Path, folder);
        path[folder] = '/';
        const std::int64_t frames = slot.Frames.load();
        for (std::int64_t frame = 0; frame < frames; ++frame) {
            FormatFrameName(frame, path + folder + 1);
            unlink(path);
        }
        rmdir(slot.Path);
    }
}

} // namespace output

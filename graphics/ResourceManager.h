// The module-wide pools of pen, brush and font entries, and the stock objects that detaching
// leaves in a context. Private to the graphics unit and its tests.
#pragma once

#include <windows.h>

#include "graphics/Graphics.h"
#include "graphics/Locks.h"

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

// One pool entry's bookkeeping. While in use the entry sits in its pool's hash chain; once its
// last user lets go it waits on the pool's free list to be used again, so that a steady stream
// of attribute changes makes no heap allocation.
struct TResource {
    TResource* FNext = nullptr;
    TResource* FPrev = nullptr;
    std::size_t HashCode = 0;
    std::int32_t RefCount = 0;  // users; guarded by the pool's lock
    DWORD Owner = 0;            // the thread that made the entry
    // The GDI object, none until a drawing operation first needs it. Read without the lock by
    // the object's users and written once under it, hence atomic.
    std::atomic<HGDIOBJ> Object{nullptr};
};

template <class TData>
struct TResourceOf : TResource {
    TData Data{};
};

// GDI objects an entry owned, taken out of the pool under its lock and deleted after it.
struct [[nodiscard]] TRetiredObjects {
    HGDIOBJ Object = nullptr;
    HGDIOBJ OwnedBitmap = nullptr;

    void Dispose() noexcept
    {
        if (Object)
            DeleteObject(Object);
        if (OwnedBitmap)
            DeleteObject(OwnedBitmap);
    }
};

std::size_t ResourceHash(const TPenData& AData) noexcept;
std::size_t ResourceHash(const TBrushData& AData) noexcept;
std::size_t ResourceHash(const TFontData& AData) noexcept;

inline HGDIOBJ OwnedBitmapOf(const TPenData&) noexcept { return nullptr; }
inline HGDIOBJ OwnedBitmapOf(const TBrushData& AData) noexcept { return AData.OwnsBitmap ? AData.Bitmap : nullptr; }
inline HGDIOBJ OwnedBitmapOf(const TFontData&) noexcept { return nullptr; }

// A pool of reference-counted entries keyed by thread and attribute record, guarded by its own
// recursive lock. Entries are found through a hash table of intrusive chains; the table grows
// only when the number of entries in use reaches a new peak.
template <class TData>
class TResourceManager {
public:
    using TEntry = TResourceOf<TData>;

    TResourceManager() : FBuckets(InitialBucketCount, nullptr) { ++FHeapAllocations; }
    ~TResourceManager();
    TResourceManager(const TResourceManager&) = delete;
    TResourceManager& operator=(const TResourceManager&) = delete;

    TCriticalSection& Lock() noexcept { return FLock; }

    // The calling thread's entry for AData, made (without a GDI object) if there is none; adds
    // one user to it.
    TEntry* AllocResource(const TData& AData);

    // Removes one user of AEntry (none for null). The last user takes the entry out of the pool
    // and receives its GDI objects to delete once the lock is released.
    TRetiredObjects Retire(TEntry* AEntry) noexcept;

    // Retire and delete at once.
    void FreeResource(TEntry* AEntry) noexcept { Retire(AEntry).Dispose(); }

    // The entry's GDI object, made by AMake(record) under the lock if the entry has none. A null
    // result is stored as none, so the next call tries again.
    template <class TMake>
    HGDIOBJ ObjectOf(TEntry& AEntry, TMake&& AMake);

    // Entries in use, entries waiting on the free list, and heap allocations ever made for
    // entries and the table.
    std::size_t EntryCount() noexcept;
    std::size_t IdleCount() noexcept;
    std::size_t HeapAllocationCount() noexcept;

private:
    static constexpr std::size_t InitialBucketCount = 16;

    static std::size_t KeyHash(DWORD AOwner, const TData& AData) noexcept;
    void Link(TEntry* AEntry) noexcept;
    void Unlink(TEntry* AEntry) noexcept;
    void Grow();

    TCriticalSection FLock;
    std::vector<TResource*> FBuckets;  // size a power of two
    std::size_t FCount = 0;
    TResource* FIdle = nullptr;  // singly linked through FNext
    std::size_t FIdleCount = 0;
    std::size_t FHeapAllocations = 0;
};

// The brush pool; its entries may own a pattern bitmap, deleted with the entry.
using TBrushResourceManager = TResourceManager<TBrushData>;

// What the graphics unit makes at its load step and keeps until its unload step.
struct TGraphicsModule {
    TGraphicsModule() noexcept;

    TResourceManager<TFontData> Fonts;
    TResourceManager<TPenData> Pens;
    TBrushResourceManager Brushes;
    HPEN StockPen;      // BLACK_PEN; stock objects are never deleted
    HBRUSH StockBrush;  // NULL_BRUSH
    HFONT StockFont;    // SYSTEM_FONT
};

// The unit's objects, made by the load step before any code of the module can call this, or by
// the first call after an unload.
TGraphicsModule& GraphicsModule() noexcept;

// --- TResourceManager ---

template <class TData>
TResourceManager<TData>::~TResourceManager()
{
    // Entries still in use belong to objects that outlived the module; their GDI objects go
    // with the pool rather than leak past the unload.
    for (TResource*& head : FBuckets)
        while (TResource* r = head) {
            head = r->FNext;
            auto* entry = static_cast<TEntry*>(r);
            TRetiredObjects{entry->Object.load(std::memory_order_relaxed), OwnedBitmapOf(entry->Data)}.Dispose();
            delete entry;
        }
    while (TResource* r = FIdle) {
        FIdle = r->FNext;
        delete static_cast<TEntry*>(r);
    }
}

template <class TData>
std::size_t TResourceManager<TData>::KeyHash(DWORD AOwner, const TData& AData) noexcept
{
    // The record's hash mixed with the thread, then spread so that the low bits pick a bucket.
    std::uint64_t h = static_cast<std::uint64_t>(ResourceHash(AData)) ^ (static_cast<std::uint64_t>(AOwner) << 32);
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBULL;
    h ^= h >> 31;
    return static_cast<std::size_t>(h);
}

template <class TData>
void TResourceManager<TData>::Link(TEntry* AEntry) noexcept
{
    TResource*& head = FBuckets[AEntry->HashCode & (FBuckets.size() - 1)];
    AEntry->FPrev = nullptr;
    AEntry->FNext = head;
    if (head)
        head->FPrev = AEntry;
    head = AEntry;
}

template <class TData>
void TResourceManager<TData>::Unlink(TEntry* AEntry) noexcept
{
    if (AEntry->FPrev)
        AEntry->FPrev->FNext = AEntry->FNext;
    else
        FBuckets[AEntry->HashCode & (FBuckets.size() - 1)] = AEntry->FNext;
    if (AEntry->FNext)
        AEntry->FNext->FPrev = AEntry->FPrev;
    AEntry->FNext = AEntry->FPrev = nullptr;
}

template <class TData>
void TResourceManager<TData>::Grow()
{
    std::vector<TResource*> buckets(FBuckets.size() * 2, nullptr);
    ++FHeapAllocations;
    const std::size_t mask = buckets.size() - 1;
    for (TResource* head : FBuckets)
        while (TResource* r = head) {
            head = r->FNext;
            TResource*& slot = buckets[r->HashCode & mask];
            r->FPrev = nullptr;
            r->FNext = slot;
            if (slot)
                slot->FPrev = r;
            slot = r;
        }
    FBuckets.swap(buckets);
}

template <class TData>
typename TResourceManager<TData>::TEntry* TResourceManager<TData>::AllocResource(const TData& AData)
{
    const DWORD owner = GetCurrentThreadId();
    const std::size_t hash = KeyHash(owner, AData);
    TLockGuard guard(FLock);
    for (TResource* r = FBuckets[hash & (FBuckets.size() - 1)]; r; r = r->FNext) {
        auto* entry = static_cast<TEntry*>(r);
        if (entry->HashCode == hash && entry->Owner == owner && entry->Data == AData) {
            ++entry->RefCount;
            return entry;
        }
    }
    // Everything that can fail comes before the pool changes.
    if (FCount >= FBuckets.size())
        Grow();
    TEntry* entry;
    if (FIdle) {
        entry = static_cast<TEntry*>(FIdle);
        FIdle = FIdle->FNext;
        --FIdleCount;
    } else {
        entry = new TEntry;
        ++FHeapAllocations;
    }
    entry->HashCode = hash;
    entry->RefCount = 1;
    entry->Owner = owner;
    entry->Object.store(nullptr, std::memory_order_relaxed);
    entry->Data = AData;
    Link(entry);
    ++FCount;
    return entry;
}

template <class TData>
TRetiredObjects TResourceManager<TData>::Retire(TEntry* AEntry) noexcept
{
    if (!AEntry)
        return {};
    TLockGuard guard(FLock);
    assert(AEntry->RefCount > 0);
    if (--AEntry->RefCount > 0)
        return {};
    Unlink(AEntry);
    --FCount;
    TRetiredObjects retired{AEntry->Object.exchange(nullptr, std::memory_order_acq_rel), OwnedBitmapOf(AEntry->Data)};
    AEntry->Data = TData{};
    AEntry->FNext = FIdle;
    FIdle = AEntry;
    ++FIdleCount;
    return retired;
}

template <class TData>
template <class TMake>
HGDIOBJ TResourceManager<TData>::ObjectOf(TEntry& AEntry, TMake&& AMake)
{
    if (HGDIOBJ object = AEntry.Object.load(std::memory_order_acquire))
        return object;
    TLockGuard guard(FLock);
    HGDIOBJ object = AEntry.Object.load(std::memory_order_relaxed);
    if (!object) {
        object = AMake(AEntry.Data);
        AEntry.Object.store(object, std::memory_order_release);
    }
    return object;
}

template <class TData>
std::size_t TResourceManager<TData>::EntryCount() noexcept
{
    TLockGuard guard(FLock);
    return FCount;
}

template <class TData>
std::size_t TResourceManager<TData>::IdleCount() noexcept
{
    TLockGuard guard(FLock);
    return FIdleCount;
}

template <class TData>
std::size_t TResourceManager<TData>::HeapAllocationCount() noexcept
{
    TLockGuard guard(FLock);
    return FHeapAllocations;
}

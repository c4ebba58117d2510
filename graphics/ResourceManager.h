// The module-wide pools of pen, brush and font entries, the stock objects that detaching leaves
// in a context, and the load and unload steps that make and destroy them. Private to the
// graphics unit, its tests and the module's start-up; it builds on the attribute records alone
// and knows nothing of the drawing surface.
#pragma once

#include <windows.h>

#include "graphics/GraphicsData.h"
#include "graphics/Locks.h"

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

// What every pool entry holds besides its record and its GDI object: enough to find it again and
// to know when it is free. Pens, brushes and fonts hand this out for tests and diagnostics.
struct TResource {
    std::size_t HashCode = 0;
    std::int32_t RefCount = 0; // users; guarded by the pool's lock
    DWORD Owner = 0;           // the thread that made the entry
};

// One pool entry of one kind. While in use the entry sits in its pool's hash chain; once its
// last user lets go it waits on the pool's free list to be used again, so that a steady stream
// of attribute changes makes no heap allocation.
template <class TData>
struct TResourceOf : TResource {
    // The kind's GDI handle: HPEN for pens, HBRUSH for brushes, HFONT for fonts.
    using THandle = decltype(TData::Handle);

    TResourceOf* FNext = nullptr; // the hash chain, or the free list (singly linked)
    TResourceOf* FPrev = nullptr;
    // The GDI object, none until a drawing operation first needs it. Read without the lock by
    // the object's users and written once under it, hence atomic.
    std::atomic<THandle> Object{nullptr};
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

// A pool of reference-counted entries keyed by thread and attribute record, guarded by its own
// recursive lock. Entries are found through a hash table of intrusive chains; the table grows
// only when the number of entries in use reaches a new peak.
template <class TData>
class TResourceManager {
public:
    using TEntry = TResourceOf<TData>;
    using THandle = typename TEntry::THandle;

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

    // The entry's GDI object, made by AMake(record) under the lock if the entry has none
    // (borrowed: the entry owns it). AMake returns the kind's handle; a null result is stored as
    // none, so the next call tries again.
    template <class TMake>
    THandle ObjectOf(TEntry& AEntry, TMake&& AMake);

    // Entries in use, entries waiting on the free list, and heap allocations ever made for
    // entries and the table.
    std::size_t EntryCount() noexcept;
    std::size_t IdleCount() noexcept;
    std::size_t HeapAllocationCount() noexcept;

private:
    static constexpr std::size_t InitialBucketCount = 16;

    static std::size_t KeyHash(DWORD AOwner, const TData& AData) noexcept;
    TEntry*& BucketOf(std::size_t AHash) noexcept { return FBuckets[AHash & (FBuckets.size() - 1)]; }
    void Link(TEntry* AEntry) noexcept;
    void Unlink(TEntry* AEntry) noexcept;
    void Grow();

    TCriticalSection FLock;
    std::vector<TEntry*> FBuckets; // size a power of two
    std::size_t FCount = 0;
    TEntry* FIdle = nullptr; // singly linked through FNext
    std::size_t FIdleCount = 0;
    std::size_t FHeapAllocations = 0;
};

// The brush pool; its entries may own a pattern bitmap, deleted with the entry.
using TBrushResourceManager = TResourceManager<TBrushData>;

// What the graphics unit makes at its load step and keeps until its unload step.
struct TGraphicsModule {
    TGraphicsModule() noexcept;

    // The pool of the kind whose record is TData.
    template <class TData>
    TResourceManager<TData>& Pool() noexcept
    {
        if constexpr (std::is_same_v<TData, TPenData>)
            return Pens;
        else if constexpr (std::is_same_v<TData, TBrushData>)
            return Brushes;
        else {
            static_assert(std::is_same_v<TData, TFontData>, "pens, brushes and fonts have pools");
            return Fonts;
        }
    }

    TResourceManager<TFontData> Fonts;
    TResourceManager<TPenData> Pens;
    TBrushResourceManager Brushes;
    HPEN StockPen;     // BLACK_PEN; stock objects are never deleted
    HBRUSH StockBrush; // NULL_BRUSH
    HFONT StockFont;   // SYSTEM_FONT
};

// The unit's load and unload steps. Loading fetches the stock pen, brush and font and makes the
// pools; unloading destroys the pools, deleting the GDI objects of entries still in use, and is
// the only teardown they ever get: nothing of the unit has a static destructor. Whoever hosts
// the unit runs them: the module from its start-up and shut-down, a test program around its
// tests. Unloading requires that no pen, brush or font of the unit is left to let go of its
// entry afterwards. Both may run more than once; each does nothing when there is nothing to do.
void LoadGraphicsUnit() noexcept;
void UnloadGraphicsUnit() noexcept;

// The unit's objects. One acquire load when the unit is loaded; otherwise (a use before any
// load step, or after an unload) the call loads it, once however many threads race for it.
TGraphicsModule& GraphicsModule() noexcept;

// --- TResourceManager ---

template <class TData>
TResourceManager<TData>::~TResourceManager()
{
    // Entries still in use belong to objects that outlived the module; their GDI objects go
    // with the pool rather than leak past the unload.
    for (TEntry*& head : FBuckets)
        while (TEntry* entry = head) {
            head = entry->FNext;
            TRetiredObjects{entry->Object.load(std::memory_order_relaxed), OwnedBitmapOf(entry->Data)}.Dispose();
            delete entry;
        }
    while (TEntry* entry = FIdle) {
        FIdle = entry->FNext;
        delete entry;
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
    TEntry*& head = BucketOf(AEntry->HashCode);
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
        BucketOf(AEntry->HashCode) = AEntry->FNext;
    if (AEntry->FNext)
        AEntry->FNext->FPrev = AEntry->FPrev;
    AEntry->FNext = AEntry->FPrev = nullptr;
}

template <class TData>
void TResourceManager<TData>::Grow()
{
    std::vector<TEntry*> buckets(FBuckets.size() * 2, nullptr);
    ++FHeapAllocations;
    FBuckets.swap(buckets);
    for (TEntry* head : buckets)
        while (TEntry* entry = head) {
            head = entry->FNext;
            Link(entry);
        }
}

template <class TData>
typename TResourceManager<TData>::TEntry* TResourceManager<TData>::AllocResource(const TData& AData)
{
    const DWORD owner = GetCurrentThreadId();
    const std::size_t hash = KeyHash(owner, AData);
    TLockGuard guard(FLock);
    for (TEntry* entry = BucketOf(hash); entry; entry = entry->FNext)
        if (entry->HashCode == hash && entry->Owner == owner && entry->Data == AData) {
            ++entry->RefCount;
            return entry;
        }
    // Everything that can fail comes before the pool changes.
    if (FCount >= FBuckets.size())
        Grow();
    TEntry* entry;
    if (FIdle) {
        entry = FIdle;
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
typename TResourceManager<TData>::THandle TResourceManager<TData>::ObjectOf(TEntry& AEntry, TMake&& AMake)
{
    if (THandle object = AEntry.Object.load(std::memory_order_acquire))
        return object;
    TLockGuard guard(FLock);
    THandle object = AEntry.Object.load(std::memory_order_relaxed);
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

// The pool on its own, with the attribute records and nothing of the drawing surface.
#include "graphics/ResourceManager.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

// The pool builds on the records alone. Were the surface's header reachable from the pool's, this
// alias would collide with the surface's class and the file would not compile.
using TCanvas = void;

namespace {

using TPenPool = TResourceManager<TPenData>;

TPenData PenOf(TColor AColor, std::int32_t AWidth = 1)
{
    TPenData data;
    data.Color = AColor;
    data.Width = AWidth;
    return data;
}

TEST(Pool, EqualRecordsShareAnEntryUntilTheLastUserLetsGo)
{
    TPenPool pool;
    auto* a = pool.AllocResource(PenOf(1));
    auto* b = pool.AllocResource(PenOf(1));
    auto* c = pool.AllocResource(PenOf(1, 2));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(a->RefCount, 2);
    EXPECT_EQ(pool.EntryCount(), 2u);

    int made = 0;
    const auto make = [&made](const TPenData& AData) {
        ++made;
        LOGPEN pen{PS_SOLID, {AData.Width, 0}, AData.Color};
        return CreatePenIndirect(&pen);
    };
    const HGDIOBJ object = pool.ObjectOf(*a, make);
    EXPECT_EQ(pool.ObjectOf(*b, make), object);
    EXPECT_EQ(made, 1);

    const TRetiredObjects first = pool.Retire(a);
    EXPECT_EQ(first.Object, nullptr) << "another user remains";
    TRetiredObjects last = pool.Retire(b);
    EXPECT_EQ(last.Object, object);
    last.Dispose();
    pool.FreeResource(c);
    pool.FreeResource(nullptr);
    EXPECT_EQ(pool.EntryCount(), 0u);
    EXPECT_EQ(pool.IdleCount(), 2u);
}

TEST(Pool, AnObjectThatCannotBeMadeIsTriedAgain)
{
    TPenPool pool;
    auto* entry = pool.AllocResource(PenOf(7));
    int attempts = 0;
    const auto refuse = [&attempts](const TPenData&) -> HPEN {
        ++attempts;
        return nullptr;
    };
    EXPECT_EQ(pool.ObjectOf(*entry, refuse), nullptr);
    EXPECT_EQ(pool.ObjectOf(*entry, refuse), nullptr);
    EXPECT_EQ(attempts, 2);
    pool.FreeResource(entry);
}

TEST(Pool, EntriesAreKeyedByThread)
{
    TPenPool pool;
    auto* mine = pool.AllocResource(PenOf(3));
    TPenPool::TEntry* theirs[2] = {};
    std::thread other([&] {
        theirs[0] = pool.AllocResource(PenOf(3));
        theirs[1] = pool.AllocResource(PenOf(3));
    });
    other.join();
    EXPECT_NE(theirs[0], mine);
    EXPECT_EQ(theirs[0], theirs[1]);
    EXPECT_EQ(theirs[0]->Owner, theirs[1]->Owner);
    EXPECT_NE(theirs[0]->Owner, mine->Owner);
    // Any thread may let go; the entry is still found by its maker's identity.
    pool.FreeResource(theirs[0]);
    pool.FreeResource(theirs[1]);
    EXPECT_EQ(pool.AllocResource(PenOf(3)), mine);
    pool.FreeResource(mine);
    pool.FreeResource(mine);
    EXPECT_EQ(pool.EntryCount(), 0u);
}

TEST(Pool, BrushEntriesDeleteTheBitmapTheyOwn)
{
    TBrushResourceManager pool;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, 4, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    for (bool owns : {false, true}) {
        void* bits = nullptr;
        const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        TBrushData data;
        data.Bitmap = bitmap;
        data.OwnsBitmap = owns;
        pool.FreeResource(pool.AllocResource(data));
        // A bitmap the entry owned is gone: deleting it again fails.
        EXPECT_EQ(DeleteObject(bitmap) != FALSE, !owns) << owns;
    }
}

// Equal records must hash equally (else a pool would not find its own entry again), and every
// field the records compare goes into the hash, so records that differ in one field spread over
// the table instead of sharing a chain.
TEST(Pool, EveryComparedFieldGoesIntoTheHash)
{
    const auto distinct = [](const auto& ARecords) {
        std::set<std::size_t> hashes;
        for (const auto& record : ARecords) {
            auto copy = record;
            EXPECT_EQ(ResourceHash(copy), ResourceHash(record));
            hashes.insert(ResourceHash(record));
        }
        return hashes.size();
    };
    // Each kind's default record, then one record per field changed from it.
    std::vector<TPenData> pens(5);
    pens[1].Handle = reinterpret_cast<HPEN>(std::uintptr_t{0x40});
    pens[2].Color = 1;
    pens[3].Width = 2;
    pens[4].Style = TPenStyle::psDash;
    EXPECT_EQ(distinct(pens), pens.size());

    std::vector<TBrushData> brushes(6);
    brushes[1].Handle = reinterpret_cast<HBRUSH>(std::uintptr_t{0x40});
    brushes[2].Color = 0;
    brushes[3].Bitmap = reinterpret_cast<HBITMAP>(std::uintptr_t{0x40});
    brushes[4].Style = TBrushStyle::bsClear;
    brushes[5].OwnsBitmap = true;
    EXPECT_EQ(distinct(brushes), brushes.size());

    std::vector<TFontData> fonts(6);
    fonts[1].Handle = reinterpret_cast<HFONT>(std::uintptr_t{0x40});
    fonts[2].Height = 12;
    fonts[3].Pitch = TFontPitch::fpFixed;
    fonts[4].Style = 1;
    fonts[5].Charset = 0;
    EXPECT_EQ(distinct(fonts), fonts.size());
}

// The pool against a plain map of counts, over seeded random traffic on one thread: the same
// entry for the same record while it has users, a count of entries that matches, and no entry
// made on the heap beyond the peak of entries in use.
TEST(Pool, BehavesAsAMapOfCountedRecords)
{
    TPenPool pool;
    struct Model {
        TPenPool::TEntry* Entry;
        int Users;
    };
    std::map<std::pair<TColor, std::int32_t>, Model> model;
    std::vector<TPenPool::TEntry*> held;
    std::mt19937 random(2024);
    std::size_t peak = 0;
    for (int step = 0; step < 20000; ++step) {
        if (held.empty() || random() % 5 < 3) {
            const TColor color = random() % 40;
            const std::int32_t width = static_cast<std::int32_t>(random() % 3);
            auto* entry = pool.AllocResource(PenOf(color, width));
            auto [it, fresh] = model.try_emplace({color, width}, Model{entry, 0});
            if (!fresh) {
                ASSERT_EQ(it->second.Entry, entry) << step;
            }
            ++it->second.Users;
            ASSERT_EQ(entry->RefCount, it->second.Users);
            held.push_back(entry);
        } else {
            const std::size_t index = random() % held.size();
            auto* entry = held[index];
            held[index] = held.back();
            held.pop_back();
            auto it = model.find({entry->Data.Color, entry->Data.Width});
            ASSERT_NE(it, model.end());
            if (--it->second.Users == 0)
                model.erase(it);
            pool.FreeResource(entry);
        }
        ASSERT_EQ(pool.EntryCount(), model.size());
        peak = std::max(peak, model.size());
    }
    // One initial table, the table's doublings up to the peak, and one entry per peak slot.
    std::size_t tables = 1;
    for (std::size_t buckets = 16; buckets <= peak; buckets *= 2)
        ++tables;
    EXPECT_LE(pool.HeapAllocationCount(), tables + peak);
    for (auto* entry : held)
        pool.FreeResource(entry);
    EXPECT_EQ(pool.EntryCount(), 0u);
}

TEST(Pool, ManyDistinctRecordsAreAllFoundAgain)
{
    TPenPool pool;
    std::vector<TPenPool::TEntry*> entries;
    for (TColor c = 0; c < 3000; ++c)
        entries.push_back(pool.AllocResource(PenOf(c)));
    for (TColor c = 0; c < 3000; ++c)
        ASSERT_EQ(pool.AllocResource(PenOf(c)), entries[c]);
    EXPECT_EQ(pool.EntryCount(), 3000u);
    for (TColor c = 0; c < 3000; ++c) {
        pool.FreeResource(entries[c]);
        pool.FreeResource(entries[c]);
    }
    EXPECT_EQ(pool.EntryCount(), 0u);
    const std::size_t allocations = pool.HeapAllocationCount();
    for (TColor c = 0; c < 3000; ++c)
        pool.FreeResource(pool.AllocResource(PenOf(c + 5000)));
    EXPECT_EQ(pool.HeapAllocationCount(), allocations) << "idle entries are used again";
}

} // namespace

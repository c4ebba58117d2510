// The leak check every test program runs (TestMain.cpp installs it): after each test, no GDI
// object of the Win32 stand-in is left that the test made, no delete of a selected object was
// refused during it (unless the test declares either, below), and every fake player it watches has all its references
// back. A test that leaves one of these fails, with what it left in the message.
#pragma once

#include "tools/lib/fakeplayer/FakePlayer.h"

#include <cstddef>
#include <memory>

namespace testing_support {

// Checks the ledger of a fake player at the end of the current test: every reference handed out
// must have come back and every string made must be destroyed. The ledger outlives its core, so
// a core destroyed by the test is still checked.
void WatchLedger(std::shared_ptr<const fakeplayer::TLedger> ALedger);
inline void Watch(const fakeplayer::TFakeCore& ACore)
{
    WatchLedger(ACore.SharedLedger());
}

// Says that the current test leaves ACount GDI objects of the stand-in behind on purpose; the
// check then expects exactly that many.
void ExpectGdiObjectsLeftBehind(std::size_t ACount);

// Says that the current test has ACount deletes of a selected object refused on purpose (the
// stand-in's own tests of that rule); the check then expects exactly that many.
void ExpectRefusedDeletes(std::size_t ACount);

// Adds the leak check to googletest's listeners (once per program, before RUN_ALL_TESTS).
void InstallLeakCheck();

} // namespace testing_support

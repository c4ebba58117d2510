#include "tests/support/LeakCheck.h"

#include <gtest/gtest.h>

#ifdef SELVANORE_TEST_STANDIN
#include <win32_standin.h>
#endif

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

namespace {

// googletest's listener, as its sample of a leak checker does it: counts taken when a test
// starts are compared when it ends, while the test's result is still open, so that a failure
// added here belongs to the test that left something.
class TLeakCheck final : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override
    {
        FLedgers.clear();
        FExpectedGdiObjects = 0;
        FExpectedRefusedDeletes = 0;
#ifdef SELVANORE_TEST_STANDIN
        FLiveObjects = StandInLiveObjectCount();
        FRefusedDeletes = StandInRefusedDeleteCount();
#endif
    }

    void OnTestEnd(const ::testing::TestInfo&) override
    {
#ifdef SELVANORE_TEST_STANDIN
        // Signed: a test may also free objects that an earlier test made.
        const auto left = static_cast<long long>(StandInLiveObjectCount()) - static_cast<long long>(FLiveObjects);
        if (left != static_cast<long long>(FExpectedGdiObjects))
            ADD_FAILURE() << "Leak check: the test left " << left << " GDI object(s) of the stand-in behind"
                          << (FExpectedGdiObjects ? ", not the " + std::to_string(FExpectedGdiObjects) + " it declared"
                                                  : std::string());
        const std::size_t refused = StandInRefusedDeleteCount() - FRefusedDeletes;
        if (refused != FExpectedRefusedDeletes)
            ADD_FAILURE() << "Leak check: " << refused
                          << " delete(s) of a GDI object still selected in a context were refused"
                          << (FExpectedRefusedDeletes
                                  ? ", not the " + std::to_string(FExpectedRefusedDeletes) + " the test declared"
                                  : std::string());
#endif
        for (const std::shared_ptr<const fakeplayer::TLedger>& ledger : FLedgers)
            if (!ledger->Balanced())
                ADD_FAILURE() << "Leak check: a player reference is left over:\n" << ledger->Report();
        FLedgers.clear();
        FExpectedGdiObjects = 0;
        FExpectedRefusedDeletes = 0;
    }

    void Watch(std::shared_ptr<const fakeplayer::TLedger> ALedger)
    {
        FLedgers.push_back(std::move(ALedger));
    }
    void ExpectObjects(std::size_t ACount)
    {
        FExpectedGdiObjects = ACount;
    }
    void ExpectRefused(std::size_t ACount)
    {
        FExpectedRefusedDeletes = ACount;
    }

private:
    std::vector<std::shared_ptr<const fakeplayer::TLedger>> FLedgers;
    std::size_t FExpectedGdiObjects = 0;
    std::size_t FExpectedRefusedDeletes = 0;
    std::size_t FLiveObjects = 0;
    std::size_t FRefusedDeletes = 0;
};

// The one listener, owned by googletest once installed.
TLeakCheck* Installed = nullptr;

TLeakCheck& Check()
{
    if (Installed == nullptr) {
        // A program without the shared main: the request cannot be honoured, and says so.
        ADD_FAILURE() << "Leak check: not installed in this test program (link the test-support main)";
        static TLeakCheck unused;
        return unused;
    }
    return *Installed;
}

} // namespace

void WatchLedger(std::shared_ptr<const fakeplayer::TLedger> ALedger)
{
    Check().Watch(std::move(ALedger));
}

void ExpectGdiObjectsLeftBehind(std::size_t ACount)
{
    Check().ExpectObjects(ACount);
}

void ExpectRefusedDeletes(std::size_t ACount)
{
    Check().ExpectRefused(ACount);
}

void InstallLeakCheck()
{
    if (Installed != nullptr)
        return;
    Installed = new TLeakCheck;
    ::testing::UnitTest::GetInstance()->listeners().Append(Installed); // googletest deletes it
}

} // namespace testing_support

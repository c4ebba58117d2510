// A unit-test program hosts the graphics unit as the module does: it runs the unit's load step before
// its first test, so that the stock objects and the pools exist before any surface is made and a
// test's first surface makes only its own calls. The unit is not unloaded afterwards: objects a
// test program keeps until its exit may still hold pool entries, so the pools stay reachable.
#include "graphics/ResourceManager.h"

#include <gtest/gtest.h>

namespace {

class TGraphicsUnitEnvironment : public ::testing::Environment {
public:
    void SetUp() override { LoadGraphicsUnit(); }
};

// googletest takes ownership of the environment and runs it around the whole program's tests.
[[maybe_unused]] ::testing::Environment* const GraphicsUnit =
    ::testing::AddGlobalTestEnvironment(new TGraphicsUnitEnvironment);

} // namespace

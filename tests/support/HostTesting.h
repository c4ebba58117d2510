// Helpers shared by the tests of the access layer.
#pragma once

#include "host/apiWrappers.h"
#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

// The message of the rtl::Exception that F raises; "" when it raises nothing. Any other
// exception fails the test.
template <class F>
std::string RaisedMessage(F&& AFunction)
{
    try {
        AFunction();
    } catch (const rtl::Exception& E) {
        return E.Message();
    } catch (...) {
        ADD_FAILURE() << "an exception other than rtl::Exception";
        return "<foreign exception>";
    }
    return "";
}

// Leaves HostCore empty around every test, whatever the test did with it.
class THostCoreTest : public ::testing::Test {
protected:
    void SetUp() override { TAIMPAPIWrappers::Finalize(); }
    void TearDown() override { TAIMPAPIWrappers::Finalize(); }
};

} // namespace testing_support

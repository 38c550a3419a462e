// The main of every test program: each case starts from a unit in the state
// the program starts in, so the cases pass in any order in one process
// (--gtest_shuffle) as they do one per process under ctest.
#include <gtest/gtest.h>

#include "runtime/app.h"

namespace {

class FreshUnit : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { app_reset(); }
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshUnit);
    return RUN_ALL_TESTS();
}

// The golden pictures of the test programs go through the product's screen
// check: exact match, NAME_err.png into the build folder, a missing
// reference fails.
#include "host/core/screen_check.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/core/png_file.h"
#include "support/unit_fixture.h"

namespace {

using norvane::testing::frame_matches_golden;

struct GoldenCase {
    const char* golden;  // under tests/
    const char* err;     // under the build folder's tests/
    const char* says;    // part of the failure message
    int err_width;       // the picture written: the screen, or screen and difference
};

// Compares, even in a run that updates the references (which would turn
// this test's wrong frame into a reference).
class GoldenPicture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* v = std::getenv(UPDATE))
            saved_ = v;
        ::unsetenv(UPDATE);
    }
    void TearDown() override
    {
        if (!saved_.empty())
            ::setenv(UPDATE, saved_.c_str(), 1);
    }
    static constexpr const char* UPDATE = "NORVANE_UPDATE_GOLDENS";
    std::string saved_;
};

TEST_F(GoldenPicture, AMismatchOrAMissingReferenceFailsWithItsPictureInTheBuildFolder)
{
    frame_buffer blue{};
    for (auto& p : blue.pixels)
        p = 0x001F;
    const GoldenCase cases[] = {
        {"host/core/golden/blank_start.png", "host/core/golden/blank_start_err.png", " pixels differ from '",
         GFX_WIDTH * 2},
        {"host/core/golden/no_such_picture.png", "host/core/golden/no_such_picture_err.png",
         "cannot read the reference '", GFX_WIDTH},
    };
    for (const GoldenCase& c : cases) {
        SCOPED_TRACE(c.golden);
        const std::filesystem::path err = std::filesystem::path(NORVANE_TEST_BIN_DIR) / c.err;
        std::filesystem::remove(err);
        const ::testing::AssertionResult result = frame_matches_golden(blue, c.golden);
        EXPECT_FALSE(result);
        EXPECT_NE(std::string(result.message()).find(c.says), std::string::npos) << result.message();
        EXPECT_NE(std::string(result.message()).find(err.string()), std::string::npos) << result.message();
        norvane::rgb_image picture;
        std::string why;
        ASSERT_TRUE(norvane::read_png(err.string(), picture, why)) << why;
        EXPECT_EQ(picture.width, c.err_width);
        std::filesystem::remove(err);
    }
    EXPECT_FALSE(std::filesystem::exists(norvane::testing::test_source_path("host/core/golden/no_such_picture.png")));
}

}  // namespace

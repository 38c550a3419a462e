// The settings save under failure: full disks, failing steps and kills at
// every step of the save. Whatever happens, the next start must find a valid
// generation in "eeprom.dat" or "eeprom.dat.old".
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/settings.h"
#include "support/unit_fixture.h"

namespace {

namespace fsys = std::filesystem;

// The byte a save changes: a circuit request no test of this file reads.
constexpr uint32_t CHANGED_BYTE = SETTINGS_OFS_CIRCUIT_REQUEST + 20;

// The fault hook's plan, shared with the forked child through the fork.
struct fault_plan {
    int failing_step = -1;  // an fs_step that fails every time, or -1
    int kill_at = -1;       // the step count at which the process ends
    bool kill_after_half_write = false;
    int steps = 0;
};
fault_plan plan;

bool fault_hook(fs_step step)
{
    ++plan.steps;
    if (plan.kill_at >= 0 && plan.steps >= plan.kill_at)
        ::_exit(0);
    if (plan.kill_after_half_write && step == FS_STEP_WRITE) {
        plan.kill_at = plan.steps + 1;  // half the bytes go out, then the end
        return true;
    }
    return int(step) == plan.failing_step;
}

class SettingsSave : public norvane::testing::UnitTest {
protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        plan = fault_plan{};
        fs_set_fault_hook(fault_hook);
        // A first start without files: the defaults, saved at once.
        nv_load();
        settings_load();
        settings_save();
        ASSERT_TRUE(fsys::exists(eeprom()));
    }
    void TearDown() override { fs_set_fault_hook(nullptr); }

    fsys::path config() const { return dir_.path() / "rootfs/app/data/config"; }
    fsys::path eeprom() const { return config() / "eeprom.dat"; }
    fsys::path eeprom_old() const { return config() / "eeprom.dat.old"; }

    // Changes the record and runs the once-per-second save.
    static void save_change(uint8_t value)
    {
        settings_work.set_byte(CHANGED_BYTE, value);
        settings_save();
    }

    // What the next start loads: true with the record's counter and changed
    // byte when the loaded image holds a valid record. The running unit's
    // image is left as it was.
    static ::testing::AssertionResult loads_valid(uint32_t* counter = nullptr, uint8_t* value = nullptr)
    {
        static uint8_t running[NV_SIZE];
        std::memcpy(running, nv_image, NV_SIZE);
        const fault_plan unit_plan = plan;
        plan = fault_plan{};  // the next start has a working disk
        nv_load();
        plan = unit_plan;
        const bool valid = nv_image_valid(nv_image);
        if (counter)
            *counter = uint32_t(nv_image[4] | nv_image[5] << 8 | nv_image[6] << 16 | nv_image[7] << 24);
        if (value)
            *value = nv_image[CHANGED_BYTE];
        std::memcpy(nv_image, running, NV_SIZE);
        if (!valid)
            return ::testing::AssertionFailure() << "no valid generation loads";
        return ::testing::AssertionSuccess();
    }

    // A start and one changed save in a child process under `child_plan`
    // (which ends it at some step); waits for it to end.
    static void save_in_child(uint8_t value, const fault_plan& child_plan)
    {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            nv_load();
            settings_load();
            plan = child_plan;
            save_change(value);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    }
};

// A full disk (or any step failing) again and again: every save fails, the
// last good generation stays loadable, the failure is said once, and the
// first save after the disk has room again stores the newest record. Before,
// the second failing save left both files empty and the next start took the
// defaults.
TEST_F(SettingsSave, FailingStepsKeepTheLastGoodGenerationAndRetry)
{
    const struct {
        const char* what;
        fs_step step;
    } kFailures[] = {
        {"write (disk full)", FS_STEP_WRITE},
        {"open", FS_STEP_OPEN},
        {"flush to disk", FS_STEP_SYNC},
        {"rename", FS_STEP_RENAME},
    };
    uint8_t value = 1;
    for (const auto& failure : kFailures) {
        SCOPED_TRACE(failure.what);
        save_change(value);
        uint32_t good_counter = 0;
        uint8_t good_value = 0;
        ASSERT_TRUE(loads_valid(&good_counter, &good_value));
        ASSERT_EQ(good_value, value);

        plan.failing_step = failure.step;
        ::testing::internal::CaptureStderr();
        for (int i = 0; i < 5; ++i)
            save_change(uint8_t(++value));
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(settings_save_pending());
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find("NV: saving the settings failed"), std::string::npos) << said;

        uint32_t counter = 0;
        uint8_t loaded = 0;
        ASSERT_TRUE(loads_valid(&counter, &loaded));
        EXPECT_EQ(counter, good_counter);
        EXPECT_EQ(loaded, good_value);
        EXPECT_FALSE(fsys::exists(config() / "eeprom.dat.new"));

        // Room again: the next save, with no change, stores the newest record.
        plan.failing_step = -1;
        settings_save();
        EXPECT_FALSE(settings_save_pending());
        ASSERT_TRUE(loads_valid(&counter, &loaded));
        EXPECT_EQ(loaded, value);
        EXPECT_GT(counter, good_counter);
        ++value;
    }
}

// An "eeprom.dat" cut short by an earlier failure must not be moved over the
// only good copy in "eeprom.dat.old" by the next save, even if that fails too.
TEST_F(SettingsSave, ShortCurrentFileIsNeverRotatedOverTheGoodOldOne)
{
    save_change(42);
    fsys::rename(eeprom(), eeprom_old());
    norvane::testing::write_file(eeprom(), std::string(100, '\0'));
    nv_load();
    settings_load();
    ASSERT_EQ(settings_work.byte(CHANGED_BYTE), 42);

    plan.failing_step = FS_STEP_WRITE;
    ::testing::internal::CaptureStderr();
    save_change(43);
    save_change(44);
    ::testing::internal::GetCapturedStderr();
    uint8_t loaded = 0;
    ASSERT_TRUE(loads_valid(nullptr, &loaded));
    EXPECT_EQ(loaded, 42);

    plan.failing_step = -1;
    save_change(45);
    ASSERT_TRUE(loads_valid(nullptr, &loaded));
    EXPECT_EQ(loaded, 45);
    EXPECT_EQ(fsys::file_size(eeprom_old()), NV_SIZE) << "the short file was rotated into .old";
}

// A kill before each step of the save, once and twice in a row, and a kill
// right after a half-written new generation: the next start always loads a
// valid generation, the one before the save or the one it wrote.
TEST_F(SettingsSave, KillAtEveryStepLeavesAValidGeneration)
{
    // How many steps one save takes.
    plan = fault_plan{};
    save_change(1);
    const int steps = plan.steps;
    ASSERT_GE(steps, 5);

    uint8_t value = 2;
    for (int first = 1; first <= steps + 1; ++first) {
        for (int second = 0; second <= steps + 1; ++second) {
            SCOPED_TRACE("kill before step " + std::to_string(first) + ", then " + std::to_string(second));
            uint32_t before = 0;
            ASSERT_TRUE(loads_valid(&before));
            for (int kill : {first, second}) {
                if (kill == 0)
                    continue;
                fault_plan kill_plan;
                kill_plan.kill_at = kill;
                save_in_child(value++, kill_plan);
            }
            uint32_t after = 0;
            ASSERT_TRUE(loads_valid(&after));
            EXPECT_GE(after, before);
            EXPECT_LE(after, before + 2);
        }
    }
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("killed after a half-written new generation");
        uint32_t before = 0;
        ASSERT_TRUE(loads_valid(&before));
        fault_plan half_write;
        half_write.kill_after_half_write = true;
        save_in_child(value++, half_write);
        uint32_t after = 0;
        ASSERT_TRUE(loads_valid(&after));
        EXPECT_EQ(after, before);
    }
}

// Kills at random moments of a child that saves without pause, 200 times.
TEST_F(SettingsSave, RandomKillsDuringSavesLeaveAValidGeneration)
{
    std::mt19937 random(15);
    std::uniform_int_distribution<int> delay_us(0, 3000);
    uint32_t last = 0;
    ASSERT_TRUE(loads_valid(&last));
    for (int i = 0; i < 200; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            fs_set_fault_hook(nullptr);
            nv_load();
            settings_load();
            for (uint8_t v = 0;; ++v)
                save_change(v);
        }
        ::usleep(useconds_t(delay_us(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
        uint32_t counter = 0;
        ASSERT_TRUE(loads_valid(&counter)) << "after kill " << i;
        EXPECT_GE(counter, last) << "an older generation came back after kill " << i;
        last = counter;
    }
}

}  // namespace

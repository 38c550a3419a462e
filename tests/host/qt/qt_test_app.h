// One QApplication per test process on the offscreen platform, with the
// per-user settings store in a temporary folder of its own.
#pragma once
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace norvane::testing {

class QtTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "norvane-qt-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        config_dir_ = pattern;
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("XDG_CONFIG_HOME", config_dir_.c_str(), 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override
    {
        app_.reset();
        std::error_code ec;
        std::filesystem::remove_all(config_dir_, ec);
    }

private:
    int argc_ = 1;
    char name_[16] = "norvane-test";
    char* argv_[2] = {name_, nullptr};
    std::string config_dir_;
    std::unique_ptr<QApplication> app_;
};

// Runs the event loop until `done` holds or `limit_ms` passed.
template <class Pred>
bool process_events_until(Pred done, int limit_ms = 3000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace norvane::testing

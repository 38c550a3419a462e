// The window on Qt's offscreen platform: menus, settings, Save Screen, the
// paint path, input, the exit request and the UART dialog.
#include "host/qt/simulator_app.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>
#include <QCheckBox>
#include <QComboBox>
#include <QStatusBar>
#include <QDockWidget>
#include <QMenuBar>
#include <QFile>
#include <QFileDialog>
#include <QTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QWheelEvent>
#include <QPushButton>
#include <QSettings>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

#include "gfx/gfx.h"
#include "host/bus/bus_peer.h"
#include "host/core/bus_decode.h"
#include "host/core/can_port_report.h"
#include "host/qt/bus_monitor.h"
#include "host/qt/installation_dock.h"
#include "host/qt/signal_quit.h"
#include "host/qt/uart_dialog.h"
#include "qt_test_app.h"
#include "model/model.h"
#include "platform/hal.h"
#include "screens/keys.h"
#include "support/unit_fixture.h"

namespace norvane {
namespace {

const auto* const g_qt = ::testing::AddGlobalTestEnvironment(new testing::QtTestEnvironment);

void store_raw(const char* name, const QByteArray& bytes)
{
    QSettings store("Norvane", "Simulator");
    store.setValue(name, bytes);
    store.sync();
}

QByteArray stored_raw(const char* name)
{
    return QSettings("Norvane", "Simulator").value(name).toByteArray();
}

QByteArray i32(int32_t v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

class SimulatorAppTest : public testing::UnitTest {
protected:
    void TearDown() override
    {
        app_.reset();
        QSettings("Norvane", "Simulator").clear();
        char why[256];
        if (port_on_virtual_bus_) {
            EXPECT_TRUE(hal_can_map_port(0, "kvaser", why, sizeof why)) << why;
        }
    }
    SimulatorApp& open_app()
    {
        app_ = std::make_unique<SimulatorApp>();
        return *app_;
    }
    // The window with the default installation on port 0 of the virtual
    // bus, shown.
    SimulatorApp& open_app_with_installation()
    {
        char why[256];
        EXPECT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
        port_on_virtual_bus_ = true;
        app_ = std::make_unique<SimulatorApp>(nullptr, nullptr, &installation_);
        app_->show();
        return *app_;
    }
    // What the window handed the unit acted: inputs act at the unit's next
    // millisecond, on its thread.
    static void unit_took_inputs(SimulatorApp& app)
    {
        const uint64_t from = app.unit_ms();
        ASSERT_TRUE(testing::process_events_until([&] { return app.unit_ms() >= from + 2; }));
    }
    // The check marks of all checkable items, in menu order.
    std::string checks() const
    {
        std::string out;
        for (const char* text : {"1:&1", "1:&2", "1:&4", "No Grid", "40 x 40", "20 x 20", "10 x 10", "5 x 5",
                                 "&Play", "P&ause"})
            out += app_->action(text)->isChecked() ? '1' : '0';
        return out;
    }

    std::unique_ptr<SimulatorApp> app_;
    const installation::description installation_ = installation::default_description();
    bool port_on_virtual_bus_ = false;
};

TEST_F(SimulatorAppTest, StartsWithTheDefaultsAndRunning)
{
    SimulatorApp& app = open_app();
    EXPECT_EQ(app.windowTitle(), "PC Simulator");
    EXPECT_EQ(app.view()->size(), QSize(407, 421));
    EXPECT_EQ(app.screen_rectangle(), (PanelRect{43, 60, 363, 300}));
    EXPECT_EQ(app.bezel().size(), QSize(407, 421));
    EXPECT_EQ(checks(), "1001000010");
    EXPECT_FALSE(app.is_paused());
    EXPECT_EQ(app.settings(), HostSettings{});
}

TEST_F(SimulatorAppTest, MenuCheckMarksFollowEachCommand)
{
    SimulatorApp& app = open_app();
    struct Step {
        const char* item;
        const char* checks;  // 1:1 1:2 1:4 | none 40 20 10 5 | play pause
    };
    const Step steps[] = {
        {"1:&2", "0101000010"},   {"1:&2", "0101000010"},   {"1:&4", "0011000010"},
        {"20 x 20", "0010010010"}, {"5 x 5", "0010000110"},  {"No Grid", "0011000010"},
        {"P&ause", "0011000001"},  {"P&ause", "0011000001"}, {"&Play", "0011000010"},
        {"1:&1", "1001000010"},   {"40 x 40", "1000100010"},
    };
    for (const Step& s : steps) {
        app.action(s.item)->trigger();
        EXPECT_EQ(checks(), s.checks) << "after " << s.item;
    }
    EXPECT_EQ(app.settings().grid_width, 40);
    // "No Grid" keeps the width.
    app.action("No Grid")->trigger();
    EXPECT_EQ(app.settings().grid_width, 40);
    EXPECT_EQ(app.settings().grid_enabled, 0);
}

TEST_F(SimulatorAppTest, ZoomSizesTheClient)
{
    SimulatorApp& app = open_app();
    app.apply_zoom(2);
    EXPECT_EQ(app.view()->size(), QSize(814, 842));
    EXPECT_EQ(app.screen_rectangle(), (PanelRect{86, 120, 726, 600}));
    EXPECT_EQ(app.grid_overlay().size(), QSize(640, 480));
    EXPECT_EQ(app.bezel().size(), QSize(814, 842));
    app.apply_zoom(4);
    EXPECT_EQ(app.view()->size(), QSize(1280, 960));
    EXPECT_EQ(app.screen_rectangle(), (PanelRect{0, 0, 1280, 960}));
    EXPECT_TRUE(app.bezel().isNull());
}

TEST_F(SimulatorAppTest, SettingsAreWrittenAtCloseAndReadAtStart)
{
    {
        SimulatorApp& app = open_app();
        app.apply_zoom(2);
        app.set_grid(true, 20);
        app.close();
    }
    EXPECT_EQ(stored_raw("ZoomFactor"), i32(2));
    EXPECT_EQ(stored_raw("GridEnabled"), i32(1));
    EXPECT_EQ(stored_raw("GridWidth"), i32(20));
    EXPECT_EQ(stored_raw("COMPort"), QByteArray(1, '\0'));
    EXPECT_EQ(stored_raw("COMPortConnected"), i32(0));
    EXPECT_EQ(stored_raw("MainWindowTopLeft").size(), 8);

    app_.reset();
    SimulatorApp& again = open_app();
    EXPECT_EQ(again.settings().zoom, 2);
    EXPECT_EQ(again.settings().grid_enabled, 1);
    EXPECT_EQ(again.settings().grid_width, 20);
    EXPECT_EQ(again.view()->size(), QSize(814, 842));
    EXPECT_EQ(checks(), "0100010010");
}

TEST_F(SimulatorAppTest, InvalidStoredValuesFallBackToTheDefaults)
{
    store_raw("ZoomFactor", i32(0));
    store_raw("GridEnabled", i32(1));
    store_raw("GridWidth", i32(0));
    store_raw("COMPort", QByteArray(1, char(77)));
    store_raw("MainWindowTopLeft", i32(-90000) + i32(-90000));
    SimulatorApp& app = open_app();
    EXPECT_EQ(app.settings().zoom, 1);
    EXPECT_EQ(app.settings().grid_width, 10);
    EXPECT_EQ(app.settings().grid_enabled, 1);
    EXPECT_EQ(app.settings().com_port, 0);
    EXPECT_EQ(app.settings().left, DEFAULT_WINDOW_POSITION);
    EXPECT_EQ(checks(), "1000001010");
    EXPECT_FALSE(app.view()->grab().isNull());  // paints with the grid
}

TEST_F(SimulatorAppTest, SaveScreenWritesTheScreenOnlyAndReportsFailures)
{
    SimulatorApp& app = open_app();
    app.set_grid(true, 10);
    std::vector<QString> errors;
    app.show_error = [&](const QString&, const QString& text) { errors.push_back(text); };
    const QString bmp = QString::fromStdString((dir_ / "screen.bmp").string());
    const QString png = QString::fromStdString((dir_ / "screen.png").string());
    QString answer;
    app.ask_save_name = [&] {
        EXPECT_TRUE(app.is_paused()) << "Save Screen pauses while the dialog is open";
        return answer;
    };

    answer = bmp;
    app.save_screen();
    EXPECT_FALSE(app.is_paused()) << "the previous state comes back";
    QFile file(bmp);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 307254);
    EXPECT_TRUE(bytes.startsWith("BM"));

    answer = png;
    app.save_screen();
    QFile png_file(png);
    ASSERT_TRUE(png_file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(png_file.readAll().startsWith("\x89PNG"));

    answer = QString::fromStdString((dir_ / "no-such-folder" / "x.bmp").string());
    app.save_screen();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(answer)) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("No such file or directory")) << errors[0].toStdString();

    // Cancelled: nothing written, a paused simulation stays paused.
    app.pause();
    answer.clear();
    app.save_screen();
    EXPECT_TRUE(app.is_paused());
    EXPECT_EQ(errors.size(), 1u);
}

// The screen image is the front frame converted; at zoom 2 every unit pixel
// is a sharp 2 x 2 square, and the grid blends over it.
TEST_F(SimulatorAppTest, PaintShowsTheFrameReplicatedWithTheGridOverIt)
{
    SimulatorApp& app = open_app();
    app.pause();  // the firmware no longer composes
    app.apply_zoom(2);
    frame_buffer& front = gfx_output[gfx_output_index()];
    front.pixels[0] = 0xF800;
    front.pixels[1] = 0x001F;
    front.pixels[GFX_WIDTH * (GFX_HEIGHT - 1)] = 0x0000;
    app.take_frame();
    QImage shot = app.view()->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(814, 842));
    for (const QPoint p : {QPoint(86, 120), QPoint(87, 121)})
        EXPECT_EQ(shot.pixel(p), qRgb(0xF8, 0, 0));
    EXPECT_EQ(shot.pixel(88, 120), qRgb(0, 0, 0xF8));
    EXPECT_EQ(shot.pixel(89, 121), qRgb(0, 0, 0xF8));

    // Grid at 10: the bottom row of the screen carries the dotted line;
    // a grid pixel over black becomes 127.
    app.set_grid(true, 10);
    shot = app.view()->grab().toImage();
    EXPECT_EQ(shot.pixel(86, 599), qRgb(127, 127, 127));
    EXPECT_EQ(shot.pixel(87, 599), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(86, 120), qRgb(0xF8, 0, 0)) << "the top row has no grid";
}

TEST_F(SimulatorAppTest, KeysAndClicksSetTheButtonLevels)
{
    SimulatorApp& app = open_app();
    key_input_mask.store(0);
    QKeyEvent f3_down(QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier);
    QCoreApplication::sendEvent(app.view(), &f3_down);
    EXPECT_TRUE(testing::process_events_until([] { return key_input_mask.load() == 0x04; }));
    QKeyEvent f3_up(QEvent::KeyRelease, Qt::Key_F3, Qt::NoModifier);
    QCoreApplication::sendEvent(app.view(), &f3_up);
    // The release waits for the tick that samples the press.
    EXPECT_TRUE(testing::process_events_until([] { return key_input_mask.load() == 0x00; }));

    auto mouse = [&](QEvent::Type type, QPoint at) {
        QMouseEvent e(type, at, app.view()->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(app.view(), &e);
    };
    mouse(QEvent::MouseButtonPress, QPoint(65, 370));  // just left of button 1
    EXPECT_EQ(key_input_mask.load(), 0x00);
    const QRgb up = app.view()->grab().toImage().pixel(327, 372);
    mouse(QEvent::MouseButtonPress, QPoint(327, 372));
    EXPECT_TRUE(testing::process_events_until([] { return key_input_mask.load() == 0x10; }));
    const QRgb down = app.view()->grab().toImage().pixel(327, 372);
    EXPECT_LT(qGray(down), qGray(up)) << "drawn pressed in";
    // Released off the zone: the button comes up all the same.
    mouse(QEvent::MouseButtonRelease, QPoint(200, 200));
    EXPECT_TRUE(testing::process_events_until([] { return key_input_mask.load() == 0x00; }));
}

// A held button whose release went elsewhere would stay down, turn into a
// long press after 2 s and block every other button: whatever takes the
// keyboard away lets go of it.
TEST_F(SimulatorAppTest, HeldButtonGoesUpWhenTheKeyboardGoesElsewhere)
{
    SimulatorApp& app = open_app();
    app.show();
    QMenu menu;
    menu.addAction("an item");
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"window deactivated",
         [&] {
             QEvent e(QEvent::WindowDeactivate);
             QCoreApplication::sendEvent(&app, &e);
         }},
        {"a menu pops up", [&] { menu.popup(QPoint(10, 10)); }},
        {"the release arrives in the menu",
         [&] {
             QKeyEvent up(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
             QCoreApplication::sendEvent(&menu, &up);
         }},
    };
    for (const auto& [name, take_keyboard] : cases) {
        SCOPED_TRACE(name);
        menu.hide();
        ASSERT_TRUE(testing::process_events_until([] { return key_input_mask.load() == 0; }));
        QKeyEvent down(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
        QCoreApplication::sendEvent(app.view(), &down);
        EXPECT_TRUE(testing::process_events_until([] { return key_input_mask.load() == 0x02; }));
        take_keyboard();
        EXPECT_TRUE(testing::process_events_until([] { return key_input_mask.load() == 0; }));
    }
}

// The main loop waits until its last frame was taken. A window that is never
// painted (minimised, hidden) still takes every frame, so the unit keeps
// sending its 100 ms output commands.
TEST_F(SimulatorAppTest, UnpaintedWindowKeepsTheUnitSendingOnItsBus)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
    SimulatorApp& app = open_app();  // never shown, so never painted
    ASSERT_TRUE(testing::process_events_until([&] { return app.runner_stats().main_steps >= 16; }, 5000))
        << "the main loop stopped after " << app.runner_stats().main_steps << " steps";
    can_port_status status{};
    can_port_get_status(0, &status);
    EXPECT_EQ(status.state, CAN_PORT_OPEN);
    EXPECT_GE(status.sent, 8u * 3) << "three rounds of the eight output commands";
}

TEST_F(SimulatorAppTest, TerminationSignalClosesTheWindowAndKeepsTheSettings)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        SimulatorApp& app = open_app();
        SignalQuit quit([&app](int) { app.close(); });
        app.show();
        app.apply_zoom(2);
        ASSERT_EQ(::raise(signal), 0);
        ASSERT_TRUE(testing::process_events_until([&] { return !app.isVisible(); }));
        EXPECT_EQ(stored_raw("ZoomFactor"), i32(2));
        // A second signal would take its usual course (a close that hangs).
        struct sigaction now{};
        ::sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
        app_.reset();
        QSettings("Norvane", "Simulator").clear();
    }
}

TEST_F(SimulatorAppTest, StatusBarShowsEachPortTheRunningTimeAndPause)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
    ASSERT_TRUE(hal_can_map_port(1, "trace:/no/such/file", why, sizeof why)) << why;
    const bool check[CAN_PORT_COUNT] = {true, true};
    app_ = std::make_unique<SimulatorApp>(nullptr, check);
    SimulatorApp& app = *app_;
    ASSERT_EQ(app.can_port_lines().size(), 2u);
    EXPECT_EQ(app.can_port_lines()[0], "CAN port 0: virtual: open");
    EXPECT_EQ(app.can_port_lines()[1],
              "CAN port 1: trace:/no/such/file: not open: cannot open /no/such/file: No such file or directory");
    app.update_status();
    EXPECT_TRUE(app.port_status(0)->text().startsWith("CAN0 virtual: open, ")) << app.port_status(0)->text().toStdString();
    EXPECT_TRUE(app.port_status(1)->text().contains("not open: cannot open /no/such/file"));
    EXPECT_FALSE(app.pause_status()->isVisibleTo(&app));
    app.pause();
    EXPECT_TRUE(app.pause_status()->isVisibleTo(&app));
    EXPECT_EQ(app.pause_status()->text(), "Paused");
    app.play();
    EXPECT_FALSE(app.pause_status()->isVisibleTo(&app));
    EXPECT_FALSE(app.time_status()->text().isEmpty());
    // Save Screen pauses while its dialog is open, and says so.
    bool paused_shown = false;
    app.ask_save_name = [&] {
        paused_shown = app.pause_status()->isVisibleTo(&app);
        return QString();
    };
    app.save_screen();
    EXPECT_TRUE(paused_shown);
    EXPECT_FALSE(app.pause_status()->isVisibleTo(&app));

    // Zoom, grid and play/pause are each one exclusive choice.
    for (const char* text : {"1:&1", "No Grid", "&Play"}) {
        ASSERT_NE(app.action(text)->actionGroup(), nullptr) << text;
        EXPECT_EQ(app.action(text)->actionGroup()->exclusionPolicy(), QActionGroup::ExclusionPolicy::Exclusive);
    }
}

TEST_F(SimulatorAppTest, FirmwareExitRequestClosesTheWindowAndKeepsTheSettings)
{
    SimulatorApp& app = open_app();
    app.show();
    app.apply_zoom(2);
    sys_request_exit(3);
    ASSERT_TRUE(testing::process_events_until([&] { return !app.isVisible(); }));
    EXPECT_EQ(stored_raw("ZoomFactor"), i32(2));
}

class UartDialogTest : public SimulatorAppTest {
protected:
    void SetUp() override
    {
        SimulatorAppTest::SetUp();
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
    }
    void TearDown() override
    {
        SimulatorAppTest::TearDown();
        ::close(master_);
    }
    int master_ = -1;
};

TEST_F(UartDialogTest, OpensAndClosesTheChosenPort)
{
    SimulatorApp& app = open_app();
    SerialLink& link = app.serial_link();
    link.set_device_path(1, ::ptsname(master_));
    link.set_device_path(2, "/nonexistent/tty");
    {
        UartDialog dialog(link, &app);
        EXPECT_EQ(dialog.windowTitle(), "UART Setup");
        ASSERT_EQ(dialog.port_combo()->count(), 10);
        EXPECT_EQ(dialog.port_combo()->itemText(0), "1");
        EXPECT_EQ(dialog.port_combo()->itemText(9), "10");
        EXPECT_EQ(dialog.port_combo()->currentIndex(), -1) << "no port chosen yet";
        EXPECT_EQ(dialog.status_label()->text(), "COM port closed");
        EXPECT_EQ(dialog.toggle_button()->text(), "Open Port");

        EXPECT_FALSE(dialog.device_combo()->isEnabled()) << "no COM number chosen";

        dialog.port_combo()->setCurrentIndex(1);  // COM2: no such device
        EXPECT_EQ(dialog.device_combo()->currentText(), "/nonexistent/tty");
        dialog.toggle_button()->click();
        EXPECT_EQ(dialog.status_label()->text(), "COM port closed");
        EXPECT_EQ(dialog.reason_label()->text(), "Cannot open: /nonexistent/tty: No such file or directory");
        EXPECT_EQ(dialog.toggle_button()->text(), "Open Port");
        EXPECT_TRUE(dialog.port_combo()->isEnabled());
        dialog.port_combo()->setCurrentIndex(2);
        EXPECT_EQ(dialog.device_combo()->currentText(), "/dev/ttyS2") << "COM3's own device";

        // COM1 gets the pseudo-terminal typed into the device box.
        link.set_device_path(1, "");
        dialog.port_combo()->setCurrentIndex(0);
        EXPECT_EQ(dialog.device_combo()->currentText(), "/dev/ttyS0");
        dialog.device_combo()->setEditText(::ptsname(master_));
        dialog.toggle_button()->click();
        EXPECT_EQ(dialog.reason_label()->text(), "");
        EXPECT_EQ(link.device_path(1), std::string(::ptsname(master_)));
        EXPECT_EQ(dialog.status_label()->text(), "COM1 port open");
        EXPECT_EQ(dialog.device_label()->text(), QString(::ptsname(master_)));
        EXPECT_EQ(dialog.toggle_button()->text(), "Close Port");
        EXPECT_FALSE(dialog.port_combo()->isEnabled());
    }
    // Opening the dialog again shows the open port.
    {
        UartDialog dialog(link, &app);
        EXPECT_EQ(dialog.status_label()->text(), "COM1 port open");
        EXPECT_EQ(dialog.port_combo()->currentIndex(), 0);
        EXPECT_FALSE(dialog.port_combo()->isEnabled());
        dialog.toggle_button()->click();
        EXPECT_EQ(dialog.status_label()->text(), "COM port closed");
        EXPECT_EQ(dialog.toggle_button()->text(), "Open Port");
        EXPECT_TRUE(dialog.port_combo()->isEnabled());
        EXPECT_FALSE(link.is_open());
    }
    // The port number is kept with the settings.
    app.close();
    EXPECT_EQ(stored_raw("COMPort"), QByteArray(1, '\1'));
    EXPECT_EQ(stored_raw("COMPortConnected"), i32(0));
    EXPECT_EQ(QSettings("Norvane", "Simulator").value("COMPortDevice1").toString(), QString(::ptsname(master_)));
    EXPECT_FALSE(QSettings("Norvane", "Simulator").contains("COMPortDevice3"));
}

// A failed open's reason is shown whole, wrapped over as many lines as it
// needs: the dialog grows for it and shrinks back when the port opens.
TEST_F(UartDialogTest, CannotOpenReasonIsShownWholeAndWrapped)
{
    SimulatorApp& app = open_app();
    SerialLink& link = app.serial_link();
    const std::string missing = "/nonexistent/a folder that is not there/and another one below it/ttyUSB0";
    link.set_device_path(2, missing);
    link.set_device_path(1, ::ptsname(master_));
    UartDialog dialog(link, &app);
    dialog.show();
    const QSize closed = dialog.size();
    dialog.port_combo()->setCurrentIndex(1);
    dialog.toggle_button()->click();
    QCoreApplication::processEvents();
    QLabel* reason = dialog.reason_label();
    ASSERT_EQ(reason->text().toStdString(), "Cannot open: " + missing + ": No such file or directory");
    EXPECT_TRUE(reason->isVisible());
    EXPECT_TRUE(reason->wordWrap());
    // All its lines fit its box, and the box lies within the dialog.
    EXPECT_GE(reason->height(), reason->heightForWidth(reason->width()));
    EXPECT_GT(reason->heightForWidth(reason->width()), 2 * reason->fontMetrics().height()) << "wrapped";
    const QRect inside(reason->mapTo(&dialog, QPoint(0, 0)), reason->size());
    EXPECT_TRUE(dialog.rect().contains(inside)) << inside.bottom() << " below " << dialog.height();
    EXPECT_EQ(dialog.width(), closed.width()) << "it grows downwards";
    EXPECT_GT(dialog.height(), closed.height());
    const int grown = dialog.height();

    dialog.port_combo()->setCurrentIndex(0);
    dialog.toggle_button()->click();
    QCoreApplication::processEvents();
    ASSERT_TRUE(link.is_open());
    EXPECT_FALSE(reason->isVisible());
    EXPECT_TRUE(dialog.device_label()->isVisible()) << "the open device in its place";
    EXPECT_LT(dialog.height(), grown);
    EXPECT_EQ(dialog.width(), closed.width());
}

// The unit's command frames reach the bus monitor dock, which View > Bus
// Monitor shows and hides.
TEST_F(SimulatorAppTest, BusMonitorShowsTheFramesTheUnitSends)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
    SimulatorApp& app = open_app();
    app.show();
    BusMonitorDock* dock = app.bus_monitor();
    ASSERT_NE(dock, nullptr);
    EXPECT_FALSE(dock->isVisible());
    app.action("Bus &Monitor")->trigger();
    EXPECT_TRUE(dock->isVisible());
    const auto has_command = [&] {
        for (int row = 0; row < dock->model().rowCount(); ++row) {
            const BusMonitorFrame& f = dock->model().row(static_cast<size_t>(row));
            // In the unit's time, from the unit (a command goes out at 100 ms at the earliest).
            if (f.sent && f.port == 0 && bus_decode_frame(f.frame).message == "MSG_OUTPUT_COMMAND")
                return f.frame.time_us >= 100000 && f.frame.time_us <= uint64_t(hal_ms_clock()) * 1000 &&
                       f.source == BusSource::unit;
        }
        return false;
    };
    EXPECT_TRUE(testing::process_events_until(has_command, 5000));
    app_.reset();
    EXPECT_TRUE(hal_can_map_port(0, "kvaser", why, sizeof why)) << why;
}

// With the installation, a click on a rocker of the panel puts the switch's
// MSG_INPUT_CHANNEL frame on the bus, seen by the monitor as going to the
// unit, and the unit takes it.
TEST_F(SimulatorAppTest, InstallationRockerClickReachesTheBus)
{
    SimulatorApp& app = open_app_with_installation();
    const installation::description& layout = installation_;
    ASSERT_NE(app.installation_panel(), nullptr);
    EXPECT_TRUE(app.installation_panel()->isVisible());
    EXPECT_TRUE(app.bus_monitor()->isVisible());
    int senb = -1, channel = -1;
    for (int m = 0; m < installation::SWITCH_MODULES && senb < 0; ++m)
        for (int c = 0; c < installation::INPUT_CHANNELS; ++c)
            if (layout.channels[m][c].kind == installation::channel_kind::rocker) {
                senb = m;
                channel = c;
                break;
            }
    ASSERT_GE(senb, 0);
    QPushButton* rocker = app.installation_panel()->switch_button(senb, channel);
    ASSERT_TRUE(rocker->isCheckable());
    rocker->click();
    unit_took_inputs(app);
    EXPECT_EQ(app.installation_plant()->read().switch_on[senb][channel], 1);
    const uint32_t id = 0x18FF0000u + uint32_t(channel) * 256u + 0x80u + uint32_t(senb);
    const auto switched_on = [&] {
        for (int row = 0; row < app.bus_monitor()->model().rowCount(); ++row) {
            const BusMonitorFrame& f = app.bus_monitor()->model().row(static_cast<size_t>(row));
            // A module's frame, with the unit's time at which it reached the bus.
            if (!f.sent && f.frame.id == id && f.frame.data[2] != 0)
                return f.source == BusSource::module && f.frame.time_us > 0 &&
                       f.frame.time_us <= uint64_t(hal_ms_clock()) * 1000;
        }
        return false;
    };
    EXPECT_TRUE(testing::process_events_until(switched_on, 5000));
    EXPECT_TRUE(testing::process_events_until([] {
        can_port_status status{};
        can_port_get_status(0, &status);
        return status.received > 0;
    }, 5000));
}

// With the installation the window and its docks fit the screen, or are no
// larger than the unit alone at the zooms where the unit itself is larger; a
// laptop screen at zoom 1 shows the panel and the monitor side by side with
// the unit, and a zoom back from docks in windows of their own docks them
// again.
TEST_F(SimulatorAppTest, InstallationWindowFitsTheScreen)
{
    using Arrangement = SimulatorApp::DockArrangement;
    SimulatorApp& app = open_app_with_installation();
    struct Case {
        QSize screen;
        int zoom;
        std::vector<Arrangement> allowed;
    };
    const Case cases[] = {
        {{1920, 1080}, 1, {Arrangement::beside}},
        {{1366, 768}, 1, {Arrangement::beside, Arrangement::monitor_below}},
        {{1280, 720}, 1, {Arrangement::beside, Arrangement::monitor_below}},
        {{1920, 1080}, 2, {Arrangement::monitor_below, Arrangement::tabbed}},
        {{1366, 768}, 2, {Arrangement::tabbed, Arrangement::floating}},
        {{1366, 768}, 4, {Arrangement::floating}},
        {{1366, 768}, 1, {Arrangement::beside, Arrangement::monitor_below}},
    };
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.screen.width()) + "x" + std::to_string(c.screen.height()) +
                                 " at zoom " + std::to_string(c.zoom);
        const QRect screen(QPoint(0, 0), c.screen);
        app.apply_zoom(c.zoom);
        const Arrangement arrangement = app.fit_docks(screen);
        EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), arrangement), c.allowed.end())
            << name << ": arrangement " << int(arrangement);
        const QSize alone = app.view()->size() + QSize(0, app.menuBar()->height() + SimulatorApp::STATUS_BAR_HEIGHT);
        // The window with its frame fits the screen at every zoom: where the
        // unit is larger, its view scrolls (the bezel's buttons and the
        // status bar stay reachable).
        const QSize room = c.screen - (app.frameGeometry().size() - app.geometry().size());
        EXPECT_LE(app.width(), room.width()) << name;
        EXPECT_LE(app.height(), room.height()) << name;
        EXPECT_TRUE(screen.contains(app.geometry().topLeft())) << name;
        for (QDockWidget* dock : {static_cast<QDockWidget*>(app.installation_panel()),
                                  static_cast<QDockWidget*>(app.bus_monitor())}) {
            EXPECT_EQ(dock->isFloating(), arrangement == Arrangement::floating) << name;
            if (dock->isFloating()) {
                EXPECT_TRUE(screen.contains(dock->geometry())) << name << ": " << dock->objectName().toStdString();
            } else if (arrangement != Arrangement::tabbed) {
                EXPECT_TRUE(dock->isVisible()) << name << ": " << dock->objectName().toStdString();
            }
        }
        if (arrangement == Arrangement::floating) {
            EXPECT_EQ(app.size(), alone.boundedTo(room)) << name;
        }
        // Below the unit the monitor is short: its details stand beside the tables.
        EXPECT_EQ(app.bus_monitor()->findChild<QSplitter*>()->orientation(),
                  arrangement == Arrangement::monitor_below ? Qt::Horizontal : Qt::Vertical)
            << name;
    }
}

// With the installation the window's bus server carries the whole bus: a
// client gets the modules' frames beside the unit's, its own frames reach
// the others through the hub (the monitor shows them going to the unit), and
// the window closes with the client still connected.
TEST_F(SimulatorAppTest, InstallationBusServerCarriesTheWholeBus)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
    const installation::description layout = installation::default_description();
    app_ = std::make_unique<SimulatorApp>(nullptr, nullptr, &layout);
    std::string listening, error;
    ASSERT_TRUE(app_->start_bus_server(
        "127.0.0.1", 0, 0,
        [&listening](const std::string& line) {
            if (line.find("listening on 127.0.0.1:") != std::string::npos)
                listening = line;  // said by start_bus_server, on this thread
        },
        error))
        << error;
    const size_t colon = listening.find("127.0.0.1:");
    ASSERT_NE(colon, std::string::npos);
    const std::string address = listening.substr(colon, listening.find(' ', colon) - colon);
    testing::BusPeer client(uint16_t(std::stoi(listening.substr(colon + 10))));
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.open_raw());
    // The status bar says where the server listens; its tooltip names the
    // clients and what they do.
    QLabel* server = app_->server_status();
    ASSERT_NE(server, nullptr);
    EXPECT_TRUE(testing::process_events_until([&] {
        app_->update_status();
        return server->toolTip().contains(QString::fromStdString(client.local_address() + " (raw mode)"));
    }, 5000)) << server->toolTip().toStdString();
    EXPECT_TRUE(server->isVisibleTo(app_.get()));
    EXPECT_EQ(server->text().toStdString(), "Bus server " + address + ": 1 client");
    // The unit steps while the window takes its frames.
    const auto client_gets = [&client](const char* text) {
        return testing::process_events_until([&] { return client.wait_for(text, 10); }, 5000);
    };
    EXPECT_TRUE(client_gets("< frame 18FFA0B7 "));  // PWRB8's status, from the installation
    EXPECT_TRUE(client_gets("< frame 18EFB700 "));  // the unit's command to it

    client.send("< send 18FEEE99 2 aa bb >");
    const auto monitor_shows_it = [&] {
        for (int row = 0; row < app_->bus_monitor()->model().rowCount(); ++row) {
            const BusMonitorFrame& f = app_->bus_monitor()->model().row(static_cast<size_t>(row));
            if (!f.sent && f.frame.id == 0x18FEEE99u && f.frame.data[1] == 0xBB)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(testing::process_events_until(monitor_shows_it, 5000));
    app_.reset();
    EXPECT_TRUE(client.closed_by_server());
    EXPECT_TRUE(hal_can_map_port(0, "kvaser", why, sizeof why)) << why;
}

// The window can be made larger (or maximised): the unit keeps its zoom and
// stays whole in the middle; a dock shown again from the View menu makes
// room for itself without reaching past the screen.
TEST_F(SimulatorAppTest, WindowResizesAroundTheUnitAndFitsAfterEveryChange)
{
    SimulatorApp& app = open_app_with_installation();
    const QSize unit = app.view()->size();
    const QSize before = app.size();
    app.resize(before + QSize(300, 200));
    EXPECT_EQ(app.size(), before + QSize(300, 200)) << "resizable";
    EXPECT_EQ(app.view()->size(), unit) << "the unit keeps its zoom";
    const QRect screen = app.screen()->availableGeometry();
    app.move(screen.right() - 100, screen.top());
    for (QAction* toggle : {app.bus_monitor()->toggleViewAction(), app.installation_panel()->toggleViewAction()}) {
        for (int i = 0; i < 2; ++i) {
            toggle->trigger();
            QCoreApplication::processEvents();
            const QRect outer = app.frameGeometry();
            EXPECT_TRUE(screen.contains(outer)) << toggle->text().toStdString() << " toggled " << i + 1
                                                << " time(s): " << outer.x() << "," << outer.y() << " "
                                                << outer.width() << "x" << outer.height();
        }
    }
}

// Save... in the bus monitor gives a bare name the ".log" of a CAN log.
TEST_F(SimulatorAppTest, BusMonitorSaveAddsTheLogSuffixToABareName)
{
    SimulatorApp& app = open_app_with_installation();
    testing::TempDir dir;
    const QString bare = QString::fromStdString((dir / "bus").string());
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(bare);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    app.bus_monitor()->findChild<QPushButton*>("busSave")->click();
    EXPECT_TRUE(QFile::exists(bare + ".log"));
    EXPECT_FALSE(QFile::exists(bare));
}

// Escape in a dock's edit box cancels the edit; the simulator closes from
// the keyboard only with the unit's view holding it, and with an
// installation running only once the user says so.
TEST_F(SimulatorAppTest, EscapeClosesOnlyFromTheUnitsViewAndAsksWithAnInstallation)
{
    SimulatorApp& app = open_app_with_installation();
    const auto escape_to = [](QWidget* target) {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &esc);
        QCoreApplication::processEvents();
    };
    const std::pair<const char*, QWidget*> elsewhere[] = {
        {"the fault state box", app.installation_panel()->fault_state()},
        {"the fault output combo", app.installation_panel()->fault_output()},
        {"the window itself (after a menu closed)", &app},
        {"the bus monitor", app.bus_monitor()},
    };
    for (const auto& [name, target] : elsewhere) {
        escape_to(target);
        EXPECT_TRUE(app.isVisible()) << name;
        EXPECT_EQ(app.findChild<QMessageBox*>("quitQuestion"), nullptr) << name;
    }
    escape_to(app.view());
    auto* question = app.findChild<QMessageBox*>("quitQuestion");
    ASSERT_NE(question, nullptr);
    question->button(QMessageBox::No)->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(app.isVisible());
    escape_to(app.view());
    question = app.findChild<QMessageBox*>("quitQuestion");
    ASSERT_NE(question, nullptr);
    question->button(QMessageBox::Yes)->click();
    EXPECT_TRUE(testing::process_events_until([&] { return !app.isVisible(); }));
}

TEST_F(SimulatorAppTest, EscapeOnTheUnitsViewClosesAWindowWithoutAnInstallation)
{
    SimulatorApp& app = open_app();
    app.show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(app.view(), &esc);
    EXPECT_TRUE(testing::process_events_until([&] { return !app.isVisible(); }));
}

// Scrolling the panel with the wheel over a slider or a combo box moves the
// panel, not the control: only a control the user clicked takes the wheel.
TEST_F(SimulatorAppTest, WheelOverThePanelsControlsChangesNothingUntilClicked)
{
    SimulatorApp& app = open_app_with_installation();
    InstallationDock& panel = *app.installation_panel();
    const auto wheel_on = [](QWidget* target) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(target, &wheel);
    };
    QSlider* tank = panel.tank_slider(0);
    const int level = tank->value();
    const double percent = app.installation_plant()->read().tank_percent[0];
    wheel_on(tank);
    EXPECT_EQ(tank->value(), level);
    EXPECT_EQ(app.installation_plant()->read().tank_percent[0], percent);
    const int output = panel.fault_output()->currentIndex();
    wheel_on(panel.fault_output());
    EXPECT_EQ(panel.fault_output()->currentIndex(), output);
    const int state = panel.fault_state()->value();
    wheel_on(panel.fault_state());
    EXPECT_EQ(panel.fault_state()->value(), state);
    EXPECT_EQ(tank->focusPolicy(), Qt::StrongFocus) << "a click gives it the wheel";
}

// The panel offers what the unit can see: faults on outputs 1 to 7 (the
// status and codes messages carry no eighth), and a fuel tank's over-range.
TEST_F(SimulatorAppTest, PanelOffersTheFaultOutputsAndTankRangesTheBusCarries)
{
    SimulatorApp& app = open_app_with_installation();
    InstallationDock& panel = *app.installation_panel();
    QComboBox* outputs = panel.fault_output();
    ASSERT_EQ(outputs->count(), installation::POWER_MODULES * installation::REPORTED_OUTPUTS);
    EXPECT_EQ(outputs->itemText(outputs->count() - 1).toStdString(), "PWRB8/7");
    const int top[installation::TANK_COUNT] = {125, 125, 100, 100};  // fuel 1, fuel 2, water 1, water 2
    for (int t = 0; t < installation::TANK_COUNT; ++t)
        EXPECT_EQ(panel.tank_slider(t)->maximum(), top[t]) << "tank " << t + 1;
    panel.tank_slider(0)->setValue(125);
    unit_took_inputs(app);
    EXPECT_EQ(app.installation_plant()->read().tank_percent[0], 125.0);
}

// Each switch is drawn as what it is: a rocker's symbol shows it up or down,
// a push button's is a round cap; a power module that is off is silent, so
// its lamps show as unknown and say why.
TEST_F(SimulatorAppTest, PanelDrawsEachSwitchKindAndAnOffModulesLampsAsUnknown)
{
    SimulatorApp& app = open_app_with_installation();
    InstallationDock& panel = *app.installation_panel();
    QPushButton* rocker = panel.switch_button(0, 0);  // PORT FORE CABIN
    QPushButton* push = panel.switch_button(0, 1);    // DINING
    ASSERT_TRUE(rocker->isCheckable());
    ASSERT_FALSE(push->isCheckable());
    const auto symbol = [](QPushButton* b, QIcon::State state) {
        return b->icon().pixmap(b->iconSize(), QIcon::Normal, state).toImage();
    };
    ASSERT_FALSE(rocker->icon().isNull());
    ASSERT_FALSE(push->icon().isNull());
    EXPECT_NE(symbol(rocker, QIcon::Off), symbol(push, QIcon::Off)) << "the kinds look alike";
    EXPECT_NE(symbol(rocker, QIcon::Off), symbol(rocker, QIcon::On)) << "a rocker's symbol shows up and down";

    const int pwrb1 = installation::power_module_index(0);
    QCheckBox* module = panel.module_box(pwrb1);
    EXPECT_TRUE(module->toolTip().contains("silent")) << module->toolTip().toStdString();
    EXPECT_TRUE(module->toolTip().contains("last state")) << module->toolTip().toStdString();
    module->click();
    unit_took_inputs(app);
    ASSERT_FALSE(app.installation_plant()->read().module_on[pwrb1]);
    panel.refresh();
    for (int o = 0; o < installation::POWER_OUTPUTS; ++o) {
        EXPECT_EQ(panel.lamp(0, o)->text(), "?") << "output " << o + 1;
        EXPECT_TRUE(panel.lamp(0, o)->toolTip().contains("PWRB1 is off")) << panel.lamp(0, o)->toolTip().toStdString();
        EXPECT_EQ(panel.lamp(1, o)->text(), "") << "PWRB2 is on";
    }
    module->click();
    unit_took_inputs(app);
    panel.refresh();
    EXPECT_EQ(panel.lamp(0, 0)->text(), "");
    EXPECT_FALSE(panel.lamp(0, 0)->toolTip().contains("off"));
}

// Beside each tank slider the panel shows the percent the unit's tank page
// will show for the sender's volts, which the unit floors: a fuel slider at
// 33 % gives 1.65 V, which the unit reads as 32.
TEST_F(SimulatorAppTest, PanelShowsTheTankPercentTheUnitReads)
{
    SimulatorApp& app = open_app_with_installation();
    InstallationDock& panel = *app.installation_panel();
    const auto number = [&panel](int t) { return panel.tank_label(t)->text().section(' ', 0, 0).toInt(); };
    panel.tank_slider(0)->setValue(33);
    unit_took_inputs(app);
    panel.refresh();
    EXPECT_EQ(panel.tank_label(0)->text(), "32 %  1.65 V");
    // Against the unit itself: once it took the sender's volts, the label's
    // number is the whole part of its level.
    const struct {
        int tank, percent;
    } cases[] = {{0, 33}, {1, 57}, {0, 125}, {2, 33}, {3, 71}, {2, 100}};
    for (const auto& c : cases) {
        panel.tank_slider(c.tank)->setValue(c.percent);
        unit_took_inputs(app);
        ASSERT_TRUE(testing::process_events_until(
            [&] { return std::abs(tank_level[uint8_t(c.tank)] - c.percent) < 0.5; }, 5000))
            << "tank " << c.tank + 1 << " at " << c.percent << ": the unit reads " << tank_level[uint8_t(c.tank)];
        panel.refresh();
        EXPECT_EQ(number(c.tank), int(std::floor(tank_level[uint8_t(c.tank)])))
            << "tank " << c.tank + 1 << " at " << c.percent << ": " << panel.tank_label(c.tank)->text().toStdString();
    }
}

// Simulate > Event 1 and 2 say in the status bar which event went, at what
// unit time.
TEST_F(SimulatorAppTest, TestEventsSayWhatWentAndWhen)
{
    SimulatorApp& app = open_app();
    app.show();
    for (const auto& [text, name] : {std::pair{"Event &1", "Event 1"}, std::pair{"Event &2", "Event 2"}}) {
        const uint32_t before = hal_ms_clock();
        app.action(text)->trigger();
        // Said once the unit's thread raised it.
        ASSERT_TRUE(testing::process_events_until([&] { return app.statusBar()->currentMessage().startsWith(name); }));
        const QString said = app.statusBar()->currentMessage();
        ASSERT_TRUE(said.startsWith(QString(name) + " raised at unit time ")) << said.toStdString();
        const QStringList hms = said.section(' ', -1).split(':');
        ASSERT_EQ(hms.size(), 3) << said.toStdString();
        const double ms = (hms[0].toInt() * 3600 + hms[1].toInt() * 60) * 1000.0 + hms[2].toDouble() * 1000.0;
        EXPECT_GE(ms, before) << said.toStdString();
        EXPECT_LE(ms, hal_ms_clock()) << said.toStdString();
    }
}

}  // namespace
}  // namespace norvane

namespace norvane {
namespace {

// Simulate > Step runs one main step's 25 ms of unit time and pauses: the
// status bar's time and the unit's frames on the bus show exactly that.
TEST_F(SimulatorAppTest, StepRunsExactly25MsOfUnitTime)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
    SimulatorApp& app = open_app_with_installation();
    app.set_speed(10);
    ASSERT_TRUE(testing::process_events_until([&] { return app.unit_ms() >= 1000; }, 10000));
    app.pause();
    for (int step = 0; step < 4; ++step) {
        const uint64_t from = app.unit_ms();
        const uint64_t steps = app.runner_stats().main_steps;
        app.action("&Step (25 ms)")->trigger();
        ASSERT_TRUE(testing::process_events_until([&] { return app.unit_ms() == from + 25 && app.is_paused(); }));
        EXPECT_EQ(app.runner_stats().main_steps, steps + 1);
        app.update_status();
        EXPECT_TRUE(app.time_status()->text().startsWith(QString::asprintf("0:00:%02llu.%03llu",
                                                                           static_cast<unsigned long long>((from + 25) / 1000),
                                                                           static_cast<unsigned long long>((from + 25) % 1000))))
            << app.time_status()->text().toStdString();
    }
    // The unit's newest frame on the bus is from the last step's time or before.
    uint64_t newest = 0;
    ASSERT_TRUE(testing::process_events_until([&] {
        newest = 0;
        const BusMonitorModel& rows = app.bus_monitor()->model();
        for (int row = 0; row < rows.rowCount(); ++row)
            if (rows.row(size_t(row)).sent)
                newest = std::max<uint64_t>(newest, rows.row(size_t(row)).frame.time_us);
        return newest > (app.unit_ms() - 100) * 1000;
    })) << "the unit sends every 100 ms; the newest frame is at " << newest;
    // (With the installation a frame reaches the bus at the millisecond
    // after the main step that sent it, as in a virtual run.)
    EXPECT_LE(newest, app.unit_ms() * 1000);
}

// Record, check, stop, play: the window's own replay of its recording
// passes every check, and says so in the status bar and the dialog.
TEST_F(SimulatorAppTest, ARecordingPlaysBackWithEveryCheckPassing)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
    SimulatorApp& app = open_app_with_installation();
    testing::TempDir dir;
    const QString file = QString::fromStdString((dir / "walk.txt").string());
    app.set_speed(10);
    QString reason;
    ASSERT_TRUE(app.start_recording(file, reason)) << reason.toStdString();
    EXPECT_TRUE(app.is_recording());
    EXPECT_TRUE(app.action("&Screen")->isEnabled());
    ASSERT_TRUE(testing::process_events_until([&] { return app.unit_ms() >= 2600; }, 10000));
    app.set_button(3, true);
    app.set_button(3, false);
    app.installation_panel()->switch_button(0, 0)->click();
    app.installation_panel()->tank_slider(0)->setValue(40);
    const uint64_t later = app.unit_ms() + 600;
    ASSERT_TRUE(testing::process_events_until([&] { return app.unit_ms() >= later; }, 10000));
    app.check_screen();
    app.check_outputs();
    app.check_commands();
    const auto lines = [&] { return QString::fromStdString(testing::read_file(file.toStdString())); };
    ASSERT_TRUE(testing::process_events_until([&] { return lines().contains(" expect can "); }));
    ASSERT_TRUE(app.stop_recording(reason)) << reason.toStdString();
    EXPECT_FALSE(app.action("&Screen")->isEnabled());
    const QString text = lines();
    for (const char* want : {" press 3\n", " release 3\n", " switch SENB1 1 on\n", " tank 1 40\n",
                             " expect screen walk_screen1.png", " expect output PWRB1 1 ", " exit\n"})
        EXPECT_TRUE(text.contains(want)) << want << "\n" << text.toStdString();
    EXPECT_TRUE(QFile::exists(QString::fromStdString((dir / "walk_screen1.png").string())));

    QString title, said;
    app.show_verdict = [&](const QString& t, const QString& s) {
        title = t;
        said = s;
    };
    app.set_speed(PacedRunner::AS_FAST_AS_POSSIBLE);
    ASSERT_TRUE(app.play_scenario(file, reason)) << reason.toStdString();
    ASSERT_TRUE(testing::process_events_until([&] { return !said.isEmpty(); }, 20000));
    const int checks = int(text.count(" expect "));
    EXPECT_TRUE(said.contains(QString("%1 passed, 0 failed").arg(checks))) << said.toStdString();
    EXPECT_TRUE(app.statusBar()->currentMessage().contains(QString("%1 passed, 0 failed").arg(checks)));

    // A scenario that does not hold: the failure's FILE:LINE is said.
    const QString wrong = QString::fromStdString((dir / "wrong.txt").string());
    testing::write_file(wrong.toStdString(), "500 expect output PWRB1 1 on\n");
    said.clear();
    ASSERT_TRUE(app.play_scenario(wrong, reason)) << reason.toStdString();
    ASSERT_TRUE(testing::process_events_until([&] { return !said.isEmpty(); }, 20000));
    EXPECT_TRUE(said.contains("0 passed, 1 failed")) << said.toStdString();
    EXPECT_TRUE(app.statusBar()->currentMessage().contains(wrong + ":1")) << app.statusBar()->currentMessage().toStdString();
}

// A port on a trace gives the unit frames that are written as 'can' lines
// with the main step that took them; Play runs both ports on the virtual
// bus, as norvane-run does, so those lines are the bus and the trace adds
// nothing of its own.
TEST_F(SimulatorAppTest, TraceFramesAreRecordedAndPlayRunsTheVirtualBus)
{
    testing::TempDir dir;
    const std::string trace = (dir / "bus.log").string();
    testing::write_file(trace,
                        "(10.000000) can0 18FFA0B1#0000000000000000\n"
                        "(13.250000) can0 18FFA1B3#0030000000000000\n"
                        "(13.250000) can0 18FF0080#0D01010000000000\n"
                        "(70.000000) can0 18FFA0B5#0000000000000000\n");
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, ("trace:" + trace).c_str(), why, sizeof why)) << why;
    port_on_virtual_bus_ = true;  // port 0 goes back to its default at the end
    SimulatorApp& app = open_app();
    const QString file = QString::fromStdString((dir / "traced.txt").string());
    app.set_speed(10);
    QString reason;
    ASSERT_TRUE(app.start_recording(file, reason)) << reason.toStdString();
    ASSERT_TRUE(testing::process_events_until([&] { return app.unit_ms() >= 3100; }, 10000));
    app.set_button(1, true);  // the module status page
    app.set_button(1, false);
    ASSERT_TRUE(testing::process_events_until([&] { return app.unit_ms() >= 3500; }, 10000));
    app.check_screen();
    const auto lines = [&] { return QString::fromStdString(testing::read_file(file.toStdString())); };
    ASSERT_TRUE(testing::process_events_until([&] { return lines().contains(" expect screen "); }));
    ASSERT_TRUE(app.stop_recording(reason)) << reason.toStdString();
    const QString text = lines();
    for (const char* want : {"# The frames can0 (trace:", " can 0 18FFA0B1#0000000000000000\n",
                             " can 0 18FF0080#0D01010000000000\n", " press 1\n"})
        EXPECT_TRUE(text.contains(want)) << want << "\n" << text.toStdString();

    QString said;
    app.show_verdict = [&](const QString&, const QString& s) { said = s; };
    app.set_speed(PacedRunner::AS_FAST_AS_POSSIBLE);
    ASSERT_TRUE(app.play_scenario(file, reason)) << reason.toStdString();
    EXPECT_EQ(can_port_mapping_text(0), "virtual");
    ASSERT_TRUE(testing::process_events_until([&] { return !said.isEmpty(); }, 20000));
    EXPECT_TRUE(said.contains("1 passed, 0 failed")) << said.toStdString();
}

}  // namespace
}  // namespace norvane

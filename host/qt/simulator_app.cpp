#include "host/qt/simulator_app.h"

#include "host/qt/bus_monitor.h"
#include "host/qt/installation_dock.h"
#include "seam/unit.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "host/bus/bus_server.h"
#include "host/core/bitmap_file.h"
#include "host/core/can_port_report.h"
#include "host/core/headless_run.h"
#include "host/core/scenario_suite.h"
#include "host/core/host_keys.h"
#include "host/core/unit_workdir.h"
#include "host/core/frame_convert.h"
#include "host/core/png_file.h"
#include "host/qt/settings_store.h"
#include "host/qt/uart_dialog.h"
#include "host/qt/widget_places.h"

namespace norvane {
namespace {

// The unit's view at the top of the window's middle: at its natural size the
// window shows it whole; a window made larger shows it centred across, one the
// screen keeps smaller (zoom 2 on a laptop) scrolls it, so the bezel's
// buttons and the status bar are never cut off the screen.
class UnitScroll : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override
    {
        return widget() ? widget()->size() + QSize(2 * frameWidth(), 2 * frameWidth()) : QScrollArea::sizeHint();
    }
    QSize minimumSizeHint() const override { return {160, 120}; }
};

// A status-bar text that ends in "…" where the window is too narrow for it
// (a port's failure reason at zoom 1), so the cut shows; the tooltip holds
// the whole text.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect room = contentsRect();
        painter.drawText(room, int(alignment()), fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
    }
};

constexpr int ZOOMS[3] = {1, 2, 4};
constexpr int GRID_WIDTHS[4] = {40, 20, 10, 5};
// Simulate > Speed: unit milliseconds per wall millisecond.
constexpr double SPEEDS[5] = {1, 2, 5, 10, PacedRunner::AS_FAST_AS_POSSIBLE};
const char* const SPEED_TEXTS[5] = {"&1x", "&2x", "&5x", "1&0x", "As &Fast As Possible"};

QString unit_time_text(uint64_t ms)
{
    return QString::asprintf("%llu:%02llu:%02llu.%03llu", static_cast<unsigned long long>(ms / 3600000),
                             static_cast<unsigned long long>(ms / 60000 % 60),
                             static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms % 1000));
}

// Pauses for a modal command and restores the pause state it found, whatever
// way the command ends; `shown` runs after each change so the window says it.
class PauseDuring {
public:
    PauseDuring(PacedRunner& runner, std::function<void()> shown)
        : runner_(runner), shown_(std::move(shown)), was_paused_(runner.set_paused(true))
    {
        shown_();
    }
    ~PauseDuring()
    {
        runner_.set_paused(was_paused_);
        shown_();
    }

private:
    PacedRunner& runner_;
    std::function<void()> shown_;
    bool was_paused_;
};

// The screen image's rows bottom-up, as the bitmap file stores them.
std::vector<uint8_t> bottom_up_bytes(const QImage& image)
{
    std::vector<uint8_t> out(SCREEN_IMAGE_BYTES);
    const size_t row = size_t(GFX_WIDTH) * 4;
    for (int y = 0; y < GFX_HEIGHT; ++y)
        std::memcpy(out.data() + size_t(GFX_HEIGHT - 1 - y) * row, image.constScanLine(y), row);
    return out;
}

rgb_image rgb_of(const QImage& image)
{
    rgb_image out{GFX_WIDTH, GFX_HEIGHT, std::vector<uint8_t>(size_t(GFX_WIDTH) * GFX_HEIGHT * 3)};
    uint8_t* d = out.rgb.data();
    for (int y = 0; y < GFX_HEIGHT; ++y) {
        const uchar* s = image.constScanLine(y);
        for (int x = 0; x < GFX_WIDTH; ++x, s += 4) {
            *d++ = s[2];
            *d++ = s[1];
            *d++ = s[0];
        }
    }
    return out;
}

}  // namespace

SimulatorApp::SimulatorApp(QWidget* parent, const bool check_can[CAN_PORT_COUNT],
                           const installation::description* installation)
    : QMainWindow(parent),
      settings_(read_settings()),
      layout_(installation),
      screen_image_(GFX_WIDTH, GFX_HEIGHT, QImage::Format_RGB32)
{
    setWindowTitle("PC Simulator");
    setWindowIcon(QIcon(":/host/icon.png"));
    screen_image_.fill(Qt::black);
    show_error = [this](const QString& title, const QString& text) {
        QMessageBox::warning(this, title, text);
    };
    ask_save_name = [this] {
        QFileDialog dialog(this, "Save Screen");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters({"Bitmap File (*.bmp)", "PNG Image (*.png)"});
        dialog.setDefaultSuffix("bmp");
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            dialog.setDefaultSuffix(filter.contains("png") ? "png" : "bmp");
        });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };

    ask_scenario_name = [this](const QString& title, bool save) {
        QFileDialog dialog(this, title);
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setNameFilters({"Scenario (*.txt)", "All files (*)"});
        dialog.setDefaultSuffix("txt");
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
    ask_run_for = [this]() -> uint64_t {
        bool ok = false;
        const int ms = QInputDialog::getInt(this, "Run For", "Unit time to run, in milliseconds:", 1000, 1,
                                            3600000, 25, &ok);
        return ok ? uint64_t(ms) : 0;
    };
    show_verdict = [this](const QString& title, const QString& text) {
        QMessageBox::information(this, title, text);
    };
    unit_dir_ = hal_base_dir();
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p)
        can_mappings_[p] = can_port_mapping_text(p);

    view_ = new FrontView(*this);
    // The unit's view takes the keyboard (a click on it gives it back), so
    // F1 to F5 and Escape reach it rather than a dock's edit box.
    view_->setFocusPolicy(Qt::StrongFocus);
    view_->setObjectName("frontView");
    auto* unit_scroll = new UnitScroll(this);
    unit_scroll->setObjectName("unitScroll");
    unit_scroll->setFrameShape(QFrame::NoFrame);
    unit_scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    unit_scroll->setFocusPolicy(Qt::NoFocus);
    unit_scroll->setBackgroundRole(QPalette::Dark);
    unit_scroll->setWidget(view_);
    setCentralWidget(unit_scroll);
    bus_monitor_ = new BusMonitorDock(this);
    addDockWidget(Qt::RightDockWidgetArea, bus_monitor_);
    // The firmware boots here (app_init, app_start), the ports the command
    // line mapped are opened if the unit left them closed.
    std::string boot_why;
    if (!boot_unit(nullptr, boot_why, check_can))
        throw std::runtime_error(boot_why);
    if (UnitSession::on_virtual_bus(0))
        bus_monitor_->set_figures_source([this] {
            const bus_figures f = session_->hub().figures(0);
            return BusMonitorFigures{f.now_ms, f.busy_bits, f.backlog, f.refused};
        });
    if (installation) {
        bus_monitor_->set_description(*installation);
        // The panel's actions reach the installation through the unit's
        // thread, at a unit millisecond, as a scenario's do.
        installation_dock_ = new InstallationDock(
            *session_->plant(), [this](const plant_action& a) {
                scenario_action action;
                action.kind = action_kind::plant;
                action.plant = a;
                runner_->post(action);
            }, this);
        addDockWidget(Qt::LeftDockWidgetArea, installation_dock_);
        // The panel keeps the whole height on the left when the monitor
        // goes below the unit.
        setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
        // In tabs, the tabs at the top: a unit taller than the screen (zoom
        // 2 on a laptop) would push them below its edge.
        setTabPosition(Qt::LeftDockWidgetArea, QTabWidget::North);
    } else {
        bus_monitor_->hide();
    }
    build_menus();
    qApp->installEventFilter(this);
    view_->setFocus();
    // Placed first, so the docks fit the screen the window opens on.
    if (settings_.left != DEFAULT_WINDOW_POSITION && settings_.top != DEFAULT_WINDOW_POSITION)
        move(settings_.left, settings_.top);
    apply_zoom(settings_.zoom);
    set_grid(settings_.grid_enabled != 0, settings_.grid_width);

    QSettings store(SETTINGS_ORGANISATION, SETTINGS_APPLICATION);
    for (int n = 1; n <= SerialLink::MAX_PORT_NUMBER; ++n)
        link_.set_device_path(n, store.value(QString("COMPortDevice%1").arg(n)).toString().toStdString());
    link_.set_port_number(settings_.com_port);
    if (settings_.com_connected != 0 && link_.open() == SerialLink::OPEN_OK)
        link_.set_read_size(1);

    // For the scripts that click inside the window (see widget_places.h).
    if (const QString places = qEnvironmentVariable("NORVANE_SIM_WIDGET_PLACES"); !places.isEmpty())
        new WidgetPlaces(*this, places);

    status_timer_ = new QTimer(this);
    connect(status_timer_, &QTimer::timeout, this, &SimulatorApp::update_status);
    status_timer_->start(1000);
    since_status_.start();
    play();
    update_status();
}

bool SimulatorApp::start_bus_server(const std::string& host, uint16_t port, uint8_t can_port,
                                    std::function<void(const std::string&)> say, std::string& why)
{
    const bool started = session_->start_bus_server(host, port, can_port, say, why);
    if (started)
        server_place_ = std::make_unique<server_place>(server_place{host, port, can_port, std::move(say)});
    update_status();
    return started;
}

void SimulatorApp::raise_event(int event)
{
    // Said once the unit's thread applied it, with the unit time it acted at.
    scenario_action a;
    a.kind = action_kind::event;
    a.value = event;
    runner_->post(a);
}

bool SimulatorApp::boot_unit(const std::string* from, std::string& why, const bool check_can[CAN_PORT_COUNT],
                             bool virtual_ports)
{
    const bool again = runner_ != nullptr;
    const bool link_open = link_.is_open();
    if (again) {
        runner_->stop();
        // The last scenario's check goes with its unit.
        live_check_.store(nullptr, std::memory_order_release);
        play_check_.reset();
        session_->stop_bus_server();
        // The serial link's thread hands bytes to the firmware: not while
        // it restarts.
        link_.close();
        runner_.reset();
        session_.reset();
    }
    if (from) {
        // A power cycle: every record of the firmware as at the program's
        // start, in a fresh folder holding a copy of the kept unit state.
        app_reset();
        fresh_dir_ = std::make_unique<QTemporaryDir>();
        if (!fresh_dir_->isValid()) {
            why = "cannot make a folder for the unit: " + fresh_dir_->errorString().toStdString();
            return false;
        }
        const std::string dir = fresh_dir_->path().toStdString();
        if (!copy_unit_state(*from, dir, why) || !prepare_unit_workdir(dir, why))
            return false;
        unit_dir_ = dir;
        for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
            char reason[256] = {};
            hal_can_map_port(p, virtual_ports ? "virtual" : can_mappings_[p].c_str(), reason, sizeof reason);
        }
    }
    session_ = std::make_unique<UnitSession>(layout_);
    // A bus-server client's frame reaches the bus at a unit millisecond, on
    // the unit's thread, as a scenario's 'can' line does.
    session_->gate_outside_frames([this](uint8_t port, const can_frame& frame) {
        runner_->post(can_action(0, port, frame));
        return true;
    });
    // Every frame on the bus reaches the monitor with the unit's time at
    // which it went on the bus: with the installation the hub's whole bus,
    // else the unit's frames and what others put on the bus.
    session_->watch_bus([queue = &bus_monitor_->queue()](const bus_event& e) {
        const bool from_unit = e.direction == bus_direction::from_unit;
        queue->push({e.frame, e.port, from_unit, bus_source_of(e.source, from_unit)});
    });
    // What a port's adapter, trace or socketcand gives the unit is an input
    // too: kept with the unit time of the main step that took it, the step a
    // replay's 'can' line reaches through the virtual bus.
    session_->on_outside_received([this](uint8_t port, uint64_t ms, const can_frame& frame) {
        recorder_.action(can_action(ms, port, frame));
    });
    commands_ = CommandFrames{};
    session_->on_unit_sent([this](uint8_t port, uint64_t ms, const can_frame& frame) {
        commands_.sent(port, ms, frame);
        if (ExpectationCheck* check = live_check_.load(std::memory_order_acquire))
            check->sent(port, ms, frame);
    });
    if (session_->plant())
        session_->watch_bus([this](const bus_event& e) {
            ExpectationCheck* check = live_check_.load(std::memory_order_acquire);
            if (check && e.direction == bus_direction::to_unit)
                check->heard(e.port, hal_ms_clock(), e.frame);
        });
    PacedRunner::hooks hooks;
    hooks.after_step = [this](uint64_t) { link_.flush_firmware_tx(); };
    hooks.frame_kept = [this] { QMetaObject::invokeMethod(this, &SimulatorApp::frame_ready, Qt::QueuedConnection); };
    hooks.paused = [this] { QMetaObject::invokeMethod(this, &SimulatorApp::update_checks, Qt::QueuedConnection); };
    hooks.exit_requested = [this](int32_t) { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); };
    hooks.applied = [this](const scenario_action& a) { unit_applied(a); };
    runner_ = std::make_unique<PacedRunner>(*session_, std::move(hooks));
    // The ports the command line mapped are opened if the unit left them
    // closed; after a power cycle the same ones again.
    if (!again) {
        for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p)
            check_can_[p] = check_can && check_can[p];
        can_lines_ = check_can_ports(check_can_).lines;
    } else {
        check_can_ports(check_can_);
    }
    runner_->set_speed(speed_);
    buttons_down_ = 0;
    shown_.show_next();
    if (again) {
        if (view_)
            view_->release_mouse_button();
        if (installation_dock_) {
            // The panel shows the fresh installation.
            QAction* old_toggle = installation_dock_->toggleViewAction();
            const bool visible = !installation_dock_->isHidden();
            const bool floating = installation_dock_->isFloating();
            auto* dock = new InstallationDock(
                *session_->plant(), [this](const plant_action& a) {
                    scenario_action action;
                    action.kind = action_kind::plant;
                    action.plant = a;
                    runner_->post(action);
                }, this);
            QAction* toggle = dock->toggleViewAction();
            toggle->setText(old_toggle->text());
            if (view_menu_) {
                view_menu_->insertAction(old_toggle, toggle);
                view_menu_->removeAction(old_toggle);
                connect(toggle, &QAction::triggered, this, [this] { fit_window(screen()->availableGeometry()); });
            }
            if (floating) {
                dock->setFloating(true);
                dock->setGeometry(installation_dock_->geometry());
            } else {
                addDockWidget(dockWidgetArea(installation_dock_), dock);
                if (arrangement_ == DockArrangement::tabbed)
                    tabifyDockWidget(dock, bus_monitor_);
            }
            // At once: its plant went with the old session, and its timer
            // must not read it again.
            removeDockWidget(installation_dock_);
            delete installation_dock_;
            installation_dock_ = dock;
            installation_dock_->setVisible(visible);
            fit_docks(screen()->availableGeometry());
        }
        if (server_place_ && !session_->start_bus_server(server_place_->host, server_place_->port,
                                                         server_place_->can_port, server_place_->say, why))
            return false;
        if (link_open && link_.open() == SerialLink::OPEN_OK)
            link_.set_read_size(1);
    }
    runner_->start();
    return true;
}

void SimulatorApp::unit_applied(const scenario_action& a)
{
    // The unit's thread: the input acted at unit time a.ms.
    recorder_.action(a);
    if (a.kind == action_kind::event) {
        const int event = a.value;
        const uint64_t ms = a.ms;
        QMetaObject::invokeMethod(
            this,
            [this, event, ms] {
                statusBar()->showMessage(
                    QString("Event %1 raised at unit time %2").arg(event + 1).arg(unit_time_text(ms)), 5000);
            },
            Qt::QueuedConnection);
    }
}

SimulatorApp::~SimulatorApp()
{
    shut_down();
}

void SimulatorApp::shut_down()
{
    if (shut_down_)
        return;
    shut_down_ = true;
    qApp->removeEventFilter(this);
    if (recorder_.is_open()) {
        QString why;
        stop_recording(why);
    }
    runner_->stop();
    session_->stop();
    session_->stop_bus_server();
    write_settings();
    link_.close();
}

HostSettings SimulatorApp::read_settings()
{
    HostSettings s;
    for (const SettingValue& v : encode_host_settings(s)) {
        std::vector<uint8_t> bytes;
        if (read_setting_bytes(v.name, v.bytes.size(), bytes))
            decode_host_setting(s, v.name, bytes);
    }
    std::vector<PanelRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect r = screen->availableGeometry();
        screens.push_back({r.left(), r.top(), r.left() + r.width(), r.top() + r.height()});
    }
    sanitize_host_settings(s, screens);
    return s;
}

void SimulatorApp::write_settings()
{
    settings_.com_port = uint8_t(link_.port_number());
    settings_.com_connected = link_.is_open() ? 1 : 0;
    for (const SettingValue& v : encode_host_settings(settings_))
        write_setting_bytes(v.name, v.bytes);
    QSettings store(SETTINGS_ORGANISATION, SETTINGS_APPLICATION);
    // Devices chosen in the UART dialog for a COM number, kept for next time.
    for (int n = 1; n <= SerialLink::MAX_PORT_NUMBER; ++n) {
        const QString key = QString("COMPortDevice%1").arg(n);
        const std::string device = link_.device_path(n);
        if (device != SerialLink::default_device_path(n))
            store.setValue(key, QString::fromStdString(device));
        else
            store.remove(key);
    }
    store.sync();
}

void SimulatorApp::build_menus()
{
    QMenu* file = menuBar()->addMenu("&File");
    connect(file->addAction("&Save Screen"), &QAction::triggered, this, &SimulatorApp::save_screen);
    file->addSeparator();
    record_action_ = file->addAction("&Record Scenario...");
    record_action_->setShortcut(QKeySequence("Ctrl+R"));
    connect(record_action_, &QAction::triggered, this, [this] {
        const QString path = ask_scenario_name("Record Scenario", true);
        QString why;
        if (!path.isEmpty() && !start_recording(path, why))
            show_error("Record Scenario", QString("Cannot record into \"%1\": %2").arg(path, why));
    });
    stop_record_action_ = file->addAction("S&top Recording");
    stop_record_action_->setShortcut(QKeySequence("Ctrl+Shift+R"));
    connect(stop_record_action_, &QAction::triggered, this, [this] {
        QString why;
        if (!stop_recording(why))
            show_error("Stop Recording", why);
    });
    QAction* play_file = file->addAction("&Play Scenario...");
    play_file->setShortcut(QKeySequence("Ctrl+P"));
    connect(play_file, &QAction::triggered, this, [this] {
        const QString path = ask_scenario_name("Play Scenario", false);
        QString why;
        if (!path.isEmpty() && !play_scenario(path, why))
            show_error("Play Scenario", QString("Cannot play \"%1\": %2").arg(path, why));
    });
    file->addSeparator();
    connect(file->addAction("&Exit"), &QAction::triggered, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu("&View");
    view_menu_ = view;
    QMenu* zoom = view->addMenu("&Zoom Factor");
    const char* zoom_texts[3] = {"1:&1", "1:&2", "1:&4"};
    for (int i = 0; i < 3; ++i) {
        zoom_actions_[i] = zoom->addAction(zoom_texts[i]);
        zoom_actions_[i]->setCheckable(true);
        connect(zoom_actions_[i], &QAction::triggered, this, [this, i] { apply_zoom(ZOOMS[i]); });
    }
    QMenu* grid = view->addMenu("&Pixel Grid");
    no_grid_action_ = grid->addAction("No Grid");
    no_grid_action_->setCheckable(true);
    connect(no_grid_action_, &QAction::triggered, this, [this] { set_grid(false); });
    grid->addSeparator();
    for (int i = 0; i < 4; ++i) {
        grid_actions_[i] = grid->addAction(QString("%1 x %1").arg(GRID_WIDTHS[i]));
        grid_actions_[i]->setCheckable(true);
        connect(grid_actions_[i], &QAction::triggered, this, [this, i] { set_grid(true, GRID_WIDTHS[i]); });
    }

    if (installation_dock_) {
        QAction* panel = installation_dock_->toggleViewAction();
        panel->setText("&Installation");
        view->addAction(panel);
        // A dock shown again makes room for itself within the screen.
        connect(panel, &QAction::triggered, this, [this] { fit_window(screen()->availableGeometry()); });
    }
    QAction* monitor = bus_monitor_->toggleViewAction();
    monitor->setText("Bus &Monitor");
    view->addAction(monitor);
    connect(monitor, &QAction::triggered, this, [this] { fit_window(screen()->availableGeometry()); });

    QMenu* simulate = menuBar()->addMenu("&Simulate");
    play_action_ = simulate->addAction("&Play");
    pause_action_ = simulate->addAction("P&ause");
    play_action_->setCheckable(true);
    pause_action_->setCheckable(true);
    connect(play_action_, &QAction::triggered, this, &SimulatorApp::play);
    connect(pause_action_, &QAction::triggered, this, &SimulatorApp::pause);
    simulate->addSeparator();
    QMenu* speed = simulate->addMenu("S&peed");
    auto* speed_group = new QActionGroup(this);
    for (int i = 0; i < 5; ++i) {
        speed_actions_[i] = speed->addAction(SPEED_TEXTS[i]);
        speed_actions_[i]->setCheckable(true);
        speed_group->addAction(speed_actions_[i]);
        connect(speed_actions_[i], &QAction::triggered, this, [this, i] { set_speed(SPEEDS[i]); });
    }
    // Step and Run For pause once their unit time ran.
    QAction* step = simulate->addAction("&Step (25 ms)");
    step->setShortcut(QKeySequence(Qt::Key_F6));
    connect(step, &QAction::triggered, this, [this] {
        pause();
        step_main();
    });
    QAction* tick = simulate->addAction("Step &Tick (10 ms)");
    tick->setShortcut(QKeySequence(Qt::Key_F7));
    connect(tick, &QAction::triggered, this, [this] {
        pause();
        step_tick();
    });
    QAction* run_some = simulate->addAction("&Run For...");
    run_some->setShortcut(QKeySequence(Qt::Key_F8));
    connect(run_some, &QAction::triggered, this, [this] {
        pause();
        if (const uint64_t ms = ask_run_for())
            run_for(ms);
    });
    simulate->addSeparator();
    QMenu* event = simulate->addMenu("&Event");
    connect(event->addAction("Event &1"), &QAction::triggered, this, [this] { raise_event(0); });
    connect(event->addAction("Event &2"), &QAction::triggered, this, [this] { raise_event(1); });

    // While recording: the state now, as expectations.
    checks_menu_ = menuBar()->addMenu("&Checks");
    QAction* check = checks_menu_->addAction("&Screen");
    check->setShortcut(QKeySequence("Ctrl+Shift+S"));
    connect(check, &QAction::triggered, this, &SimulatorApp::check_screen);
    check = checks_menu_->addAction("&Outputs");
    check->setShortcut(QKeySequence("Ctrl+Shift+O"));
    connect(check, &QAction::triggered, this, &SimulatorApp::check_outputs);
    check = checks_menu_->addAction("&Commands");
    check->setShortcut(QKeySequence("Ctrl+Shift+C"));
    connect(check, &QAction::triggered, this, &SimulatorApp::check_commands);

    QMenu* port = menuBar()->addMenu("&Port");
    connect(port->addAction("&UART"), &QAction::triggered, this, &SimulatorApp::open_uart_dialog);

    // Zoom and grid are each one choice among several.
    auto* zoom_group = new QActionGroup(this);
    for (QAction* a : zoom_actions_)
        zoom_group->addAction(a);
    auto* grid_group = new QActionGroup(this);
    grid_group->addAction(no_grid_action_);
    for (QAction* a : grid_actions_)
        grid_group->addAction(a);
    auto* run_group = new QActionGroup(this);
    run_group->addAction(play_action_);
    run_group->addAction(pause_action_);

    for (int p = 0; p < CAN_PORT_COUNT; ++p) {
        port_labels_[p] = new ElidedLabel(this);
        statusBar()->addWidget(port_labels_[p], 1);
    }
    time_label_ = new QLabel(this);
    server_label_ = new QLabel(this);
    server_label_->setObjectName("serverStatus");
    server_label_->hide();
    statusBar()->addPermanentWidget(server_label_);
    recording_label_ = new QLabel("Recording", this);
    recording_label_->setObjectName("recordingStatus");
    recording_label_->setStyleSheet("font-weight: bold; color: #b00000");
    recording_label_->hide();
    statusBar()->addPermanentWidget(recording_label_);
    pause_label_ = new QLabel("Paused", this);
    pause_label_->setStyleSheet("font-weight: bold");
    statusBar()->addPermanentWidget(pause_label_);
    statusBar()->addPermanentWidget(time_label_);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(STATUS_BAR_HEIGHT);
}

void SimulatorApp::update_status()
{
    // Rates over the time since the last update (at least 1 ms).
    const double interval_s = double(std::max<qint64>(1, since_status_.restart())) / 1000.0;
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
        can_port_status now{};
        can_port_get_status(p, &now);
        const QString mapping = QString::fromStdString(can_port_mapping_text(p));
        QString text;
        if (now.state == CAN_PORT_OPEN) {
            const double in = double(now.received - last_counts_[p].received) / interval_s;
            const double out = double(now.sent - last_counts_[p].sent) / interval_s;
            text = QString("CAN%1 %2: open, %3/s in, %4/s out").arg(p).arg(mapping).arg(in, 0, 'f', 0).arg(out, 0, 'f', 0);
            if (now.refused != 0)
                text += QString(", %1 refused").arg(now.refused);
            if (p == 0 && UnitSession::on_virtual_bus(0)) {
                // The bus's load in the unit's time, its backlog and refusals.
                const bus_figures bus = session_->hub().figures(0);
                if (bus.now_ms > last_bus_.now_ms && last_bus_.now_ms != 0)
                    text += QString(", load %1 %").arg(100.0 * double(bus.busy_bits - last_bus_.busy_bits) /
                                                           (double(bus.now_ms - last_bus_.now_ms) * double(bus_arbiter::BITS_PER_MS)),
                                                       0, 'f', 0);
                if (bus.backlog != 0 || bus.refused != 0)
                    text += QString(", backlog %1, %2 refused by the bus").arg(bus.backlog).arg(bus.refused);
                last_bus_ = bus;
            }
        } else {
            text = QString("CAN%1 %2: %3").arg(p).arg(mapping, QString::fromStdString(can_port_state_text(now)));
        }
        port_labels_[p]->setText(text);
        port_labels_[p]->setToolTip(text);
        last_counts_[p] = now;
    }
    QString time = unit_time_text(runner_->now());
    if (!runner_->is_paused() && runner_->speed_reached() > 0)
        time += QString(" at %1x").arg(runner_->speed_reached(), 0, 'f', 1);
    time_label_->setText(time);
    time_label_->setToolTip("The unit's time (stands still while paused) and the speed it reached over the "
                            "last half second");
    BusServer* const server = session_->bus_server();
    if (server) {
        const std::vector<std::string> clients = server->clients();
        const QString address = QString::fromStdString(server->address());
        server_label_->setText(QString("Bus server %1: %2 client%3")
                                   .arg(address)
                                   .arg(clients.size())
                                   .arg(clients.size() == 1 ? "" : "s"));
        QString tip = QString("socketcand server on %1 (raw mode)").arg(address);
        tip += clients.empty() ? QString("\nNo clients connected") : QString("\nClients:");
        for (const std::string& client : clients)
            tip += "\n" + QString::fromStdString(client);
        server_label_->setToolTip(tip);
    }
    server_label_->setVisible(server != nullptr);
    pause_label_->setVisible(runner_->is_paused());
    if (recording_label_) {
        recording_label_->setVisible(recorder_.is_open() || is_playing());
        recording_label_->setText(recorder_.is_open() ? "Recording" : "Playing");
    }
}

QAction* SimulatorApp::action(const QString& text) const
{
    for (QAction* a : findChildren<QAction*>())
        if (a->text() == text)
            return a;
    return nullptr;
}

// Check marks always show the state, whatever Qt toggled on the click.
void SimulatorApp::update_checks()
{
    for (int i = 0; i < 3; ++i)
        zoom_actions_[i]->setChecked(settings_.zoom == ZOOMS[i]);
    no_grid_action_->setChecked(settings_.grid_enabled == 0);
    for (int i = 0; i < 4; ++i)
        grid_actions_[i]->setChecked(settings_.grid_enabled != 0 && settings_.grid_width == GRID_WIDTHS[i]);
    const bool paused = runner_->is_paused();
    play_action_->setChecked(!paused);
    pause_action_->setChecked(paused);
    if (pause_label_)
        pause_label_->setVisible(paused);
    update_time_menu();
}

PanelRect SimulatorApp::screen_rectangle() const
{
    const PanelSize client = client_size(settings_.zoom);
    return screen_rect(client.width, client.height, settings_.zoom);
}

void SimulatorApp::apply_zoom(int zoom)
{
    if (!valid_zoom(zoom))
        return;
    settings_.zoom = zoom;
    const PanelSize client = client_size(zoom);
    view_->setFixedSize(client.width, client.height);
    if (zoom < FULL_SCREEN_ZOOM) {
        bezel_ = QPixmap(zoom == 2 ? ":/host/bezel_2x.png" : ":/host/bezel.png");
        if (bezel_.size() != QSize(client.width, client.height))
            bezel_ = bezel_.scaled(client.width, client.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        bezel_ = QPixmap();
    }
    // The window keeps its top-left corner and fits the new client, within
    // the screen.
    centralWidget()->updateGeometry();
    if (installation_dock_)
        fit_docks(screen()->availableGeometry());
    else
        fit_window(screen()->availableGeometry());
    rebuild_grid();
    update_checks();
    view_->update();
}

SimulatorApp::DockArrangement SimulatorApp::fit_docks(const QRect& available)
{
    if (!installation_dock_)
        return arrangement_;
    arrange_docks(available, window_frame());
    fit_window(available);
    return arrangement_;
}

QSize SimulatorApp::window_frame() const
{
    // The window manager's frame as it is, or a usual one before the window
    // is shown.
    QSize frame = frameGeometry().size() - geometry().size();
    if (!isVisible() || frame.isEmpty())
        frame = QSize(12, 40);
    return frame;
}

void SimulatorApp::fit_window(const QRect& available)
{
    const QSize frame = window_frame();
    layout()->invalidate();
    layout()->activate();
    // As large as the unit and the shown docks want, no larger than the
    // screen leaves (the unit's view scrolls then).
    const QSize room = available.size() - frame;
    const QSize wanted = layout()->totalSizeHint().boundedTo(room).expandedTo(minimumSizeHint());
    resize(wanted);
    // A window placed where its new size reaches past the screen moves back
    // onto it.
    if (isVisible() || testAttribute(Qt::WA_Moved)) {
        const QSize outer = size() + frame;
        const QPoint at(std::max(available.left(), std::min(x(), available.right() + 1 - outer.width())),
                        std::max(available.top(), std::min(y(), available.bottom() + 1 - outer.height())));
        if (at != pos())
            move(at);
    }
}

void SimulatorApp::arrange_docks(const QRect& available, QSize frame)
{
    const QSize room = available.size() - frame;
    const PanelSize client = client_size(settings_.zoom);
    const QSize alone(client.width, client.height + menuBar()->sizeHint().height() + STATUS_BAR_HEIGHT);
    const QSize limit = room.expandedTo(alone);
    const auto laid_out = [this] {
        // The docks keep their contents' sizes until told.
        installation_dock_->layout()->invalidate();
        bus_monitor_->layout()->invalidate();
        layout()->invalidate();
        return layout()->totalSizeHint();
    };

    // Each arrangement is tried with the docks at their least (the panel and
    // the monitor's table a few rows high), then grown into the room left:
    // the panel up to its whole height, the monitor below the unit up to
    // about twenty rows, the monitor in tabs up to every column. A dock that
    // grows may make the window no larger (the unit is taller), so the room
    // is measured again after each step.
    constexpr int LEAST_HEIGHT = 120;
    constexpr int MONITOR_HEIGHT = 400;
    const QSize panel = installation_dock_->content_size();
    const int monitor_width = bus_monitor_->full_table_width();
    for (const DockArrangement arrangement :
         {DockArrangement::beside, DockArrangement::monitor_below, DockArrangement::tabbed}) {
        // In tabs the monitor may be as narrow as the panel (its columns scroll).
        int panel_height = LEAST_HEIGHT;
        QSize monitor(arrangement == DockArrangement::tabbed ? std::min(monitor_width, panel.width()) : monitor_width,
                      LEAST_HEIGHT);
        place_docks(arrangement, panel_height, monitor);
        QSize slack = limit - laid_out();
        if (slack.width() < 0 || slack.height() < 0)
            continue;
        for (int step = 0; step < 3 && (slack.width() > 0 || slack.height() > 0); ++step) {
            panel_height += std::clamp(panel.height() - panel_height, 0, slack.height());
            if (arrangement == DockArrangement::monitor_below)
                monitor.rheight() += std::clamp(MONITOR_HEIGHT - monitor.height(), 0, slack.height());
            monitor.rwidth() += std::clamp(monitor_width - monitor.width(), 0, slack.width());
            place_docks(arrangement, panel_height, monitor);
            slack = limit - laid_out();
        }
        return;
    }
    // Not even in tabs beside the unit: each in a window of its own, the
    // panel at the bottom left of the screen and the monitor at the bottom
    // right, clear of the window's title and menus at the top.
    place_docks(DockArrangement::floating, LEAST_HEIGHT, QSize(std::min(monitor_width, room.width()), LEAST_HEIGHT));
    const int tallest = available.height() - frame.height() - menuBar()->sizeHint().height();
    const QSize panel_size(panel.width(), std::min(panel.height() + 24, tallest));
    installation_dock_->setGeometry(
        QRect(QPoint(available.left(), available.bottom() + 1 - panel_size.height()), panel_size));
    const QSize monitor_size(std::min(monitor_width + 24, available.width() - panel_size.width()),
                             std::min(MONITOR_HEIGHT + 80, tallest));
    bus_monitor_->setGeometry(QRect(QPoint(available.right() + 1 - monitor_size.width(),
                                           available.bottom() + 1 - monitor_size.height()),
                                    monitor_size));
}

void SimulatorApp::place_docks(DockArrangement arrangement, int panel_height, QSize monitor)
{
    arrangement_ = arrangement;
    installation_dock_->set_view_height(panel_height);
    bus_monitor_->set_table_size(monitor);
    // Below the unit the monitor is wide and short: its details go beside.
    bus_monitor_->set_details_beside(arrangement == DockArrangement::monitor_below);
    const bool floating = arrangement == DockArrangement::floating;
    installation_dock_->setFloating(floating);
    bus_monitor_->setFloating(floating);
    if (floating)
        return;
    addDockWidget(Qt::LeftDockWidgetArea, installation_dock_);
    switch (arrangement) {
    case DockArrangement::beside:
        addDockWidget(Qt::RightDockWidgetArea, bus_monitor_);
        break;
    case DockArrangement::monitor_below:
        addDockWidget(Qt::BottomDockWidgetArea, bus_monitor_);
        break;
    default:
        addDockWidget(Qt::LeftDockWidgetArea, bus_monitor_);
        tabifyDockWidget(installation_dock_, bus_monitor_);
        installation_dock_->raise();
        break;
    }
}

void SimulatorApp::set_grid(bool enabled, int width)
{
    settings_.grid_enabled = enabled ? 1 : 0;
    if (valid_grid_width(width))
        settings_.grid_width = width;
    rebuild_grid();
    update_checks();
    view_->update();
}

void SimulatorApp::rebuild_grid()
{
    const int zoom = settings_.zoom;
    grid_image_ = QImage(GFX_WIDTH * zoom, GFX_HEIGHT * zoom, QImage::Format_ARGB32_Premultiplied);
    const std::vector<uint32_t> pixels = grid_image(zoom, settings_.grid_width);
    std::memcpy(grid_image_.bits(), pixels.data(), pixels.size() * 4);
}

void SimulatorApp::play()
{
    runner_->set_paused(false);
    update_checks();
}

void SimulatorApp::pause()
{
    runner_->set_paused(true);
    update_checks();
    update_status();
}

void SimulatorApp::set_speed(double speed)
{
    speed_ = speed;
    runner_->set_speed(speed);
    update_time_menu();
}

void SimulatorApp::run_for(uint64_t ms)
{
    runner_->run_for(ms);
    update_checks();
}

void SimulatorApp::update_time_menu()
{
    for (int i = 0; i < 5; ++i)
        if (speed_actions_[i])
            speed_actions_[i]->setChecked(speed_ == SPEEDS[i]);
    const bool recording = recorder_.is_open();
    if (record_action_)
        record_action_->setEnabled(!recording);
    if (stop_record_action_)
        stop_record_action_->setEnabled(recording);
    if (checks_menu_)
        for (QAction* a : checks_menu_->actions())
            a->setEnabled(recording);
    if (time_label_)
        update_status();
}

void SimulatorApp::frame_ready()
{
    // The runner keeps a frame after a main step once the last one was
    // taken, so a window that paints slowly (or not at all, minimised) does
    // not slow the unit. A frame equal to the one on screen is not converted
    // and painted again; a new one repaints only the screen's rectangle.
    if (!runner_->take_frame(*taken_))
        return;
    if (!shown_.changed(*taken_)) {
        if (runner_->is_paused())
            update_status();
        return;
    }
    convert_frame_top_down(taken_->pixels, screen_image_.bits());
    const PanelRect r = screen_rectangle();
    view_->update(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (runner_->is_paused())
        update_status();
}

void SimulatorApp::set_button(int button, bool down)
{
    if (button < 1 || button > 5)
        return;
    const uint8_t bit = uint8_t(1u << (button - 1));
    if (((buttons_down_ & bit) != 0) == down)
        return;
    buttons_down_ = uint8_t(down ? buttons_down_ | bit : buttons_down_ & ~bit);
    scenario_action a;
    a.kind = down ? action_kind::press : action_kind::release;
    a.value = button;
    runner_->post(a);
    view_->update();
}

void SimulatorApp::release_all_buttons()
{
    for (int n = 1; n <= 5; ++n)
        set_button(n, false);
    view_->release_mouse_button();
    view_->update();
}

void SimulatorApp::take_frame()
{
    // Taken outside frame_ready: the next frame is painted whatever it holds.
    // Paused, the unit's thread stands still and the front buffer is read
    // here; running, the newest frame the runner kept.
    shown_.show_next();
    if (runner_->is_paused())
        convert_frame_top_down(gfx_front_buffer()->pixels, screen_image_.bits());
    else if (runner_->take_frame(*taken_))
        convert_frame_top_down(taken_->pixels, screen_image_.bits());
}

bool SimulatorApp::start_recording(const QString& path, QString& why)
{
    if (recorder_.is_open()) {
        why = "already recording into " + QString::fromStdString(recorder_.path());
        return false;
    }
    namespace fs = std::filesystem;
    const fs::path file = fs::absolute(fs::path(path.toStdString()));
    const std::string start_name = file.stem().string() + ".unit";
    const std::string start = (file.parent_path() / start_name).string();
    // The unit's state as it stands on disk (paused: the unit's thread
    // writes nothing meanwhile) is the recording's start: a power cycle.
    runner_->set_paused(true);
    std::string reason;
    recording_options options;
    options.start_folder = start_name;
    options.installation = layout_ != nullptr;
    options.installation_file = installation_file;
    // The ports whose adapter, trace or server gives the unit frames (a port
    // that never opened gives none).
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
        can_port_status status{};
        can_port_get_status(p, &status);
        if (can_mappings_[p] != "virtual" && status.state == CAN_PORT_OPEN)
            options.outside_ports.push_back("can" + std::to_string(p) + " (" + can_mappings_[p] + ")");
    }
    if (!copy_unit_state(unit_dir_, start, reason) || !recorder_.open(file.string(), options, reason)) {
        why = QString::fromStdString(reason);
        update_checks();
        return false;
    }
    playing_ = false;
    if (!boot_unit(&start, reason)) {
        recorder_.close(0, reason);
        why = QString::fromStdString(reason);
        return false;
    }
    statusBar()->showMessage(QString("Recording into %1 from a fresh start").arg(path), 5000);
    play();
    return true;
}

bool SimulatorApp::stop_recording(QString& why)
{
    if (!recorder_.is_open())
        return true;
    // Paused for a moment, so the exit line comes after every input written.
    const bool was_paused = runner_->set_paused(true);
    const uint64_t end = runner_->now();
    std::string reason;
    const bool ok = recorder_.close(end, reason);
    runner_->set_paused(was_paused);
    why = QString::fromStdString(reason);
    statusBar()->showMessage(ok ? QString("Recorded %1 ms into %2").arg(end).arg(QString::fromStdString(recorder_.path()))
                                : why,
                             8000);
    update_checks();
    return ok;
}

void SimulatorApp::check_screen()
{
    if (!recorder_.is_open())
        return;
    const std::string name = recorder_.next_picture_name();
    const std::string file = (std::filesystem::path(recorder_.folder()) / name).string();
    // Between two unit milliseconds: the screen the window shows after the
    // last one is the frame a replay checks with 'MS expect screen'.
    runner_->post_work([this, name, file](uint64_t now) {
        std::string why;
        if (!write_screenshot(file, *gfx_front_buffer(), why)) {
            const QString text = QString::fromStdString(why);
            QMetaObject::invokeMethod(this, [this, text] { show_error("Checks", text); }, Qt::QueuedConnection);
            return;
        }
        expectation e;
        e.ms = now;
        e.kind = expect_kind::screen;
        e.file = name;
        recorder_.expect(e);
        const QString said = QString("Screen checked at %1: %2").arg(unit_time_text(now), QString::fromStdString(name));
        QMetaObject::invokeMethod(this, [this, said] { statusBar()->showMessage(said, 5000); }, Qt::QueuedConnection);
    });
}

void SimulatorApp::check_outputs()
{
    if (!recorder_.is_open())
        return;
    if (!session_->plant()) {
        statusBar()->showMessage("No installation: no outputs to check", 5000);
        return;
    }
    runner_->post_work([this, plant = session_->plant()](uint64_t now) {
        for (const expectation& e : output_expectations(plant->read(), now))
            recorder_.expect(e);
        const QString said = QString("The 64 outputs checked at %1").arg(unit_time_text(now));
        QMetaObject::invokeMethod(this, [this, said] { statusBar()->showMessage(said, 5000); }, Qt::QueuedConnection);
    });
}

void SimulatorApp::check_commands()
{
    if (!recorder_.is_open())
        return;
    runner_->post_work([this](uint64_t now) {
        const std::vector<expectation> lines = commands_.expectations(now);
        for (const expectation& e : lines)
            recorder_.expect(e);
        const QString said =
            QString("%1 power module command(s) checked at %2").arg(lines.size()).arg(unit_time_text(now));
        QMetaObject::invokeMethod(this, [this, said] { statusBar()->showMessage(said, 5000); }, Qt::QueuedConnection);
    });
}

bool SimulatorApp::play_scenario(const QString& path, QString& why)
{
    if (recorder_.is_open()) {
        why = "stop recording first";
        return false;
    }
    scenario_file scenario;
    scenario.path = path.toStdString();
    std::string reason;
    if (!load_scenario(scenario.path, scenario.actions, scenario.expectations, reason)) {
        why = QString::fromStdString(reason);
        return false;
    }
    // From the start the recording kept beside the file, or else from the
    // unit's state as it stands.
    namespace fs = std::filesystem;
    const fs::path file(scenario.path);
    std::error_code ec;
    const fs::path kept = file.parent_path() / (file.stem().string() + ".unit");
    const std::string start = fs::is_directory(kept / "rootfs", ec) ? kept.string() : unit_dir_;
    // As long as norvane-run runs it by default, or to its exit line.
    uint64_t end = 10000;
    for (const scenario_action& a : scenario.actions)
        end = std::max(end, a.ms);
    for (const expectation& e : scenario.expectations)
        end = std::max(end, e.ms + (e.kind == expect_kind::no_can ? e.window_ms : 0));
    runner_->set_paused(true);
    play_path_ = path;
    verdict_.clear();
    playing_ = false;
    std::string copy_from = start;
    if (start == unit_dir_) {
        // The running unit's folder is about to be replaced: its state is
        // copied first.
        play_start_ = std::make_unique<QTemporaryDir>();
        if (!play_start_->isValid() || !copy_unit_state(unit_dir_, play_start_->path().toStdString(), reason)) {
            why = "cannot keep the unit's state: " + QString::fromStdString(reason);
            return false;
        }
        copy_from = play_start_->path().toStdString();
    }
    // The file's 'can' lines are what the bus gave the unit: both ports are
    // on the virtual bus, as norvane-run runs it, so an adapter or a trace
    // adds nothing of its own (until the next power cycle, Record or Play).
    bool outside = false;
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p)
        outside = outside || can_mappings_[p] != "virtual";
    if (!boot_unit(&copy_from, reason, nullptr, true)) {
        why = QString::fromStdString(reason);
        return false;
    }
    // The unit stands paused at 0: the check and the script are in place
    // before its first millisecond.
    check_options checks;
    checks.output_dir = file.parent_path().empty() ? "." : file.parent_path().string();
    checks.unit_dir = unit_dir_;
    play_check_ = std::make_unique<ExpectationCheck>(scenario.expectations, checks);
    if (installation::plant* plant = session_->plant())
        play_check_->attach_outputs(
            [plant](int pwrb, int output) { return plant->read().outputs[pwrb][output].lit() ? 1 : 0; });
    live_check_.store(play_check_.get(), std::memory_order_release);
    runner_->set_script(scenario.actions, play_check_.get(), end, [this](uint64_t end_ms, bool firmware_exit) {
        // The unit's thread: the check is done; the window reads it now.
        live_check_.store(nullptr, std::memory_order_release);
        QMetaObject::invokeMethod(this, [this, end_ms, firmware_exit] { play_ended(end_ms, firmware_exit); },
                                  Qt::QueuedConnection);
    });
    statusBar()->showMessage(QString("Playing %1%2").arg(path, outside ? " with both CAN ports on the virtual bus" : ""),
                             outside ? 8000 : 3000);
    playing_ = true;
    play();
    return true;
}

void SimulatorApp::play_ended(uint64_t end_ms, bool firmware_exit)
{
    if (!play_check_)
        return;
    playing_ = false;
    const size_t passed = play_check_->count(expect_state::passed);
    const std::vector<std::string> failures = play_check_->failure_lines();
    const QString verdict = QString::fromStdString(verdict_line(passed, failures.size(), 0));
    verdict_ = QStringList{verdict};
    for (const std::string& line : failures)
        verdict_ << QString::fromStdString(line);
    QString where;
    for (const std::string& line : failures)
        where += (where.isEmpty() ? "" : ", ") + QString::fromStdString(line.substr(0, line.find(": ")));
    statusBar()->showMessage(QFileInfo(play_path_).fileName() + ": " + verdict + (where.isEmpty() ? "" : " (" + where + ")"));
    update_checks();
    QString text = QString("%1 ran to %2%3.\n\n%4").arg(play_path_, unit_time_text(end_ms),
                                                      firmware_exit ? " (the unit asked to end)" : "", verdict_.join("\n"));
    show_verdict("Play Scenario", text);
}

bool SimulatorApp::save_screen_to(const QString& path, QString& why) const
{
    std::string reason;
    bool ok = false;
    if (path.endsWith(".png", Qt::CaseInsensitive))
        ok = write_png(path.toStdString(), rgb_of(screen_image_), reason);
    else
        ok = write_file_bytes(path.toStdString(), bitmap_file_bytes(bottom_up_bytes(screen_image_).data()), reason);
    why = QString::fromStdString(reason);
    return ok;
}

void SimulatorApp::save_screen()
{
    PauseDuring paused(*runner_, [this] { update_checks(); });
    const QString path = ask_save_name();
    if (path.isEmpty())
        return;
    view_->repaint();
    QString why;
    if (!save_screen_to(path, why))
        show_error("Save Screen", QString("Cannot save the screen to \"%1\": %2").arg(path, why));
}

void SimulatorApp::open_uart_dialog()
{
    PauseDuring paused(*runner_, [this] { update_checks(); });
    UartDialog dialog(link_, this);
    dialog.move(frameGeometry().center() - dialog.rect().center());
    dialog.exec();
}

void SimulatorApp::closeEvent(QCloseEvent* event)
{
    shut_down();
    event->accept();
}

bool SimulatorApp::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const auto* widget = qobject_cast<QWidget*>(watched);
    // A button held while the keyboard goes elsewhere would never see its
    // release: let go of everything when the window is left or another
    // window (a menu, a dialog) opens over it.
    if (watched == this && (type == QEvent::WindowDeactivate || type == QEvent::Hide)) {
        release_all_buttons();
        return false;
    }
    // Docks in windows of their own stay over the unit's window, which the
    // window manager raises when it is shown or clicked.
    if (watched == this && (type == QEvent::Show || type == QEvent::WindowActivate) &&
        arrangement_ == DockArrangement::floating) {
        QTimer::singleShot(0, this, [this] {
            installation_dock_->raise();
            bus_monitor_->raise();
        });
        return false;
    }
    if (type == QEvent::Show && widget && widget->isWindow() && widget != this) {
        const Qt::WindowType kind = widget->windowType();
        if (kind == Qt::Popup || kind == Qt::Dialog || kind == Qt::Sheet || kind == Qt::Window)
            release_all_buttons();
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool button_key = key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F5;
    // A release counts wherever it arrives (a menu, a dialog, another window).
    if (button_key && type == QEvent::KeyRelease && !key->isAutoRepeat()) {
        set_button(key->key() - Qt::Key_F1 + 1, false);
        return widget && widget->window() == this;
    }
    if (!widget || widget->window() != this)
        return false;
    if (button_key) {
        // A held key repeats its press, which changes nothing.
        if (type == QEvent::KeyPress && !key->isAutoRepeat()) {
            set_button(key->key() - Qt::Key_F1 + 1, true);
        }
        return true;
    }
    // Escape closes the simulator only from the unit's view: in an edit box
    // of a dock it cancels the edit, and after a popup has closed it does
    // nothing. With a running installation (the boat's state and the
    // monitor's frames would be lost) it asks first.
    if (key->key() == Qt::Key_Escape && type == QEvent::KeyPress && watched == view_) {
        ask_to_close_from_keyboard();
        return true;
    }
    return false;
}

void SimulatorApp::ask_to_close_from_keyboard()
{
    if (!session_->plant()) {
        close();
        return;
    }
    if (quit_question_)
        return;
    quit_question_ = new QMessageBox(QMessageBox::Question, "Norvane Simulator",
                                     "Quit the simulator? The installation's state and the bus monitor's frames "
                                     "are lost.",
                                     QMessageBox::Yes | QMessageBox::No, this);
    quit_question_->setObjectName("quitQuestion");
    quit_question_->setDefaultButton(QMessageBox::No);
    quit_question_->setEscapeButton(QMessageBox::No);
    quit_question_->setAttribute(Qt::WA_DeleteOnClose);
    connect(quit_question_, &QMessageBox::finished, this, [this](int answer) {
        quit_question_ = nullptr;
        if (answer == QMessageBox::Yes)
            QTimer::singleShot(0, this, &QWidget::close);
    });
    quit_question_->open();
}

void SimulatorApp::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (isVisible()) {
        settings_.left = frameGeometry().left();
        settings_.top = frameGeometry().top();
    }
}

FrontView::FrontView(SimulatorApp& app)
    : QWidget(&app), app_(app), crosshair_(QPixmap(":/host/crosshair.png"), 15, 15)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void FrontView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const PanelRect r = app_.screen_rectangle();
    const QRect screen(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (!app_.bezel().isNull())
        painter.drawPixmap(0, 0, app_.bezel());
    // Integer zoom: nearest-neighbour scaling replicates each unit pixel.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(screen, app_.screen_image());
    if (app_.settings().grid_enabled)
        painter.drawImage(screen.topLeft(), app_.grid_overlay());
    // Buttons held down, by the mouse or a key, are drawn pressed in.
    const uint8_t held = uint8_t(host_keys_held() | app_.buttons_down());
    for (int n = 1; n <= 5; ++n) {
        if (!(held & (1u << (n - 1))))
            continue;
        const PanelRect b = button_rect(width(), height(), n);
        painter.fillRect(QRect(b.left, b.top, b.right - b.left, b.bottom - b.top), QColor(0, 0, 0, 96));
    }
}

void FrontView::release_mouse_button()
{
    pressed_ = 0;
}

void FrontView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int n = button_at(width(), height(), int(event->position().x()), int(event->position().y()));
    if (n == 0)
        return;
    pressed_ = n;
    app_.set_button(n, true);
    setCursor(Qt::PointingHandCursor);
    update();
}

// The button the mouse pressed is released wherever the mouse button comes
// up, so a press that slides off its zone does not stay held.
void FrontView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || pressed_ == 0)
        return;
    app_.set_button(pressed_, false);
    pressed_ = 0;
    update();
}

void FrontView::mouseMoveEvent(QMouseEvent* event)
{
    const int x = int(event->position().x());
    const int y = int(event->position().y());
    const int zoom = app_.settings().zoom;
    // At zoom 4 the zones lie over the screen; the screen's cursor wins there.
    if (const auto p = screen_pixel_at(app_.screen_rectangle(), zoom, x, y)) {
        setCursor(crosshair_);
        tooltip_button_ = 0;
        QToolTip::showText(event->globalPosition().toPoint() + QPoint(12, 16),
                           QString::fromStdString(tooltip_text(*p)), this);
        return;
    }
    const int button = button_at(width(), height(), x, y);
    if (button != 0) {
        setCursor(Qt::PointingHandCursor);
        if (button != tooltip_button_)
            QToolTip::showText(event->globalPosition().toPoint() + QPoint(12, 16),
                               QString::fromStdString(button_tooltip_text(button)), this);
    } else {
        QToolTip::hideText();
        unsetCursor();
    }
    tooltip_button_ = button;
}

void FrontView::leaveEvent(QEvent*)
{
    QToolTip::hideText();
    tooltip_button_ = 0;
}

}  // namespace norvane

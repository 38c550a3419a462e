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

#include "host/bus/bus_server.h"
#include "host/core/bitmap_file.h"
#include "host/core/can_port_report.h"
#include "host/core/host_keys.h"
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

// Pauses for a modal command and restores the pause state it found, whatever
// way the command ends; `shown` runs after each change so the window says it.
class PauseDuring {
public:
    PauseDuring(FirmwareRunner& runner, std::function<void()> shown)
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
    FirmwareRunner& runner_;
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
      session_(installation),
      // After each main step the serial flush, then the session's own (the
      // installation steps, the bus server's clients get the frames).
      runner_(session_.make_realtime({
          .repaint = [this] { QMetaObject::invokeMethod(this, &SimulatorApp::frame_ready, Qt::QueuedConnection); },
          .exit_requested = [this](int32_t) { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); },
          .after_step = [this] { link_.flush_firmware_tx(); },
      })),
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

    view_ = new FrontView(*this, runner_);
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
    // Every frame on the bus reaches the monitor with the unit's time at
    // which it went on the bus: with the installation the hub's whole bus,
    // else the unit's frames and what others put on the bus.
    session_.watch_bus([queue = &bus_monitor_->queue()](const bus_event& e) {
        const bool from_unit = e.direction == bus_direction::from_unit;
        queue->push({e.frame, e.port, from_unit, bus_source_of(e.source, from_unit)});
    });
    if (UnitSession::on_virtual_bus(0))
        bus_monitor_->set_figures_source([this] {
            const bus_figures f = session_.hub().figures(0);
            return BusMonitorFigures{f.now_ms, f.busy_bits, f.backlog, f.refused};
        });
    if (installation) {
        bus_monitor_->set_description(*installation);
        installation_dock_ = new InstallationDock(
            *session_.plant(), [this](const plant_action& a) { session_.apply_plant(a); }, this);
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

    runner_.init();
    const bool none[CAN_PORT_COUNT] = {};
    const can_port_check ports = check_can_ports(check_can ? check_can : none);
    can_lines_ = ports.lines;
    runner_.start();

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
    const bool started = session_.start_bus_server(host, port, can_port, std::move(say), why);
    update_status();
    return started;
}

void SimulatorApp::raise_event(int event)
{
    UnitSession::raise_event(event);
    const uint32_t ms = hal_ms_clock();
    statusBar()->showMessage(QString::asprintf("Event %d raised at unit time %u:%02u:%02u.%03u", event + 1,
                                               ms / 3600000u, ms / 60000u % 60u, ms / 1000u % 60u, ms % 1000u),
                             5000);
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
    session_.stop();
    session_.stop_bus_server();
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
    connect(file->addAction("&Exit"), &QAction::triggered, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu("&View");
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
    QMenu* event = simulate->addMenu("&Event");
    connect(event->addAction("Event &1"), &QAction::triggered, this, [this] { raise_event(0); });
    connect(event->addAction("Event &2"), &QAction::triggered, this, [this] { raise_event(1); });

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
                const bus_figures bus = session_.hub().figures(0);
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
    const uint64_t seconds = runner_.stats().ticks / (1000 / FirmwareRunner::TICK_PERIOD_MS);
    time_label_->setText(QString::asprintf("%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                                           static_cast<unsigned long long>(seconds / 60 % 60),
                                           static_cast<unsigned long long>(seconds % 60)));
    time_label_->setToolTip("The unit's running time (stands still while paused)");
    BusServer* const server = session_.bus_server();
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
    pause_label_->setVisible(runner_.is_paused());
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
    const bool paused = runner_.is_paused();
    play_action_->setChecked(!paused);
    pause_action_->setChecked(paused);
    if (pause_label_)
        pause_label_->setVisible(paused);
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
    runner_.set_paused(false);
    update_checks();
}

void SimulatorApp::pause()
{
    runner_.set_paused(true);
    update_checks();
}

void SimulatorApp::frame_ready()
{
    // Taken here rather than in the paint, which a minimised or hidden
    // window never gets: the main loop waits for each frame to be taken.
    if (!runner_.is_paused()) {
        // A frame equal to the one on screen is taken without converting and
        // painting it again; a new one repaints only the screen's rectangle.
        if (!shown_.changed(*gfx_front_buffer())) {
            gfx_frame_taken();
            return;
        }
        FirmwareRunner::present(screen_image_.bits(), ImageRows::top_down);
        const PanelRect r = screen_rectangle();
        view_->update(r.left, r.top, r.right - r.left, r.bottom - r.top);
        return;
    }
    view_->update();
}

void SimulatorApp::release_all_buttons()
{
    UnitSession::release_all_keys();
    view_->release_mouse_button();
    view_->update();
}

void SimulatorApp::take_frame()
{
    // Taken outside frame_ready: the next frame is painted whatever it holds.
    shown_.show_next();
    FirmwareRunner::present(screen_image_.bits(), ImageRows::top_down);
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
    PauseDuring paused(runner_, [this] { update_checks(); });
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
    PauseDuring paused(runner_, [this] { update_checks(); });
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
        UnitSession::set_key(key->key() - Qt::Key_F1 + 1, false);
        view_->update();
        return widget && widget->window() == this;
    }
    if (!widget || widget->window() != this)
        return false;
    if (button_key) {
        // A held key repeats its press, which changes nothing.
        if (type == QEvent::KeyPress && !key->isAutoRepeat()) {
            UnitSession::set_key(key->key() - Qt::Key_F1 + 1, true);
            view_->update();
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
    if (!session_.plant()) {
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

FrontView::FrontView(SimulatorApp& app, FirmwareRunner& runner)
    : QWidget(&app), app_(app), runner_(runner), crosshair_(QPixmap(":/host/crosshair.png"), 15, 15)
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
    const uint8_t held = host_keys_held();
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
    UnitSession::set_key(n, true);
    setCursor(Qt::PointingHandCursor);
    update();
}

// The button the mouse pressed is released wherever the mouse button comes
// up, so a press that slides off its zone does not stay held.
void FrontView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || pressed_ == 0)
        return;
    UnitSession::set_key(pressed_, false);
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

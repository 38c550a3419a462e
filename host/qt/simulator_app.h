// The unit's front in a window: bezel, live screen, five buttons, menus,
// settings. It owns the serial link and the unit's session; the firmware
// runs in unit time on the paced runner's thread (paced_runner.h) at the
// speed chosen, the window only paints, hands what a person does to the
// runner, records it as a scenario and keeps its settings.
#pragma once
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "seam/can.h"
#include "host/core/firmware_runner.h"
#include "host/core/expectation.h"
#include "host/core/front_panel.h"
#include "host/core/paced_runner.h"
#include "host/core/scenario_recorder.h"
#include "host/core/host_settings.h"
#include "host/core/serial_link.h"
#include "host/core/shown_frame.h"
#include "host/core/unit_session.h"
#include "host/bus/bus_hub.h"
#include "host/installation/installation_on_bus.h"
#include "host/installation/installation.h"

class QAction;
class QLabel;
class QMenu;
class QMessageBox;
class QTimer;

namespace norvane {

class FrontView;
class BusServer;
class BusMonitorDock;
class InstallationDock;

class SimulatorApp : public QMainWindow {
    Q_OBJECT
public:
    // Below the client; fixed, so tools that click the bezel know where it is.
    static constexpr int STATUS_BAR_HEIGHT = 22;

    // Reads the settings, builds the window, initialises and starts the
    // firmware (the unit's working folder must have been prepared) and plays.
    // The CAN ports marked in `check_can` (mapped on the command line) are
    // opened if the unit left them closed, so their state can be shown.
    // With `installation`, the simulated installation is on CAN port 0 (which
    // must be mapped to the virtual bus) and its panel and the bus monitor are
    // shown beside the unit.
    explicit SimulatorApp(QWidget* parent = nullptr, const bool check_can[CAN_PORT_COUNT] = nullptr,
                          const installation::description* installation = nullptr);
    ~SimulatorApp() override;

    // Menu commands, also callable from tests.
    void apply_zoom(int zoom);
    void set_grid(bool enabled, int width = 0);  // width 0 keeps the current one
    void play();
    void pause();
    // Time control. Speeds: unit milliseconds per wall millisecond, or
    // PacedRunner::AS_FAST_AS_POSSIBLE.
    void set_speed(double speed);
    double speed() const { return speed_; }
    // While paused (or not): one main step's 25 ms, one tick's 10 ms, or
    // `ms` of unit time, then paused.
    void step_main() { run_for(25); }
    void step_tick() { run_for(10); }
    void run_for(uint64_t ms);
    // The unit time the firmware has run to.
    uint64_t unit_ms() const { return runner_->now(); }

    // Recording (File > Record Scenario... / Stop Recording): the unit starts
    // afresh from a copy of its state, kept beside the file in NAME.unit;
    // every input is written with its unit time. False with the reason.
    bool start_recording(const QString& path, QString& why);
    bool stop_recording(QString& why);
    bool is_recording() const { return recorder_.is_open(); }
    // The Checks menu while recording: the screen (and its reference
    // picture beside the file), the 64 outputs, the newest command of each
    // power module, as the unit stands now.
    void check_screen();
    void check_outputs();
    void check_commands();
    // File > Play Scenario...: the unit starts afresh (from NAME.unit beside
    // the file when there is one) and follows the file at the chosen speed,
    // checking its expectations; the verdict goes to the status bar and
    // show_verdict. False with the reason when the file cannot be read.
    bool play_scenario(const QString& path, QString& why);
    bool is_playing() const { return playing_; }
    // The last verdict: "N passed, M failed" and each failure's line.
    const QStringList& last_verdict() const { return verdict_; }
    // The folder the unit runs in now.
    const std::string& unit_folder() const { return unit_dir_; }
    // Named on the command line that replays a recording.
    std::string installation_file;
    void save_screen();
    void open_uart_dialog();
    // Writes the screen as last painted: a 32-bit .bmp, or a PNG when the name
    // ends in ".png". False with the reason on failure.
    bool save_screen_to(const QString& path, QString& why) const;

    const HostSettings& settings() const { return settings_; }
    bool is_paused() const { return runner_->is_paused(); }
    PanelRect screen_rectangle() const;
    FrontView* view() const { return view_; }
    SerialLink& serial_link() { return link_; }
    // Serves the virtual bus of CAN port `can_port` to socketcand clients
    // (bus "canN") and says where through `say`. With the installation on
    // that port the clients get the whole bus through the hub, the modules'
    // frames too, and theirs reach the unit and the modules. The server stops
    // with the unit. One server; false with the reason.
    bool start_bus_server(const std::string& host, uint16_t port, uint8_t can_port,
                          std::function<void(const std::string&)> say, std::string& why);
    QAction* action(const QString& text) const;  // by its menu text, e.g. "1:&2"
    // The bus monitor dock (View > Bus Monitor), hidden until asked for.
    BusMonitorDock* bus_monitor() const { return bus_monitor_; }
    // The installation panel and its plant; null without an installation.
    InstallationDock* installation_panel() const { return installation_dock_; }
    installation::plant* installation_plant() { return session_->plant(); }
    UnitSession& session() { return *session_; }
    PacedRunner& runner() { return *runner_; }

    // Where the installation panel and the bus monitor sit around the unit:
    // panel on the left and monitor on the right; panel on the left and
    // monitor below the unit; both in tabs on the left; or both in windows
    // of their own over the unit.
    enum class DockArrangement { beside, monitor_below, tabbed, floating };
    // Chooses the first arrangement whose window, with its frame, fits in
    // `available` (or in what the unit alone needs, when that is more: zoom
    // 2 and 4), gives the docks the room left (the panel up to its whole
    // height, the monitor every column), sizes the window and moves it back
    // onto `available` if it reached past. Runs at start and at each zoom
    // with the screen's available geometry; nothing to do without an
    // installation.
    DockArrangement fit_docks(const QRect& available);
    DockArrangement dock_arrangement() const { return arrangement_; }

    // Copies the firmware's front buffer into the screen image and tells the
    // firmware the frame was taken. Runs after every main step while playing,
    // painted or not (a minimised window keeps the unit's bus going).
    void take_frame();
    // One line per CAN port from start-up: what it is mapped to and whether
    // it opened.
    const std::vector<std::string>& can_port_lines() const { return can_lines_; }
    RunnerStats runner_stats() const { return runner_->stats(); }
    // The status bar's texts: one per CAN port, the running time, "Paused".
    QLabel* port_status(int port) const { return port_labels_[port]; }
    QLabel* time_status() const { return time_label_; }
    QLabel* pause_status() const { return pause_label_; }
    // The bus server's address and client count, its clients in the
    // tooltip; hidden without a server.
    QLabel* server_status() const { return server_label_; }
    void update_status();
    // Raises test event `event` (0 or 1, the menu's Event 1 and 2) and says
    // in the status bar which one went, at what unit time.
    void raise_event(int event);
    // Every held button goes up (and the bezel shows it).
    void release_all_buttons();
    // Button 1..5 goes down or up: to the unit at its next millisecond.
    void set_button(int button, bool down);
    // The buttons the window holds down (bit n-1 for button n).
    uint8_t buttons_down() const { return buttons_down_; }
    const QImage& screen_image() const { return screen_image_; }
    const QImage& grid_overlay() const { return grid_image_; }
    const QPixmap& bezel() const { return bezel_; }

    // The file name Save Screen asks for (empty: cancelled) and how errors are
    // shown. Tests replace them; the defaults are a file dialog and a message box.
    std::function<QString()> ask_save_name;
    std::function<void(const QString& title, const QString& text)> show_error;
    // The file names Record Scenario... and Play Scenario... ask for (empty:
    // cancelled), Run For...'s milliseconds (0: cancelled), and how a
    // played scenario's verdict is shown.
    std::function<QString(const QString& title, bool save)> ask_scenario_name;
    std::function<uint64_t()> ask_run_for;
    std::function<void(const QString& title, const QString& text)> show_verdict;

    // Settings from the per-user store ("Norvane" / "Simulator"), checked.
    static HostSettings read_settings();
    void write_settings();

protected:
    void closeEvent(QCloseEvent* event) override;
    // F1..F5 and Escape act wherever the keyboard focus sits in the window
    // (the menu bar keeps it after keyboard navigation).
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void build_menus();
    // Makes the unit's session and runner (a power cycle when there was one):
    // with `from`, in a fresh folder holding a copy of `from`'s unit state;
    // with `virtual_ports`, both CAN ports on the virtual bus (as norvane-run
    // runs a scenario) instead of the command line's mappings.
    bool boot_unit(const std::string* from, std::string& why, const bool check_can[CAN_PORT_COUNT] = nullptr,
                   bool virtual_ports = false);
    void unit_applied(const scenario_action& action);
    void play_ended(uint64_t end_ms, bool firmware_exit);
    void update_time_menu();
    void update_checks();
    void rebuild_grid();
    void shut_down();
    void frame_ready();
    // Escape on the unit's view: closes, or with an installation asks first.
    void ask_to_close_from_keyboard();
    void arrange_docks(const QRect& available, QSize frame);
    // The window as large as its contents want, within `available` (the
    // unit's view scrolls when it is larger), and moved onto it.
    void fit_window(const QRect& available);
    QSize window_frame() const;
    void place_docks(DockArrangement arrangement, int panel_height, QSize monitor);

    HostSettings settings_;
    SerialLink link_;
    ShownFrame shown_;  // the frame on screen, so an equal one is not painted again
    // The unit's bench: the firmware runner, the installation and its bus,
    // the bus server. The window draws and forwards what a person does.
    const installation::description* layout_ = nullptr;
    std::unique_ptr<UnitSession> session_;
    std::unique_ptr<PacedRunner> runner_;
    double speed_ = 1.0;
    uint8_t buttons_down_ = 0;  // as the window last said them
    // The unit's folder after a power cycle, a fresh one each time.
    std::unique_ptr<QTemporaryDir> fresh_dir_;
    std::string unit_dir_;
    std::string can_mappings_[CAN_PORT_COUNT];
    // The bus server, started again after a power cycle.
    struct server_place {
        std::string host;
        uint16_t port = 0;
        uint8_t can_port = 0;
        std::function<void(const std::string&)> say;
    };
    std::unique_ptr<server_place> server_place_;
    // Recording: the file, and the commands kept for Checks > Commands.
    ScenarioRecorder recorder_;
    CommandFrames commands_;
    // Playing: the scenario's check, its verdict.
    std::unique_ptr<ExpectationCheck> play_check_;
    QString play_path_;
    QStringList verdict_;
    bool playing_ = false;
    std::atomic<ExpectationCheck*> live_check_{nullptr};  // the taps' check while it checks
    std::unique_ptr<QTemporaryDir> play_start_;  // the unit's state a play started from
    bool check_can_[CAN_PORT_COUNT] = {};
    std::unique_ptr<frame_buffer> taken_ = std::make_unique<frame_buffer>();
    QMenu* view_menu_ = nullptr;
    QLabel* recording_label_ = nullptr;
    QAction* speed_actions_[5] = {};
    QAction* record_action_ = nullptr;
    QAction* stop_record_action_ = nullptr;
    QMenu* checks_menu_ = nullptr;
    FrontView* view_ = nullptr;
    BusMonitorDock* bus_monitor_ = nullptr;
    InstallationDock* installation_dock_ = nullptr;
    DockArrangement arrangement_ = DockArrangement::beside;
    QImage screen_image_;  // 320 x 240, 32 bits, top row first
    QImage grid_image_;
    QPixmap bezel_;        // scaled to the client for zooms below 4
    bool shut_down_ = false;
    QMessageBox* quit_question_ = nullptr;  // open while it asks

    QAction* zoom_actions_[3] = {};
    QAction* no_grid_action_ = nullptr;
    QAction* grid_actions_[4] = {};
    QAction* play_action_ = nullptr;
    QAction* pause_action_ = nullptr;

    std::vector<std::string> can_lines_;
    QLabel* port_labels_[CAN_PORT_COUNT] = {};
    QLabel* time_label_ = nullptr;
    QLabel* pause_label_ = nullptr;
    QLabel* server_label_ = nullptr;
    QTimer* status_timer_ = nullptr;
    QElapsedTimer since_status_;
    can_port_status last_counts_[CAN_PORT_COUNT] = {};
    bus_figures last_bus_{};  // port 0's figures at the last status update
};

// The client area: bezel, screen, grid; mouse zones, cursors and tooltip.
class FrontView : public QWidget {
    Q_OBJECT
public:
    explicit FrontView(SimulatorApp& app);
    int pressed_button() const { return pressed_; }
    void release_mouse_button();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    SimulatorApp& app_;
    int pressed_ = 0;  // button held down by the mouse
    int tooltip_button_ = 0;  // the button whose name the tooltip shows
    QCursor crosshair_;
};

}  // namespace norvane

// The bus monitor: every frame on the unit's bus as CAN engineers read it. A
// trace (time in the unit's time, port, direction, who put the frame on the
// bus, identifier, module and message, data, decoded signals) and a view
// with one row per identifier (count, cycle time and its jitter, last data
// with the bytes that just changed highlighted, decoded signals), a details
// pane with the decoded signals of the selected frame, filters by module,
// message, source and identifier range, sorting by a clicked column (and
// back to the order of arrival), a Follow toggle (off, the view stays where
// the user scrolled while frames arrive), Pause, copy of the
// selected frames as candump text, Save... and a continuous "Log to file..."
// (candump, or pcap by the file's extension).
//
// Frames arrive from any thread through BusMonitorQueue (bounded, one short
// lock); the dock drains it with a timer, so a fully loaded bus costs one
// batch per repaint rather than a signal per frame. The history is a
// bounded ring and the tables are model/view pairs; the signals are decoded
// only for the rows painted and the selected frame.
#pragma once
#include <QAbstractTableModel>
#include <QDockWidget>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/core/bus_decode.h"
#include "host/core/bus_signals.h"
#include "seam/can.h"

class QComboBox;
class QElapsedTimer;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSortFilterProxyModel;
class QSplitter;
class QTabWidget;
class QTableView;
class QTimer;

namespace norvane {

// Who put a frame on the bus.
enum class BusSource : uint8_t { unit, module, client, scenario };
const char* bus_source_name(BusSource source);
// The source of a hub event's source name ("installation", "bus-server", "scenario").
BusSource bus_source_of(const char* name, bool from_unit);

struct BusMonitorFrame {
    can_frame frame{};
    uint8_t port = 0;
    bool sent = false;  // sent by the unit (Tx), else received by it (Rx)
    BusSource source = BusSource::unit;
};

// The bus's own figures, when the bus has a bandwidth model (the hub's):
// the load comes from its busy bit times, never above 100 %.
struct BusMonitorFigures {
    uint64_t now_ms = 0;
    uint64_t busy_bits = 0;
    size_t backlog = 0;
    uint64_t refused = 0;
};

// What the filters let through; empty fields pass everything.
struct BusMonitorFilter {
    std::string module;
    std::string message;
    int source = -1;           // a BusSource, or -1 for all
    uint32_t id_low = 0;       // identifier range, both ends included
    uint32_t id_high = 0x1FFFFFFFu;
    bool active() const { return !module.empty() || !message.empty() || source >= 0 || id_low != 0 || id_high != 0x1FFFFFFFu; }
};

// Reads "18FF0000-18FFFFFF", "421" or "" (everything) into a range; false
// with the reason.
bool parse_id_range(const std::string& text, uint32_t& low, uint32_t& high, std::string& why);

// Frames waiting for the next drain. push() never blocks for long and never
// grows past `capacity`: when the window falls behind, the newest frames are
// dropped and counted.
class BusMonitorQueue {
public:
    explicit BusMonitorQueue(size_t capacity = 8192);
    void push(const BusMonitorFrame& frame);
    // Moves everything waiting into `out` (cleared first).
    void take(std::vector<BusMonitorFrame>& out);
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    const size_t capacity_;
    std::mutex lock_;  // guards pending_
    std::vector<BusMonitorFrame> pending_;
    std::atomic<uint64_t> dropped_{0};
};

// The trace: one row per frame, oldest first.
class BusMonitorModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kTime, kPort, kDirection, kSource, kIdentifier, kModule, kMessage, kData, kSignals, kColumnCount };
    // Sort role: times, ports and identifiers as numbers, the rest as shown.
    static constexpr int SortRole = Qt::UserRole + 2;

    explicit BusMonitorModel(size_t history = 10000, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Takes a drained batch at wall time `now_ms` (milliseconds of any steady
    // clock). Paused, the frames still go into the history and the figures
    // but the table stands still. Returns the rows dropped from the front.
    size_t add_frames(const std::vector<BusMonitorFrame>& batch, int64_t now_ms);
    // Closes the figures' second when the bus went quiet.
    void advance(int64_t now_ms);

    void set_paused(bool paused);
    bool paused() const { return paused_; }
    // Empty strings show every module / message.
    void set_filter(const std::string& module, const std::string& message);
    void set_filter(const BusMonitorFilter& filter);
    const BusMonitorFilter& filter() const { return filter_; }
    void clear();
    // Names from the installation's description.
    void set_decoder(const BusDecoder* decoder) { decoder_ = decoder; }
    const BusDecoder& decoder() const { return *decoder_; }

    // Writes the rows shown as a candump log ("(S.U) canP ID#DATA"), or as a
    // pcap capture when the name ends in .pcap. False with the reason when
    // the file cannot be written.
    bool save_candump(const std::string& path, std::string& why) const;
    // The same of everything held (the history), filter or not.
    bool save_history(const std::string& path, std::string& why) const;

    size_t history_size() const { return history_.size(); }
    const BusMonitorFrame& row(size_t index) const { return rows_[index]; }
    // Figures of the last whole second.
    uint32_t frames_per_second() const { return shown_frames_; }
    double bus_load_percent() const { return shown_load_; }

private:
    bool accepts(const BusMonitorFrame& frame) const;
    void rebuild_rows();
    void count(const can_frame& frame, int64_t now_ms);

    const size_t capacity_;
    std::deque<BusMonitorFrame> history_;  // every frame, newest last
    std::deque<BusMonitorFrame> rows_;     // the frames the filter passes
    bool paused_ = false;
    BusMonitorFilter filter_;
    const BusDecoder* decoder_;
    int64_t second_start_ms_ = -1;
    uint32_t second_frames_ = 0;
    uint64_t second_bits_ = 0;
    uint32_t shown_frames_ = 0;
    double shown_load_ = 0.0;
};

// One row per identifier: how often it comes, how regularly, what it said last.
class BusIdentifierModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kIdentifier, kSource, kName, kCount, kCycle, kJitter, kData, kSignals, kColumnCount };
    // Data role of kData: the bytes that changed within the last second, a bit each.
    static constexpr int ChangedRole = Qt::UserRole + 1;
    // Sort role: numbers as numbers.
    static constexpr int SortRole = Qt::UserRole + 2;
    static constexpr int64_t HIGHLIGHT_MS = 1000;

    explicit BusIdentifierModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Counts a batch at wall time `now_ms` (the highlight's clock).
    void add_frames(const std::vector<BusMonitorFrame>& batch, int64_t now_ms);
    // Lets highlights older than HIGHLIGHT_MS fade.
    void fade(int64_t now_ms);
    void set_filter(const BusMonitorFilter& filter);
    void clear();
    void set_decoder(const BusDecoder* decoder) { decoder_ = decoder; }

    struct Entry {
        BusMonitorFrame last;
        uint64_t count = 0;
        uint64_t first_us = 0;
        // Intervals between frames, for the mean and its standard deviation.
        double mean_ms = 0.0;
        double m2 = 0.0;
        uint8_t changed = 0;        // bytes that changed at the last frame
        int64_t changed_at_ms = -1;  // wall time of that change
    };
    const Entry& entry(size_t row) const { return *rows_[row]; }
    // Milliseconds: the mean interval and its standard deviation (0 below two frames).
    static double cycle_ms(const Entry& e) { return e.count > 1 ? e.mean_ms : 0.0; }
    static double jitter_ms(const Entry& e);

private:
    bool accepts(const Entry& e) const;
    void rebuild_rows();

    std::map<uint64_t, Entry> entries_;  // by port, kind and identifier
    std::vector<Entry*> rows_;           // the entries the filter passes, in identifier order
    BusMonitorFilter filter_;
    const BusDecoder* decoder_;
    int64_t now_ms_ = 0;
};

class BusMonitorDock : public QDockWidget {
    Q_OBJECT

public:
    // The tables are refreshed ten times a second: a full bus is 1900 frames
    // a second, far more than anyone reads, and painting costs far more than
    // taking the frames.
    static constexpr int DRAIN_MS = 100;
    static constexpr size_t HISTORY = 100000;  // about 50 s of a full bus

    explicit BusMonitorDock(QWidget* parent = nullptr);
    ~BusMonitorDock() override;

    // Where producers on any thread put the frames.
    BusMonitorQueue& queue() { return queue_; }
    BusMonitorModel& model() { return *model_; }
    BusIdentifierModel& identifiers() { return *ids_; }
    // One drain and repaint, as the timer does it.
    void drain();

    // The signals' names from the installation's description.
    void set_description(const installation::description& d);
    // The bus's own figures (load, backlog, refusals), read at each drain.
    void set_figures_source(std::function<BusMonitorFigures()> source) { figures_source_ = std::move(source); }
    // Shows the trace (0) or the per-identifier view (1).
    void show_view(int view);
    bool following() const;
    void set_following(bool follow);
    // Starts a continuous log of every frame to `path` (pcap when it ends in
    // .pcap, else candump); false with the reason. stop_log closes it.
    bool start_log(const std::string& path, std::string& why);
    bool stop_log(std::string& why);
    uint64_t logged_frames() const { return logged_; }
    // The selected trace rows as candump text, one line each, in the order
    // shown.
    QString selected_candump() const;
    // The details pane's text.
    QString details_text() const;

    // The table's width with every column readable (the data column as wide
    // as eight bytes), frame and scroll bar included.
    int full_table_width() const;
    // The least size of the tables with the details pane (the filters' row
    // taken from its height); the window sizes the dock through it.
    void set_table_size(QSize size);
    // The details pane beside the tables (for a dock that is wide and short,
    // below the unit on a laptop's screen), or below them (the default).
    void set_details_beside(bool beside);

private:
    void update_figures();
    void update_details();
    void apply_filter();
    void write_log(const std::vector<BusMonitorFrame>& batch);
    // Below the views, the details pane gets the height of `lines` lines as
    // far as the trace can spare it.
    void make_room_for_details(int lines);
    static constexpr int DETAILS_BESIDE_CHARS = 40;  // the details' width beside the views
    // Scrolls the trace to the newest frame.
    void show_newest();
    // The trace's frame shown in row `row` of the table.
    const BusMonitorFrame& shown_frame(int row) const;

    BusMonitorQueue queue_;
    BusDecoder decoder_;
    BusMonitorModel* model_ = nullptr;
    BusIdentifierModel* ids_ = nullptr;
    QSortFilterProxyModel* ids_sorted_ = nullptr;
    // The trace as shown: in the order the frames came, or sorted by the
    // column whose header was clicked (a third click goes back).
    QSortFilterProxyModel* trace_sorted_ = nullptr;
    QTabWidget* views_ = nullptr;
    QSplitter* split_ = nullptr;
    QWidget* filters_row_ = nullptr;
    QTableView* table_ = nullptr;
    QTableView* id_table_ = nullptr;
    QPlainTextEdit* details_ = nullptr;
    QComboBox* module_box_ = nullptr;
    QComboBox* message_box_ = nullptr;
    QComboBox* source_box_ = nullptr;
    QLineEdit* id_range_ = nullptr;
    QPushButton* pause_button_ = nullptr;
    QPushButton* follow_button_ = nullptr;
    QPushButton* log_button_ = nullptr;
    QLabel* figures_ = nullptr;
    QTimer* timer_ = nullptr;
    QElapsedTimer* clock_ = nullptr;
    std::vector<BusMonitorFrame> batch_;
    std::function<BusMonitorFigures()> figures_source_;
    // The bus's figures a second ago and now, for its load.
    BusMonitorFigures figures_then_{}, figures_now_{};
    int64_t figures_then_wall_ = -1;
    double hub_load_ = -1.0;
    // The continuous log.
    std::FILE* log_ = nullptr;
    bool log_pcap_ = false;
    bool log_failed_ = false;
    uint64_t logged_ = 0;
    std::string log_text_;
};

}  // namespace norvane

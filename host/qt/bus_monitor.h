// The bus monitor: every frame on the unit's bus in a table with its time,
// port, direction, identifier, the module and message it belongs to, and its
// data. Frames arrive from any thread through BusMonitorQueue (bounded, one
// short lock); the dock drains it with a timer, so a fully loaded bus costs
// one batch per repaint rather than a signal per frame. The
// history is a bounded ring and the table a model/view pair.
#pragma once
#include <QAbstractTableModel>
#include <QDockWidget>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "host/core/bus_decode.h"
#include "seam/can.h"

class QComboBox;
class QElapsedTimer;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;

namespace norvane {

struct BusMonitorFrame {
    can_frame frame{};
    uint8_t port = 0;
    bool sent = false;  // sent by the unit (Tx), else received by it (Rx)
};

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

class BusMonitorModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kTime, kPort, kDirection, kIdentifier, kModule, kMessage, kData, kColumnCount };

    explicit BusMonitorModel(size_t history = 10000, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Takes a drained batch at wall time `now_ms` (milliseconds of any steady
    // clock). Paused, the frames still go into the history and the figures
    // but the table stands still.
    void add_frames(const std::vector<BusMonitorFrame>& batch, int64_t now_ms);
    // Closes the figures' second when the bus went quiet.
    void advance(int64_t now_ms);

    void set_paused(bool paused);
    bool paused() const { return paused_; }
    // Empty strings show every module / message.
    void set_filter(const std::string& module, const std::string& message);
    void clear();

    // Writes the rows shown as a candump log ("(S.U) canP ID#DATA"). False
    // with the reason when the file cannot be written.
    bool save_candump(const std::string& path, std::string& why) const;

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
    std::string module_filter_;
    std::string message_filter_;
    int64_t second_start_ms_ = -1;
    uint32_t second_frames_ = 0;
    uint64_t second_bits_ = 0;
    uint32_t shown_frames_ = 0;
    double shown_load_ = 0.0;
};

class BusMonitorDock : public QDockWidget {
    Q_OBJECT

public:
    // The table is refreshed ten times a second: a full bus is 1900 frames a
    // second, far more than anyone reads, and painting the table costs far
    // more than taking the frames.
    static constexpr int DRAIN_MS = 100;

    explicit BusMonitorDock(QWidget* parent = nullptr);
    ~BusMonitorDock() override;

    // Where producers on any thread put the frames.
    BusMonitorQueue& queue() { return queue_; }
    BusMonitorModel& model() { return *model_; }
    // One drain and repaint, as the timer does it.
    void drain();

    // The table's width with every column readable (the data column as wide
    // as eight bytes), frame and scroll bar included.
    int full_table_width() const;
    // The table's least size; the window sizes the dock through it.
    void set_table_size(QSize size);

private:
    void update_figures();

    BusMonitorQueue queue_;
    BusMonitorModel* model_ = nullptr;
    QTableView* table_ = nullptr;
    QComboBox* module_box_ = nullptr;
    QComboBox* message_box_ = nullptr;
    QPushButton* pause_button_ = nullptr;
    QLabel* figures_ = nullptr;
    QTimer* timer_ = nullptr;
    QElapsedTimer* clock_ = nullptr;
    std::vector<BusMonitorFrame> batch_;
};

}  // namespace norvane

#include "host/qt/bus_monitor.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "seam/can_candump.h"

namespace norvane {
namespace {

// Asks for no more room than its least size, which the window sets to what
// the screen leaves.
class FramesTable : public QTableView {
public:
    using QTableView::QTableView;
    QSize sizeHint() const override { return minimumSize(); }
};

}  // namespace

BusMonitorQueue::BusMonitorQueue(size_t capacity) : capacity_(capacity)
{
    pending_.reserve(capacity_);
}

void BusMonitorQueue::push(const BusMonitorFrame& frame)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (pending_.size() >= capacity_) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    pending_.push_back(frame);
}

void BusMonitorQueue::take(std::vector<BusMonitorFrame>& out)
{
    out.clear();
    out.reserve(capacity_);
    std::lock_guard<std::mutex> hold(lock_);
    pending_.swap(out);
}

BusMonitorModel::BusMonitorModel(size_t history, QObject* parent)
    : QAbstractTableModel(parent), capacity_(history == 0 ? 1 : history)
{
}

int BusMonitorModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BusMonitorModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant BusMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};
    static const char* const names[kColumnCount] = {"Time", "Port", "Dir", "Identifier", "Module", "Message", "Data"};
    return section >= 0 && section < kColumnCount ? QVariant(names[section]) : QVariant();
}

QVariant BusMonitorModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    const BusMonitorFrame& row = rows_[static_cast<size_t>(index.row())];
    const can_frame& f = row.frame;
    switch (index.column()) {
    case kTime:
        return QString::asprintf("%llu.%06llu", static_cast<unsigned long long>(f.time_us / 1000000u),
                                 static_cast<unsigned long long>(f.time_us % 1000000u));
    case kPort:
        return static_cast<int>(row.port);
    case kDirection:
        return row.sent ? QStringLiteral("Tx") : QStringLiteral("Rx");
    case kIdentifier:
        return f.ext ? QString::asprintf("%08X", f.id & 0x1FFFFFFFu) : QString::asprintf("%03X", f.id & 0x7FFu);
    case kModule:
        return QString::fromStdString(bus_decode_frame(f).module);
    case kMessage: {
        const BusFrameName name = bus_decode_frame(f);
        if (name.channel)
            return QString::fromStdString(name.message + " ch " + std::to_string(name.channel));
        return QString::fromStdString(name.message);
    }
    case kData: {
        if (f.rtr)
            return QStringLiteral("R");
        QString text;
        for (uint8_t i = 0; i < f.len && i < 8; ++i)
            text += QString::asprintf(i ? " %02X" : "%02X", f.data[i]);
        return text;
    }
    default:
        return {};
    }
}

bool BusMonitorModel::accepts(const BusMonitorFrame& frame) const
{
    if (module_filter_.empty() && message_filter_.empty())
        return true;
    const BusFrameName name = bus_decode_frame(frame.frame);
    return (module_filter_.empty() || name.module == module_filter_) &&
           (message_filter_.empty() || name.message == message_filter_);
}

void BusMonitorModel::count(const can_frame& frame, int64_t now_ms)
{
    advance(now_ms);
    ++second_frames_;
    second_bits_ += bus_frame_bits(frame);
}

void BusMonitorModel::advance(int64_t now_ms)
{
    if (second_start_ms_ < 0) {
        second_start_ms_ = now_ms;
        return;
    }
    if (now_ms - second_start_ms_ < 1000)
        return;
    // A second with nothing after the counted one shows zero.
    const bool gap = now_ms - second_start_ms_ >= 2000;
    shown_frames_ = gap ? 0 : second_frames_;
    shown_load_ = gap ? 0.0 : 100.0 * static_cast<double>(second_bits_) / BUS_BITRATE;
    second_frames_ = 0;
    second_bits_ = 0;
    second_start_ms_ += (now_ms - second_start_ms_) / 1000 * 1000;
}

void BusMonitorModel::add_frames(const std::vector<BusMonitorFrame>& batch, int64_t now_ms)
{
    if (batch.empty()) {
        advance(now_ms);
        return;
    }
    std::vector<const BusMonitorFrame*> passed;
    for (const BusMonitorFrame& frame : batch) {
        count(frame.frame, now_ms);
        history_.push_back(frame);
        if (history_.size() > capacity_)
            history_.pop_front();
        if (!paused_ && accepts(frame))
            passed.push_back(&frame);
    }
    if (passed.empty())
        return;
    if (passed.size() >= capacity_ || rows_.empty()) {
        beginResetModel();
        const size_t first = passed.size() > capacity_ ? passed.size() - capacity_ : 0;
        for (size_t i = first; i < passed.size(); ++i)
            rows_.push_back(*passed[i]);
        while (rows_.size() > capacity_)
            rows_.pop_front();
        endResetModel();
        return;
    }
    const size_t over = rows_.size() + passed.size() > capacity_ ? rows_.size() + passed.size() - capacity_ : 0;
    if (over) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(over) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(over));
        endRemoveRows();
    }
    const int start = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), start, start + static_cast<int>(passed.size()) - 1);
    for (const BusMonitorFrame* frame : passed)
        rows_.push_back(*frame);
    endInsertRows();
}

void BusMonitorModel::rebuild_rows()
{
    beginResetModel();
    rows_.clear();
    for (const BusMonitorFrame& frame : history_)
        if (accepts(frame))
            rows_.push_back(frame);
    endResetModel();
}

void BusMonitorModel::set_paused(bool paused)
{
    if (paused == paused_)
        return;
    paused_ = paused;
    if (!paused_)
        rebuild_rows();  // what came in meanwhile
}

void BusMonitorModel::set_filter(const std::string& module, const std::string& message)
{
    module_filter_ = module;
    message_filter_ = message;
    rebuild_rows();
}

void BusMonitorModel::clear()
{
    beginResetModel();
    history_.clear();
    rows_.clear();
    endResetModel();
}

bool BusMonitorModel::save_candump(const std::string& path, std::string& why) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        why = path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    for (const BusMonitorFrame& row : rows_)
        out << can_format_candump_line(row.frame.time_us, "can" + std::to_string(row.port), row.frame) << '\n';
    out.flush();
    if (!out) {
        why = path + ": write failed";
        return false;
    }
    return true;
}

BusMonitorDock::BusMonitorDock(QWidget* parent) : QDockWidget(tr("Bus monitor"), parent)
{
    setObjectName("busMonitorDock");
    model_ = new BusMonitorModel(10000, this);
    clock_ = new QElapsedTimer;
    clock_->start();

    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* bar = new QHBoxLayout;
    pause_button_ = new QPushButton(tr("Pause"), body);
    pause_button_->setCheckable(true);
    auto* clear_button = new QPushButton(tr("Clear"), body);
    auto* save_button = new QPushButton(tr("Save..."), body);
    save_button->setObjectName("busSave");
    module_box_ = new QComboBox(body);
    module_box_->setObjectName("busModuleFilter");
    module_box_->addItem(tr("All modules"), QString());
    for (int i = 1; i <= 4; ++i)
        module_box_->addItem(QString("SENB%1").arg(i), QString("SENB%1").arg(i));
    for (int i = 1; i <= 8; ++i)
        module_box_->addItem(QString("PWRB%1").arg(i), QString("PWRB%1").arg(i));
    message_box_ = new QComboBox(body);
    message_box_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    message_box_->setMinimumContentsLength(14);
    message_box_->setObjectName("busMessageFilter");
    message_box_->addItem(tr("All messages"), QString());
    for (const char* name : {"MSG_INPUT_CHANNEL", "MSG_OUTPUT_STATUS", "MSG_OUTPUT_CODES", "MSG_OUTPUT_COMMAND"})
        message_box_->addItem(name, QString(name));
    figures_ = new QLabel(body);
    figures_->setObjectName("busFigures");
    bar->addWidget(pause_button_);
    bar->addWidget(clear_button);
    bar->addWidget(save_button);
    bar->addWidget(module_box_);
    bar->addWidget(message_box_);
    bar->addStretch(1);
    layout->addLayout(bar);

    table_ = new FramesTable(body);
    table_->setModel(model_);
    table_->verticalHeader()->setVisible(false);
    // Fixed row heights and column widths keep a full bus from relaying out
    // the table on every batch.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(BusMonitorModel::kTime, 110);
    table_->setColumnWidth(BusMonitorModel::kPort, 40);
    table_->setColumnWidth(BusMonitorModel::kDirection, 40);
    table_->setColumnWidth(BusMonitorModel::kIdentifier, 90);
    table_->setColumnWidth(BusMonitorModel::kModule, 60);
    table_->setColumnWidth(BusMonitorModel::kMessage, 170);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setMinimumSize(full_table_width(), 120);
    layout->addWidget(table_);
    // The figures on a line of their own: the row above stays narrow
    // enough for the dock to share a small screen.
    layout->addWidget(figures_);
    setWidget(body);
    update_figures();

    connect(pause_button_, &QPushButton::toggled, this, [this](bool on) { model_->set_paused(on); });
    connect(clear_button, &QPushButton::clicked, this, [this] { model_->clear(); });
    auto refilter = [this] {
        model_->set_filter(module_box_->currentData().toString().toStdString(),
                           message_box_->currentData().toString().toStdString());
    };
    connect(module_box_, &QComboBox::currentIndexChanged, this, refilter);
    connect(message_box_, &QComboBox::currentIndexChanged, this, refilter);
    connect(save_button, &QPushButton::clicked, this, [this] {
        // A bare name gets ".log", as Save Screen gives one ".bmp".
        QFileDialog dialog(this, tr("Save CAN log"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(tr("CAN logs (*.log)"));
        dialog.setDefaultSuffix("log");
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        const QString path = dialog.selectedFiles().first();
        std::string why;
        if (!model_->save_candump(path.toStdString(), why))
            QMessageBox::warning(this, tr("Save CAN log"), QString::fromStdString(why));
    });

    timer_ = new QTimer(this);
    timer_->setInterval(DRAIN_MS);
    connect(timer_, &QTimer::timeout, this, &BusMonitorDock::drain);
    timer_->start();
}

BusMonitorDock::~BusMonitorDock()
{
    delete clock_;
}

void BusMonitorDock::drain()
{
    queue_.take(batch_);
    model_->add_frames(batch_, clock_->elapsed());
    if (!model_->paused() && !batch_.empty())
        table_->scrollToBottom();
    update_figures();
}

int BusMonitorDock::full_table_width() const
{
    int width = 0;
    for (int c = 0; c < BusMonitorModel::kData; ++c)
        width += table_->columnWidth(c);
    width += table_->fontMetrics().horizontalAdvance("00 00 00 00 00 00 00 00") + 16;
    return width + 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width();
}

void BusMonitorDock::set_table_size(QSize size)
{
    table_->setMinimumSize(size);
    // At once, not at the next event loop: the window measures itself now.
    widget()->layout()->activate();
    widget()->updateGeometry();
}

void BusMonitorDock::update_figures()
{
    figures_->setText(tr("%1 frames/s  load %2 %  %3 frames")
                          .arg(model_->frames_per_second())
                          .arg(model_->bus_load_percent(), 0, 'f', 1)
                          .arg(model_->history_size()));
}

}  // namespace norvane

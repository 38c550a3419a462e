#include "host/qt/bus_monitor.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "host/core/pcap_file.h"
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

// The views over the details: asks for no more room than its least size,
// which the window sets through set_table_size.
class SizedSplitter : public QSplitter {
public:
    using QSplitter::QSplitter;
    QSize sizeHint() const override { return minimumSize(); }
};

// The figures beside the views' tabs: asks for its least width, which the
// dock sets to leave the tabs their room.
class FiguresLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return {minimumWidth(), QLabel::sizeHint().height()}; }
};

// The details pane: lays its text out again when its width changes.
class DetailsPane : public QPlainTextEdit {
public:
    DetailsPane(QWidget* parent, std::function<void()> relayout)
        : QPlainTextEdit(parent), relayout_(std::move(relayout))
    {
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QPlainTextEdit::resizeEvent(event);
        if (event->size().width() != event->oldSize().width())
            relayout_();
    }

private:
    std::function<void()> relayout_;
};

// The data bytes with the ones that changed a moment ago on a yellow ground.
class ChangedBytesDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const uint8_t changed = uint8_t(index.data(BusIdentifierModel::ChangedRole).toUInt());
        if (!changed) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        const QString text = plain.text;
        plain.text.clear();
        QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &plain, painter);
        const QFontMetrics metrics(option.font);
        const int byte_width = metrics.horizontalAdvance("00 ");
        int x = option.rect.left() + 3;
        const QStringList bytes = text.split(' ');
        painter->save();
        for (int i = 0; i < bytes.size(); ++i, x += byte_width) {
            const QRect cell(x - 1, option.rect.top() + 1, metrics.horizontalAdvance(bytes[i]) + 2,
                             option.rect.height() - 2);
            if (changed & (1u << i))
                painter->fillRect(cell, QColor(255, 220, 80));
            painter->setPen(option.palette.color(QPalette::Text));
            painter->drawText(cell, Qt::AlignCenter, bytes[i]);
        }
        painter->restore();
    }
};

QString time_text(uint64_t us)
{
    return QString::asprintf("%llu.%06llu", static_cast<unsigned long long>(us / 1000000u),
                             static_cast<unsigned long long>(us % 1000000u));
}

QString id_text(const can_frame& f)
{
    return f.ext ? QString::asprintf("%08X", f.id & 0x1FFFFFFFu) : QString::asprintf("%03X", f.id & 0x7FFu);
}

QString data_text(const can_frame& f)
{
    if (f.rtr)
        return QStringLiteral("R");
    QString text;
    for (uint8_t i = 0; i < f.len && i < 8; ++i)
        text += QString::asprintf(i ? " %02X" : "%02X", f.data[i]);
    return text;
}

QString signals_text(const BusDecoder& decoder, const can_frame& f)
{
    const bus_decoded d = decoder.decode(f);
    QString text;
    for (const bus_signal_value& v : d.values)
        text += QString::fromStdString((text.isEmpty() ? "" : "  ") + v.signal->name + "=" + v.text);
    if (!d.note.empty())
        text += QString::fromStdString((text.isEmpty() ? "" : "  ") + ("(" + d.note + ")"));
    return text;
}

bool passes(const BusMonitorFilter& filter, const BusMonitorFrame& frame)
{
    if (!filter.active())
        return true;
    if (filter.source >= 0 && int(frame.source) != filter.source)
        return false;
    const uint32_t id = frame.frame.ext ? frame.frame.id & 0x1FFFFFFFu : frame.frame.id & 0x7FFu;
    if (id < filter.id_low || id > filter.id_high)
        return false;
    if (filter.module.empty() && filter.message.empty())
        return true;
    const BusFrameName name = bus_decode_frame(frame.frame);
    return (filter.module.empty() || name.module == filter.module) &&
           (filter.message.empty() || name.message == filter.message);
}

std::string iface_of(uint8_t port)
{
    return "can" + std::to_string(port);
}

// Writes frames to a file as candump lines or pcap records.
template <typename Frames>
bool write_frames(const std::string& path, const Frames& frames, std::string& why)
{
    const bool pcap = path.size() > 5 && path.compare(path.size() - 5, 5, ".pcap") == 0;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        why = path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    std::string bytes = pcap ? pcap_file_header() : std::string();
    for (const BusMonitorFrame& row : frames) {
        if (pcap) {
            pcap_append_record(bytes, row.frame.time_us, row.port, row.frame);
        } else {
            can_append_candump_line(bytes, row.frame.time_us, iface_of(row.port), row.frame);
            bytes += '\n';
        }
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) {
        why = path + ": write failed";
        return false;
    }
    return true;
}

}  // namespace

const char* bus_source_name(BusSource source)
{
    switch (source) {
    case BusSource::unit: return "unit";
    case BusSource::module: return "module";
    case BusSource::client: return "network client";
    case BusSource::scenario: return "scenario";
    }
    return "unit";
}

BusSource bus_source_of(const char* name, bool from_unit)
{
    if (from_unit || !name)
        return BusSource::unit;
    if (std::strcmp(name, "installation") == 0)
        return BusSource::module;
    if (std::strcmp(name, "bus-server") == 0)
        return BusSource::client;
    return BusSource::scenario;
}

bool parse_id_range(const std::string& text, uint32_t& low, uint32_t& high, std::string& why)
{
    low = 0;
    high = 0x1FFFFFFFu;
    std::string t;
    for (char c : text)
        if (c != ' ')
            t += c;
    if (t.empty())
        return true;
    const size_t dash = t.find('-');
    auto hex = [&why](const std::string& s, uint32_t& out) {
        if (s.empty() || s.size() > 8 || s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            why = "'" + s + "' is not an identifier (1 to 8 hex digits)";
            return false;
        }
        out = uint32_t(std::stoul(s, nullptr, 16));
        return true;
    };
    if (dash == std::string::npos)
        return hex(t, low) && (high = low, true);
    if (!hex(t.substr(0, dash), low) || !hex(t.substr(dash + 1), high))
        return false;
    if (low > high) {
        why = "the range ends before it starts";
        return false;
    }
    return true;
}

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

// The trace

namespace {
QVariant column_header(const char* const* names, int count, int section, Qt::Orientation orientation, int role)
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= count)
        return {};
    return QVariant(names[section]);
}

const BusDecoder& default_decoder()
{
    static const BusDecoder decoder;
    return decoder;
}
}  // namespace

BusMonitorModel::BusMonitorModel(size_t history, QObject* parent)
    : QAbstractTableModel(parent), capacity_(history == 0 ? 1 : history), decoder_(&default_decoder())
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
    static const char* const names[kColumnCount] = {"Time",   "Port",    "Dir",  "Source", "Identifier",
                                                    "Module", "Message", "Data", "Signals"};
    // A first click on a header sorts ascending, a second descending, a
    // third goes back to the order of arrival.
    if (role == Qt::InitialSortOrderRole && orientation == Qt::Horizontal)
        return int(Qt::AscendingOrder);
    return column_header(names, kColumnCount, section, orientation, role);
}

QVariant BusMonitorModel::data(const QModelIndex& index, int role) const
{
    if ((role != Qt::DisplayRole && role != SortRole) || !index.isValid() ||
        index.row() >= static_cast<int>(rows_.size()))
        return {};
    const BusMonitorFrame& row = rows_[static_cast<size_t>(index.row())];
    const can_frame& f = row.frame;
    if (role == SortRole) {
        switch (index.column()) {
        case kTime:
            return QVariant::fromValue<qulonglong>(f.time_us);
        case kPort:
            return static_cast<int>(row.port);
        case kIdentifier:
            // Standard identifiers before extended ones, each by value.
            return QVariant::fromValue<qulonglong>((uint64_t(f.ext != 0) << 32) | f.id);
        default:
            return data(index, Qt::DisplayRole);
        }
    }
    switch (index.column()) {
    case kTime:
        return time_text(f.time_us);
    case kPort:
        return static_cast<int>(row.port);
    case kDirection:
        return row.sent ? QStringLiteral("Tx") : QStringLiteral("Rx");
    case kSource:
        return QString(bus_source_name(row.source));
    case kIdentifier:
        return id_text(f);
    case kModule:
        return QString::fromStdString(bus_decode_frame(f).module);
    case kMessage: {
        const BusFrameName name = bus_decode_frame(f);
        if (name.channel)
            return QString::fromStdString(name.message + " ch " + std::to_string(name.channel));
        if (name.message.empty()) {
            const bus_message* m = decoder_->find(f.id, f.ext != 0);
            return m ? QString::fromStdString(m->kind) : QString();
        }
        return QString::fromStdString(name.message);
    }
    case kData:
        return data_text(f);
    case kSignals:
        return signals_text(*decoder_, f);
    default:
        return {};
    }
}

bool BusMonitorModel::accepts(const BusMonitorFrame& frame) const
{
    return passes(filter_, frame);
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

size_t BusMonitorModel::add_frames(const std::vector<BusMonitorFrame>& batch, int64_t now_ms)
{
    if (batch.empty()) {
        advance(now_ms);
        return 0;
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
        return 0;
    if (passed.size() >= capacity_ || rows_.empty()) {
        const size_t dropped = rows_.size();
        beginResetModel();
        const size_t first = passed.size() > capacity_ ? passed.size() - capacity_ : 0;
        for (size_t i = first; i < passed.size(); ++i)
            rows_.push_back(*passed[i]);
        while (rows_.size() > capacity_)
            rows_.pop_front();
        endResetModel();
        return dropped;
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
    return over;
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
    BusMonitorFilter f = filter_;
    f.module = module;
    f.message = message;
    set_filter(f);
}

void BusMonitorModel::set_filter(const BusMonitorFilter& filter)
{
    filter_ = filter;
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
    return write_frames(path, rows_, why);
}

bool BusMonitorModel::save_history(const std::string& path, std::string& why) const
{
    return write_frames(path, history_, why);
}

// One row per identifier

BusIdentifierModel::BusIdentifierModel(QObject* parent) : QAbstractTableModel(parent), decoder_(&default_decoder())
{
}

int BusIdentifierModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BusIdentifierModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant BusIdentifierModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const names[kColumnCount] = {"Identifier", "Source",    "Message", "Count",
                                                    "Cycle ms",   "Jitter ms", "Data",    "Signals"};
    return column_header(names, kColumnCount, section, orientation, role);
}

double BusIdentifierModel::jitter_ms(const Entry& e)
{
    return e.count > 2 ? std::sqrt(e.m2 / double(e.count - 2)) : 0.0;
}

QVariant BusIdentifierModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    const Entry& e = *rows_[static_cast<size_t>(index.row())];
    const can_frame& f = e.last.frame;
    if (role == ChangedRole)
        return index.column() == kData && e.changed_at_ms >= 0 && now_ms_ - e.changed_at_ms < HIGHLIGHT_MS
                   ? QVariant(unsigned(e.changed))
                   : QVariant(0u);
    if (role == SortRole) {
        switch (index.column()) {
        case kIdentifier: return QVariant::fromValue<qulonglong>((qulonglong(f.ext) << 32) | f.id);
        case kCount: return QVariant::fromValue<qulonglong>(e.count);
        case kCycle: return cycle_ms(e);
        case kJitter: return jitter_ms(e);
        default: break;
        }
        role = Qt::DisplayRole;
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case kIdentifier:
        return id_text(f);
    case kSource:
        return QString(bus_source_name(e.last.source));
    case kName: {
        const bus_message* m = decoder_->find(f.id, f.ext != 0);
        return m ? QString::fromStdString(m->name) : QStringLiteral("unknown");
    }
    case kCount:
        return QVariant::fromValue<qulonglong>(e.count);
    case kCycle:
        return e.count > 1 ? QString::number(cycle_ms(e), 'f', 1) : QString();
    case kJitter:
        return e.count > 2 ? QString::number(jitter_ms(e), 'f', 2) : QString();
    case kData:
        return data_text(f);
    case kSignals:
        return signals_text(*decoder_, f);
    default:
        return {};
    }
}

bool BusIdentifierModel::accepts(const Entry& e) const
{
    return passes(filter_, e.last);
}

void BusIdentifierModel::add_frames(const std::vector<BusMonitorFrame>& batch, int64_t now_ms)
{
    now_ms_ = now_ms;
    bool added = false;
    for (const BusMonitorFrame& frame : batch) {
        const can_frame& f = frame.frame;
        const uint64_t key = (uint64_t(frame.port) << 40) | (uint64_t(f.ext) << 32) | f.id;
        auto [it, fresh] = entries_.try_emplace(key);
        Entry& e = it->second;
        if (fresh) {
            e.first_us = f.time_us;
            added = true;
        } else {
            // Welford's running mean and variance of the intervals.
            const double interval = double(int64_t(f.time_us) - int64_t(e.last.frame.time_us)) / 1000.0;
            const uint64_t n = e.count;  // intervals so far + 1
            const double delta = interval - e.mean_ms;
            e.mean_ms += delta / double(n);
            e.m2 += delta * (interval - e.mean_ms);
            uint8_t changed = 0;
            for (uint8_t i = 0; i < 8; ++i)
                if (i < f.len && (i >= e.last.frame.len || f.data[i] != e.last.frame.data[i]))
                    changed = uint8_t(changed | (1u << i));
            if (changed) {
                e.changed = changed;
                e.changed_at_ms = now_ms;
            }
        }
        ++e.count;
        e.last = frame;
    }
    if (added) {
        rebuild_rows();
    } else if (!rows_.empty()) {
        emit dataChanged(index(0, kCount), index(int(rows_.size()) - 1, kSignals));
    }
}

void BusIdentifierModel::fade(int64_t now_ms)
{
    now_ms_ = now_ms;
    if (!rows_.empty())
        emit dataChanged(index(0, kData), index(int(rows_.size()) - 1, kData), {ChangedRole});
}

void BusIdentifierModel::rebuild_rows()
{
    beginResetModel();
    rows_.clear();
    for (auto& [key, e] : entries_)
        if (accepts(e))
            rows_.push_back(&e);
    endResetModel();
}

void BusIdentifierModel::set_filter(const BusMonitorFilter& filter)
{
    filter_ = filter;
    rebuild_rows();
}

void BusIdentifierModel::clear()
{
    beginResetModel();
    entries_.clear();
    rows_.clear();
    endResetModel();
}

// The dock

// Asks where to save a log: a bare name gets the suffix of the chosen kind
// (".log" for candump text, ".pcap" for a capture), as Save Screen gives
// one ".bmp".
static QString ask_log_name(QWidget* parent, const QString& title)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QObject::tr("candump logs (*.log)"), QObject::tr("pcap captures (*.pcap)")});
    dialog.setDefaultSuffix("log");
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.contains("pcap") ? "pcap" : "log");
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

BusMonitorDock::BusMonitorDock(QWidget* parent) : QDockWidget(tr("Bus monitor"), parent)
{
    setObjectName("busMonitorDock");
    model_ = new BusMonitorModel(HISTORY, this);
    model_->set_decoder(&decoder_);
    ids_ = new BusIdentifierModel(this);
    ids_->set_decoder(&decoder_);
    clock_ = new QElapsedTimer;
    clock_->start();

    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    auto* bar = new QHBoxLayout;
    pause_button_ = new QPushButton(tr("Pause"), body);
    pause_button_->setObjectName("busPause");
    pause_button_->setCheckable(true);
    follow_button_ = new QPushButton(tr("Follow"), body);
    follow_button_->setObjectName("busFollow");
    follow_button_->setCheckable(true);
    follow_button_->setChecked(true);
    follow_button_->setToolTip(tr("Keep the newest frame in view; off, the view stays where you scrolled"));
    auto* clear_button = new QPushButton(tr("Clear"), body);
    auto* save_button = new QPushButton(tr("Save..."), body);
    save_button->setObjectName("busSave");
    log_button_ = new QPushButton(tr("Log to file..."), body);
    log_button_->setObjectName("busLog");
    log_button_->setToolTip(tr("Records every frame from now on, as a candump log or (*.pcap) a pcap capture"));
    bar->addWidget(pause_button_);
    bar->addWidget(follow_button_);
    bar->addWidget(clear_button);
    bar->addWidget(save_button);
    bar->addWidget(log_button_);
    bar->addStretch(1);
    layout->addLayout(bar);

    filters_row_ = new QWidget(body);
    auto* filters = new QHBoxLayout(filters_row_);
    filters->setContentsMargins(0, 0, 0, 0);
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
    source_box_ = new QComboBox(body);
    source_box_->setObjectName("busSourceFilter");
    source_box_->addItem(tr("All sources"), -1);
    for (BusSource s : {BusSource::unit, BusSource::module, BusSource::client, BusSource::scenario})
        source_box_->addItem(bus_source_name(s), int(s));
    id_range_ = new QLineEdit(body);
    id_range_->setObjectName("busIdRange");
    id_range_->setPlaceholderText(tr("IDs, e.g. 18FF0000-18FFFFFF"));
    id_range_->setClearButtonEnabled(true);
    filters->addWidget(module_box_);
    filters->addWidget(message_box_);
    filters->addWidget(source_box_);
    filters->addWidget(id_range_, 1);
    layout->addWidget(filters_row_);

    table_ = new FramesTable(body);
    table_->setObjectName("busTrace");
    trace_sorted_ = new QSortFilterProxyModel(this);
    trace_sorted_->setSourceModel(model_);
    trace_sorted_->setSortRole(BusMonitorModel::SortRole);
    table_->setModel(trace_sorted_);
    table_->horizontalHeader()->setSortIndicatorClearable(true);
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSortingEnabled(true);  // by the indicator: none, the order of arrival
    table_->verticalHeader()->setVisible(false);
    // Fixed row heights and column widths keep a full bus from relaying out
    // the table on every batch.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    // The columns before the data as wide together as before the source
    // column came, so the dock fits where it fitted.
    table_->setColumnWidth(BusMonitorModel::kTime, 100);
    table_->setColumnWidth(BusMonitorModel::kPort, 34);
    table_->setColumnWidth(BusMonitorModel::kDirection, 34);
    table_->setColumnWidth(BusMonitorModel::kSource, 70);
    table_->setColumnWidth(BusMonitorModel::kIdentifier, 86);
    table_->setColumnWidth(BusMonitorModel::kModule, 56);
    table_->setColumnWidth(BusMonitorModel::kMessage, 130);
    table_->setColumnWidth(BusMonitorModel::kData,
                           table_->fontMetrics().horizontalAdvance("00 00 00 00 00 00 00 00") + 16);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    id_table_ = new QTableView(body);
    id_table_->setObjectName("busIdentifiers");
    ids_sorted_ = new QSortFilterProxyModel(this);
    ids_sorted_->setSourceModel(ids_);
    ids_sorted_->setSortRole(BusIdentifierModel::SortRole);
    id_table_->setModel(ids_sorted_);
    id_table_->setSortingEnabled(true);
    id_table_->sortByColumn(BusIdentifierModel::kIdentifier, Qt::AscendingOrder);
    id_table_->verticalHeader()->setVisible(false);
    id_table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    id_table_->verticalHeader()->setDefaultSectionSize(id_table_->fontMetrics().height() + 4);
    id_table_->horizontalHeader()->setStretchLastSection(true);
    id_table_->setColumnWidth(BusIdentifierModel::kIdentifier, 90);
    id_table_->setColumnWidth(BusIdentifierModel::kSource, 70);
    id_table_->setColumnWidth(BusIdentifierModel::kName, 130);
    id_table_->setColumnWidth(BusIdentifierModel::kCount, 60);
    id_table_->setColumnWidth(BusIdentifierModel::kCycle, 70);
    id_table_->setColumnWidth(BusIdentifierModel::kJitter, 70);
    id_table_->setColumnWidth(BusIdentifierModel::kData,
                              id_table_->fontMetrics().horizontalAdvance("00 00 00 00 00 00 00 00") + 16);
    id_table_->setItemDelegateForColumn(BusIdentifierModel::kData, new ChangedBytesDelegate(id_table_));
    id_table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    id_table_->setSelectionMode(QAbstractItemView::SingleSelection);

    views_ = new QTabWidget(body);
    views_->setObjectName("busViews");
    views_->addTab(table_, tr("Trace"));
    views_->addTab(id_table_, tr("By identifier"));
    details_ = new DetailsPane(body, [this] { update_details(); });
    details_->setLineWrapMode(QPlainTextEdit::NoWrap);
    details_->setObjectName("busDetails");
    details_->setReadOnly(true);
    details_->setPlaceholderText(tr("Select a frame to see its signals"));
    details_->setMaximumBlockCount(64);
    details_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    details_->setMinimumHeight(0);
    split_ = new SizedSplitter(Qt::Vertical, body);
    split_->addWidget(views_);
    split_->addWidget(details_);
    split_->setStretchFactor(0, 4);
    split_->setStretchFactor(1, 1);
    split_->setCollapsible(0, false);
    layout->addWidget(split_, 1);
    // The figures beside the views' tabs: no row of their own, so the dock
    // fits a small screen; a narrow dock cuts them (the tooltip has them whole).
    figures_ = new FiguresLabel(views_);
    figures_->setObjectName("busFigures");
    figures_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    figures_->setMinimumWidth(views_->fontMetrics().horizontalAdvance("1908 frames/s  load 100.0 %") + 8);
    views_->setCornerWidget(figures_, Qt::TopRightCorner);
    setWidget(body);
    set_table_size(QSize(full_table_width(), 120));
    update_figures();

    connect(pause_button_, &QPushButton::toggled, this, [this](bool on) {
        model_->set_paused(on);
        pause_button_->setText(on ? tr("Paused") : tr("Pause"));
        update_figures();
    });
    connect(follow_button_, &QPushButton::toggled, this, [this](bool on) {
        if (on)
            show_newest();
    });
    // Scrolling up from the bottom stops following, as terminals do.
    connect(table_->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) {
        QScrollBar* scroll = table_->verticalScrollBar();
        if (scroll->sliderPosition() < scroll->maximum())
            follow_button_->setChecked(false);
    });
    connect(clear_button, &QPushButton::clicked, this, [this] {
        model_->clear();
        ids_->clear();
        update_details();
    });
    connect(module_box_, &QComboBox::currentIndexChanged, this, &BusMonitorDock::apply_filter);
    connect(message_box_, &QComboBox::currentIndexChanged, this, &BusMonitorDock::apply_filter);
    connect(source_box_, &QComboBox::currentIndexChanged, this, &BusMonitorDock::apply_filter);
    connect(id_range_, &QLineEdit::editingFinished, this, &BusMonitorDock::apply_filter);
    connect(save_button, &QPushButton::clicked, this, [this] {
        const bool filtered = model_->filter().active();
        const QString what = filtered ? tr("Save the %1 frames the filter shows").arg(model_->rowCount())
                                      : tr("Save all %1 frames held").arg(model_->history_size());
        const QString path = ask_log_name(this, what);
        if (path.isEmpty())
            return;
        std::string why;
        const bool ok = filtered ? model_->save_candump(path.toStdString(), why)
                                 : model_->save_history(path.toStdString(), why);
        if (!ok)
            QMessageBox::warning(this, what, QString::fromStdString(why));
    });
    connect(log_button_, &QPushButton::clicked, this, [this] {
        std::string why;
        if (log_) {
            if (!stop_log(why))
                QMessageBox::warning(this, tr("Log to file"), QString::fromStdString(why));
            return;
        }
        const QString path = ask_log_name(this, tr("Log every frame to"));
        if (!path.isEmpty() && !start_log(path.toStdString(), why))
            QMessageBox::warning(this, tr("Log to file"), QString::fromStdString(why));
    });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { update_details(); });
    connect(id_table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { update_details(); });
    connect(views_, &QTabWidget::currentChanged, this, [this] { update_details(); });
    auto* copy = new QShortcut(QKeySequence::Copy, table_);
    copy->setContext(Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, [this] { QApplication::clipboard()->setText(selected_candump()); });

    timer_ = new QTimer(this);
    timer_->setInterval(DRAIN_MS);
    connect(timer_, &QTimer::timeout, this, &BusMonitorDock::drain);
    timer_->start();
}

BusMonitorDock::~BusMonitorDock()
{
    std::string why;
    stop_log(why);
    delete clock_;
}

void BusMonitorDock::set_description(const installation::description& d)
{
    decoder_ = BusDecoder(d);
    update_details();
}

void BusMonitorDock::show_view(int view)
{
    views_->setCurrentIndex(view);
}

bool BusMonitorDock::following() const
{
    return follow_button_->isChecked();
}

void BusMonitorDock::set_following(bool follow)
{
    follow_button_->setChecked(follow);
}

void BusMonitorDock::apply_filter()
{
    BusMonitorFilter f;
    f.module = module_box_->currentData().toString().toStdString();
    f.message = message_box_->currentData().toString().toStdString();
    f.source = source_box_->currentData().toInt();
    std::string why;
    if (!parse_id_range(id_range_->text().toStdString(), f.id_low, f.id_high, why)) {
        id_range_->setToolTip(QString::fromStdString(why));
        id_range_->setStyleSheet("QLineEdit { background: #ffd0d0; }");
        return;
    }
    id_range_->setToolTip(tr("An identifier or a range, in hex: 421, 18FF0000-18FFFFFF"));
    id_range_->setStyleSheet(QString());
    model_->set_filter(f);
    ids_->set_filter(f);
    update_details();
}

void BusMonitorDock::drain()
{
    queue_.take(batch_);
    const int64_t now = clock_->elapsed();
    write_log(batch_);
    QScrollBar* bar = table_->verticalScrollBar();
    const int was = bar->value();
    const size_t dropped = model_->add_frames(batch_, now);
    if (!batch_.empty())
        ids_->add_frames(batch_, now);
    else
        ids_->fade(now);
    if (!model_->paused() && !batch_.empty()) {
        if (following())
            show_newest();
        else if (dropped && trace_sorted_->sortColumn() < 0)
            // The rows above went out of the ring: the ones in view stay in view.
            bar->setValue(std::max(0, was - int(dropped)));
    }
    if (figures_source_) {
        figures_now_ = figures_source_();
        if (figures_then_wall_ < 0) {
            figures_then_ = figures_now_;
            figures_then_wall_ = now;
        } else if (figures_now_.now_ms >= figures_then_.now_ms + 1000) {
            const double bits = double(figures_now_.busy_bits - figures_then_.busy_bits);
            const double span = double(figures_now_.now_ms - figures_then_.now_ms) * (BUS_BITRATE / 1000.0);
            hub_load_ = 100.0 * bits / span;
            figures_then_ = figures_now_;
            figures_then_wall_ = now;
        }
    }
    update_figures();
}

bool BusMonitorDock::start_log(const std::string& path, std::string& why)
{
    stop_log(why);
    why.clear();
    log_ = std::fopen(path.c_str(), "wb");
    if (!log_) {
        why = path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    log_pcap_ = path.size() > 5 && path.compare(path.size() - 5, 5, ".pcap") == 0;
    log_failed_ = false;
    logged_ = 0;
    if (log_pcap_) {
        const std::string header = pcap_file_header();
        log_failed_ = std::fwrite(header.data(), 1, header.size(), log_) != header.size();
    }
    log_button_->setText(tr("Stop log"));
    log_button_->setToolTip(QString::fromStdString("Logging every frame to " + path));
    return true;
}

bool BusMonitorDock::stop_log(std::string& why)
{
    if (!log_)
        return true;
    const bool ok = std::fclose(log_) == 0 && !log_failed_;
    log_ = nullptr;
    if (log_button_) {
        log_button_->setText(tr("Log to file..."));
        log_button_->setToolTip(tr("Records every frame from now on, as a candump log or (*.pcap) a pcap capture"));
    }
    if (!ok)
        why = "the log could not be written completely";
    return ok;
}

// Every frame of the batch, filter or not, paused or not.
void BusMonitorDock::write_log(const std::vector<BusMonitorFrame>& batch)
{
    if (!log_ || batch.empty())
        return;
    log_text_.clear();
    for (const BusMonitorFrame& row : batch) {
        if (log_pcap_) {
            pcap_append_record(log_text_, row.frame.time_us, row.port, row.frame);
        } else {
            can_append_candump_line(log_text_, row.frame.time_us, iface_of(row.port), row.frame);
            log_text_ += '\n';
        }
    }
    if (std::fwrite(log_text_.data(), 1, log_text_.size(), log_) != log_text_.size())
        log_failed_ = true;
    logged_ += batch.size();
}

QString BusMonitorDock::selected_candump() const
{
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::string text;
    for (const QModelIndex& index : rows) {
        const BusMonitorFrame& row = shown_frame(index.row());
        can_append_candump_line(text, row.frame.time_us, iface_of(row.port), row.frame);
        text += '\n';
    }
    return QString::fromStdString(text);
}

void BusMonitorDock::show_newest()
{
    if (trace_sorted_->sortColumn() < 0) {
        table_->scrollToBottom();
    } else if (model_->rowCount() > 0) {
        // Sorted, the newest frame is wherever its value puts it.
        table_->scrollTo(trace_sorted_->mapFromSource(model_->index(model_->rowCount() - 1, 0)));
    }
}

const BusMonitorFrame& BusMonitorDock::shown_frame(int row) const
{
    return model_->row(size_t(trace_sorted_->mapToSource(trace_sorted_->index(row, 0)).row()));
}

QString BusMonitorDock::details_text() const
{
    return details_->toPlainText();
}

void BusMonitorDock::update_details()
{
    const BusMonitorFrame* frame = nullptr;
    uint64_t count = 0;
    double cycle = 0, jitter = 0;
    if (views_->currentIndex() == 0) {
        const QModelIndexList rows = table_->selectionModel()->selectedRows();
        if (!rows.isEmpty() && rows.last().row() < model_->rowCount())
            frame = &shown_frame(rows.last().row());
    } else {
        const QModelIndexList rows = id_table_->selectionModel()->selectedRows();
        if (!rows.isEmpty()) {
            const QModelIndex source = ids_sorted_->mapToSource(rows.first());
            if (source.isValid() && source.row() < ids_->rowCount()) {
                const BusIdentifierModel::Entry& e = ids_->entry(size_t(source.row()));
                frame = &e.last;
                count = e.count;
                cycle = BusIdentifierModel::cycle_ms(e);
                jitter = BusIdentifierModel::jitter_ms(e);
            }
        }
    }
    if (!frame) {
        details_->clear();
        return;
    }
    const can_frame& f = frame->frame;
    const bus_decoded d = decoder_.decode(f);
    // As many characters as a line of the pane holds.
    const int chars = (details_->viewport()->width() - 2 * int(details_->document()->documentMargin())) /
                      std::max(1, details_->fontMetrics().horizontalAdvance('0'));
    const QString when = QString("%1  %2  can%3 %4 %5")
                             .arg(time_text(f.time_us), id_text(f))
                             .arg(frame->port)
                             .arg(frame->sent ? "Tx" : "Rx", bus_source_name(frame->source));
    QString text;
    if (!d.message) {
        text = when + "  " + data_text(f) + "\nunknown identifier";
    } else if (chars >= 60) {
        text = when + "  " + data_text(f) + "\n" +
               QString::fromStdString(d.message->name + "  " + d.message->kind + "  " + d.message->sender + " -> " +
                                      d.message->receiver);
    } else {
        // A narrow pane beside the trace: the same in shorter lines.
        text = when + "\n" + QString::fromStdString(d.message->name + "  " + d.message->kind) + "\n" +
               QString::fromStdString(d.message->sender + " -> " + d.message->receiver + "  ") + data_text(f);
    }
    if (count)
        text += QString("\n%1 frames, every %2 ms, jitter %3 ms").arg(count).arg(cycle, 0, 'f', 1).arg(jitter, 0, 'f', 2);
    text += '\n';
    // The signals in as many columns as the pane's width holds, down then
    // across, each column as wide as its longest name, value and label.
    size_t name = 0, value = 0, label = 0;
    for (const bus_signal_value& v : d.values) {
        name = std::max(name, v.signal->name.size());
        value = std::max(value, v.text.size());
        label = std::max(label, v.signal->label.size());
    }
    const int entry = int(name + 1 + value + 1 + label), gap = 3, indent = 2;
    const int n = int(d.values.size());
    const int columns = std::clamp((chars - indent + gap) / (entry + gap), 1, std::max(1, n));
    const int lines = (n + columns - 1) / columns;
    for (int line = 0; line < lines; ++line) {
        QString row(indent, ' ');
        for (int c = 0; c < columns; ++c) {
            const int i = c * lines + line;
            if (i >= n)
                break;
            const bus_signal_value& v = d.values[size_t(i)];
            row += QString::asprintf("%-*s %-*s %-*s%*s", int(name), v.signal->name.c_str(), int(value),
                                     v.text.c_str(), int(label), v.signal->label.c_str(), gap, "");
        }
        while (row.endsWith(' '))
            row.chop(1);
        text += row + '\n';
    }
    if (!d.note.empty())
        text += QString::fromStdString("  (" + d.note + ")\n");
    text.chop(1);  // no empty line at the end
    if (text != details_->toPlainText())
        details_->setPlainText(text);
    make_room_for_details(int(text.count('\n')) + 1);
}

void BusMonitorDock::set_details_beside(bool beside)
{
    // Beside the views the details are as tall as they are, so the selected
    // frame's signals show whole and the trace keeps its rows in a short
    // dock; the details keep their width and the views take the rest.
    const int side = details_->fontMetrics().horizontalAdvance('0') * DETAILS_BESIDE_CHARS + 24;
    const Qt::Orientation want = beside ? Qt::Horizontal : Qt::Vertical;
    const QSize room = split_->minimumSize();
    if (split_->orientation() != want) {
        split_->setOrientation(want);
        split_->setStretchFactor(1, beside ? 0 : 1);
        details_->setMinimumWidth(beside ? side : 0);
        if (beside)
            split_->setSizes({std::max(1, room.width() - side), side});
        else
            split_->setSizes({room.height() * 4 / 5, room.height() / 5});
    }
    // The views' tabs keep their room beside the figures (cut, the tooltip
    // has them whole).
    const int figures = figures_->fontMetrics().horizontalAdvance("1908 frames/s  load 100.0 %") + 8;
    const int beside_tabs = std::max(0, room.width() - side - views_->tabBar()->sizeHint().width() - 16);
    figures_->setMinimumWidth(beside ? std::min(figures, beside_tabs) : figures);
    figures_->setMaximumWidth(beside ? beside_tabs : QWIDGETSIZE_MAX);
}

void BusMonitorDock::make_room_for_details(int lines)
{
    // Below the views: room for every line, taken from the trace down to its
    // header and two rows; never less than the user gave the pane.
    const QList<int> sizes = split_->sizes();
    if (split_->orientation() != Qt::Vertical || sizes.size() != 2 || sizes[0] + sizes[1] <= 0)
        return;
    const int needed = lines * details_->fontMetrics().lineSpacing() + 2 * details_->frameWidth() +
                       2 * int(details_->document()->documentMargin()) + 4;
    const int trace_least = views_->tabBar()->sizeHint().height() + table_->horizontalHeader()->sizeHint().height() +
                            2 * table_->verticalHeader()->defaultSectionSize() +
                            table_->horizontalScrollBar()->sizeHint().height() + 2 * table_->frameWidth();
    const int total = sizes[0] + sizes[1];
    const int want = std::min(needed, total - trace_least);
    if (want > sizes[1])
        split_->setSizes({total - want, want});
}

int BusMonitorDock::full_table_width() const
{
    int width = 0;
    for (int c = 0; c <= BusMonitorModel::kData; ++c)
        width += table_->columnWidth(c);
    return width + 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width();
}

void BusMonitorDock::set_table_size(QSize size)
{
    // The views and the details share the room the window gives the table,
    // less the filters' row, so the dock is no taller than it was with the
    // table alone.
    const int rows = filters_row_->sizeHint().height() + 2 * widget()->layout()->spacing();
    split_->setMinimumSize(size.width(), std::max(48, size.height() - rows));
    // At once, not at the next event loop: the window measures itself now.
    widget()->layout()->activate();
    widget()->updateGeometry();
}

void BusMonitorDock::update_figures()
{
    QString text;
    if (model_->paused())
        text = tr("Paused  ");
    const double load = hub_load_ >= 0 ? hub_load_ : model_->bus_load_percent();
    text += tr("%1 frames/s  load %2 %").arg(model_->frames_per_second()).arg(load, 0, 'f', 1);
    if (figures_source_)
        text += tr("  backlog %1  refused %2").arg(figures_now_.backlog).arg(figures_now_.refused);
    text += tr("  %1 frames held").arg(model_->history_size());
    if (queue_.dropped())
        text += tr("  %1 not shown (window behind)").arg(queue_.dropped());
    if (log_)
        text += tr("  logging: %1 frames").arg(logged_);
    figures_->setText(text);
    figures_->setToolTip(text);
    if (views_ && views_->currentIndex() == 1)
        update_details();
}

}  // namespace norvane

// The bus monitor on the offscreen platform: names read from identifiers,
// the bounded history at a full bus, filters, pause, the figures and the
// candump log it saves.
#include "host/qt/bus_monitor.h"

#include <QComboBox>
#include <QHeaderView>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "host/core/bus_decode.h"
#include "host/core/headless_run.h"
#include "host/core/scenario.h"
#include "qt_test_app.h"
#include "host/core/pcap_file.h"
#include "seam/can_candump.h"

namespace norvane {
namespace {

can_frame ext_frame(uint32_t id, uint8_t len = 8, uint64_t time_us = 0)
{
    can_frame f{};
    f.id = id;
    f.ext = 1;
    f.len = len;
    for (uint8_t i = 0; i < len; ++i)
        f.data[i] = static_cast<uint8_t>(0x10 + i);
    f.time_us = time_us;
    return f;
}

TEST(BusDecode, NamesModuleAndMessageFromIdentifier)
{
    struct Case {
        uint32_t id;
        uint8_t ext;
        const char* module;
        const char* message;
        int channel;
    };
    const Case cases[] = {
        {0x18FF0080, 1, "SENB1", "MSG_INPUT_CHANNEL", 1},
        {0x18FF0380, 1, "SENB1", "MSG_INPUT_CHANNEL", 4},
        {0x18FF0983, 1, "SENB4", "MSG_INPUT_CHANNEL", 10},
        {0x18FF0A80, 1, "", "", 0},  // channel 11 does not exist
        {0x18FF0384, 1, "", "", 0},  // no fifth input module
        {0x14FF0080, 1, "", "", 0},  // priority 5
        {0x18FFA0B0, 1, "PWRB1", "MSG_OUTPUT_STATUS", 0},
        {0x18FFA0B7, 1, "PWRB8", "MSG_OUTPUT_STATUS", 0},
        {0x18FFA1B2, 1, "PWRB3", "MSG_OUTPUT_CODES", 0},
        {0x18EFB000, 1, "PWRB1", "MSG_OUTPUT_COMMAND", 0},
        {0x18EFB700, 1, "PWRB8", "MSG_OUTPUT_COMMAND", 0},
        {0x18EFB701, 1, "", "", 0},  // not from the display
        {0x080, 0, "", "", 0},       // standard identifiers carry none of them
    };
    for (const Case& c : cases) {
        can_frame f = ext_frame(c.id);
        f.ext = c.ext;
        const BusFrameName name = bus_decode_frame(f);
        EXPECT_EQ(name.module, c.module) << std::hex << c.id;
        EXPECT_EQ(name.message, c.message) << std::hex << c.id;
        EXPECT_EQ(name.channel, c.channel) << std::hex << c.id;
    }
    // 1908 extended 8-byte frames fill a 250 kbit/s bus.
    EXPECT_EQ(BUS_BITRATE / bus_frame_bits(ext_frame(0x18FF0080)), 1908u);
}

// A fully loaded bus for ten seconds: the history stays at its bound, the
// table shows the newest frames in order, and the figures read a full bus.
TEST(BusMonitorModel, FullBusStaysBoundedAndCountsTheLoad)
{
    BusMonitorModel model(10000);
    std::vector<BusMonitorFrame> batch;
    uint64_t sent = 0;
    for (int64_t ms = 0; ms < 10000; ms += 16) {
        batch.clear();
        // 1908 frames a second, spread over the 16 ms drains.
        const uint64_t due = static_cast<uint64_t>(ms + 16) * 1908 / 1000;
        for (; sent < due; ++sent)
            batch.push_back({ext_frame(0x18FF0080 + static_cast<uint32_t>(sent % 10) * 256, 8, sent * 524), 0, false});
        model.add_frames(batch, ms);
        ASSERT_LE(model.history_size(), 10000u);
        ASSERT_LE(model.rowCount(), 10000);
    }
    EXPECT_EQ(model.rowCount(), 10000);
    EXPECT_EQ(model.row(9999).frame.time_us, (sent - 1) * 524);
    EXPECT_EQ(model.row(0).frame.time_us, (sent - 10000) * 524);
    EXPECT_NEAR(model.frames_per_second(), 1908, 40);
    EXPECT_NEAR(model.bus_load_percent(), 100.0, 2.5);
    // A quiet bus reads zero again.
    model.add_frames({}, 13000);
    EXPECT_EQ(model.frames_per_second(), 0u);
    EXPECT_EQ(model.bus_load_percent(), 0.0);
}

TEST(BusMonitorModel, FilterPauseClearAndColumns)
{
    BusMonitorModel model(100);
    std::vector<BusMonitorFrame> batch = {
        {ext_frame(0x18FF0381, 8, 1500000), 0, false},
        {ext_frame(0x18EFB200, 6, 1600000), 0, true},
        {ext_frame(0x18FFA1B2, 8, 1700000), 1, false},
    };
    model.add_frames(batch, 0);
    ASSERT_EQ(model.rowCount(), 3);
    auto cell = [&](int row, int column) { return model.data(model.index(row, column)).toString().toStdString(); };
    EXPECT_EQ(cell(0, BusMonitorModel::kTime), "1.500000");
    EXPECT_EQ(cell(0, BusMonitorModel::kIdentifier), "18FF0381");
    EXPECT_EQ(cell(0, BusMonitorModel::kModule), "SENB2");
    EXPECT_EQ(cell(0, BusMonitorModel::kMessage), "MSG_INPUT_CHANNEL ch 4");
    EXPECT_EQ(cell(1, BusMonitorModel::kDirection), "Tx");
    EXPECT_EQ(cell(1, BusMonitorModel::kData), "10 11 12 13 14 15");
    EXPECT_EQ(cell(2, BusMonitorModel::kPort), "1");
    EXPECT_EQ(cell(0, BusMonitorModel::kSource), "unit");
    EXPECT_EQ(cell(1, BusMonitorModel::kSignals),
              "out1_command=on  out2_command=off  out3_command=on  out4_command=off  out5_command=on  "
              "out6_command=off  out7_command=on  out8_command=off");

    model.set_filter("PWRB3", "");
    EXPECT_EQ(model.rowCount(), 2);
    model.set_filter("PWRB3", "MSG_OUTPUT_CODES");
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(cell(0, BusMonitorModel::kIdentifier), "18FFA1B2");

    // Paused, the table stands still; frames meanwhile show on resume.
    model.set_filter("", "");
    model.set_paused(true);
    model.add_frames({{ext_frame(0x18FFA0B0), 0, false}}, 10);
    EXPECT_EQ(model.rowCount(), 3);
    model.set_paused(false);
    EXPECT_EQ(model.rowCount(), 4);

    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.history_size(), 0u);
}

TEST(BusMonitorModel, SavesTheRowsShownAsACandumpLog)
{
    BusMonitorModel model(100);
    model.add_frames({{ext_frame(0x18FF0080, 8, 1234567), 0, false}, {ext_frame(0x18EFB000, 6, 2000001), 1, true}}, 0);
    const auto dir = std::filesystem::temp_directory_path() / ("norvane-busmon-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "bus.log").string();
    std::string why;
    ASSERT_TRUE(model.save_candump(path, why)) << why;
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    can_frame back{};
    std::string iface;
    ASSERT_TRUE(can_parse_candump_line(lines[1], back, iface, why)) << why;
    EXPECT_EQ(iface, "can1");
    EXPECT_EQ(back.id, 0x18EFB000u);
    EXPECT_EQ(back.len, 6);
    EXPECT_EQ(back.time_us, 2000001u);
    EXPECT_EQ(lines[0], can_format_candump_line(1234567, "can0", ext_frame(0x18FF0080, 8, 1234567)));

    EXPECT_FALSE(model.save_candump((dir / "missing" / "bus.log").string(), why));
    EXPECT_NE(why.find("missing/bus.log"), std::string::npos) << why;
    std::filesystem::remove_all(dir);
}

// Producers on another thread fill the queue faster than the dock drains:
// the queue drops what it cannot hold and the dock shows the newest history.
TEST(BusMonitorDock, DrainsAThreadFedQueueWithinBounds)
{
    BusMonitorDock dock;
    std::thread producer([&] {
        for (uint32_t i = 0; i < 30000; ++i)
            dock.queue().push({ext_frame(0x18FFA0B0 + (i % 8), 8, i), 0, false});
    });
    producer.join();
    dock.drain();
    EXPECT_LE(dock.model().history_size(), 10000u);
    EXPECT_EQ(dock.model().history_size() + dock.queue().dropped(), 30000u);
    EXPECT_GT(dock.model().rowCount(), 0);

    // The module filter box narrows the table.
    auto* modules = dock.findChild<QComboBox*>("busModuleFilter");
    ASSERT_NE(modules, nullptr);
    modules->setCurrentIndex(modules->findData(QString("PWRB2")));
    for (int row = 0; row < dock.model().rowCount(); ++row)
        ASSERT_EQ(dock.model().row(static_cast<size_t>(row)).frame.id, 0x18FFA0B1u);
    EXPECT_GT(dock.model().rowCount(), 0);
}

TEST(BusMonitorFilter, IdentifierRangesReadAsHex)
{
    const struct {
        const char* text;
        bool ok;
        uint32_t low, high;
    } cases[] = {
        {"", true, 0, 0x1FFFFFFF},
        {"421", true, 0x421, 0x421},
        {" 18ff0000 - 18FFFFFF ", true, 0x18FF0000, 0x18FFFFFF},
        {"18FFFFFF-18FF0000", false, 0, 0},
        {"42x", false, 0, 0},
        {"123456789", false, 0, 0},
        {"-421", false, 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t low = 0, high = 0;
        std::string why;
        EXPECT_EQ(parse_id_range(c.text, low, high, why), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(low, c.low) << c.text;
            EXPECT_EQ(high, c.high) << c.text;
        } else {
            EXPECT_FALSE(why.empty()) << c.text;
        }
    }
}

// One row per identifier: count, cycle time and its jitter, the last data
// with the bytes that changed highlighted for a moment, and filters by
// source and identifier range.
TEST(BusIdentifierModel, CountsCycleJitterAndChangedBytes)
{
    BusIdentifierModel model;
    std::vector<BusMonitorFrame> batch;
    // PWRB1's command every 100 ms, 2 ms late every other time but the last; a client's
    // 0x123 twice.
    for (int i = 0; i < 10; ++i) {
        can_frame f = ext_frame(0x18EFB000, 6, uint64_t(i) * 100000 + (i % 2 && i < 9 ? 2000 : 0));
        f.data[2] = i < 9 ? 0x01 : 0x05;
        batch.push_back({f, 0, true, BusSource::unit});
    }
    batch.push_back({ext_frame(0x123, 2, 50000), 0, false, BusSource::client});
    batch.back().frame.ext = 0;
    batch.push_back({ext_frame(0x123, 2, 70000), 0, false, BusSource::client});
    batch.back().frame.ext = 0;
    model.add_frames(batch, 1000);
    ASSERT_EQ(model.rowCount(), 2);
    auto cell = [&](int row, int column, int role = Qt::DisplayRole) {
        return model.data(model.index(row, column), role).toString().toStdString();
    };
    // Standard before extended in identifier order.
    EXPECT_EQ(cell(0, BusIdentifierModel::kIdentifier), "123");
    EXPECT_EQ(cell(0, BusIdentifierModel::kSource), "network client");
    EXPECT_EQ(cell(0, BusIdentifierModel::kName), "unknown");
    EXPECT_EQ(cell(0, BusIdentifierModel::kCycle), "20.0");
    EXPECT_EQ(cell(1, BusIdentifierModel::kIdentifier), "18EFB000");
    EXPECT_EQ(cell(1, BusIdentifierModel::kName), "PWRB1_COMMAND");
    EXPECT_EQ(cell(1, BusIdentifierModel::kCount), "10");
    // Intervals 102, 98, 102, ... ms: mean 100 (to the last one at 900), deviation about 2.
    EXPECT_NEAR(BusIdentifierModel::cycle_ms(model.entry(1)), 100.0, 0.01);
    EXPECT_NEAR(BusIdentifierModel::jitter_ms(model.entry(1)), 2.0, 0.15);
    EXPECT_EQ(cell(1, BusIdentifierModel::kData), "10 11 05 13 14 15");
    EXPECT_EQ(cell(1, BusIdentifierModel::kSignals).rfind("out1_command=on  out2_command=on  out3_command=off", 0), 0u);
    // Byte 2 changed at the last frame: highlighted for a second, then not.
    EXPECT_EQ(model.data(model.index(1, BusIdentifierModel::kData), BusIdentifierModel::ChangedRole).toUInt(), 0x04u);
    model.fade(1000 + BusIdentifierModel::HIGHLIGHT_MS);
    EXPECT_EQ(model.data(model.index(1, BusIdentifierModel::kData), BusIdentifierModel::ChangedRole).toUInt(), 0u);

    BusMonitorFilter only_unit;
    only_unit.source = int(BusSource::unit);
    model.set_filter(only_unit);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(cell(0, BusIdentifierModel::kIdentifier), "18EFB000");
    BusMonitorFilter range;
    std::string why;
    ASSERT_TRUE(parse_id_range("100-7FF", range.id_low, range.id_high, why));
    model.set_filter(range);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(cell(0, BusIdentifierModel::kIdentifier), "123");
}

// The dock as a technician uses it: Pause says Paused, the details pane
// decodes the selected frame with the installation's names, a copy is
// candump text, and with Follow off the rows in view stay in view while the
// full history drops its oldest.
TEST(BusMonitorDock, PauseDetailsCopyAndScrollBackThatStaysPut)
{
    BusMonitorDock dock;
    dock.resize(900, 600);
    dock.show();
    auto* pause = dock.findChild<QPushButton*>("busPause");
    ASSERT_NE(pause, nullptr);
    pause->click();
    EXPECT_EQ(pause->text(), "Paused");
    EXPECT_TRUE(dock.findChild<QLabel*>("busFigures")->text().startsWith("Paused"));
    pause->click();
    EXPECT_EQ(pause->text(), "Pause");

    can_frame command = ext_frame(0x18EFB700, 6, 1200000);
    command.data[2] = 0x10;  // output 3 on
    dock.queue().push({command, 0, true, BusSource::unit});
    dock.queue().push({ext_frame(0x18FF0083, 8, 1300000), 0, false, BusSource::module});
    dock.drain();
    auto* trace = dock.findChild<QTableView*>("busTrace");
    ASSERT_NE(trace, nullptr);
    trace->selectRow(0);
    const std::string details = dock.details_text().toStdString();
    EXPECT_NE(details.find("PWRB8_COMMAND"), std::string::npos) << details;
    EXPECT_NE(details.find("out3_command on  ANCHOR LIGHT"), std::string::npos) << details;
    trace->selectAll();
    EXPECT_EQ(dock.selected_candump().toStdString(),
              can_format_candump_line(1200000, "can0", command) + "\n" +
                  can_format_candump_line(1300000, "can0", ext_frame(0x18FF0083, 8, 1300000)) + "\n");
    dock.show_view(1);
    auto* ids = dock.findChild<QTableView*>("busIdentifiers");
    ASSERT_NE(ids, nullptr);
    ids->selectRow(1);
    EXPECT_NE(dock.details_text().toStdString().find("ch1_percent"), std::string::npos)
        << dock.details_text().toStdString();
    dock.show_view(0);

    // Fill the history, scroll up, stop following; more frames push the
    // oldest out and the row at the top of the view stays the same frame.
    uint64_t t = 2000000;
    auto feed = [&](size_t n) {
        while (n) {
            const size_t batch = std::min<size_t>(n, 8000);
            for (size_t i = 0; i < batch; ++i)
                dock.queue().push({ext_frame(0x18FFA0B0, 8, t++), 0, false, BusSource::module});
            dock.drain();
            n -= batch;
        }
    };
    feed(BusMonitorDock::HISTORY);
    EXPECT_EQ(dock.model().history_size(), BusMonitorDock::HISTORY);
    QCoreApplication::processEvents();
    dock.set_following(false);
    trace->verticalScrollBar()->setValue(50000);
    const uint64_t top = dock.model().row(size_t(trace->rowAt(0))).frame.time_us;
    feed(1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(dock.model().row(size_t(trace->rowAt(0))).frame.time_us, top);
    dock.set_following(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(trace->verticalScrollBar()->value(), trace->verticalScrollBar()->maximum());
}

// A click on a column's header sorts the trace by it (times and identifiers
// as numbers), a second click the other way, a third goes back to the order
// the frames came in; frames that come meanwhile take their sorted place,
// and selection, details and copy follow the rows as shown.
TEST(BusMonitorDock, TraceSortsByAClickedColumnAndGoesBackToArrivalOrder)
{
    BusMonitorDock dock;
    dock.resize(900, 600);
    dock.show();
    auto* trace = dock.findChild<QTableView*>("busTrace");
    ASSERT_NE(trace, nullptr);
    QHeaderView* header = trace->horizontalHeader();
    const auto click_header = [&](int column) {
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, header->viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(header->viewport(), &event);
        }
    };
    const auto shown = [&](int column) {
        std::string out;
        for (int r = 0; r < trace->model()->rowCount(); ++r)
            out += trace->model()->index(r, column).data().toString().toStdString() + " ";
        return out;
    };
    can_frame test_status{0x421u, 0, 0, 8, {}, 9'500'000};
    // Out of time order: a scenario's frame stamped before the module's.
    dock.queue().push({ext_frame(0x18FFA0B3, 8, 10'200'000), 0, false, BusSource::module});
    dock.queue().push({test_status, 0, true, BusSource::unit});
    dock.queue().push({ext_frame(0x18EFB000, 6, 10'100'000), 0, true, BusSource::unit});
    dock.drain();
    const int id = BusMonitorModel::kIdentifier, time = BusMonitorModel::kTime;
    const std::string arrival = shown(id);
    EXPECT_EQ(arrival, "18FFA0B3 421 18EFB000 ");

    click_header(id);
    EXPECT_EQ(header->sortIndicatorSection(), id);
    EXPECT_EQ(shown(id), "421 18EFB000 18FFA0B3 ");
    dock.queue().push({ext_frame(0x18F00000, 8, 10'300'000), 0, false, BusSource::scenario});
    dock.drain();
    EXPECT_EQ(shown(id), "421 18EFB000 18F00000 18FFA0B3 ") << "a new frame takes its sorted place";
    trace->selectRow(0);
    EXPECT_NE(dock.details_text().toStdString().find("421"), std::string::npos) << dock.details_text().toStdString();
    trace->selectionModel()->select(trace->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(dock.selected_candump().toStdString(),
              can_format_candump_line(9'500'000, "can0", test_status) + "\n" +
                  can_format_candump_line(10'300'000, "can0", ext_frame(0x18F00000, 8, 10'300'000)) + "\n");

    click_header(id);
    EXPECT_EQ(shown(id), "18FFA0B3 18F00000 18EFB000 421 ");
    click_header(id);
    EXPECT_EQ(header->sortIndicatorSection(), -1);
    EXPECT_EQ(shown(id), "18FFA0B3 421 18EFB000 18F00000 ") << "back to the order of arrival";

    click_header(time);  // 9.5 s before 10.1 s: numbers, not text
    EXPECT_EQ(shown(time), "9.500000 10.100000 10.200000 10.300000 ");
}

// The details pane shows every decoded signal of the selected frame whole,
// with the trace keeping rows in view: in the room the window gives the
// dock below the unit on a 1366 x 768 screen it stands beside the views, in
// a taller dock below them (the signals in as many columns as its width
// holds).
TEST(BusMonitorDock, DetailsShowEverySignalWholeInAShortOrATallDock)
{
    BusMonitorDock dock;
    dock.show();
    for (uint64_t i = 0; i < 10; ++i)
        dock.queue().push({ext_frame(0x18FFA0B4, 8, 1'000'000 + i * 100'000), 0, false, BusSource::module});
    can_frame command = ext_frame(0x18EFB700, 6, 2'100'000);
    command.data[2] = 0x10;  // output 3 on
    dock.queue().push({command, 0, true, BusSource::unit});
    dock.drain();
    auto* trace = dock.findChild<QTableView*>("busTrace");
    auto* details = dock.findChild<QPlainTextEdit*>("busDetails");
    auto* split = dock.findChild<QSplitter*>();
    ASSERT_NE(details, nullptr);
    ASSERT_NE(split, nullptr);
    // The table's room as the window gives it below the unit on a laptop
    // (the details beside), and in a taller dock.
    const struct {
        int height;
        bool beside;
        Qt::Orientation details;
        int trace_rows;
    } cases[] = {{200, true, Qt::Horizontal, 4}, {450, false, Qt::Vertical, 10}};
    for (const auto& c : cases) {
        dock.set_table_size(QSize(dock.full_table_width(), c.height));
        dock.set_details_beside(c.beside);
        dock.resize(dock.sizeHint());
        QCoreApplication::processEvents();
        EXPECT_EQ(split->orientation(), c.details) << c.height;
        for (int row : {0, 10}) {  // PWRB5's status (seven states), the unit's command to PWRB8 (eight outputs)
            trace->selectRow(row);
            QCoreApplication::processEvents();
            const std::string text = dock.details_text().toStdString();
            const std::string where = std::to_string(c.height) + " high, row " + std::to_string(row) + ":\n";
            EXPECT_NE(text.find(row == 0 ? "out7_state" : "out8_command"), std::string::npos) << where << text;
            EXPECT_EQ(details->verticalScrollBar()->maximum(), 0) << where << text;
            EXPECT_EQ(details->horizontalScrollBar()->maximum(), 0) << where << text;
            const int bottom = trace->rowAt(trace->viewport()->height() - 1);
            EXPECT_TRUE(bottom < 0 || bottom >= c.trace_rows - 1) << where << "trace rows in view: " << bottom + 1;
        }
    }
    EXPECT_NE(dock.details_text().toStdString().find("out3_command on  ANCHOR LIGHT"), std::string::npos)
        << dock.details_text().toStdString();
}

// The monitor fed as the window feeds it (every frame on the bus, stamped
// with the unit time it reached the bus, drained every 100 ms of unit time)
// through a whole ten-minute session of the installation in virtual time:
// its continuous log holds every frame of norvane-run's CAN log of the same
// run, line for line, far past the history's bound. Under ThreadSanitizer,
// where every step is ten times slower, two minutes stand for the ten.
#if defined(__SANITIZE_THREAD__)
constexpr uint64_t SESSION_MS = 2 * 60 * 1000;
#else
constexpr uint64_t SESSION_MS = 10 * 60 * 1000;
#endif

TEST(BusMonitorDock, ContinuousLogOfATenMinuteSessionMatchesTheRunsCanLog)
{
    class MonitorFeed : public run_watcher {
    public:
        explicit MonitorFeed(BusMonitorDock& dock) : dock_(dock) {}
        void before(uint64_t t, const frame_buffer&) override
        {
            if (t >= next_drain_) {
                dock_.drain();
                next_drain_ = t + uint64_t(BusMonitorDock::DRAIN_MS);
            }
        }
        void sent(uint8_t port, uint64_t ms, const can_frame& frame) override { push(port, ms, frame, true); }
        void heard(uint8_t port, uint64_t ms, const can_frame& frame) override { push(port, ms, frame, false); }
        void finished(uint64_t, bool) override { dock_.drain(); }

    private:
        void push(uint8_t port, uint64_t ms, const can_frame& frame, bool from_unit)
        {
            can_frame stamped = frame;
            stamped.time_us = ms * 1000;
            dock_.queue().push({stamped, port, from_unit, from_unit ? BusSource::unit : BusSource::module});
        }
        BusMonitorDock& dock_;
        uint64_t next_drain_ = 0;
    };

    const auto dir = std::filesystem::temp_directory_path() / ("norvane-session-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    BusMonitorDock dock;
    std::string why;
    ASSERT_TRUE(dock.start_log((dir / "monitor.log").string(), why)) << why;
    MonitorFeed feed(dock);
    run_options options;
    options.quiet = true;
    options.workdir = (dir / "unit").string();
    options.duration_ms = SESSION_MS;
    options.installation = true;
    options.can_log = (dir / "run.log").string();
    options.watcher = &feed;
    // Switches, a tank and a scenario frame along the way, beside the
    // modules' and the unit's own traffic.
    const std::string scenario = "1000 switch SENB1 1 on\n" + std::to_string(SESSION_MS / 10) + " tank 1 40\n" +
                                 std::to_string(SESSION_MS / 2) + " can 0 422#0B02000078563412\n" +
                                 std::to_string(SESSION_MS - 1000) + " switch SENB1 1 off\n";
    ASSERT_TRUE(parse_scenario(scenario, "s.txt", options.actions, why)) << why;
    const run_result result = run_headless(options);
    ASSERT_EQ(result.status, RUN_OK);
    ASSERT_TRUE(dock.stop_log(why)) << why;

    const auto read = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string run_log = read(dir / "run.log"), monitor_log = read(dir / "monitor.log");
    const size_t frames = size_t(std::count(run_log.begin(), run_log.end(), '\n'));
    if (SESSION_MS >= 10 * 60 * 1000) {
        EXPECT_GT(frames, BusMonitorDock::HISTORY) << "ten minutes of a busy bus";
    }
    EXPECT_EQ(dock.logged_frames(), frames);
    EXPECT_EQ(dock.queue().dropped(), 0u);
    EXPECT_TRUE(monitor_log == run_log) << "the logs part at byte "
                                        << std::mismatch(run_log.begin(), run_log.end(), monitor_log.begin(),
                                                         monitor_log.end()).first - run_log.begin();
    std::filesystem::remove_all(dir);
}

// Log to file records every frame from its start for as long as it runs,
// far past the history's bound, as candump or pcap; Save saves what it holds.
TEST(BusMonitorDock, LogsEveryFrameContinuouslyAndSavesWhatItHolds)
{
    const auto dir = std::filesystem::temp_directory_path() / ("norvane-buslog-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    BusMonitorDock dock;
    std::string why;
    ASSERT_TRUE(dock.start_log((dir / "bus.log").string(), why)) << why;
    const uint64_t total = BusMonitorDock::HISTORY + 5000;
    for (uint64_t sent = 0; sent < total;) {
        for (int i = 0; i < 5000 && sent < total; ++i, ++sent)
            dock.queue().push({ext_frame(0x18FFA0B0 + uint32_t(sent % 8), 8, sent * 524), 0, false, BusSource::module});
        dock.drain();
    }
    ASSERT_TRUE(dock.stop_log(why)) << why;
    EXPECT_EQ(dock.logged_frames(), total);
    std::ifstream in(dir / "bus.log");
    std::string line;
    uint64_t n = 0;
    bool in_order = true;
    while (std::getline(in, line)) {
        can_frame f{};
        std::string iface;
        ASSERT_TRUE(can_parse_candump_line(line, f, iface, why)) << line;
        in_order = in_order && f.time_us == n * 524;
        ++n;
    }
    EXPECT_EQ(n, total);
    EXPECT_TRUE(in_order);
    EXPECT_EQ(dock.model().history_size(), BusMonitorDock::HISTORY);

    // A pcap log: the header, then each frame's record on its port's interface.
    ASSERT_TRUE(dock.start_log((dir / "bus.pcap").string(), why)) << why;
    dock.queue().push({ext_frame(0x18FFA0B0, 8, 7), 0, false, BusSource::module});
    dock.queue().push({ext_frame(0x18FFA0B1, 8, 9), 1, false, BusSource::scenario});
    dock.drain();
    ASSERT_TRUE(dock.stop_log(why));
    std::string expected = pcap_file_header();
    pcap_append_record(expected, 7, 0, ext_frame(0x18FFA0B0, 8, 7));
    pcap_append_record(expected, 9, 1, ext_frame(0x18FFA0B1, 8, 9));
    std::ifstream capture(dir / "bus.pcap", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(capture), {}), expected);

    EXPECT_TRUE(dock.model().save_history((dir / "all.log").string(), why)) << why;
    std::ifstream all(dir / "all.log");
    n = 0;
    while (std::getline(all, line))
        ++n;
    EXPECT_EQ(n, BusMonitorDock::HISTORY);
    EXPECT_FALSE(dock.start_log((dir / "missing" / "x.log").string(), why));
    EXPECT_NE(why.find("missing/x.log"), std::string::npos) << why;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace norvane

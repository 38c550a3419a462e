// The bus monitor on the offscreen platform: names read from identifiers,
// the bounded history at a full bus, filters, pause, the figures and the
// candump log it saves.
#include "host/qt/bus_monitor.h"

#include <QComboBox>
#include <QLabel>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/core/bus_decode.h"
#include "qt_test_app.h"
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

}  // namespace
}  // namespace norvane

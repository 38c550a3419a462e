// Expectation lines: what the parser takes and refuses, and the checks fed
// with screens and frames directly (no firmware runs here).
#include "host/core/expectation.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

#include "seam/can_candump.h"
#include "host/core/junit_report.h"
#include "host/core/png_file.h"
#include "host/core/scenario.h"
#include "host/core/scenario_suite.h"
#include "support/test_os.h"
#include "support/unit_fixture.h"

namespace {

using namespace norvane;
using norvane::testing::read_file;
using norvane::testing::TempDir;
using norvane::testing::write_file;

std::vector<expectation> parse_ok(const std::string& text, const std::string& name = "t.txt")
{
    std::vector<scenario_action> actions;
    std::vector<expectation> checks;
    std::string error;
    EXPECT_TRUE(parse_scenario(text, name, actions, checks, error)) << error;
    return checks;
}

// Each line reads back as the formatter writes it, optional words written out.
TEST(ExpectationLine, ReadsEveryKindAndFormatsWhatItReads)
{
    const struct {
        const char* line;
        const char* formatted;
    } cases[] = {
        {"100 expect can 0 18EFB000#01..FF", "100 expect can 0 18EFB000#01..FF within 100"},
        {"100 expect can 1 421#.. within 30", "100 expect can 1 421#.. within 30"},
        {"100 expect can 0 123#", "100 expect can 0 123# within 100"},
        {"100 expect can 0 123#R", "100 expect can 0 123#R within 100"},
        {"100 expect no-can 0 18ef0000", "100 expect no-can 0 18EF0000 for 100"},
        {"100 expect no-can 1 7FF for 2000", "100 expect no-can 1 7FF for 2000"},
        {"100 expect screen golden/a b.PNG", "100 expect screen golden/a b.PNG"},
        {"100 expect screen a.png max-diff 12", "100 expect screen a.png max-diff 12"},
        {"100 expect pixel 319 239 a0b1C2", "100 expect pixel 319 239 A0B1C2"},
        {"100 expect file /app/event/app_reply OK", "100 expect file /app/event/app_reply OK"},
        {"100 expect file /a/b two words\\n\\#3\\\\", "100 expect file /a/b two words\\n\\#3\\\\"},
        {"100 expect file /a/b", "100 expect file /a/b"},
        {"100 expect output PWRB8  8   off", "100 expect output PWRB8 8 off"},
        {"100 expect output PWRB1 1 on", "100 expect output PWRB1 1 on"},
        {"100 expect signal PWRB1 out3_command on", "100 expect signal PWRB1 out3_command on within 100"},
        {"100 expect signal SENB4 ch1_percent 50.5 within 900",
         "100 expect signal SENB4 ch1_percent 50.5 within 900"},
        {"100 expect signal UNIT type 11", "100 expect signal UNIT type 11 within 100"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::vector<expectation> one = parse_ok(c.line);
        ASSERT_EQ(one.size(), 1u);
        EXPECT_EQ(format_expectation(one[0]), c.formatted);
        EXPECT_EQ(one[0].where, "t.txt:1");
        const std::vector<expectation> again = parse_ok(format_expectation(one[0]));
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(format_expectation(again[0]), c.formatted);
    }
    const expectation file = parse_ok("5 expect file /a/b two words\\n\\#3\\\\")[0];
    EXPECT_EQ(file.text, "two words\n#3\\");
    const expectation can = parse_ok("5 expect can 0 18EFB000#01..FF")[0];
    EXPECT_EQ(can.care, 0b101);
    EXPECT_EQ(can.frame.len, 3);
}

TEST(ExpectationLine, RefusesBadLinesWithFileLineAndReason)
{
    const struct {
        const char* line;
        const char* error;
    } cases[] = {
        {"1 expect", "t.txt:1: expected what to expect after 'expect': can, no-can, screen, pixel, file, "
                     "output or signal"},
        {"1 expect lamp 1 2 on", "t.txt:1: unknown expectation 'lamp'; expected can, no-can, screen, "
                                 "pixel, file, output or signal"},
        {"1 expect signal PWRB1 out3_command", "t.txt:1: expected MODULE SIGNAL VALUE after 'signal'"},
        {"1 expect signal PWRB9 out3_command on", "t.txt:1: unknown module 'PWRB9'; expected SENB1 to SENB4, "
                                                  "PWRB1 to PWRB8 or UNIT"},
        {"1 expect signal PWRB1 out9_command on", "t.txt:1: unknown signal 'out9_command' of PWRB1; it has "
                                                  "out1_state, "},
        {"1 expect signal PWRB1 out1_code on", "t.txt:1: expected a number as the value of out1_code, found 'on'"},
        {"1 expect signal PWRB1 out1_command lit", "t.txt:1: expected a number, on or off as the value of "
                                                   "out1_command, found 'lit'"},
        {"1 expect signal SENB4 ch1_mv 12x", "t.txt:1: expected a number as the value of ch1_mv, found '12x'"},
        {"1 expect signal SENB4 ch1_mv 12 for 5", "t.txt:1: unexpected 'for' after '12'; expected 'within MS'"},
        {"1 expect signal SENB4 ch1_mv 12 within 5 more", "t.txt:1: unexpected 'more' after '5'"},
        {"1 expect output 1 2 on", "t.txt:1: expected a power module PWRB1 to PWRB8 after 'output', found '1'"},
        {"1 expect output PWRB1 9 on", "t.txt:1: output must be 1 to 8, found '9'"},
        {"1 expect output PWRB1 0 on", "t.txt:1: output must be 1 to 8, found '0'"},
        {"1 expect output PWRB1 2 lit", "t.txt:1: expected on or off after the output, found 'lit'"},
        {"1 expect output PWRB1 2 on now", "t.txt:1: unexpected 'now' after 'on'"},
        {"1 expect can 2 421#00", "t.txt:1: CAN port must be 0 or 1, found '2'"},
        {"1 expect can 0", "t.txt:1: expected a frame ID#DATA after the port ('..' for a byte that does not "
                           "matter)"},
        {"1 expect can 0 421#0.", "t.txt:1: malformed frame '421#0.': "},
        {"1 expect can 0 421#... within 5", "t.txt:1: malformed frame '421#...': "},
        {"1 expect can 0 421#00 within", "t.txt:1: 'within' needs a whole number of milliseconds, found ''"},
        {"1 expect can 0 421#00 for 5", "t.txt:1: unexpected 'for' after '421#00'; expected 'within MS'"},
        {"1 expect can 0 421#00 within 5 more", "t.txt:1: unexpected 'more' after '5'"},
        {"1 expect no-can 0 421#00", "t.txt:1: 'expect no-can' takes an identifier without data, found "
                                     "'421#00'"},
        {"1 expect no-can 0 42", "t.txt:1: malformed identifier '42': "},
        {"1 expect screen", "t.txt:1: expected a reference picture FILE.png after 'screen'"},
        {"1 expect screen a.bmp", "t.txt:1: reference picture 'a.bmp' must be a .png file"},
        {"1 expect screen a.png max-diff x", "t.txt:1: 'max-diff' needs a number of pixels (0 to 76800), "
                                             "found 'x'"},
        {"1 expect pixel 320 0 000000", "t.txt:1: X must be 0 to 319, found '320'"},
        {"1 expect pixel 0 240 000000", "t.txt:1: Y must be 0 to 239, found '240'"},
        {"1 expect pixel 0 0 00000G", "t.txt:1: colour must be RRGGBB (6 hex digits), found '00000G'"},
        {"1 expect pixel 0 0 -00001", "t.txt:1: colour must be RRGGBB (6 hex digits), found '-00001'"},
        {"1 expect file app/reply OK", "t.txt:1: path 'app/reply' must start with '/'"},
        {"1 expect file /app/../../etc/passwd x", "t.txt:1: path '/app/../../etc/passwd' must start with '/'"},
        {"1 expect file /a/b \\q", "t.txt:1: unknown escape '\\q' in the text"},
        {"1 expect file /a/b x\\", "t.txt:1: a lone '\\' ends the text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<scenario_action> actions;
        std::vector<expectation> checks;
        std::string error;
        actions.resize(1);
        checks.resize(1);
        EXPECT_FALSE(parse_scenario(c.line, "t.txt", actions, checks, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_TRUE(actions.empty());
        EXPECT_TRUE(checks.empty());
    }
}

TEST(ExpectationLine, KeepsTimeOrderWithActionsAndTakesReferencesFromTheFilesFolder)
{
    std::vector<scenario_action> actions;
    std::vector<expectation> checks;
    std::string error;
    EXPECT_FALSE(parse_scenario("200 expect pixel 0 0 000000\n100 press 1\n", "t.txt", actions, checks, error));
    EXPECT_EQ(error, "t.txt:2: time 100 goes backwards (the line before is at 200)");

    ASSERT_TRUE(parse_scenario("0 press 1\n5 expect screen ../g/a.png\n6 expect screen /abs/b.png\n",
                               "tests/x/s.txt", actions, checks, error));
    EXPECT_EQ(actions.size(), 1u);
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_EQ(checks[0].reference, "tests/x/../g/a.png");
    EXPECT_EQ(checks[1].reference, "/abs/b.png");

    // A caller that checks nothing refuses expectations instead of passing them by.
    EXPECT_FALSE(parse_scenario("0 press 1\n5 expect pixel 0 0 000000\n", "t.txt", actions, error));
    EXPECT_EQ(error, "t.txt:2: this run checks no expectations");
}

TEST(ExpectationLine, MustFitInTheRun)
{
    const expectation pixel = parse_ok("1000 expect pixel 0 0 000000")[0];
    EXPECT_EQ(expectation_after_end(pixel, 1000), "");
    EXPECT_EQ(expectation_after_end(pixel, 999), "expectation at 1000 ms is after the end of the run (999 ms)");
    const expectation quiet = parse_ok("1000 expect no-can 0 421 for 500")[0];
    EXPECT_EQ(expectation_after_end(quiet, 1500), "");
    EXPECT_EQ(expectation_after_end(quiet, 1499),
              "the window of 'expect no-can' reaches 1500 ms, after the end of the run (1499 ms)");
    // A frame may still come before the end of a shorter run.
    EXPECT_EQ(expectation_after_end(parse_ok("1000 expect can 0 421#00 within 500")[0], 1200), "");
}

can_frame frame_of(const std::string& text)
{
    can_frame f;
    std::string why;
    EXPECT_TRUE(can_parse_candump(text, f, why)) << why;
    return f;
}

ExpectationCheck check_of(const std::string& text, check_options options = {})
{
    return ExpectationCheck(parse_ok(text, "c.txt"), options);
}

TEST(ExpectationCheck, CanFramesAreWatchedInTheirWindowAndAFailureNamesTheNearest)
{
    ExpectationCheck check = check_of(
        "1000 expect can 0 18EFB000#01..FF\n"         // 1: matches at 1100, the window's last ms
        "1000 expect can 0 18EFB000#02 within 50\n"   // 2: wrong length and data; nearest inside
        "1000 expect can 1 18EFB000#01..FF\n"         // 3: right frame on the other port only
        "1000 expect can 0 300#00 within 10\n"        // 4: the frame comes 15 ms late
        "1000 expect no-can 0 421 for 200\n"          // 5: seen at 1175
        "1000 expect no-can 0 18EFB100 for 200\n"     // 6: only at 999 and 1201
        "1000 expect can 0 421#..\n");                // 7: in time only an extended 421
    check.sent(0, 999, frame_of("18EFB100#00"));
    check.sent(0, 1000, frame_of("18EFB000#01000000"));
    check.sent(1, 1000, frame_of("18EFB000#01AAEE"));
    check.sent(0, 1025, frame_of("00000421#00"));
    check.sent(0, 1100, frame_of("18EFB000#01AAFF"));
    check.sent(0, 1125, frame_of("300#00"));
    check.sent(0, 1175, frame_of("421#00"));
    check.sent(0, 1201, frame_of("18EFB100#00"));
    check.finished(2000, false);
    EXPECT_EQ(check.count(expect_state::passed), 2u);  // 1 and 6
    const std::vector<std::string> failures = check.failure_lines();
    const std::vector<std::string> expected = {
        "c.txt:2: 1000 expect can 0 18EFB000#02 within 50: not sent from 1000 to 1050 ms; nearest "
        "18EFB000#01000000 at 1000 ms",
        "c.txt:3: 1000 expect can 1 18EFB000#01..FF within 100: not sent from 1000 to 1100 ms; nearest "
        "18EFB000#01AAEE at 1000 ms",
        "c.txt:4: 1000 expect can 0 300#00 within 10: not sent from 1000 to 1010 ms; nearest 300#00 at 1125 ms",
        "c.txt:5: 1000 expect no-can 0 421 for 200: sent 421#00 at 1175 ms",
        "c.txt:7: 1000 expect can 0 421#.. within 100: not sent from 1000 to 1100 ms; nearest 421#00 at 1175 ms",
    };
    EXPECT_EQ(failures, expected);
}

// A signal is looked for in every frame on the bus, the unit's and the
// others', by its decoded value; a failure names the nearest value.
TEST(ExpectationCheck, SignalsAreDecodedFromEveryFrameOnTheBus)
{
    ExpectationCheck check = check_of(
        "1000 expect signal PWRB1 out3_command on\n"           // 1: the unit's frame at 1100
        "1000 expect signal SENB4 ch1_percent 50 within 50\n"  // 2: a module's frame, 2500 mV
        "1000 expect signal SENB4 ch1_percent 60 within 50\n"  // 3: 50 % is all there is
        "1000 expect signal PWRB3 out2_code 9\n"               // 4: never on the bus
        "1000 expect signal SENB1 ch4_state on within 10\n");  // 5: a module's frame on port 1 only
    check.sent(0, 1000, frame_of("18EFB000#800000000000"));
    check.sent(0, 1100, frame_of("18EFB000#800010000000"));
    check.heard(0, 1020, frame_of("18FF0083#0A01C40900000000"));
    check.heard(1, 1005, frame_of("18FF0380#0D01010000000000"));
    check.finished(2000, false);
    EXPECT_EQ(check.count(expect_state::passed), 2u);
    EXPECT_EQ(check.failure_lines(),
              (std::vector<std::string>{
                  "c.txt:3: 1000 expect signal SENB4 ch1_percent 60 within 50: not on the bus from 1000 to 1050 "
                  "ms; nearest ch1_percent 50 % at 1020 ms (18FF0083#0A01C40900000000)",
                  "c.txt:4: 1000 expect signal PWRB3 out2_code 9 within 100: not on the bus from 1000 to 1100 ms; "
                  "no frame 18FFA1B2 on port 0 in the whole run",
                  "c.txt:5: 1000 expect signal SENB1 ch4_state on within 10: not on the bus from 1000 to 1010 ms; "
                  "no frame 18FF0380 on port 0 in the whole run"}));
}

TEST(ExpectationCheck, WhatTheRunNeverReachedFails)
{
    ExpectationCheck check = check_of("100 expect can 0 421#00\n100 expect no-can 0 421 for 500\n"
                                      "600 expect pixel 0 0 000000\n");
    check.before(51, frame_buffer{});
    check.finished(150, true);
    EXPECT_EQ(check.failure_lines(),
              (std::vector<std::string>{
                  "c.txt:1: 100 expect can 0 421#00 within 100: not sent from 100 to 150 ms (the unit asked to "
                  "end at 150 ms); no frame 421 on port 0 in the whole run",
                  "c.txt:2: 100 expect no-can 0 421 for 500: not checked to its end: the unit asked to end at "
                  "150 ms",
                  "c.txt:3: 600 expect pixel 0 0 000000: not checked: the unit asked to end at 150 ms"}));
}

// The screen at MS is the one handed over before MS + 1.
TEST(ExpectationCheck, PixelsAreTheWindowsColoursAtTheirTime)
{
    ExpectationCheck check = check_of("10 expect pixel 5 6 F80000\n10 expect pixel 5 6 000000\n");
    frame_buffer screen{};
    screen.pixels[6 * GFX_WIDTH + 5] = 0xF800;
    check.before(10, frame_buffer{});
    EXPECT_EQ(check.count(expect_state::open), 2u);
    check.before(11, screen);
    check.finished(20, false);
    EXPECT_EQ(check.count(expect_state::passed), 1u);
    EXPECT_EQ(check.failure_lines(), std::vector<std::string>{"c.txt:2: 10 expect pixel 5 6 000000: seen F80000"});
}

TEST(ExpectationCheck, FilesOfTheUnitHoldTheirText)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "rootfs/app/event");
    write_file(dir / "rootfs/app/event/app_reply", "OK");
    write_file(dir / "rootfs/app/event/log", "a\nb\x01\"");
    // What is no file of text is refused at once: a FIFO would wait for a
    // writer for ever, /dev/zero never ends, a folder read as empty.
    NORVANE_MAKE_FIFO((dir / "rootfs/app/event/fifo"));
    std::filesystem::create_symlink("/dev/zero", dir / "rootfs/app/event/zero");
    std::filesystem::create_directories(dir / "rootfs/app/event/folder");
    write_file(dir / "rootfs/app/event/huge", "");
    std::filesystem::resize_file(dir / "rootfs/app/event/huge", 3u << 20);
    check_options options;
    options.unit_dir = dir.path().string();
    ExpectationCheck check = check_of("1 expect file /app/event/app_reply OK\n"
                                      "1 expect file /app/event/app_reply OK!\n"
                                      "1 expect file /app/event/log a\\nb\n"
                                      "1 expect file /app/event/none x\n"
                                      "1 expect file /app/event/fifo x\n"
                                      "1 expect file /app/event/zero x\n"
                                      "1 expect file /app/event/folder x\n"
                                      "1 expect file /app/event/huge x\n",
                                      options);
    check.before(2, frame_buffer{});
    EXPECT_EQ(check.count(expect_state::passed), 1u);
    EXPECT_EQ(check.failure_lines(),
              (std::vector<std::string>{
                  "c.txt:2: 1 expect file /app/event/app_reply OK!: the file holds \"OK\"",
                  "c.txt:3: 1 expect file /app/event/log a\\nb: the file holds \"a\\nb\\x01\\\"\"",
                  "c.txt:4: 1 expect file /app/event/none x: the file does not exist",
                  "c.txt:5: 1 expect file /app/event/fifo x: the file cannot be read: not a regular file",
                  "c.txt:6: 1 expect file /app/event/zero x: the file cannot be read: not a regular file",
                  "c.txt:7: 1 expect file /app/event/folder x: the file cannot be read: a folder",
                  "c.txt:8: 1 expect file /app/event/huge x: the file cannot be read: 3145728 bytes, more than the "
                  "1048576 allowed"}));
}

class ScreenCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir_ / "refs");
        screen_.pixels[0] = 0xFFFF;
        std::string why;
        ASSERT_TRUE(write_png((dir_ / "refs/page.png").generic_string(), frame_to_rgb(screen_), why)) << why;
        options_.output_dir = (dir_ / "out").generic_string();
    }
    ExpectationCheck run(const std::string& text, const frame_buffer& screen)
    {
        ExpectationCheck check = check_of(text, options_);
        check.before(11, screen);
        check.finished(20, false);
        return check;
    }

    TempDir dir_;
    frame_buffer screen_{};
    check_options options_;
};

TEST_F(ScreenCheck, EqualScreenPassesAndADifferentOneWritesTheDifferenceBesideTheOutput)
{
    const std::string ref = (dir_ / "refs/page.png").generic_string();
    EXPECT_EQ(run("10 expect screen " + ref + "\n", screen_).count(expect_state::passed), 1u);

    frame_buffer changed = screen_;
    changed.pixels[GFX_WIDTH * 2 + 3] = 0x001F;
    changed.pixels[GFX_WIDTH * 2 + 4] = 0x001F;
    EXPECT_EQ(run("10 expect screen " + ref + " max-diff 2\n", changed).count(expect_state::passed), 1u);
    const std::vector<std::string> failures = run("10 expect screen " + ref + " max-diff 1\n", changed).failure_lines();
    const std::string err = (dir_ / "out/page_err.png").generic_string();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "c.txt:1: 10 expect screen " + ref + " max-diff 1: 2 pixels differ from '" + ref +
                               "' (at most 1 allowed), the first at x 3 y 2; seen and difference in " + err);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "refs/page_err.png"));
    rgb_image picture;
    std::string why;
    ASSERT_TRUE(read_png(err, picture, why)) << why;
    EXPECT_EQ(picture.width, GFX_WIDTH * 2);
    const rgb_image seen = frame_to_rgb(changed);
    auto at = [&](int x, int y) { return &picture.rgb[(size_t(y) * size_t(picture.width) + size_t(x)) * 3]; };
    EXPECT_TRUE(std::equal(at(3, 2), at(3, 2) + 3, &seen.rgb[(2 * GFX_WIDTH + 3) * 3]));
    EXPECT_EQ(at(GFX_WIDTH + 3, 2)[1], 0);      // marked
    EXPECT_GT(at(GFX_WIDTH + 3, 2)[0], 0x7F);
    EXPECT_EQ(at(GFX_WIDTH + 5, 2)[0], at(GFX_WIDTH + 5, 2)[1]);  // grey where equal

    // A later pass takes the stale picture away.
    EXPECT_EQ(run("10 expect screen " + ref + "\n", screen_).count(expect_state::passed), 1u);
    EXPECT_FALSE(std::filesystem::exists(err));
}

namespace {
uint32_t png_crc(const std::string& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string be32(uint32_t v)
{
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// A PNG file that claims width x height RGB pixels and holds a few bytes
// of them (69 bytes in all).
std::string png_claiming(uint32_t width, uint32_t height)
{
    const std::string ihdr = "IHDR" + be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
    const std::string idat = "IDAT" + std::string("\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01\x00\x00", 12);
    const std::string iend = "IEND";
    return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + ihdr + be32(png_crc(ihdr)) + be32(12) + idat +
           be32(png_crc(idat)) + be32(0) + iend + be32(png_crc(iend));
}
}  // namespace

// A reference's header is believed only as far as its size: a picture that
// is not the screen's size is refused before its pixels are allocated (a
// 69-byte file claimed 4 GB; 1,000,000 squared wrapped the size at 32
// bits), and what is no file of a picture is refused at once.
TEST_F(ScreenCheck, AReferenceOfAnotherSizeOrNoFileIsRefusedUnread)
{
    const struct {
        uint32_t width, height;
    } sizes[] = {{65535, 21845}, {1000000, 1000000}, {GFX_WIDTH, GFX_HEIGHT + 1}};
    for (const auto& size : sizes) {
        const std::string ref = (dir_ / "refs/lies.png").generic_string();
        write_file(ref, png_claiming(size.width, size.height));
        const std::vector<std::string> failures = run("10 expect screen " + ref + "\n", screen_).failure_lines();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_NE(failures[0].find("the reference '" + ref + "' is " + std::to_string(size.width) + " x " +
                                   std::to_string(size.height) + ", the screen 320 x 240"),
                  std::string::npos)
            << failures[0];
    }
    // The screen's size but no pixel data: libpng's reason.
    const std::string empty = (dir_ / "refs/empty.png").generic_string();
    write_file(empty, png_claiming(GFX_WIDTH, GFX_HEIGHT));
    std::vector<std::string> failures = run("10 expect screen " + empty + "\n", screen_).failure_lines();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("cannot read the reference"), std::string::npos) << failures[0];

    const std::string fifo = (dir_ / "refs/fifo.png").generic_string();
    NORVANE_MAKE_FIFO(fifo);
    std::filesystem::create_directories(dir_ / "refs/folder.png");
    const std::string folder = (dir_ / "refs/folder.png").generic_string();
    failures = run("10 expect screen " + fifo + "\n10 expect screen " + folder + "\n", screen_).failure_lines();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[0].find("cannot read the reference '" + fifo + "' (not a regular file)"), std::string::npos)
        << failures[0];
    EXPECT_NE(failures[1].find("(a folder)"), std::string::npos) << failures[1];
}

TEST_F(ScreenCheck, AReferenceCheckedTwiceKeepsEachFailuresPicture)
{
    const std::string ref = (dir_ / "refs/page.png").generic_string();
    frame_buffer changed = screen_;
    changed.pixels[5] = 0x001F;
    ExpectationCheck check = check_of(
        "10 expect screen " + ref + "\n20 expect screen " + ref + "\n30 expect screen " + ref + "\n", options_);
    check.before(11, changed);  // fails
    check.before(21, screen_);  // passes, and must not take the first failure's picture away
    check.before(31, changed);  // fails again, beside the first
    check.finished(40, false);
    const std::vector<std::string> failures = check.failure_lines();
    ASSERT_EQ(failures.size(), 2u);
    const std::string first = (dir_ / "out/page_err.png").generic_string();
    const std::string second = (dir_ / "out/page_err_30.png").generic_string();
    EXPECT_EQ(failures[0].substr(failures[0].size() - first.size()), first) << failures[0];
    EXPECT_EQ(failures[1].substr(failures[1].size() - second.size()), second) << failures[1];
    EXPECT_TRUE(std::filesystem::exists(first));
    EXPECT_TRUE(std::filesystem::exists(second));
}

TEST_F(ScreenCheck, MissingReferenceFailsWithTheScreenAndUpdateWritesOnlyWhatChanged)
{
    const std::string missing = (dir_ / "refs/new/missing.png").generic_string();
    std::vector<std::string> failures = run("10 expect screen " + missing + "\n", screen_).failure_lines();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("cannot read the reference '" + missing + "'"), std::string::npos) << failures[0];
    EXPECT_NE(failures[0].find("the screen is in " + (dir_ / "out/missing_err.png").generic_string()), std::string::npos);

    options_.update_references = true;
    const std::string ref = (dir_ / "refs/page.png").generic_string();
    const auto before = std::filesystem::last_write_time(ref);
    const std::string bytes = read_file(ref);
    ExpectationCheck check = run("10 expect screen " + ref + "\n10 expect screen " + missing + "\n", screen_);
    EXPECT_EQ(check.count(expect_state::passed), 1u);
    EXPECT_EQ(check.written_lines(), std::vector<std::string>{"c.txt:2: wrote " + missing});
    EXPECT_EQ(read_file(ref), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(ref), before);
    options_.update_references = false;
    EXPECT_EQ(run("10 expect screen " + missing + "\n", screen_).count(expect_state::passed), 1u);
}

TEST(JunitReport, OneCasePerFileOneFailurePerExpectationEscaped)
{
    junit_case ok;
    ok.name = "version";
    ok.classname = "tests.screens";
    ok.file = "tests/screens/version.txt";
    ok.time_s = 0.25;
    junit_case bad = ok;
    bad.name = "tank";
    bad.failures = {"t.txt:3: 1 expect file /a <b> & \"c\"", "t.txt:4: second"};
    junit_case broke = ok;
    broke.name = "crash";
    broke.error = "the run ended by signal 11\x01";
    EXPECT_EQ(junit_xml("norvane-run", {ok, bad, broke}),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<testsuites tests=\"3\" failures=\"1\" errors=\"1\" time=\"0.750\">\n"
              "  <testsuite name=\"norvane-run\" tests=\"3\" failures=\"1\" errors=\"1\" time=\"0.750\">\n"
              "    <testcase name=\"version\" classname=\"tests.screens\" file=\"tests/screens/version.txt\" "
              "time=\"0.250\"/>\n"
              "    <testcase name=\"tank\" classname=\"tests.screens\" file=\"tests/screens/version.txt\" "
              "time=\"0.250\">\n"
              "      <failure message=\"t.txt:3: 1 expect file /a &lt;b&gt; &amp; &quot;c&quot;\" "
              "type=\"expectation\">t.txt:3: 1 expect file /a &lt;b&gt; &amp; &quot;c&quot;</failure>\n"
              "      <failure message=\"t.txt:4: second\" type=\"expectation\">t.txt:4: second</failure>\n"
              "    </testcase>\n"
              "    <testcase name=\"crash\" classname=\"tests.screens\" file=\"tests/screens/version.txt\" "
              "time=\"0.250\">\n"
              "      <error message=\"the run ended by signal 11?\"/>\n"
              "    </testcase>\n"
              "  </testsuite>\n"
              "</testsuites>\n");
}

TEST(ProgressLine, ShowsOnlyAfterTwoSecondsAndClearsItsLine)
{
    TempDir dir;
    std::FILE* out = std::fopen((dir / "progress").string().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    double now = 100.0;
    ProgressLine line(out, true, [&now] { return now; });
    now = 101.9;
    line.show("s.txt", 5000, 9000, 0.5);
    std::fflush(out);
    EXPECT_EQ(read_file(dir / "progress"), "");
    now = 102.0;
    line.show("s.txt", 6000, 9000, 0.6);
    now = 102.05;
    line.show("s.txt", 7000, 9000, 0.7);  // too soon after the last
    now = 102.2;
    line.show("s.txt", 8000, 9000, 0.4);
    line.clear();
    std::fclose(out);
    EXPECT_EQ(read_file(dir / "progress"), "\rs.txt: 6000 of 9000 ms of unit time, 10 x real time\033[K"
                                           "\rs.txt: 8000 of 9000 ms of unit time, 20 x real time\033[K\r\033[K");

    out = std::fopen((dir / "none").string().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ProgressLine off(out, false, [&now] { return now; });
    now = 200.0;
    off.show("s.txt", 1000, 9000, 0.1);
    off.clear();
    std::fclose(out);
    EXPECT_EQ(read_file(dir / "none"), "");
}

TEST(Verdict, CountsPassedFailedAndWritten)
{
    EXPECT_EQ(verdict_line(3, 0, 0), "3 passed, 0 failed");
    EXPECT_EQ(verdict_line(0, 2, 1), "0 passed, 2 failed; 1 reference written");
    EXPECT_EQ(verdict_line(1, 0, 4), "1 passed, 0 failed; 4 references written");
}

}  // namespace

// The description file: the shipped default and the one-line errors of a
// bad file.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_os.h"

#include "host/installation/installation.h"

using namespace installation;

namespace {
std::string shipped_default()
{
    std::ifstream in(std::string(NORVANE_TEST_DIR) + "/../../../assets/installation/default.json");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The default with one replacement made in its text.
std::string edited(const std::string& from, const std::string& to)
{
    std::string text = shipped_default();
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}
}  // namespace

// The shipped file is the default the program builds in, and it reads back
// to the same description.
TEST(Description, ShippedDefaultIsTheCircuitTable)
{
    const std::string text = shipped_default();
    EXPECT_EQ(text, description_json(default_description()));
    description d;
    std::string error;
    ASSERT_TRUE(parse_description(text, "default.json", &d, &error)) << error;
    EXPECT_EQ(description_json(d), text);
    EXPECT_EQ(d.channels[0][1].kind, channel_kind::push);    // DINING, a press detector
    EXPECT_EQ(d.channels[1][1].kind, channel_kind::rocker);  // PORT CORRIDOR, a change detector
    EXPECT_EQ(d.channels[3][2].tank, 2);
    EXPECT_EQ(d.output_labels[7][2], "ANCHOR LIGHT");
}

TEST(Description, BadFilesGiveOneLineWithThePlace)
{
    struct bad_case {
        std::string text;
        std::string error;
    } cases[] = {
        {"", "f.json:1:1: syntax error while parsing value - unexpected end of input; expected '[', '{', or a "
             "literal"},
        {"{\n  \"modules\": [,]\n}", "f.json:2:15: syntax error while parsing value - unexpected ','; "
                                     "expected '[', '{', or a literal"},
        {"[]", "f.json: /: expected an object"},
        {"{}", "f.json: /: missing \"modules\""},
        {"{\"modules\": [1, 2]}", "f.json: /modules: expected an array of 12"},
        {edited("\"SENB2\"", "\"SENB9\""),
         "f.json: /modules/1/name: expected \"SENB2\" (the modules come in bus order, SENB1-4 then PWRB1-8)"},
        {edited("\"kind\": \"push\"", "\"kind\": \"toggle\""),
         "f.json: /modules/0/channels/1/kind: expected \"rocker\" or \"push\""},
        {edited("\"label\": \"DINING\"", "\"label\": 7"), "f.json: /modules/0/channels/1/label: expected a text"},
        {edited("\"tank\": 2", "\"tank\": 1"), "f.json: /modules/3/channels/1/tank: tank 1 has a sender already"},
        {edited("\"tank\": 3", "\"tank\": 5"),
         "f.json: /modules/3/channels/2/tank: expected a tank of 1 to 4 (the tank page's order)"},
        {edited("\"max_mv\": 6250", "\"max_mv\": 70000"),
         "f.json: /modules/3/channels/0/max_mv: expected millivolts, a whole number of 0 to 65535"},
        {edited("\"full_mv\": 5000", "\"full_mv\": 0"),
         "f.json: /modules/3/channels/0/full_mv: a sender's full reading must differ from its empty one"},
        {edited("\"ANCHOR LIGHT\",", ""), "f.json: /modules/11/outputs: expected an array of 8"},
        // Numbers the library cannot hold: an error line, not an abort,
        // wherever they stand (in a field nobody reads too).
        {"{\"modules\": 1e400}", "f.json:1:17: number overflow parsing '1e400'"},
        {"{\"modules\":\n " + std::string(400, '7') + "}",
         "f.json:2:401: number overflow parsing '" + std::string(400, '7') + "'"},
        {edited("\"name\": \"SENB1\"", "\"name\": \"SENB1\", \"note\": -1e999"),
         "f.json:4:37: number overflow parsing '-1e999'"},
        // A key given twice would let the last one win unseen.
        {edited("\"label\": \"DINING\"", "\"label\": \"DINING\", \"label\": \"GALLEY\""),
         "f.json: /modules/0/channels/1/label: the key is given twice in one object"},
        {"{\"modules\": [], \"a/b\": 1, \"a/b\": 2}", "f.json: /a~1b: the key is given twice in one object"},
        // Bytes of the file quoted in the line are shown, never sent raw.
        {"{\"modules\": \"\xff\x1b]0;x\x07\"}",
         "f.json:1:14: syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
         "'\"\\xFF'"},
        {"{\"\\u001b[2J\": 1, \"\\u001b[2J\": 1}", "f.json: /\\x1B[2J: the key is given twice in one object"},
        // A label is one line: a line end would add a row to the outputs
        // file, a NUL would cut it short.
        {edited("\"label\": \"DINING\"", "\"label\": \"DINING\\nPWRB9,1,on\""),
         "f.json: /modules/0/channels/1/label: control byte 0x0A at character 7; a label is one line of text"},
        {edited("\"ANCHOR LIGHT\"", "\"ANCHOR\\u0000LIGHT\""),
         "f.json: /modules/11/outputs/2: control byte 0x00 at character 7; a label is one line of text"},
        // A maximum short of full: the tank could never read full.
        {edited("\"max_mv\": 6250", "\"max_mv\": 4000"),
         "f.json: /modules/3/channels/0/max_mv: a sender's maximum must be its full reading or lie beyond it, "
         "away from the empty one"},
        {edited("\"max_mv\": 2500", "\"max_mv\": 3000"),
         "f.json: /modules/3/channels/2/max_mv: a sender's maximum must be its full reading or lie beyond it, "
         "away from the empty one"},
    };
    for (const bad_case& c : cases) {
        description d = default_description();
        std::string error;
        EXPECT_FALSE(parse_description(c.text, "f.json", &d, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(description_json(d), description_json(default_description()));  // untouched
    }
}

// What is not a description file is refused at once with one line, never
// waited on or read whole: a missing file, a folder, a FIFO (which would
// block a plain read for ever) and a file far too large.
TEST(Description, OnlyARegularFileOfSensibleSizeIsRead)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("norvane-description-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string fifo = (dir / "fifo.json").string();
    NORVANE_MAKE_FIFO(fifo);
    const std::string big = (dir / "big.json").string();
    std::ofstream(big) << std::string(2 << 20, ' ') << "{}";
    const std::string good = (dir / "good.json").string();
    std::ofstream(good) << shipped_default();

    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {"/nonexistent/installation.json", "/nonexistent/installation.json: cannot be read: No such file or directory"},
        {dir.string(), dir.string() + ": cannot be read: a folder"},
        {fifo, fifo + ": cannot be read: not a regular file"},
        {big, big + ": cannot be read: 2097154 bytes, more than the 1048576 allowed"},
    };
    for (const auto& c : cases) {
        description d;
        std::string error;
        EXPECT_FALSE(load_description(c.path, &d, &error));
        EXPECT_EQ(error, c.error);
    }
    description d;
    std::string error;
    EXPECT_TRUE(load_description(good, &d, &error)) << error;
    EXPECT_EQ(description_json(d), description_json(default_description()));
    std::filesystem::remove_all(dir);
}

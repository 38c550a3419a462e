// image_pack: turns the PNG renderings of the unit's images into the RGB565
// gfx_image records compiled into the firmware, as one generated C++ source.
//
//   image_pack MANIFEST PNG_DIR OUT.cpp
//
// MANIFEST lists one image per line: "name width height [keep-white]".
// PNG_DIR/name.png must have exactly that size. Transparent pixels are laid
// over black. A pixel that comes out as 0xFFFF, the overlay's key colour, is
// written as 0xFFDF so that it stays visible in the overlay, unless the line
// says keep-white (the splash logo, drawn into the background layer).
#include <png.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint16_t KEY_COLOR = 0xFFFF;
constexpr uint16_t VISIBLE_WHITE = 0xFFDF;

struct entry {
    std::string name;
    uint32_t width = 0;
    uint32_t height = 0;
    bool keep_white = false;
    int line = 0;
};

const char* usage =
    "usage: image_pack MANIFEST PNG_DIR OUT.cpp\n"
    "Converts PNG_DIR/<name>.png for every line \"name width height [keep-white]\"\n"
    "of MANIFEST into RGB565 gfx_image records in OUT.cpp ('#' starts a comment).\n";

bool read_manifest(const std::string& path, std::vector<entry>& out, std::string& why)
{
    std::ifstream in(path);
    if (!in) {
        why = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        const auto hash = text.find('#');
        if (hash != std::string::npos)
            text.erase(hash);
        std::istringstream fields(text);
        entry e;
        e.line = line;
        if (!(fields >> e.name))
            continue;
        long w = 0, h = 0;
        if (!(fields >> w >> h) || w <= 0 || h <= 0 || w > 320 || h > 288) {
            why = path + ":" + std::to_string(line) +
                  ": expected \"name width height [keep-white]\" with 1..320 x 1..288";
            return false;
        }
        e.width = uint32_t(w);
        e.height = uint32_t(h);
        std::string option;
        while (fields >> option) {
            if (option != "keep-white") {
                why = path + ":" + std::to_string(line) + ": unknown option \"" + option +
                      "\" (only keep-white)";
                return false;
            }
            e.keep_white = true;
        }
        for (char c : e.name)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
                why = path + ":" + std::to_string(line) + ": name \"" + e.name +
                      "\" must be letters, digits and '_'";
                return false;
            }
        out.push_back(e);
    }
    return true;
}

uint16_t to_rgb565(uint32_t r, uint32_t g, uint32_t b)
{
    const uint32_t r5 = (r * 31 + 127) / 255;
    const uint32_t g6 = (g * 63 + 127) / 255;
    const uint32_t b5 = (b * 31 + 127) / 255;
    return uint16_t((r5 << 11) | (g6 << 5) | b5);
}

bool convert(const std::string& path, const entry& e, std::vector<uint16_t>& pixels, std::string& why)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        why = path + ": " + image.message;
        return false;
    }
    if (image.width != e.width || image.height != e.height) {
        why = path + ": is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
              ", the manifest (line " + std::to_string(e.line) + ") says " +
              std::to_string(e.width) + " x " + std::to_string(e.height);
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
        why = path + ": " + image.message;
        return false;
    }
    pixels.resize(size_t(e.width) * e.height);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint8_t* p = &rgba[i * 4];
        const uint32_t a = p[3];
        uint16_t c = to_rgb565((p[0] * a + 127) / 255, (p[1] * a + 127) / 255, (p[2] * a + 127) / 255);
        if (c == KEY_COLOR && !e.keep_white)
            c = VISIBLE_WHITE;
        pixels[i] = c;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << usage;
        return 0;
    }
    if (argc != 4) {
        std::cerr << usage;
        return 2;
    }
    const std::string manifest = argv[1];
    const std::string png_dir = argv[2];
    const std::string out_path = argv[3];

    std::vector<entry> entries;
    std::string why;
    if (!read_manifest(manifest, entries, why)) {
        std::cerr << "image_pack: " << why << "\n";
        return 1;
    }

    std::ostringstream out;
    out << "// Generated by tools/image_pack from " << manifest << "; do not edit.\n"
        << "#include <cstddef>\n\n#include \"gfx/assets.h\"\n\nnamespace {\n\n"
        << "template <uint32_t N>\nstruct image_record {\n    gfx_image head;\n"
        << "    gfx_color pixels[N];\n};\n"
        << "static_assert(offsetof(image_record<1>, pixels) == 12);\n\n";
    uint64_t total = 0;
    for (const entry& e : entries) {
        std::vector<uint16_t> pixels;
        if (!convert(png_dir + "/" + e.name + ".png", e, pixels, why)) {
            std::cerr << "image_pack: " << why << "\n";
            return 1;
        }
        total += 12 + 2 * pixels.size();
        out << "alignas(4) const image_record<" << pixels.size() << "> " << e.name << "_record{{0, "
            << e.width << ", " << e.height << "}, {";
        char hex[8];
        for (size_t i = 0; i < pixels.size(); ++i) {
            if (i % 16 == 0)
                out << "\n";
            std::snprintf(hex, sizeof hex, "0x%04X,", pixels[i]);
            out << hex;
        }
        out << "\n}};\n\n";
    }
    out << "}  // namespace\n\n";
    for (const entry& e : entries)
        out << "const gfx_image& img_" << e.name << " = " << e.name << "_record.head;\n";
    out << "\n// " << entries.size() << " records, " << total << " bytes with headers.\n";

    // Written only when it changed, so an unchanged image set does not
    // recompile the firmware.
    std::ifstream old(out_path, std::ios::binary);
    std::ostringstream old_text;
    old_text << old.rdbuf();
    if (old && old_text.str() == out.str())
        return 0;
    std::ofstream file(out_path, std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file) {
        std::cerr << "image_pack: " << out_path << ": cannot write\n";
        return 1;
    }
    return 0;
}

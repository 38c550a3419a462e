// The installation's description file: any text gives a description or one
// line of error that names the file and quotes nothing raw; a description
// read writes back as text that reads to the same description.
#include <string>

#include "fuzz/fuzz_support.h"
#include "host/installation/installation.h"

using norvane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    installation::description d;
    std::string error;
    if (!installation::parse_description(text, "f.json", &d, &error)) {
        check(error.rfind("f.json:", 0) == 0, "an error line without the file");
        for (char c : error)
            check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a control byte in the error line");
        return 0;
    }
    // Labels are one line of text.
    for (const auto& module : d.channels)
        for (const auto& channel : module)
            for (char c : channel.label)
                check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a control byte in a label");
    for (const auto& module : d.output_labels)
        for (const std::string& label : module)
            for (char c : label)
                check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a control byte in a label");
    const std::string written = installation::description_json(d);
    installation::description again;
    check(installation::parse_description(written, "w.json", &again, &error), "a written description does not read");
    check(installation::description_json(again) == written, "a written description reads differently");
    return 0;
}

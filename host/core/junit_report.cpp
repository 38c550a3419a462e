#include "host/core/junit_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace norvane {

std::string xml_escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\n': out += "&#10;"; break;
        case '\t': out += "&#9;"; break;
        default: out += (unsigned char)c < 0x20 ? '?' : c;
        }
    }
    return out;
}

std::string junit_xml(const std::string& suite, const std::vector<junit_case>& cases)
{
    size_t failures = 0;
    size_t errors = 0;
    double time_s = 0.0;
    for (const junit_case& c : cases) {
        failures += !c.failures.empty() && c.error.empty();
        errors += !c.error.empty();
        time_s += c.time_s;
    }
    auto seconds = [](double s) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", s);
        return std::string(text);
    };
    const std::string counts = " tests=\"" + std::to_string(cases.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                               "\" time=\"" + seconds(time_s) + "\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + counts + ">\n";
    xml += "  <testsuite name=\"" + xml_escape(suite) + "\"" + counts + ">\n";
    for (const junit_case& c : cases) {
        xml += "    <testcase name=\"" + xml_escape(c.name) + "\" classname=\"" + xml_escape(c.classname) +
               "\" file=\"" + xml_escape(c.file) + "\" time=\"" + seconds(c.time_s) + "\"";
        if (c.failures.empty() && c.error.empty()) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        if (!c.error.empty())
            xml += "      <error message=\"" + xml_escape(c.error) + "\"/>\n";
        for (const std::string& f : c.failures)
            xml += "      <failure message=\"" + xml_escape(f) + "\" type=\"expectation\">" + xml_escape(f) +
                   "</failure>\n";
        xml += "    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

bool write_junit(const std::string& path, const std::string& suite, const std::vector<junit_case>& cases,
                 std::string& why)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        why = "cannot write the JUnit report '" + path + "': " + std::strerror(errno);
        return false;
    }
    const std::string xml = junit_xml(suite, cases);
    const bool written = std::fwrite(xml.data(), 1, xml.size(), f) == xml.size();
    if (std::fclose(f) != 0 || !written) {
        why = "cannot write the JUnit report '" + path + "' completely";
        return false;
    }
    return true;
}

}  // namespace norvane

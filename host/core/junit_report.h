#pragma once
#include <string>
#include <vector>

namespace norvane {

// One test case of a JUnit XML report: a scenario file and how it went.
struct junit_case {
    std::string name;       // the scenario file's name without .txt
    std::string classname;  // its folder, dotted
    std::string file;       // its path as given
    double time_s = 0.0;
    std::vector<std::string> failures;  // one per failed expectation
    std::string error;                  // the run itself broke; empty: it ran
};

// The report as CTest, GitLab and Jenkins read it: one <testsuite> named
// `suite` with a <testcase> per case, a <failure> per failed expectation and
// an <error> for a run that broke.
std::string junit_xml(const std::string& suite, const std::vector<junit_case>& cases);

// Writes junit_xml to `path`; false with the reason.
bool write_junit(const std::string& path, const std::string& suite, const std::vector<junit_case>& cases,
                 std::string& why);

// Text for XML character data and attribute values: markup characters as
// entities, control characters XML 1.0 cannot carry as '?'.
std::string xml_escape(const std::string& text);

}  // namespace norvane

// The compiled half of the Python package norvane: PythonUnit's members as
// they are, for norvane/__init__.py to dress in Python's and python-can's
// types. A bad argument raises ValueError (std::invalid_argument), anything
// else the unit cannot do RuntimeError.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>

#include "host/core/frame_convert.h"
#include "host/core/headless_run.h"
#include "host/core/png_file.h"
#include "host/core/scenario.h"
#include "host/python/python_unit.h"

namespace py = pybind11;
using norvane::PythonUnit;

namespace {

PythonUnit* make_unit(const std::string& workdir, bool installation, const std::string& installation_file,
                      const std::string& can1)
{
    norvane::unit_setup setup;
    setup.workdir = workdir;
    setup.installation = installation;
    setup.installation_file = installation_file;
    setup.can1 = can1;
    return new PythonUnit(setup);
}

uint64_t milliseconds(int64_t ms, const char* what)
{
    if (ms < 0)
        throw norvane::bad_argument(std::string(what) + " must not be negative, found " + std::to_string(ms));
    return uint64_t(ms);
}

py::tuple frame_tuple(const norvane::recorded_frame& r)
{
    const uint8_t len = r.frame.len > 8 ? 8 : r.frame.len;
    return py::make_tuple(r.time_us, r.port, r.frame.id, bool(r.frame.ext), bool(r.frame.rtr),
                          py::bytes(reinterpret_cast<const char*>(r.frame.data), r.frame.rtr ? 0 : len), r.from_unit,
                          r.source, len);
}

}  // namespace

PYBIND11_MODULE(_norvane, m)
{
    m.doc() = "The unit in virtual time (use the package norvane, not this module)";
    m.attr("WIDTH") = GFX_WIDTH;
    m.attr("HEIGHT") = GFX_HEIGHT;

    py::class_<PythonUnit>(m, "UnitCore")
        .def(py::init(&make_unit), py::arg("workdir"), py::arg("installation"), py::arg("installation_file"),
             py::arg("can1"))
        .def("close", &PythonUnit::close)
        .def_property_readonly("closed", &PythonUnit::closed)
        .def_property_readonly("time_ms", &PythonUnit::now)
        .def_property_readonly("has_installation", &PythonUnit::has_installation)
        .def("run",
             [](PythonUnit& unit, int64_t ms) {
                 const uint64_t n = milliseconds(ms, "ms");
                 py::gil_scoped_release unlocked;
                 unit.run(n);
             })
        .def("run_until_frame",
             [](PythonUnit& unit, int port, size_t seen, int64_t max_ms, const std::string& skip) {
                 const uint64_t n = milliseconds(max_ms, "timeout");
                 py::gil_scoped_release unlocked;
                 return unit.run_until_frame(uint8_t(port), seen, n, skip.c_str());
             })
        .def("set_key", &PythonUnit::set_key)
        .def("raise_event", &PythonUnit::raise_event)
        .def("apply_plant", &PythonUnit::apply_plant)
        .def("send",
             [](PythonUnit& unit, int port, uint32_t id, bool ext, bool rtr, const py::bytes& data, int dlc,
                const std::string& source) {
                 if (port < 0 || port >= CAN_PORT_COUNT)
                     throw norvane::bad_argument("port must be 0 or 1, found " + std::to_string(port));
                 const std::string bytes = data;
                 can_frame frame{};
                 frame.id = id;
                 frame.ext = ext;
                 frame.rtr = rtr;
                 frame.len = uint8_t(dlc);
                 std::memcpy(frame.data, bytes.data(), bytes.size() > 8 ? 8 : bytes.size());
                 // The sources are the bus's names, kept for the frames' whole life.
                 return unit.send(uint8_t(port), frame, source == "bus" ? "python-bus" : "python");
             })
        .def("screen_bytes",
             [](PythonUnit& unit) {
                 const frame_buffer& frame = unit.screen();
                 return py::memoryview::from_memory(static_cast<const void*>(frame.pixels), py::ssize_t(sizeof frame.pixels));
             })
        .def("screen_rgb",
             [](PythonUnit& unit) {
                 const norvane::rgb_image image = norvane::frame_to_rgb(unit.screen());
                 return py::bytes(reinterpret_cast<const char*>(image.rgb.data()), image.rgb.size());
             })
        .def("pixel",
             [](PythonUnit& unit, int x, int y) {
                 if (x < 0 || x >= GFX_WIDTH || y < 0 || y >= GFX_HEIGHT)
                     throw norvane::bad_argument("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                                 ") is off the screen: x 0 to 319, y 0 to 239");
                 const uint32_t bgra = norvane::convert_pixel(unit.screen().pixels[y * GFX_WIDTH + x]);
                 return py::make_tuple((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
             })
        .def("save_screen",
             [](PythonUnit& unit, const std::string& path) {
                 if (!norvane::screenshot_format_known(path))
                     throw norvane::bad_argument("the screen is saved as .png or .bmp, not '" + path + "'");
                 std::string why;
                 if (!norvane::write_screenshot(path, unit.screen(), why))
                     throw norvane::unit_error(why);
             })
        .def("frames_from",
             [](PythonUnit& unit, size_t from) {
                 const std::vector<norvane::recorded_frame> frames = unit.frames_from(from);
                 py::list out(frames.size());
                 for (size_t i = 0; i < frames.size(); ++i)
                     out[i] = frame_tuple(frames[i]);
                 return out;
             })
        .def("frame_count", &PythonUnit::frame_count)
        .def("save_can_log", &PythonUnit::save_can_log)
        .def("output", &PythonUnit::output)
        .def("outputs", &PythonUnit::outputs)
        .def("expect", [](PythonUnit& unit, const std::string& words, const std::string& where,
                          const std::string& reference, const std::string& output_dir) {
            py::gil_scoped_release unlocked;
            return unit.expect(words, where, reference, output_dir);
        });
}

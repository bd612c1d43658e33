// Entry points of the network analysis and the demo project.
#include "file_text.hpp"
#include "network.hpp"
#include "parse.hpp"
#include "project.hpp"
#include "python_support.hpp"

namespace rillwright::python {

namespace {

constexpr std::string_view kCannotParseRwn = "cannot parse .rwn: ";
constexpr std::string_view kAnalysisFailed = "analysis failed: ";
constexpr std::string_view kCannotRead = "cannot read ";

std::string joined(std::string_view prefix, std::string_view message) {
    std::string text;
    text.reserve(prefix.size() + message.size());
    text.append(prefix).append(message);
    return text;
}

// Binds the single str parameter of an analysis function.
bool bind_text(PyObject* args, PyObject* kwargs, const char* format, const char* function, const char* parameter,
               Utf8Text* text) {
    const char* const names[] = {parameter, nullptr};
    PyObject* value;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), &value)) return false;
    return convert_text(value, function, parameter, text);
}

PyObject* project_result(std::string_view json_text) {
    Outcome<ProjectAnalysis> run = run_project(json_text);
    if (!run.ok()) return raise_value_error(run.error);
    return to_python(run.value->name, run.value->result);
}

}  // namespace

PyObject* py_analyze_rwn(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Utf8Text text;
        if (!bind_text(args, kwargs, "O:analyze_rwn", "analyze_rwn", "text", &text)) return nullptr;
        Outcome<Network> network = parse_rwn(text.view());
        if (!network.ok()) return raise_value_error(joined(kCannotParseRwn, network.error));
        Outcome<AnalysisResult> result = analyze_network(*network.value);
        if (!result.ok()) return raise_value_error(joined(kAnalysisFailed, result.error));
        return to_python("", *result.value);
    });
}

PyObject* py_analyze_project(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Utf8Text text;
        if (!bind_text(args, kwargs, "O:analyze_project", "analyze_project", "project_json", &text)) return nullptr;
        return project_result(text.view());
    });
}

PyObject* py_analyze_file(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Utf8Text path;
        if (!bind_text(args, kwargs, "O:analyze_file", "analyze_file", "path", &path)) return nullptr;
        Outcome<std::string> content = read_utf8_file(std::string(path.view()));
        if (!content.ok()) {
            std::string message = joined(kCannotRead, path.view());
            message.append(": ").append(content.error);
            return raise_os_error(message);
        }
        return project_result(*content.value);
    });
}

PyObject* py_demo_project_json(PyObject*, PyObject*) {
    return guarded([&]() -> PyObject* {
        Outcome<std::string> text = demo_project_text();
        if (!text.ok()) return raise_value_error(text.error);
        return PyUnicode_FromStringAndSize(text.value->data(), static_cast<Py_ssize_t>(text.value->size()));
    });
}

}  // namespace rillwright::python

// Reading a companion call's network, and the network records entry point.
#include "network_records.hpp"
#include "python_tools.hpp"

namespace rillwright::python {

bool load_source(PyObject* text, PyObject* format, const char* function, LoadedNetwork* out) {
    if (const NetworkHandle* handle = network_handle(text)) {
        *out = handle->loaded;
        return true;
    }
    Utf8Text network_text;
    Utf8Text format_text;
    if (!convert_text(text, function, "text", &network_text)) return false;
    if (!convert_text(format, function, "format", &format_text)) return false;
    SourceFormat source_format;
    if (format_text.view() == "rwn") {
        source_format = SourceFormat::rwn;
    } else if (format_text.view() == "rwproj") {
        source_format = SourceFormat::project;
    } else {
        raise_value_error("format must be \"rwn\" or \"rwproj\"");
        return false;
    }
    Outcome<LoadedNetwork> loaded = load_network(network_text.view(), source_format);
    if (!loaded.ok()) {
        raise_value_error(loaded.error);
        return false;
    }
    *out = std::move(*loaded.value);
    return true;
}

bool bind_source(PyObject* args, PyObject* kwargs, const char* arg_format, const char* function, LoadedNetwork* out) {
    const char* const names[] = {"text", "format", nullptr};
    PyObject* text;
    PyObject* format;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, arg_format, const_cast<char**>(names), &text, &format)) return false;
    return load_source(text, format, function, out);
}

PyObject* json_text(const std::string& json) {
    return PyUnicode_FromStringAndSize(json.data(), static_cast<Py_ssize_t>(json.size()));
}

PyObject* py_tools_network_records(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        LoadedNetwork loaded;
        if (!bind_source(args, kwargs, "OO:network_records", "network_records", &loaded)) return nullptr;
        return json_text(network_records_json(loaded.network));
    });
}

}  // namespace rillwright::python

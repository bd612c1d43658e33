// Shared pieces of the Python boundary: argument conversion, exceptions and the
// conversion of analysis results into Python objects.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "network.hpp"

namespace rillwright::python {

// UTF-8 bytes of a str argument, valid while this object lives.
class Utf8Text {
public:
    Utf8Text() = default;
    ~Utf8Text() { Py_XDECREF(bytes_); }
    Utf8Text(const Utf8Text&) = delete;
    Utf8Text& operator=(const Utf8Text&) = delete;

    bool assign(PyObject* str);  // false with the encoding error set
    std::string_view view() const { return view_; }

private:
    PyObject* bytes_ = nullptr;
    std::string_view view_;
};

// Each converter returns false with the conversion's exception set and the note
// "while processing '<parameter>'" attached.
bool convert_double(PyObject* value, const char* parameter, double* out);
bool convert_si(PyObject* value, const char* function, bool* out);
bool convert_text(PyObject* value, const char* function, const char* parameter, Utf8Text* out);

PyObject* raise_value_error(std::string_view message);
PyObject* raise_os_error(std::string_view message);
PyObject* raise_internal_fault(std::string_view message);

// The result dict {"name", "pipes", "nodes"}, or nullptr with an exception set.
PyObject* to_python(std::string_view name, const AnalysisResult& result);

// A pipe's "surcharged" value in results.
bool reported_surcharge(const PipeResult& pipe);

// Method-table pieces: keyword calls, and an entry point as the table's type.
inline constexpr int kKeywordCall = METH_VARARGS | METH_KEYWORDS;

template <class F>
PyCFunction as_cfunction(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Runs an entry point's body; no C++ exception ever unwinds into the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& fault) {
        return raise_internal_fault(fault.what());
    } catch (...) {
        return raise_internal_fault("unknown internal fault");
    }
}

// Entry points, in the order of the module's attributes.
PyObject* py_intensity(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_rational_q(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_manning_capacity(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_circular_flow(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_normal_depth(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_critical_depth(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_circular_geometry(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_analyze_project(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_analyze_file(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_analyze_rwn(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_demo_project_json(PyObject* module, PyObject* unused);

}  // namespace rillwright::python

// Argument conversion and exception raising at the Python boundary.
#include "python_support.hpp"

namespace rillwright::python {

namespace {

// Attaches "while processing '<parameter>'" to the pending exception where the
// host supports notes; a failure to attach is ignored.
void add_parameter_note(const char* parameter) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) {
        if (traceback != nullptr) PyException_SetTraceback(value, traceback);
        PyObject* result = PyObject_CallMethod(value, "add_note", "s", (std::string("while processing '") + parameter + "'").c_str());
        if (result == nullptr) PyErr_Clear();
        Py_XDECREF(result);
    }
    PyErr_Restore(type, value, traceback);
}

PyObject* type_name(PyObject* value) {
    return PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__name__");
}

bool attribute_equals(PyObject* object, const char* attribute, const char* expected) {
    PyObject* found = PyObject_GetAttrString(object, attribute);
    if (found == nullptr) {
        PyErr_Clear();
        return false;
    }
    const int equal = PyUnicode_Check(found) ? PyUnicode_CompareWithASCIIString(found, expected) == 0 : 0;
    Py_DECREF(found);
    return equal;
}

// numpy's boolean scalar, recognised by name so that numpy is never imported.
bool is_numpy_bool(PyObject* value) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    return attribute_equals(type, "__module__", "numpy") &&
           (attribute_equals(type, "__name__", "bool_") || attribute_equals(type, "__name__", "bool"));
}

void raise_wrong_type(const char* function, const char* parameter, const char* wanted, PyObject* value) {
    PyObject* name = type_name(value);
    if (name == nullptr) return;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %U", function, parameter, wanted, name);
    Py_DECREF(name);
}

PyObject* raise_with_message(PyObject* type, std::string_view message) {
    PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (text == nullptr) return nullptr;
    PyErr_SetObject(type, text);
    Py_DECREF(text);
    return nullptr;
}

}  // namespace

bool Utf8Text::assign(PyObject* str) {
    Py_XDECREF(bytes_);
    bytes_ = PyUnicode_AsUTF8String(str);
    if (bytes_ == nullptr) return false;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes_, &data, &size) < 0) return false;
    view_ = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool convert_double(PyObject* value, const char* parameter, double* out) {
    const double converted = PyFloat_AsDouble(value);
    if (converted == -1.0 && PyErr_Occurred()) {
        add_parameter_note(parameter);
        return false;
    }
    *out = converted;
    return true;
}

bool convert_si(PyObject* value, const char* function, bool* out) {
    if (value == nullptr || value == Py_False) {
        *out = false;
        return true;
    }
    if (value == Py_True) {
        *out = true;
        return true;
    }
    if (is_numpy_bool(value)) {
        const int truth = PyObject_IsTrue(value);
        if (truth >= 0) {
            *out = truth != 0;
            return true;
        }
    } else {
        raise_wrong_type(function, "si", "bool", value);
    }
    add_parameter_note("si");
    return false;
}

bool convert_text(PyObject* value, const char* function, const char* parameter, Utf8Text* out) {
    if (!PyUnicode_Check(value)) {
        raise_wrong_type(function, parameter, "str", value);
        add_parameter_note(parameter);
        return false;
    }
    if (!out->assign(value)) {
        add_parameter_note(parameter);
        return false;
    }
    return true;
}

PyObject* raise_value_error(std::string_view message) { return raise_with_message(PyExc_ValueError, message); }

// A single-argument OSError: errno, strerror and filename stay None.
PyObject* raise_os_error(std::string_view message) { return raise_with_message(PyExc_OSError, message); }

// Internal faults derive directly from BaseException so that a broad
// `except Exception` in the caller cannot hide a broken invariant.
PyObject* raise_internal_fault(std::string_view message) {
    PyObject* fault = PyErr_NewException("rillwright.InternalFault", PyExc_BaseException, nullptr);
    if (fault == nullptr) return nullptr;
    raise_with_message(fault, message);
    Py_DECREF(fault);
    return nullptr;
}

}  // namespace rillwright::python

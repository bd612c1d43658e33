// The `rillwright` module: its definition, attributes and docstrings.
#include "hydraulics.hpp"
#include "python_support.hpp"

namespace rillwright::python {

namespace {

// Signature line, "--", an empty line, then the body: the host reads the first
// line as the text signature.
PyMethodDef kFunctions[] = {
    {"intensity", as_cfunction(py_intensity), kKeywordCall,
     "intensity(a, b, c, t_min)\n--\n\n"
     "Rainfall intensity from a three-parameter IDF curve: `i = a / (t + b)^c`.\n\n"
     "Returns in/hr when the coefficients are US customary."},
    {"rational_q", as_cfunction(py_rational_q), kKeywordCall,
     "rational_q(c, i, area)\n--\n\n"
     "Rational method peak flow: `Q = C * i * A`.\n\n"
     "With `c` dimensionless, `i` in in/hr and `area` in acres, `Q` is in cfs \u2014\n"
     "the customary near-unity conversion is implicit, as in hand practice."},
    {"manning_capacity", as_cfunction(py_manning_capacity), kKeywordCall,
     "manning_capacity(diameter, n, slope, *, si=False)\n--\n\n"
     "Just-full Manning capacity of a circular pipe (cfs, or m3/s when `si`)."},
    {"circular_flow", as_cfunction(py_circular_flow), kKeywordCall,
     "circular_flow(diameter, n, slope, depth, *, si=False)\n--\n\n"
     "Flow in a circular pipe at a given depth (cfs, or m3/s when `si`)."},
    {"normal_depth", as_cfunction(py_normal_depth), kKeywordCall,
     "normal_depth(q, diameter, n, slope, *, si=False)\n--\n\n"
     "Normal depth for a target flow, or `None` if the pipe cannot pass it."},
    {"critical_depth", as_cfunction(py_critical_depth), kKeywordCall,
     "critical_depth(q, diameter, *, si=False)\n--\n\n"
     "Critical depth for a flow in a circular pipe."},
    {"circular_geometry", as_cfunction(py_circular_geometry), kKeywordCall,
     "circular_geometry(diameter, depth)\n--\n\n"
     "Flow area, wetted perimeter, hydraulic radius, and top width at a depth."},
    {"analyze_project", as_cfunction(py_analyze_project), kKeywordCall,
     "analyze_project(project_json)\n--\n\n"
     "Analyze a project given as `.rwproj` JSON text.\n\n"
     "Returns `{\"name\": str, \"pipes\": [...], \"nodes\": [...]}`, ready for\n"
     "`pandas.DataFrame(result[\"pipes\"])`."},
    {"analyze_file", as_cfunction(py_analyze_file), kKeywordCall,
     "analyze_file(path)\n--\n\n"
     "Analyze a project file on disk (`.rwproj`)."},
    {"analyze_rwn", as_cfunction(py_analyze_rwn), kKeywordCall,
     "analyze_rwn(text)\n--\n\n"
     "Analyze a network in the plain-text `.rwn` format."},
    {"demo_project_json", as_cfunction(py_demo_project_json), METH_NOARGS,
     "demo_project_json()\n--\n\n"
     "The built-in demo project as `.rwproj` JSON \u2014 a runnable starting point."},
};

// Appends `name` to the module's __all__, creating the list when it is missing.
int list_in_all(PyObject* module, PyObject* name) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr) return -1;
        if (PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_DECREF(all);
            return -1;
        }
    }
    int status = -1;
    if (!PyList_Check(all)) {
        PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    } else {
        status = PyList_Append(all, name);
    }
    Py_DECREF(all);
    return status;
}

// Consumes `value`; lists the name in __all__ before setting the attribute.
int add_named(PyObject* module, PyObject* name, PyObject* value) {
    const int status = list_in_all(module, name) == 0 ? PyObject_SetAttr(module, name, value) : -1;
    Py_DECREF(value);
    return status;
}

int add_attribute(PyObject* module, const char* name, PyObject* value) {
    if (value == nullptr) return -1;
    PyObject* key = PyUnicode_FromString(name);
    if (key == nullptr) {
        Py_DECREF(value);
        return -1;
    }
    const int status = add_named(module, key, value);
    Py_DECREF(key);
    return status;
}

// A function is bound to the module and named by its own __name__.
int add_function(PyObject* module, PyMethodDef* definition) {
    PyObject* module_name = PyModule_GetNameObject(module);
    if (module_name == nullptr) return -1;
    PyObject* function = PyCMethod_New(definition, module, module_name, nullptr);
    Py_DECREF(module_name);
    if (function == nullptr) return -1;
    PyObject* name = PyObject_GetAttrString(function, "__name__");
    if (name == nullptr) {
        Py_DECREF(function);
        return -1;
    }
    int status = -1;
    if (!PyUnicode_Check(name)) {
        PyErr_SetString(PyExc_TypeError, "function __name__ must be a str");
        Py_DECREF(function);
    } else {
        status = add_named(module, name, function);
    }
    Py_DECREF(name);
    return status;
}

int exec_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "rillwright can only be executed in a module object");
        return -1;
    }
    if (add_attribute(module, "__version__", PyUnicode_FromString(RILLWRIGHT_VERSION)) < 0 ||
        add_attribute(module, "K_MANNING_US", PyFloat_FromDouble(kManningUs)) < 0 ||
        add_attribute(module, "K_MANNING_SI", PyFloat_FromDouble(kManningSi)) < 0 ||
        add_attribute(module, "G_US", PyFloat_FromDouble(kGravityUs)) < 0 ||
        add_attribute(module, "G_SI", PyFloat_FromDouble(kGravitySi)) < 0)
        return -1;
    for (PyMethodDef& definition : kFunctions) {
        if (add_function(module, &definition) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "rillwright", "", 0, nullptr, kSlots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace rillwright::python

PyMODINIT_FUNC PyInit_rillwright(void) { return PyModuleDef_Init(&rillwright::python::kModule); }

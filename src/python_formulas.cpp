// Entry points of the single-pipe and rainfall formulas.
#include "hydraulics.hpp"
#include "python_support.hpp"

namespace rillwright::python {

namespace {

// The host's binding wants a mutable keyword array; it is never written.
#define KEYWORDS(...)                                  \
    static const char* const names[] = {__VA_ARGS__, nullptr}; \
    char** keywords = const_cast<char**>(names)

constexpr const char* kDiameterAndN = "diameter and n must be positive";
constexpr const char* kDiameter = "diameter must be positive";

bool positive(double value) { return value > 0.0; }  // false for NaN

UnitSystem units_of(bool si) { return si ? UnitSystem::si : UnitSystem::us_customary; }

PyObject* geometry_dict(const SectionGeometry& g) {
    PyObject* dict = PyDict_New();
    if (dict == nullptr) return nullptr;
    const std::pair<const char*, double> entries[] = {
        {"area", g.area},
        {"wetted_perimeter", g.wetted_perimeter},
        {"hydraulic_radius", g.hydraulic_radius},
        {"top_width", g.top_width},
    };
    for (const auto& [key, value] : entries) {
        PyObject* number = PyFloat_FromDouble(value);
        const int failed = number == nullptr || PyDict_SetItemString(dict, key, number) < 0;
        Py_XDECREF(number);
        if (failed) {
            Py_DECREF(dict);
            return nullptr;
        }
    }
    return dict;
}

}  // namespace

PyObject* py_intensity(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        KEYWORDS("a", "b", "c", "t_min");
        PyObject *a_obj, *b_obj, *c_obj, *t_obj;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO:intensity", keywords, &a_obj, &b_obj, &c_obj, &t_obj))
            return nullptr;
        double a, b, c, t_min;
        if (!convert_double(a_obj, "a", &a) || !convert_double(b_obj, "b", &b) || !convert_double(c_obj, "c", &c) ||
            !convert_double(t_obj, "t_min", &t_min))
            return nullptr;
        return PyFloat_FromDouble(intensity(a, b, c, t_min));
    });
}

PyObject* py_rational_q(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        KEYWORDS("c", "i", "area");
        PyObject *c_obj, *i_obj, *area_obj;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:rational_q", keywords, &c_obj, &i_obj, &area_obj))
            return nullptr;
        double c, i, area;
        if (!convert_double(c_obj, "c", &c) || !convert_double(i_obj, "i", &i) ||
            !convert_double(area_obj, "area", &area))
            return nullptr;
        return PyFloat_FromDouble(rational_q(c, i, area));
    });
}

PyObject* py_manning_capacity(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        KEYWORDS("diameter", "n", "slope", "si");
        PyObject *d_obj, *n_obj, *s_obj, *si_obj = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|$O:manning_capacity", keywords, &d_obj, &n_obj, &s_obj,
                                         &si_obj))
            return nullptr;
        double diameter, n, slope;
        bool si;
        if (!convert_double(d_obj, "diameter", &diameter) || !convert_double(n_obj, "n", &n) ||
            !convert_double(s_obj, "slope", &slope) || !convert_si(si_obj, "manning_capacity", &si))
            return nullptr;
        if (!positive(diameter) || !positive(n)) return raise_value_error(kDiameterAndN);
        return PyFloat_FromDouble(manning_capacity(diameter, n, slope, units_of(si)));
    });
}

PyObject* py_circular_flow(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        KEYWORDS("diameter", "n", "slope", "depth", "si");
        PyObject *d_obj, *n_obj, *s_obj, *y_obj, *si_obj = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO|$O:circular_flow", keywords, &d_obj, &n_obj, &s_obj,
                                         &y_obj, &si_obj))
            return nullptr;
        double diameter, n, slope, depth;
        bool si;
        if (!convert_double(d_obj, "diameter", &diameter) || !convert_double(n_obj, "n", &n) ||
            !convert_double(s_obj, "slope", &slope) || !convert_double(y_obj, "depth", &depth) ||
            !convert_si(si_obj, "circular_flow", &si))
            return nullptr;
        if (!positive(diameter) || !positive(n)) return raise_value_error(kDiameterAndN);
        return PyFloat_FromDouble(circular_flow(diameter, n, slope, depth, units_of(si)));
    });
}

PyObject* py_normal_depth(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        KEYWORDS("q", "diameter", "n", "slope", "si");
        PyObject *q_obj, *d_obj, *n_obj, *s_obj, *si_obj = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO|$O:normal_depth", keywords, &q_obj, &d_obj, &n_obj,
                                         &s_obj, &si_obj))
            return nullptr;
        double q, diameter, n, slope;
        bool si;
        if (!convert_double(q_obj, "q", &q) || !convert_double(d_obj, "diameter", &diameter) ||
            !convert_double(n_obj, "n", &n) || !convert_double(s_obj, "slope", &slope) ||
            !convert_si(si_obj, "normal_depth", &si))
            return nullptr;
        if (!positive(diameter) || !positive(n)) return raise_value_error(kDiameterAndN);
        const std::optional<double> depth = normal_depth(q, diameter, n, slope, units_of(si));
        if (!depth) Py_RETURN_NONE;
        return PyFloat_FromDouble(*depth);
    });
}

PyObject* py_critical_depth(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        KEYWORDS("q", "diameter", "si");
        PyObject *q_obj, *d_obj, *si_obj = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$O:critical_depth", keywords, &q_obj, &d_obj, &si_obj))
            return nullptr;
        double q, diameter;
        bool si;
        if (!convert_double(q_obj, "q", &q) || !convert_double(d_obj, "diameter", &diameter) ||
            !convert_si(si_obj, "critical_depth", &si))
            return nullptr;
        if (!positive(diameter)) return raise_value_error(kDiameter);
        return PyFloat_FromDouble(critical_depth(q, diameter, units_of(si)));
    });
}

PyObject* py_circular_geometry(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        KEYWORDS("diameter", "depth");
        PyObject *d_obj, *y_obj;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:circular_geometry", keywords, &d_obj, &y_obj))
            return nullptr;
        double diameter, depth;
        if (!convert_double(d_obj, "diameter", &diameter) || !convert_double(y_obj, "depth", &depth)) return nullptr;
        if (!positive(diameter)) return raise_value_error(kDiameter);
        return geometry_dict(circular_geometry(diameter, depth));
    });
}

}  // namespace rillwright::python

// The level-of-service search at the Python boundary: a capsule owning a
// service::Plan, which the package feeds with samples round by round while it
// runs the analyses on its executor.
#include <cmath>
#include <memory>

#include "python_tools.hpp"
#include "service_rounds.hpp"

namespace rillwright::python {

namespace {

constexpr const char* kPlanName = "rillwright_tools._core.service_plan";

void delete_plan(PyObject* capsule) {
    delete static_cast<service::Plan*>(PyCapsule_GetPointer(capsule, kPlanName));
}

service::Plan* plan_of(PyObject* capsule) {
    return static_cast<service::Plan*>(PyCapsule_GetPointer(capsule, kPlanName));  // sets TypeError/ValueError
}

// Binds (plan, ...) of the entry points that take a plan and one more object.
service::Plan* bind_plan(PyObject* args, PyObject* kwargs, const char* arg_format, const char* second,
                         PyObject** out) {
    const char* const names[] = {"plan", second, nullptr};
    PyObject* capsule;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, arg_format, const_cast<char**>(names), &capsule, out))
        return nullptr;
    return plan_of(capsule);
}

PyObject* optional_float_list(const std::vector<std::optional<double>>& values) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
    for (std::size_t i = 0; list != nullptr && i < values.size(); ++i) {
        PyObject* value = values[i] ? PyFloat_FromDouble(*values[i]) : (Py_INCREF(Py_None), Py_None);
        if (value == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), value);
    }
    return list;
}

PyObject* index_list(const std::vector<std::uint32_t>& values) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
    for (std::size_t i = 0; list != nullptr && i < values.size(); ++i) {
        PyObject* value = PyLong_FromUnsignedLong(values[i]);
        if (value == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), value);
    }
    return list;
}

// [(multiplier, trees)]; trees is None for every tree.
PyObject* pick_list(const std::vector<service::Pick>& picks) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(picks.size()));
    for (std::size_t i = 0; list != nullptr && i < picks.size(); ++i) {
        PyObject* trees = picks[i].trees ? index_list(*picks[i].trees) : (Py_INCREF(Py_None), Py_None);
        PyObject* pick = pair_of(PyFloat_FromDouble(picks[i].multiplier), trees);
        if (pick == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), pick);
    }
    return list;
}

}  // namespace

bool convert_trees(PyObject* value, std::optional<std::vector<std::uint32_t>>* out) {
    out->reset();
    if (value == nullptr || value == Py_None) return true;
    if (!PyList_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "trees must be a list of tree indices or None");
        return false;
    }
    std::vector<std::uint32_t> trees;
    for (Py_ssize_t i = 0; i < PyList_Size(value); ++i) {
        const unsigned long t = PyLong_AsUnsignedLong(PyList_GetItem(value, i));
        if (PyErr_Occurred()) return false;
        if (t > UINT32_MAX) {
            raise_value_error("a tree index is out of range");
            return false;
        }
        trees.push_back(static_cast<std::uint32_t>(t));
    }
    *out = std::move(trees);
    return true;
}

PyObject* py_tools_service_plan(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"text", "format", "max_multiplier", "tolerance", nullptr};
        PyObject* text;
        PyObject* format;
        double max_multiplier;
        double tolerance;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOdd:service_plan", const_cast<char**>(names), &text, &format,
                                         &max_multiplier, &tolerance))
            return nullptr;
        if (!(std::isfinite(max_multiplier) && max_multiplier > 0.0 && std::isfinite(tolerance) && tolerance > 0.0))
            return raise_value_error("max_multiplier and tolerance must be finite numbers above 0");
        LoadedNetwork loaded;
        if (!load_source(text, format, "service_plan", &loaded)) return nullptr;
        Outcome<service::Plan> made = service::make_plan(loaded.network, max_multiplier, tolerance);
        if (!made.ok()) return raise_value_error(made.error);
        auto plan = std::make_unique<service::Plan>(std::move(*made.value));
        PyObject* batch = float_list(service::first_batch(*plan));
        if (batch == nullptr) return nullptr;
        PyObject* capsule = PyCapsule_New(plan.get(), kPlanName, delete_plan);
        if (capsule != nullptr) plan.release();
        return pair_of(capsule, batch);
    });
}

PyObject* py_tools_service_round(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"plan", "samples", "left", nullptr};
        PyObject* capsule;
        PyObject* list;
        long left;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO!l:service_round", const_cast<char**>(names), &capsule,
                                         &PyList_Type, &list, &left))
            return nullptr;
        service::Plan* plan = plan_of(capsule);
        if (plan == nullptr) return nullptr;
        std::vector<std::string_view> samples;
        for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
            char* data;
            Py_ssize_t size;
            if (PyBytes_AsStringAndSize(PyList_GetItem(list, i), &data, &size) < 0) return nullptr;
            samples.emplace_back(data, static_cast<std::size_t>(size));
        }
        Outcome<bool> added = service::add_samples(*plan, samples);
        if (!added.ok()) return raise_value_error(added.error);
        const std::size_t open = service::open_brackets(*plan);
        return pair_of(pick_list(service::next_round(*plan, left)), PyLong_FromSize_t(open));
    });
}

PyObject* py_tools_service_values(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"plan", nullptr};
        PyObject* capsule;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:service_values", const_cast<char**>(names), &capsule))
            return nullptr;
        service::Plan* plan = plan_of(capsule);
        if (plan == nullptr) return nullptr;
        return pair_of(optional_float_list(plan->lo), optional_float_list(plan->hi));
    });
}

PyObject* py_tools_service_trees(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"plan", nullptr};
        PyObject* capsule;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:service_trees", const_cast<char**>(names), &capsule))
            return nullptr;
        service::Plan* plan = plan_of(capsule);
        if (plan == nullptr) return nullptr;
        return pair_of(index_list(plan->trees.of_node), index_list(plan->trees.of_pipe));
    });
}

PyObject* py_tools_service_sample_parts(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* bytes;
        service::Plan* plan = bind_plan(args, kwargs, "OO:service_sample_parts", "sample", &bytes);
        if (plan == nullptr) return nullptr;
        char* data;
        Py_ssize_t size;
        if (PyBytes_AsStringAndSize(bytes, &data, &size) < 0) return nullptr;
        Outcome<Sample> sample =
            unpack_sample(std::string_view(data, static_cast<std::size_t>(size)), plan->node_count, plan->pipe_count);
        if (!sample.ok()) return raise_value_error(sample.error);
        return pair_of(float_list(sample.value->margins),
                       PyBytes_FromStringAndSize(reinterpret_cast<const char*>(sample.value->flags.data()),
                                                 static_cast<Py_ssize_t>(sample.value->flags.size())));
    });
}

}  // namespace rillwright::python

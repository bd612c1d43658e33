// The level-of-service plan at the Python boundary: a capsule owning a
// service::Plan, which the package feeds with samples round by round while it
// runs the analyses on its executor.
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

bool read_sample(const service::Plan& plan, PyObject* bytes, Sample* out) {
    char* data;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(bytes, &data, &size) < 0) return false;
    Outcome<Sample> sample =
        unpack_sample(std::string_view(data, static_cast<std::size_t>(size)), plan.node_count, plan.pipe_count);
    if (!sample.ok()) {
        raise_value_error(sample.error);
        return false;
    }
    *out = std::move(*sample.value);
    return true;
}

}  // namespace

PyObject* py_tools_service_plan(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"text", "format", "max_multiplier", nullptr};
        PyObject* text;
        PyObject* format;
        double max_multiplier;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOd:service_plan", const_cast<char**>(names), &text, &format,
                                         &max_multiplier))
            return nullptr;
        LoadedNetwork loaded;
        if (!load_source(text, format, "service_plan", &loaded)) return nullptr;
        auto plan = std::make_unique<service::Plan>(loaded.network, max_multiplier);
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
        std::vector<Sample> samples(static_cast<std::size_t>(PyList_Size(list)));
        if (samples.size() != plan->pending.size())
            return raise_value_error("service_round needs one sample for every multiplier asked for");
        for (std::size_t i = 0; i < samples.size(); ++i)
            if (!read_sample(*plan, PyList_GetItem(list, static_cast<Py_ssize_t>(i)), &samples[i])) return nullptr;
        service::add_samples(*plan, std::move(samples));
        return float_list(service::next_round(*plan, left));
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
        const std::vector<std::optional<double>> values = service::crossing_values(*plan);
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
        if (list == nullptr) return nullptr;
        for (std::size_t i = 0; i < values.size(); ++i) {
            PyObject* value = values[i] ? PyFloat_FromDouble(*values[i]) : (Py_INCREF(Py_None), Py_None);
            if (value == nullptr) {
                Py_DECREF(list);
                return nullptr;
            }
            PyList_SetItem(list, static_cast<Py_ssize_t>(i), value);
        }
        return list;
    });
}

PyObject* py_tools_service_sample_parts(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"plan", "sample", nullptr};
        PyObject* capsule;
        PyObject* bytes;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:service_sample_parts", const_cast<char**>(names), &capsule,
                                         &bytes))
            return nullptr;
        service::Plan* plan = plan_of(capsule);
        if (plan == nullptr) return nullptr;
        Sample sample;
        if (!read_sample(*plan, bytes, &sample)) return nullptr;
        return pair_of(float_list(sample.margins),
                       PyBytes_FromStringAndSize(reinterpret_cast<const char*>(sample.flags.data()),
                                                 static_cast<Py_ssize_t>(sample.flags.size())));
    });
}

PyObject* py_tools_service_pipes_below(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"text", "format", "walked", nullptr};
        PyObject* text;
        PyObject* format;
        int walked = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|p:service_pipes_below", const_cast<char**>(names), &text,
                                         &format, &walked))
            return nullptr;
        LoadedNetwork loaded;
        if (!load_source(text, format, "service_pipes_below", &loaded)) return nullptr;
        service::Dependents dependents(loaded.network);
        const std::size_t count = loaded.network.nodes.size();
        std::vector<std::vector<std::uint32_t>> lists(count);
        for (std::size_t i = count; i-- > 0;) lists[i] = walked ? dependents.downstream(i) : dependents.pipes(i);
        PyObject* out = PyList_New(static_cast<Py_ssize_t>(count));
        if (out == nullptr) return nullptr;
        for (std::size_t i = 0; i < count; ++i) {
            PyObject* list = PyList_New(static_cast<Py_ssize_t>(lists[i].size()));
            if (list == nullptr) {
                Py_DECREF(out);
                return nullptr;
            }
            PyList_SetItem(out, static_cast<Py_ssize_t>(i), list);
            for (std::size_t k = 0; k < lists[i].size(); ++k) {
                PyObject* q = PyLong_FromSize_t(lists[i][k]);
                if (q == nullptr) {
                    Py_DECREF(out);
                    return nullptr;
                }
                PyList_SetItem(list, static_cast<Py_ssize_t>(k), q);
            }
        }
        return out;
    });
}

}  // namespace rillwright::python

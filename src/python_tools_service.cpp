// Scenario analyses for the level-of-service functions: one analysis of a
// network with its rainfall scaled, or of a project at another return period
// (of some of its trees only, for the search), and the largest flow each
// pipe's section can carry.
#include <cmath>

#include "network_passes.hpp"
#include "network_trees.hpp"
#include "python_tools.hpp"
#include "service_sample.hpp"

namespace rillwright::python {

namespace {

// Reads the network of a scenario. A return period is set on the project
// before it is converted, so that the IDF curve and the frequency factor are
// the ones the project conversion selects for that period.
bool load_scenario(PyObject* text, PyObject* format, PyObject* return_period, const char* function,
                   LoadedNetwork* out) {
    if (!load_source(text, format, function, out)) return false;
    if (return_period == nullptr || return_period == Py_None) return true;
    double years;
    if (!convert_double(return_period, "return_period", &years)) return false;
    if (!out->project) {
        raise_value_error("a return period needs a project (.rwproj); .rwn text has no return periods");
        return false;
    }
    if (!std::isfinite(years) || years < 0.0) {
        raise_value_error("return_period must be a finite number of years, not below 0");
        return false;
    }
    out->project->design_return_period_years = years;
    out->network = convert_project(*out->project);
    return true;
}

// Multiplies the rainfall intensity at every time of concentration by m: the
// fixed intensity when the network has one, else the IDF coefficient a.
bool scale_rainfall(PyObject* multiplier, Network* network) {
    if (multiplier == nullptr) return true;
    double m;
    if (!convert_double(multiplier, "multiplier", &m)) return false;
    if (!std::isfinite(m) || m < 0.0) {
        raise_value_error("multiplier must be a finite number, not below 0");
        return false;
    }
    if (network->settings.intensity) {
        *network->settings.intensity *= m;
    } else {
        network->idf.idf_a *= m;
    }
    return true;
}

// Binds (text, format, multiplier=1, return_period=None, trees=None) and reads
// the scenario's network with its rainfall scaled, only the given trees (by
// their index, see network_trees.hpp) when `trees` is a list; false with the
// exception set.
bool bind_scenario(PyObject* args, PyObject* kwargs, const char* arg_format, const char* function, LoadedNetwork* out) {
    const char* const names[] = {"text", "format", "multiplier", "return_period", "trees", nullptr};
    PyObject* text;
    PyObject* format;
    PyObject* multiplier = nullptr;
    PyObject* return_period = nullptr;
    PyObject* chosen = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, arg_format, const_cast<char**>(names), &text, &format, &multiplier,
                                     &return_period, &chosen))
        return false;
    std::optional<std::vector<std::uint32_t>> trees;
    if (!convert_trees(chosen, &trees)) return false;
    const NetworkHandle* handle = network_handle(text);
    if (handle != nullptr && trees && (return_period == nullptr || return_period == Py_None)) {
        // A model's trees are known: copy only the chosen ones, and of its project
        // only the name, the one thing a scenario reads of it.
        if (!handle->topology.ok()) {
            Network none;  // a bad multiplier is told first, as for text
            if (scale_rainfall(multiplier, &none)) raise_value_error(analysis_failed(handle->topology.error));
            return false;
        }
        out->network = sub_network(handle->loaded.network, handle->trees, *trees);
        if (handle->loaded.project) {
            out->project.emplace();
            out->project->name = handle->loaded.project->name;
        }
        return scale_rainfall(multiplier, &out->network);
    }
    if (!load_scenario(text, format, return_period, function, out) || !scale_rainfall(multiplier, &out->network))
        return false;
    if (!trees) return true;
    Outcome<Topology> topology = build_topology(out->network);
    if (!topology.ok()) {
        raise_value_error(analysis_failed(topology.error));
        return false;
    }
    out->network = sub_network(out->network, find_trees(out->network, *topology.value), *trees);
    return true;
}

}  // namespace

PyObject* float_list(const std::vector<double>& values) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
    if (list == nullptr) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* value = PyFloat_FromDouble(values[i]);
        if (value == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), value);
    }
    return list;
}

PyObject* pair_of(PyObject* first, PyObject* second) {
    PyObject* pair = first && second ? PyTuple_Pack(2, first, second) : nullptr;
    Py_XDECREF(first);
    Py_XDECREF(second);
    return pair;
}

PyObject* py_tools_analyze(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        LoadedNetwork loaded;
        if (!bind_scenario(args, kwargs, "OO|OOO:analyze", "analyze", &loaded)) return nullptr;
        Outcome<AnalysisResult> result = analyze_network(loaded.network);
        if (!result.ok()) return raise_value_error(analysis_failed(result.error));
        return to_python(loaded.project ? loaded.project->name : std::string(), *result.value);
    });
}

PyObject* py_tools_scenario_sample(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        LoadedNetwork loaded;
        if (!bind_scenario(args, kwargs, "OO|OOO:scenario_sample", "scenario_sample", &loaded)) return nullptr;
        Outcome<Sample> sample = scenario_sample(loaded.network);
        if (!sample.ok()) return raise_value_error(analysis_failed(sample.error));
        const std::string bytes = pack_sample(*sample.value);
        return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    });
}

PyObject* py_tools_max_capacities(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        LoadedNetwork loaded;
        if (!bind_source(args, kwargs, "OO:max_capacities", "max_capacities", &loaded)) return nullptr;
        Outcome<Topology> topology = build_topology(loaded.network);
        if (!topology.ok()) return raise_value_error(analysis_failed(topology.error));
        if (auto problem = check_values(loaded.network)) return raise_value_error(analysis_failed(*problem));
        // The capacity scan does not depend on the flow, so the forward pass at
        // any rainfall gives the capacities the surcharge flag compares with.
        const DesignFlows flows = design_flows(loaded.network, *topology.value);
        std::vector<double> capacities;
        for (const PipeDesign& pipe : flows.pipes) capacities.push_back(pipe.max_capacity);
        return float_list(capacities);
    });
}

}  // namespace rillwright::python

// The companion's energy-level structure calculator: one structure's values in,
// every intermediate value of the method out, computed by the same function as
// the grade-line pass. The Python side checks the arguments and names them in
// its messages; this entry only refuses what it cannot compute.
#include <optional>
#include <utility>
#include <vector>

#include "energy_loss.hpp"
#include "json_writer.hpp"
#include "python_tools.hpp"

namespace rillwright::python {

namespace {

// (q, invert, angle) triples from a flat sequence of floats.
bool read_inflows(PyObject* flat, std::vector<EnergyInflow>& inflows) {
    const Py_ssize_t count = PySequence_Size(flat);
    if (count < 0) return false;
    if (count % 3 != 0) {
        raise_value_error("inflows must hold (q, invert, angle_deg) triples");
        return false;
    }
    double values[3];
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* item = PySequence_GetItem(flat, k);
        if (item == nullptr) return false;
        values[k % 3] = PyFloat_AsDouble(item);
        Py_DECREF(item);
        if (values[k % 3] == -1.0 && PyErr_Occurred()) return false;
        if (k % 3 == 2) inflows.push_back({values[0], values[1], values[2]});
    }
    return true;
}

std::string structure_json(const EnergyStructure& s) {
    JsonWriter w(JsonWriter::Style::compact);
    w.begin_object();
    const std::pair<const char*, double> fields[] = {
        {"ei", s.ei},
        {"di", s.di},
        {"eai_outlet", s.eai_outlet},
        {"eai_submerged", s.eai_submerged},
        {"eai_unsubmerged", s.eai_unsubmerged},
        {"eai", s.eai},
        {"cb", s.cb},
        {"c_theta", s.c_theta},
        {"cp", s.cp},
        {"ha", s.ha},
        {"ea", s.ea},
        {"egl", s.egl},
    };
    for (const auto& [name, value] : fields) {
        w.key(name);
        w.number(value);
    }
    w.end_object();
    return w.take();
}

}  // namespace

PyObject* py_tools_hec22_energy_structure(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"outflow_q",         "outflow_rise",   "outflow_full_area",
                                     "outflow_velocity",  "outflow_hgl",    "outflow_invert",
                                     "outflow_critical_depth", "inflows",   "surface_q",
                                     "surface_elevation", "benching",       nullptr};
        EnergyStructureInputs inputs;
        PyObject* flat_inflows;
        PyObject* benching_text;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "dddddddOddO:hec22_energy_structure",
                                         const_cast<char**>(names), &inputs.outflow_q, &inputs.outflow_rise,
                                         &inputs.outflow_full_area, &inputs.outflow_velocity, &inputs.outflow_hgl,
                                         &inputs.outflow_invert, &inputs.outflow_critical_depth, &flat_inflows,
                                         &inputs.surface_q, &inputs.surface_elevation, &benching_text))
            return nullptr;
        Utf8Text benching;
        if (!convert_text(benching_text, "hec22_energy_structure", "benching", &benching)) return nullptr;
        const std::optional<Benching> kind = benching_from_text(benching.view());
        if (!kind) {
            return raise_value_error("benching must be one of \"flat\", \"depressed\", \"half\", \"full\", \"improved\"");
        }
        inputs.benching = *kind;
        std::vector<EnergyInflow> inflows;
        if (!read_inflows(flat_inflows, inflows)) return nullptr;
        inputs.inflows = inflows;
        return json_text(structure_json(energy_structure(inputs)));
    });
}

}  // namespace rillwright::python

// The grade-line details of one analysis: each pipe's velocity heads and energy
// line at both ends, each structure's loss, its method and coefficients, and its
// grade and energy lines, as the grade-line pass computed them (JSON text).
#include <string>

#include "inlet_pass.hpp"
#include "json_writer.hpp"
#include "network_energy_line.hpp"
#include "python_tools.hpp"

namespace rillwright::python {

namespace {

std::string details_json(const Network& network, const EnergyLine& line) {
    JsonWriter w(JsonWriter::Style::compact);
    w.begin_object();
    w.key("pipes");
    w.begin_array();
    for (std::size_t p = 0; p < line.pipes.size(); ++p) {
        const PipeEnergy& e = line.pipes[p];
        w.element();
        w.begin_object();
        w.text("id", network.pipes[p].id);
        const std::pair<const char*, double> fields[] = {{"velocity_head_up", e.velocity_head_up},
                                                         {"velocity_head_dn", e.velocity_head_dn},
                                                         {"egl_up", e.egl_up},
                                                         {"egl_dn", e.egl_dn},
                                                         {"structure_loss", e.structure_loss}};
        for (const auto& [name, value] : fields) {
            w.key(name);
            w.number(value);
        }
        w.end_object();
    }
    w.end_array();
    w.key("nodes");
    w.begin_array();
    for (std::size_t v = 0; v < line.nodes.size(); ++v) {
        const StructureEnergy& s = line.nodes[v];
        w.element();
        w.begin_object();
        w.text("id", network.nodes[v].id);
        w.text("method", s.method);
        w.key("coefficients");
        w.begin_object();
        for (const auto& [name, value] : s.coefficients) {
            w.key(name);
            w.number(value);
        }
        w.end_object();
        w.key("structure_loss");
        w.number(s.structure_loss);
        w.key("velocity_head");
        w.optional_number(s.velocity_head);
        w.key("hgl");
        w.number(s.hgl);
        w.key("egl");
        w.number(s.egl);
        w.end_object();
    }
    w.end_array();
    w.end_object();
    return w.take();
}

}  // namespace

PyObject* py_tools_grade_line_details(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"text", "format", "inlet_aware", "rows", nullptr};
        PyObject* text;
        PyObject* format;
        int inlet_aware = 0;
        int rows = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|pp:grade_line_details", const_cast<char**>(names), &text,
                                         &format, &inlet_aware, &rows))
            return nullptr;
        LoadedNetwork loaded;
        if (!load_source(text, format, "grade_line_details", &loaded)) return nullptr;
        // The inlet pass needs a project; .rwn text has no inlets, so its network is the one analysed.
        const Network* network = &loaded.network;
        std::optional<inlets::InletPass> pass;
        if (inlet_aware && loaded.project) {
            Outcome<inlets::InletPass> outcome = inlets::inlet_pass(*loaded.project);
            if (!outcome.ok()) return raise_value_error(outcome.error);
            pass = std::move(*outcome.value);
            network = &pass->network;
        }
        Outcome<AnalysisWithEnergy> analysed = analyse_with_energy(*network);
        if (!analysed.ok()) return raise_value_error(analysis_failed(analysed.error));
        PyObject* details = json_text(details_json(*network, analysed.value->line));
        if (!rows) return details;
        // The analysis itself too, so that whoever needs both analyses once.
        PyObject* both = pair_of(details, to_python(loaded.project ? std::string_view(loaded.project->name) : std::string_view(),
                                                   analysed.value->result));
        if (both == nullptr || !pass) return both;
        PyObject* sheet = json_text(inlet_sheet_json(*pass));
        if (sheet == nullptr) {
            Py_DECREF(both);
            return nullptr;
        }
        PyObject* three = PyTuple_Pack(3, PyTuple_GetItem(both, 0), PyTuple_GetItem(both, 1), sheet);
        Py_DECREF(both);
        Py_DECREF(sheet);
        return three;
    });
}

}  // namespace rillwright::python

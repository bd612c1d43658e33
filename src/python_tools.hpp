// The companion package's private extension, `rillwright_tools._core`: entry
// points over the same core as the module. Results that are more than an
// analysis come back as compact JSON text, which the package reads with json.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inlet_pass.hpp"
#include "network_source.hpp"
#include "network_trees.hpp"
#include "python_support.hpp"

namespace rillwright::python {

// A network read once for a model (rillwright_tools.Model) and kept, unchanged,
// in a capsule until the model goes: analysed any number of times, and handed
// to the other entry points in place of text.
struct NetworkHandle {
    LoadedNetwork loaded;
    Outcome<Topology> topology;  // its failure is the analysis error of the network
    Trees trees;                 // empty when there is no topology
};

// The handle `object` holds, or nullptr (no exception set) when it is no model capsule.
const NetworkHandle* network_handle(PyObject* object);

// Reads the `text` and `format` arguments of `function` ("rwn" or "rwproj")
// into a network; `text` may be a model capsule instead, whose network is
// copied (its format is then not looked at). Returns false with an exception set: TypeError for a
// non-str argument, ValueError for an unknown format or a network that cannot
// be read (with the module's messages).
bool load_source(PyObject* text, PyObject* format, const char* function, LoadedNetwork* out);

// Binds an entry point whose only parameters are `text` and `format`; `arg_format`
// is its argument format, "OO:<function>". Returns false with an exception set.
bool bind_source(PyObject* args, PyObject* kwargs, const char* arg_format, const char* function, LoadedNetwork* out);

// A str holding `json`, or nullptr with an exception set.
PyObject* json_text(const std::string& json);

// A list of the values as floats, or nullptr with an exception set.
PyObject* float_list(const std::vector<double>& values);

// The tuple (first, second), taking over both references; nullptr with the
// exception set when either is nullptr (the error of making it) or the tuple fails.
PyObject* pair_of(PyObject* first, PyObject* second);

// A list of tree indices into `out`, nothing for None (or no argument); false
// with TypeError or ValueError set otherwise.
bool convert_trees(PyObject* value, std::optional<std::vector<std::uint32_t>>* out);

// The inlet sheet of a pass ({"inlets", "warnings"}) as JSON text.
std::string inlet_sheet_json(const inlets::InletPass& pass);

// Entry points, in the order of the module's table.
PyObject* py_tools_network_records(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_network_findings(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_hec22_energy_structure(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_design(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_analyze(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_max_capacities(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_scenario_sample(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_service_plan(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_service_round(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_service_values(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_service_sample_parts(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_service_trees(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_gutter_flow(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_inlet_on_grade(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_inlet_in_sag(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_inlets(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_grade_line_details(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_model_open(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_model_info(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_model_nodes(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_model_pipes(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_model_columns(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* py_tools_model_rows(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace rillwright::python

// The companion package's private extension `rillwright_tools._core`: its
// definition and function table. Each area's entry points live in their own
// python_tools_<area>.cpp file.
#include <array>
#include <string_view>

#include "names.hpp"
#include "python_tools.hpp"

namespace rillwright::python {

namespace {

PyMethodDef kFunctions[] = {
    {"network_records", as_cfunction(py_tools_network_records), kKeywordCall,
     "network_records(text, format)\n--\n\n"
     "The network as the analysis reads it, as JSON text: settings, nodes, pipes."},
    {"network_findings", as_cfunction(py_tools_network_findings), kKeywordCall,
     "network_findings(text, format)\n--\n\n"
     "Findings that need only the records and the topology, as JSON text: a list of\n"
     "{severity, code, ids, message}, errors first."},
    {"hec22_energy_structure", as_cfunction(py_tools_hec22_energy_structure), kKeywordCall,
     "hec22_energy_structure(outflow_q, outflow_rise, outflow_full_area, outflow_velocity, outflow_hgl, "
     "outflow_invert, outflow_critical_depth, inflows, surface_q, surface_elevation, benching)\n--\n\n"
     "The energy-level method at one structure, as JSON text; inflows is a flat (q, invert, angle) list."},
    {"design", as_cfunction(py_tools_design), kKeywordCall,
     "design(text, format, catalogue, max_fill, min_size, no_smaller_downstream, min_velocity, "
     "max_velocity, min_cover, min_freeboard, fixed, whole_network=False)\n--\n\n"
     "Sizes every pipe from the catalogue; the result as JSON text, or {\"option_error\": message}. "
     "whole_network runs the grade-line rounds on the whole network at once instead of part by part."},
    {"analyze", as_cfunction(py_tools_analyze), kKeywordCall,
     "analyze(text, format, multiplier=1.0, return_period=None, trees=None)\n--\n\n"
     "The module's result dict for one scenario: the rainfall intensity scaled by the multiplier\n"
     "(the IDF coefficient a or the fixed intensity) and, for a project, the design return period\n"
     "replaced before the conversion selects the IDF curve and the frequency factor; `trees`, a\n"
     "list of tree indices (service_trees), analyses only those trees."},
    {"max_capacities", as_cfunction(py_tools_max_capacities), kKeywordCall,
     "max_capacities(text, format)\n--\n\n"
     "Each pipe's largest Manning flow over the depth scan (cfs), in pipe order: the flow above\n"
     "which the analysis flags the pipe as surcharged."},
    {"scenario_sample", as_cfunction(py_tools_scenario_sample), kKeywordCall,
     "scenario_sample(text, format, multiplier=1.0, return_period=None, trees=None)\n--\n\n"
     "One scenario, as analyze runs it (of the listed trees only, when given), reduced to the\n"
     "level of service's sample (bytes): every condition's margin and flag."},
    {"service_plan", as_cfunction(py_tools_service_plan), kKeywordCall,
     "service_plan(text, format, max_multiplier, tolerance)\n--\n\n"
     "A level-of-service search of the network and its first batch of multipliers, every tree\n"
     "each: (plan, list)."},
    {"service_round", as_cfunction(py_tools_service_round), kKeywordCall,
     "service_round(plan, samples, left)\n--\n\n"
     "Narrows the brackets with the samples of the analyses last asked for (in their order) and\n"
     "returns (next round, open brackets): at most `left` analyses [(multiplier, trees)], an\n"
     "empty list when every bracket is closed."},
    {"service_values", as_cfunction(py_tools_service_values), kKeywordCall,
     "service_values(plan)\n--\n\n"
     "Every condition's bracket as two lists (lows, highs; None: never held), in the order nodes\n"
     "(flooding), pipes (surcharged), pipes (grade line above the crown)."},
    {"service_sample_parts", as_cfunction(py_tools_service_sample_parts), kKeywordCall,
     "service_sample_parts(plan, sample)\n--\n\n"
     "A whole-network sample's margins (list) and flags (bytes), condition by condition."},
    {"service_trees", as_cfunction(py_tools_service_trees), kKeywordCall,
     "service_trees(plan)\n--\n\n"
     "The tree (weakly connected component) of every node and of every pipe: two lists."},
    {"gutter_flow", as_cfunction(py_tools_gutter_flow), kKeywordCall,
     "gutter_flow(sx, sl, n, w, a, q, spread)\n--\n\n"
     "HEC-22 gutter flow (US units) from q, or from spread when q is None, as JSON text."},
    {"inlet_on_grade", as_cfunction(py_tools_inlet_on_grade), kKeywordCall,
     "inlet_on_grade(sx, sl, n, w, a, q, type, grate, splash_velocity, open_area_ratio, length, grate_width, "
     "curb_length, opening_height, local_depression, local_depression_width, clogging)\n--\n\n"
     "One HEC-22 inlet on grade (US units), every intermediate value as JSON text."},
    {"inlet_in_sag", as_cfunction(py_tools_inlet_in_sag), kKeywordCall,
     "inlet_in_sag(<as inlet_on_grade>)\n--\n\n"
     "The ponded depth and spread at which a HEC-22 sag inlet passes q (US units), as JSON text."},
    {"inlets", as_cfunction(py_tools_inlets), kKeywordCall,
     "inlets(text, format)\n--\n\n"
     "The HEC-22 inlet pass of a project: (JSON text of the inlet rows and warnings, the module's\n"
     "result dict of the pipes carrying what the inlets intercept)."},
    {"grade_line_details", as_cfunction(py_tools_grade_line_details), kKeywordCall,
     "grade_line_details(text, format, inlet_aware=False, rows=False)\n--\n\n"
     "The grade-line pass's own energy line, as JSON text: {pipes: [velocity heads, egl at both ends],\n"
     "nodes: [method, coefficients, structure_loss, velocity_head, hgl, egl]}, in the analysis' order;\n"
     "inlet_aware runs the inlet pass of a project first and analyses what its inlets intercept.\n"
     "rows=True returns (details, the analysis as model_rows gives it) from the same pass, and\n"
     "with the inlet pass also its sheet as inlets gives it: (details, rows, sheet)."},
    {"model_open", as_cfunction(py_tools_model_open), kKeywordCall,
     "model_open(text, format, path=None)\n--\n\n"
     "A network read once, from the text or, when text is None, from the file at path, and kept\n"
     "in a capsule for the other model_* entries (and in place of text in the others)."},
    {"model_info", as_cfunction(py_tools_model_info), kKeywordCall,
     "model_info(model)\n--\n\n"
     "{name, units (\"us\" or \"si\"), format, nodes, pipes, trees, inlet_data}: counts of each;\n"
     "inlet_data counts the project's nodes with an inlet length or a bypass target."},
    {"model_nodes", as_cfunction(py_tools_model_nodes), kKeywordCall,
     "model_nodes(model)\n--\n\n"
     "{id: tuple, x: bytearray, y: bytearray}: the nodes in input order, plan coordinates as float64."},
    {"model_pipes", as_cfunction(py_tools_model_pipes), kKeywordCall,
     "model_pipes(model)\n--\n\n"
     "{id, from, to}: tuples of the pipes' ids in input order, made once per model."},
    {"model_columns", as_cfunction(py_tools_model_columns), kKeywordCall,
     "model_columns(model, threads=None)\n--\n\n"
     "The analysis as {name, pipes, nodes} of columns with the keys of the module's rows: ids as\n"
     "the model's tuples, numbers as bytearrays of float64 (NaN where a row has None), flags as\n"
     "bytearrays of 0/1; the trees analysed on `threads` threads (None: one per hardware thread)."},
    {"model_rows", as_cfunction(py_tools_model_rows), kKeywordCall,
     "model_rows(model, threads=None)\n--\n\n"
     "The module's result dict of the model's network, the trees analysed on `threads` threads."},
    {nullptr, nullptr, 0, nullptr},
};

// A tuple of the names, nullptr with the exception set.
template <std::size_t N>
PyObject* name_tuple(const std::array<std::string_view, N>& names) {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(N));
    for (std::size_t i = 0; tuple != nullptr && i < N; ++i) {
        PyObject* name = PyUnicode_FromStringAndSize(names[i].data(), static_cast<Py_ssize_t>(names[i].size()));
        if (name == nullptr) Py_CLEAR(tuple);
        else PyTuple_SetItem(tuple, static_cast<Py_ssize_t>(i), name);
    }
    return tuple;
}

int add_constant(PyObject* module, const char* name, PyObject* value) {
    if (value == nullptr) return -1;
    const int status = PyModule_AddObject(module, name, value);
    if (status < 0) Py_DECREF(value);  // stolen only on success
    return status;
}

// The limits and name tables the package's Python code shares with the core.
int exec_module(PyObject* module) {
    if (add_constant(module, "ADVERSE_SLOPE", PyFloat_FromDouble(-kFlatSlope)) < 0) return -1;
    if (add_constant(module, "SHAPES", name_tuple(kShapeNames)) < 0) return -1;
    if (add_constant(module, "NODE_KINDS", name_tuple(kNodeKindNames)) < 0) return -1;
    return add_constant(module, "INLET_TYPES", name_tuple(kInletTypeNames));
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "rillwright_tools._core", "Private core of rillwright_tools.", 0, kFunctions, kSlots,
    nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace rillwright::python

PyMODINIT_FUNC PyInit__core(void) { return PyModuleDef_Init(&rillwright::python::kModule); }

// The companion package's private extension `rillwright_tools._core`: its
// definition and function table. Each area's entry points live in their own
// python_tools_<area>.cpp file.
#include "python_tools.hpp"

namespace rillwright::python {

namespace {

constexpr int kKeywordCall = METH_VARARGS | METH_KEYWORDS;

template <class F>
PyCFunction as_cfunction(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef kFunctions[] = {
    {"network_records", as_cfunction(py_tools_network_records), kKeywordCall,
     "network_records(text, format)\n--\n\n"
     "The network as the analysis reads it, as JSON text: settings, nodes, pipes."},
    {"design", as_cfunction(py_tools_design), kKeywordCall,
     "design(text, format, catalogue, max_fill, min_size, no_smaller_downstream, min_velocity, "
     "max_velocity, min_cover, min_freeboard, fixed, whole_network=False)\n--\n\n"
     "Sizes every pipe from the catalogue; the result as JSON text, or {\"option_error\": message}. "
     "whole_network runs the grade-line rounds on the whole network at once instead of part by part."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot kSlots[] = {
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "rillwright_tools._core", "Private core of rillwright_tools.", 0, kFunctions, kSlots,
    nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace rillwright::python

PyMODINIT_FUNC PyInit__core(void) { return PyModuleDef_Init(&rillwright::python::kModule); }

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
    {"analyze", as_cfunction(py_tools_analyze), kKeywordCall,
     "analyze(text, format, multiplier=1.0, return_period=None)\n--\n\n"
     "The module's result dict for one scenario: the rainfall intensity scaled by the multiplier\n"
     "(the IDF coefficient a or the fixed intensity) and, for a project, the design return period\n"
     "replaced before the conversion selects the IDF curve and the frequency factor."},
    {"max_capacities", as_cfunction(py_tools_max_capacities), kKeywordCall,
     "max_capacities(text, format)\n--\n\n"
     "Each pipe's largest Manning flow over the depth scan (cfs), in pipe order: the flow above\n"
     "which the analysis flags the pipe as surcharged."},
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

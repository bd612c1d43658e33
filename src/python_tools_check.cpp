// The check report's entry point: the findings that need the topology, as JSON.
#include "network_findings.hpp"
#include "python_tools.hpp"

namespace rillwright::python {

PyObject* py_tools_network_findings(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        LoadedNetwork loaded;
        if (!bind_source(args, kwargs, "OO:network_findings", "network_findings", &loaded)) return nullptr;
        const Project* project = loaded.project ? &*loaded.project : nullptr;
        return json_text(findings_json(network_findings(loaded.network, project)));
    });
}

}  // namespace rillwright::python

// The model's entry points: a network read once into a capsule, what it knows
// without analysing (name, units, ids, coordinates), and its analysis as rows
// (the module's dict) or as columns. Columns are bytearrays of float64 (NaN
// where a value is missing) or of 0/1 bytes for flags, which the package views
// with numpy.frombuffer, and tuples for ids (made once per model); the
// extension needs no numpy header.
// Reading and analysing run without the interpreter lock.
#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "file_text.hpp"
#include "python_tools.hpp"

namespace rillwright::python {

namespace {

constexpr const char* kModelName = "rillwright_tools._core.model";

// The parsed network with its id strings, made once, on first use, with the
// interpreter lock held, and shared by every result that names ids: tuples, so
// that no caller can change what the next one gets.
struct ModelHandle {
    NetworkHandle network;
    PyObject* node_ids = nullptr;
    PyObject* pipe_ids = nullptr;
    PyObject* pipe_from = nullptr;
    PyObject* pipe_to = nullptr;

    ModelHandle() = default;
    ModelHandle(const ModelHandle&) = delete;
    ModelHandle& operator=(const ModelHandle&) = delete;
    ~ModelHandle() {  // the capsule's destructor runs with the lock held
        Py_XDECREF(node_ids);
        Py_XDECREF(pipe_ids);
        Py_XDECREF(pipe_from);
        Py_XDECREF(pipe_to);
    }
};

void delete_model(PyObject* capsule) {
    delete static_cast<ModelHandle*>(PyCapsule_GetPointer(capsule, kModelName));
}

ModelHandle* model_of(PyObject* object) {
    if (object == nullptr || !PyCapsule_IsValid(object, kModelName)) return nullptr;
    return static_cast<ModelHandle*>(PyCapsule_GetPointer(object, kModelName));
}

// The handle of the entry's `model` argument; nullptr with TypeError set.
ModelHandle* bind_model(PyObject* args, PyObject* kwargs, const char* arg_format, PyObject** threads) {
    const char* const names[] = {"model", "threads", nullptr};
    PyObject* capsule;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, arg_format, const_cast<char**>(names), &capsule, threads))
        return nullptr;
    ModelHandle* handle = model_of(capsule);
    if (handle == nullptr) PyErr_SetString(PyExc_TypeError, "model must be a model capsule of rillwright_tools._core");
    return handle;
}

// threads=None (or absent) is 0, one per hardware thread; else an int of at least 1.
bool convert_threads(PyObject* value, std::size_t* out) {
    *out = 0;
    if (value == nullptr || value == Py_None) return true;
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "threads must be an int or None");
        return false;
    }
    const long long count = PyLong_AsLongLong(value);
    if (count == -1 && PyErr_Occurred()) return false;
    if (count < 1) {
        raise_value_error("threads must be at least 1, or None for one per hardware thread");
        return false;
    }
    // More threads than groups of trees are never started (network_trees.cpp).
    *out = static_cast<std::size_t>(count);
    return true;
}

// Nodes of a project with inlet data: an inlet with a length, or a bypass target.
// Without any the inlet pass has nothing to model and its analysis is the
// network's own, so the package does not run it.
std::size_t inlet_data_nodes(const NetworkHandle& handle) {
    if (!handle.loaded.project) return 0;
    std::size_t count = 0;
    for (const ProjectNode& node : handle.loaded.project->nodes)
        count += node.inlet.length_ft > 0.0 || node.bypass_to.has_value();
    return count;
}

std::string_view project_name(const NetworkHandle& handle) {
    return handle.loaded.project ? std::string_view(handle.loaded.project->name) : std::string_view();
}

PyObject* str_of(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// A bytearray of `count` values of T, its storage handed out for filling.
template <class T>
PyObject* new_column(std::size_t count, T** storage) {
    PyObject* column = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * sizeof(T)));
    if (column != nullptr) *storage = reinterpret_cast<T*>(PyByteArray_AsString(column));
    return column;
}

// A tuple of the strings, nullptr with the exception set.
template <class Text>
PyObject* text_tuple(std::size_t count, Text text_at) {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(count));
    for (std::size_t i = 0; tuple != nullptr && i < count; ++i) {
        PyObject* item = text_at(i);
        if (item == nullptr) {
            Py_CLEAR(tuple);
            break;
        }
        PyTuple_SetItem(tuple, static_cast<Py_ssize_t>(i), item);
    }
    return tuple;
}

// A dict of the named values, taking over every reference; nullptr (the
// references released) when any is nullptr or an insertion fails.
template <std::size_t N>
PyObject* dict_of(const std::array<const char*, N>& keys, std::array<PyObject*, N>& values) {
    PyObject* dict = nullptr;
    bool complete = true;
    for (PyObject* value : values) complete = complete && value != nullptr;
    if (complete) dict = PyDict_New();
    for (std::size_t i = 0; dict != nullptr && i < N; ++i)
        if (PyDict_SetItemString(dict, keys[i], values[i]) < 0) Py_CLEAR(dict);
    for (PyObject*& value : values) Py_CLEAR(value);
    return dict;
}

// The model's id tuples, made on first use; false with the exception set. The
// node ids are str objects that the pipes' ends share where the pipes resolve:
// a pipe's end names the node it resolves to by the very same text.
bool make_ids(ModelHandle& handle) {
    if (handle.pipe_to != nullptr) return true;
    const Network& network = handle.network.loaded.network;
    if (handle.node_ids == nullptr)
        handle.node_ids = text_tuple(network.nodes.size(), [&](std::size_t v) { return str_of(network.nodes[v].id); });
    if (handle.pipe_ids == nullptr)
        handle.pipe_ids = text_tuple(network.pipes.size(), [&](std::size_t p) { return str_of(network.pipes[p].id); });
    if (handle.node_ids == nullptr || handle.pipe_ids == nullptr) return false;
    const Topology* topology = handle.network.topology.ok() ? &*handle.network.topology.value : nullptr;
    const auto end_ids = [&](bool upstream) {
        return text_tuple(network.pipes.size(), [&](std::size_t p) -> PyObject* {
            const Pipe& pipe = network.pipes[p];
            if (topology == nullptr) return str_of(upstream ? pipe.from : pipe.to);
            const auto [from, to] = topology->pipe_ends[p];
            PyObject* id = PyTuple_GetItem(handle.node_ids, static_cast<Py_ssize_t>(upstream ? from : to));
            Py_XINCREF(id);
            return id;
        });
    };
    if (handle.pipe_from == nullptr) handle.pipe_from = end_ids(true);
    if (handle.pipe_from == nullptr) return false;
    handle.pipe_to = end_ids(false);
    return handle.pipe_to != nullptr;
}

PyObject* new_reference(PyObject* object) {
    Py_INCREF(object);
    return object;
}

constexpr std::array<const char*, 17> kPipeColumns = {
    "id",       "from",     "to",         "slope",        "total_ca",       "tc",
    "travel_time", "intensity", "design_q", "capacity",  "pct_full",       "velocity",
    "normal_depth", "critical_depth", "hgl_up", "hgl_dn", "surcharged",
};
constexpr std::size_t kPipeNumbers = 13;  // slope .. hgl_dn
constexpr std::array<const char*, 6> kNodeColumns = {"id", "tc", "rim", "hgl", "freeboard", "floods"};
constexpr std::size_t kNodeNumbers = 4;  // tc .. freeboard

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

struct ColumnStorage {
    std::array<double*, kPipeNumbers> pipe{};
    unsigned char* surcharged = nullptr;
    std::array<double*, kNodeNumbers> node{};
    unsigned char* floods = nullptr;
};

// Writes one tree group's records at their places in the whole network's columns.
void fill_columns(const TreeRun& run, const ColumnStorage& out) {
    for (std::size_t k = 0; k < run.network.pipes.size(); ++k) {
        const PipeResult r = pipe_result(run.network, run.topology, run.flows, run.grade, k);
        const std::size_t at = run.pipe_at(k);
        const std::array<double, kPipeNumbers> values = {
            r.slope,    r.total_ca, r.tc,       r.travel_time,
            r.intensity, r.design_q, r.capacity, r.pct_full,
            r.velocity, r.normal_depth.value_or(kMissing), r.critical_depth, r.hgl_up.value_or(kMissing),
            r.hgl_dn.value_or(kMissing),
        };
        for (std::size_t c = 0; c < kPipeNumbers; ++c) out.pipe[c][at] = values[c];
        out.surcharged[at] = reported_surcharge(r) ? 1 : 0;
    }
    for (std::size_t k = 0; k < run.network.nodes.size(); ++k) {
        const NodeResult r = node_result(run.network, run.flows, run.grade, k);
        const std::size_t at = run.node_at(k);
        const std::array<double, kNodeNumbers> values = {r.tc, r.rim, r.hgl, r.rim - r.hgl};
        for (std::size_t c = 0; c < kNodeNumbers; ++c) out.node[c][at] = values[c];
        out.floods[at] = r.floods ? 1 : 0;
    }
}

// Runs `work` without the interpreter lock; a C++ exception it throws is
// rethrown once the lock is held again.
template <class Work>
void without_lock(Work&& work) {
    std::exception_ptr fault;
    Py_BEGIN_ALLOW_THREADS
    try {
        work();
    } catch (...) {
        fault = std::current_exception();
    }
    Py_END_ALLOW_THREADS
    if (fault) std::rethrow_exception(fault);
}

PyObject* result_dict(std::string_view name, PyObject* pipes, PyObject* nodes) {
    std::array<PyObject*, 3> values = {str_of(name), pipes, nodes};
    return dict_of(std::array<const char*, 3>{"name", "pipes", "nodes"}, values);
}

}  // namespace

const NetworkHandle* network_handle(PyObject* object) {
    const ModelHandle* handle = model_of(object);
    return handle ? &handle->network : nullptr;
}

PyObject* py_tools_model_open(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"text", "format", "path", nullptr};
        PyObject* text;
        PyObject* format;
        PyObject* path = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:model_open", const_cast<char**>(names), &text, &format,
                                         &path))
            return nullptr;
        Utf8Text format_text;
        if (!convert_text(format, "model_open", "format", &format_text)) return nullptr;
        if (format_text.view() != "rwn" && format_text.view() != "rwproj")
            return raise_value_error("format must be \"rwn\" or \"rwproj\"");
        const SourceFormat kind = format_text.view() == "rwn" ? SourceFormat::rwn : SourceFormat::project;
        // The text, or the file at `path` when text is None (read here, not in Python).
        Utf8Text given;
        Utf8Text file_path;
        const bool from_file = text == Py_None && path != nullptr && path != Py_None;
        if (from_file ? !convert_text(path, "model_open", "path", &file_path)
                      : !convert_text(text, "model_open", "text", &given))
            return nullptr;
        auto model = std::make_unique<ModelHandle>();
        NetworkHandle* handle = &model->network;
        Outcome<LoadedNetwork> loaded;
        std::string read_error;
        without_lock([&] {
            std::string content;
            if (from_file) {
                Outcome<std::string> read = read_utf8_file(std::string(file_path.view()));
                if (!read.ok()) {
                    read_error = std::move(read.error);
                    return;
                }
                content = std::move(*read.value);
            }
            loaded = load_network(from_file ? std::string_view(content) : given.view(), kind);
            if (!loaded.ok()) return;
            handle->loaded = std::move(*loaded.value);
            handle->topology = build_topology(handle->loaded.network);
            if (handle->topology.ok()) handle->trees = find_trees(handle->loaded.network, *handle->topology.value);
        });
        if (!read_error.empty()) {
            std::string message = "cannot read ";
            return raise_os_error(message.append(file_path.view()).append(": ").append(read_error));
        }
        if (!loaded.ok()) return raise_value_error(loaded.error);
        PyObject* capsule = PyCapsule_New(model.get(), kModelName, delete_model);
        if (capsule != nullptr) model.release();
        return capsule;
    });
}

PyObject* py_tools_model_info(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* unused = nullptr;
        const ModelHandle* model = bind_model(args, kwargs, "O|O:model_info", &unused);
        if (model == nullptr) return nullptr;
        const NetworkHandle* handle = &model->network;
        const std::optional<Project>& project = handle->loaded.project;
        const bool si = project && project->units == UnitSystem::si;
        std::array<PyObject*, 7> values = {
            str_of(project_name(*handle)),
            str_of(si ? "si" : "us"),
            str_of(project ? "rwproj" : "rwn"),
            PyLong_FromSize_t(handle->loaded.network.nodes.size()),
            PyLong_FromSize_t(handle->loaded.network.pipes.size()),
            PyLong_FromSize_t(handle->trees.count),
            PyLong_FromSize_t(inlet_data_nodes(*handle)),
        };
        return dict_of(std::array<const char*, 7>{"name", "units", "format", "nodes", "pipes", "trees", "inlet_data"},
                       values);
    });
}

PyObject* py_tools_model_nodes(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* unused = nullptr;
        ModelHandle* model = bind_model(args, kwargs, "O|O:model_nodes", &unused);
        if (model == nullptr || !make_ids(*model)) return nullptr;
        const std::vector<Node>& nodes = model->network.loaded.network.nodes;
        double* x = nullptr;
        double* y = nullptr;
        std::array<PyObject*, 3> values = {new_reference(model->node_ids), new_column(nodes.size(), &x),
                                           new_column(nodes.size(), &y)};
        for (std::size_t v = 0; values[1] && values[2] && v < nodes.size(); ++v) {
            x[v] = nodes[v].x;
            y[v] = nodes[v].y;
        }
        return dict_of(std::array<const char*, 3>{"id", "x", "y"}, values);
    });
}

PyObject* py_tools_model_pipes(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* unused = nullptr;
        ModelHandle* model = bind_model(args, kwargs, "O|O:model_pipes", &unused);
        if (model == nullptr || !make_ids(*model)) return nullptr;
        std::array<PyObject*, 3> values = {new_reference(model->pipe_ids), new_reference(model->pipe_from),
                                           new_reference(model->pipe_to)};
        return dict_of(std::array<const char*, 3>{"id", "from", "to"}, values);
    });
}

PyObject* py_tools_model_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* threads_arg = nullptr;
        ModelHandle* model = bind_model(args, kwargs, "O|O:model_columns", &threads_arg);
        std::size_t threads;
        if (model == nullptr || !convert_threads(threads_arg, &threads)) return nullptr;
        const NetworkHandle* handle = &model->network;
        if (!handle->topology.ok()) return raise_value_error(analysis_failed(handle->topology.error));
        const Network& network = handle->loaded.network;

        std::array<PyObject*, kPipeColumns.size()> pipe_values{};
        std::array<PyObject*, kNodeColumns.size()> node_values{};
        const auto release_all = [&] {
            for (PyObject*& value : pipe_values) Py_CLEAR(value);
            for (PyObject*& value : node_values) Py_CLEAR(value);
        };
        ColumnStorage storage;
        bool made = true;
        for (std::size_t c = 0; c < kPipeNumbers; ++c)
            made = made && (pipe_values[3 + c] = new_column(network.pipes.size(), &storage.pipe[c]));
        made = made && (pipe_values[16] = new_column(network.pipes.size(), &storage.surcharged));
        for (std::size_t c = 0; c < kNodeNumbers; ++c)
            made = made && (node_values[1 + c] = new_column(network.nodes.size(), &storage.node[c]));
        made = made && (node_values[5] = new_column(network.nodes.size(), &storage.floods));
        if (!made) {
            release_all();
            return nullptr;
        }
        std::optional<std::string> problem;
        try {
            without_lock([&] {
                problem = analyze_trees(network, *handle->topology.value, handle->trees, threads,
                                        [&](const TreeRun& run) { fill_columns(run, storage); });
            });
        } catch (...) {
            release_all();
            throw;
        }
        if (problem) {
            release_all();
            return raise_value_error(analysis_failed(*problem));
        }
        if (!make_ids(*model)) {
            release_all();
            return nullptr;
        }
        node_values[0] = new_reference(model->node_ids);
        pipe_values[0] = new_reference(model->pipe_ids);
        pipe_values[1] = new_reference(model->pipe_from);
        pipe_values[2] = new_reference(model->pipe_to);
        PyObject* pipes = dict_of(kPipeColumns, pipe_values);
        PyObject* nodes = dict_of(kNodeColumns, node_values);
        if (pipes == nullptr || nodes == nullptr) {
            Py_XDECREF(pipes);
            Py_XDECREF(nodes);
            return nullptr;
        }
        return result_dict(project_name(*handle), pipes, nodes);
    });
}

PyObject* py_tools_model_rows(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* threads_arg = nullptr;
        const ModelHandle* model = bind_model(args, kwargs, "O|O:model_rows", &threads_arg);
        std::size_t threads;
        if (model == nullptr || !convert_threads(threads_arg, &threads)) return nullptr;
        const NetworkHandle* handle = &model->network;
        if (!handle->topology.ok()) return raise_value_error(analysis_failed(handle->topology.error));
        Outcome<AnalysisResult> result;
        without_lock([&] {
            result = analyze_network(handle->loaded.network, *handle->topology.value, handle->trees, threads);
        });
        if (!result.ok()) return raise_value_error(analysis_failed(result.error));
        return to_python(project_name(*handle), *result.value);
    });
}

}  // namespace rillwright::python

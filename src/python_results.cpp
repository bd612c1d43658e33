// Analysis results as plain Python objects: {"name", "pipes": [...], "nodes": [...]}.
#include <array>

#include "python_support.hpp"

namespace rillwright::python {

namespace {

constexpr std::array<const char*, 17> kPipeKeys = {
    "id",       "from",     "to",         "slope",        "total_ca",       "tc",
    "travel_time", "intensity", "design_q", "capacity",  "pct_full",       "velocity",
    "normal_depth", "critical_depth", "hgl_up", "hgl_dn", "surcharged",
};
constexpr std::array<const char*, 6> kNodeKeys = {"id", "tc", "rim", "hgl", "freeboard", "floods"};

// A creation failure of a basic object is an internal fault, not a data error.
class CreationFailed {};

// A failed insertion keeps the host's exception and stops the conversion.
class InsertionFailed {};

// The keys of one kind of record, and a dict holding them all, in order, with
// None values: each record's dict starts as a copy of it, which takes one
// allocation of the final size instead of growing key by key, and keeps the
// key order. Every value is then replaced.
template <std::size_t N>
class KeySet {
public:
    explicit KeySet(const std::array<const char*, N>& names) {
        template_ = PyDict_New();
        if (template_ == nullptr) throw CreationFailed{};
        for (std::size_t i = 0; i < N; ++i) {
            keys_[i] = PyUnicode_FromString(names[i]);
            if (keys_[i] == nullptr) throw CreationFailed{};
            if (PyDict_SetItem(template_, keys_[i], Py_None) < 0) throw InsertionFailed{};
        }
    }
    ~KeySet() {
        for (PyObject* key : keys_) Py_XDECREF(key);
        Py_XDECREF(template_);
    }
    KeySet(const KeySet&) = delete;
    KeySet& operator=(const KeySet&) = delete;
    PyObject* operator[](std::size_t i) const { return keys_[i]; }
    PyObject* new_record() const { return PyDict_Copy(template_); }

private:
    std::array<PyObject*, N> keys_{};
    PyObject* template_ = nullptr;
};

// Owns one reference until released.
class Ref {
public:
    explicit Ref(PyObject* object) : object_(object) {
        if (object_ == nullptr) throw CreationFailed{};
    }
    ~Ref() { Py_XDECREF(object_); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    PyObject* get() const { return object_; }
    PyObject* release() {
        PyObject* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    PyObject* object_;
};

PyObject* text(const std::string& value) {
    return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
}
PyObject* number(double value) { return PyFloat_FromDouble(value); }
PyObject* optional_number(const std::optional<double>& value) {
    if (!value) {
        Py_INCREF(Py_None);
        return Py_None;
    }
    return PyFloat_FromDouble(*value);
}
PyObject* boolean(bool value) {
    PyObject* object = value ? Py_True : Py_False;
    Py_INCREF(object);
    return object;
}

class DictBuilder {
public:
    explicit DictBuilder(PyObject* dict) : dict_(dict) {}
    void put(PyObject* key, PyObject* created) {
        Ref value(created);
        if (PyDict_SetItem(dict_, key, value.get()) < 0) throw InsertionFailed{};
    }

private:
    PyObject* dict_;
};

PyObject* pipe_dict(const KeySet<17>& k, const PipeResult& p) {
    Ref dict(k.new_record());
    DictBuilder d(dict.get());
    d.put(k[0], text(p.id));
    d.put(k[1], text(p.from));
    d.put(k[2], text(p.to));
    d.put(k[3], number(p.slope));
    d.put(k[4], number(p.total_ca));
    d.put(k[5], number(p.tc));
    d.put(k[6], number(p.travel_time));
    d.put(k[7], number(p.intensity));
    d.put(k[8], number(p.design_q));
    d.put(k[9], number(p.capacity));
    d.put(k[10], number(p.pct_full));
    d.put(k[11], number(p.velocity));
    d.put(k[12], optional_number(p.normal_depth));
    d.put(k[13], number(p.critical_depth));
    d.put(k[14], optional_number(p.hgl_up));
    d.put(k[15], optional_number(p.hgl_dn));
    d.put(k[16], boolean(reported_surcharge(p)));
    return dict.release();
}

PyObject* node_dict(const KeySet<6>& k, const NodeResult& n) {
    Ref dict(k.new_record());
    DictBuilder d(dict.get());
    d.put(k[0], text(n.id));
    d.put(k[1], number(n.tc));
    d.put(k[2], number(n.rim));
    d.put(k[3], number(n.hgl));
    d.put(k[4], number(n.rim - n.hgl));
    d.put(k[5], boolean(n.floods));
    return dict.release();
}

template <class Record, std::size_t N, class Convert>
PyObject* list_of(const std::vector<Record>& records, const KeySet<N>& keys, Convert convert) {
    // Sized up front; a list whose later slots are still empty is released
    // safely if a record fails.
    Ref list(PyList_New(static_cast<Py_ssize_t>(records.size())));
    for (std::size_t i = 0; i < records.size(); ++i) {
        PyObject* item = convert(keys, records[i]);
        if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item) < 0) throw InsertionFailed{};  // steals item
    }
    return list.release();
}

}  // namespace

// The reported flag is narrower than the analysis flag: an adverse pipe, or one
// with neither slope nor capacity, is not reported as surcharged.
bool reported_surcharge(const PipeResult& pipe) {
    return pipe.surcharged && !(pipe.used_slope < 0.0) && !(pipe.slope <= 0.0 && pipe.capacity <= 0.0);
}

PyObject* to_python(std::string_view name, const AnalysisResult& result) {
    try {
        const KeySet<17> pipe_keys(kPipeKeys);
        const KeySet<6> node_keys(kNodeKeys);
        Ref pipes(list_of(result.pipes, pipe_keys, pipe_dict));
        Ref nodes(list_of(result.nodes, node_keys, node_dict));
        Ref name_text(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        Ref dict(PyDict_New());
        if (PyDict_SetItemString(dict.get(), "name", name_text.get()) < 0 ||
            PyDict_SetItemString(dict.get(), "pipes", pipes.get()) < 0 ||
            PyDict_SetItemString(dict.get(), "nodes", nodes.get()) < 0)
            throw InsertionFailed{};
        return dict.release();
    } catch (const InsertionFailed&) {
        return nullptr;
    } catch (const CreationFailed&) {
        PyErr_Clear();
        return raise_internal_fault("cannot create a Python object for the analysis result");
    }
}

}  // namespace rillwright::python

// The design entry point of the companion extension. The package hands over
// the options already in plain form: the catalogue as a list of
// (shape, [size tuples]) and the fixed ids as a list of str.
#include "design.hpp"
#include "json_writer.hpp"
#include "python_tools.hpp"

namespace rillwright::python {

namespace {

// Owns one new reference.
class Owned {
public:
    explicit Owned(PyObject* object) : object_(object) {}
    ~Owned() { Py_XDECREF(object_); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    PyObject* get() const { return object_; }

private:
    PyObject* object_;
};

bool optional_double(PyObject* value, const char* parameter, std::optional<double>* out) {
    if (value == Py_None) return true;
    double number = 0.0;
    if (!convert_double(value, parameter, &number)) return false;
    *out = number;
    return true;
}

// A limit that may be left to its default: Ellipsis is the package's mark for
// "not given", None for "no limit".
bool limit_or_default(PyObject* value, const char* parameter, std::optional<double>* out, bool* defaulted) {
    if (value == Py_Ellipsis) {
        *defaulted = true;
        return true;
    }
    return optional_double(value, parameter, out);
}

bool text_of(PyObject* value, std::string* out) {
    Utf8Text text;
    if (!PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "design: expected a str");
        return false;
    }
    if (!text.assign(value)) return false;
    out->assign(text.view());
    return true;
}

// One size: a sequence of floats.
bool read_size(PyObject* item, std::vector<double>* out) {
    const Py_ssize_t count = PySequence_Size(item);
    if (count < 0) return false;
    for (Py_ssize_t k = 0; k < count; ++k) {
        Owned value(PySequence_GetItem(item, k));
        if (!value.get()) return false;
        double number = 0.0;
        if (!convert_double(value.get(), "catalogue", &number)) return false;
        out->push_back(number);
    }
    return true;
}

bool read_catalogue(PyObject* value, std::optional<std::vector<design::CatalogueEntry>>* out) {
    if (value == Py_None) return true;
    std::vector<design::CatalogueEntry> catalogue;
    const Py_ssize_t shapes = PySequence_Size(value);
    if (shapes < 0) return false;
    for (Py_ssize_t s = 0; s < shapes; ++s) {
        Owned pair(PySequence_GetItem(value, s));
        if (!pair.get()) return false;
        Owned name(PySequence_GetItem(pair.get(), 0));
        Owned sizes(name.get() ? PySequence_GetItem(pair.get(), 1) : nullptr);
        if (!sizes.get()) return false;
        design::CatalogueEntry entry;
        if (!text_of(name.get(), &entry.shape)) return false;
        const Py_ssize_t count = PySequence_Size(sizes.get());
        if (count < 0) return false;
        for (Py_ssize_t k = 0; k < count; ++k) {
            Owned size(PySequence_GetItem(sizes.get(), k));
            if (!size.get()) return false;
            entry.sizes.emplace_back();
            if (!read_size(size.get(), &entry.sizes.back())) return false;
        }
        catalogue.push_back(std::move(entry));
    }
    *out = std::move(catalogue);
    return true;
}

// Each item of a sequence into `out`, read by `read_one`; false with the exception set.
template <typename T, typename ReadOne>
bool read_each(PyObject* value, std::vector<T>* out, ReadOne read_one) {
    const Py_ssize_t count = PySequence_Size(value);
    if (count < 0) return false;
    for (Py_ssize_t k = 0; k < count; ++k) {
        Owned item(PySequence_GetItem(value, k));
        if (!item.get()) return false;
        out->emplace_back();
        if (!read_one(item.get(), &out->back())) return false;
    }
    return true;
}

bool read_fixed(PyObject* value, std::vector<std::string>* out) {
    return read_each(value, out, [](PyObject* id, std::string* text) { return text_of(id, text); });
}

// One (key, number) pair.
bool read_pair(PyObject* item, std::pair<std::string, double>* out) {
    Owned key(PySequence_GetItem(item, 0));
    Owned value(key.get() ? PySequence_GetItem(item, 1) : nullptr);
    if (!value.get()) return false;
    return text_of(key.get(), &out->first) && convert_double(value.get(), "cost", &out->second);
}

bool read_pairs(PyObject* value, std::vector<std::pair<std::string, double>>* out) {
    return read_each(value, out, read_pair);
}

// The cost model as [(key, number)] and [(shape, [(size key, price)])]; None for the default model.
bool read_cost(PyObject* values, PyObject* prices, design::Options* options) {
    if (values == Py_None && prices == Py_None) return true;
    options->cost_given = true;
    if (values != Py_None && !read_pairs(values, &options->cost_values)) return false;
    if (prices == Py_None) return true;
    const Py_ssize_t shapes = PySequence_Size(prices);
    if (shapes < 0) return false;
    for (Py_ssize_t s = 0; s < shapes; ++s) {
        Owned pair(PySequence_GetItem(prices, s));
        if (!pair.get()) return false;
        Owned name(PySequence_GetItem(pair.get(), 0));
        Owned sizes(name.get() ? PySequence_GetItem(pair.get(), 1) : nullptr);
        if (!sizes.get()) return false;
        options->cost_prices.emplace_back();
        if (!text_of(name.get(), &options->cost_prices.back().first)) return false;
        if (!read_pairs(sizes.get(), &options->cost_prices.back().second)) return false;
    }
    return true;
}

// {"option_error": message}: the package raises it as a bad option, which the
// command tells apart from a network that cannot be read.
std::string option_error_json(const std::string& message) {
    JsonWriter w(JsonWriter::Style::compact);
    w.begin_object();
    w.text("option_error", message);
    w.end_object();
    return w.take();
}

}  // namespace

PyObject* py_tools_design(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"text",         "format",       "catalogue",  "max_fill",
                                     "min_size",     "no_smaller_downstream",     "min_velocity",
                                     "max_velocity", "min_cover",    "min_freeboard", "fixed", "whole_network",
                                     "profile", "match", "min_drop", "max_drop", "min_slope", "max_slope",
                                     "min_full_velocity", "max_depth", "fixed_inverts",
                                     "objective", "cost_values", "cost_prices", "invert_step", nullptr};
        PyObject *text, *format, *catalogue, *max_fill, *min_size, *no_smaller, *min_velocity, *max_velocity,
            *min_cover, *min_freeboard, *fixed;
        int whole_network = 0;
        int profile = 0;
        PyObject *match = nullptr, *min_drop = nullptr, *max_drop = Py_None, *min_slope = Py_None,
                 *max_slope = Py_None, *min_full_velocity = Py_None, *max_depth = Py_None, *fixed_inverts = nullptr;
        PyObject *objective = nullptr, *cost_values = Py_None, *cost_prices = Py_None, *invert_step = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOOOOOOOO|ppOOOOOOOOOOOO:design", const_cast<char**>(names),
                                         &text, &format, &catalogue, &max_fill, &min_size, &no_smaller, &min_velocity,
                                         &max_velocity, &min_cover, &min_freeboard, &fixed, &whole_network, &profile,
                                         &match, &min_drop, &max_drop, &min_slope, &max_slope, &min_full_velocity,
                                         &max_depth, &fixed_inverts, &objective, &cost_values, &cost_prices,
                                         &invert_step))
            return nullptr;
        design::Options options;
        options.whole_network = whole_network != 0;
        if (!read_catalogue(catalogue, &options.catalogue)) return nullptr;
        if (!convert_double(max_fill, "max_fill", &options.max_fill)) return nullptr;
        if (!optional_double(min_size, "min_size", &options.min_size)) return nullptr;
        const int truth = PyObject_IsTrue(no_smaller);
        if (truth < 0) return nullptr;
        options.no_smaller_downstream = truth != 0;
        if (!optional_double(min_velocity, "min_velocity", &options.min_velocity)) return nullptr;
        if (!limit_or_default(max_velocity, "max_velocity", &options.max_velocity, &options.defaulted.max_velocity)) {
            return nullptr;
        }
        if (!optional_double(min_cover, "min_cover", &options.min_cover)) return nullptr;
        if (!optional_double(min_freeboard, "min_freeboard", &options.min_freeboard)) return nullptr;
        if (!read_fixed(fixed, &options.fixed)) return nullptr;
        options.profile = profile != 0;
        if (match && !text_of(match, &options.match)) return nullptr;
        if (min_drop && !convert_double(min_drop, "min_drop", &options.min_drop)) return nullptr;
        if (!optional_double(max_drop, "max_drop", &options.max_drop)) return nullptr;
        if (!limit_or_default(min_slope, "min_slope", &options.min_slope, &options.defaulted.min_slope)) return nullptr;
        if (!optional_double(max_slope, "max_slope", &options.max_slope)) return nullptr;
        if (!optional_double(min_full_velocity, "min_full_velocity", &options.min_full_velocity)) return nullptr;
        if (!limit_or_default(max_depth, "max_depth", &options.max_depth, &options.defaulted.max_depth)) return nullptr;
        if (fixed_inverts && !read_fixed(fixed_inverts, &options.fixed_inverts)) return nullptr;
        if (objective && !text_of(objective, &options.objective)) return nullptr;
        if (!read_cost(cost_values, cost_prices, &options)) return nullptr;
        if (invert_step && !convert_double(invert_step, "invert_step", &options.invert_step)) return nullptr;

        LoadedNetwork loaded;
        if (!load_source(text, format, "design", &loaded)) return nullptr;
        Utf8Text source;
        if (!convert_text(text, "design", "text", &source)) return nullptr;
        const design::Designed designed = design::design_network(loaded, source.view(), options);
        if (designed.json) return json_text(*designed.json);
        if (designed.failure.bad_option) return json_text(option_error_json(designed.failure.message));
        return raise_value_error(designed.failure.message);
    });
}

}  // namespace rillwright::python

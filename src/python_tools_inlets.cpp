// The companion's HEC-22 inlet calculators: gutter and inlet values in (US
// units; the package converts SI exactly and checks every argument), every
// intermediate value out as JSON text, computed by the functions the inlet pass uses.
#include <optional>
#include <string>
#include <utility>

#include "inlet_hydraulics.hpp"
#include "inlet_limits.hpp"
#include "inlet_pass.hpp"
#include "json_writer.hpp"
#include "python_tools.hpp"

namespace rillwright::python {

namespace {

using namespace rillwright::inlets;

void field(JsonWriter& w, const char* name, const std::optional<double>& value) {
    w.key(name);
    w.optional_number(value);
}

// The gutter's own Eo only for the gutter calculator: an inlet reports the Eo of
// its grate or depression under that key instead.
void gutter_fields(JsonWriter& w, const GutterFlow& f, bool with_eo) {
    const std::pair<const char*, double> fields[] = {
        {"q", f.q},   {"spread", f.spread}, {"depth", f.depth}, {"area", f.area}, {"velocity", f.velocity},
        {"sw", f.sw}, {"qw", f.qw},         {"qs", f.qs},       {"w_over_t", f.w_over_t},
    };
    for (const auto& [name, value] : fields) field(w, name, value);
    if (with_eo) field(w, "eo", f.eo);
}

// The inlet's text arguments and numbers, after the gutter's five and the flow.
bool read_inlet(PyObject* type_text, PyObject* grate_text, const char* function, Inlet& inlet) {
    Utf8Text type, grate;
    if (!convert_text(type_text, function, "type", &type) || !convert_text(grate_text, function, "grate", &grate))
        return false;
    const auto t = inlet_type_from_text(type.view());
    const auto g = grate_from_text(grate.view());
    if (!t || !g) {
        raise_value_error(!t ? "unknown inlet type" : "unknown grate");
        return false;
    }
    inlet.type = *t;
    inlet.grate = *g;
    return true;
}

#define RW_INLET_NAMES                                                                                     \
    "sx", "sl", "n", "w", "a", "q", "type", "grate", "splash_velocity", "open_area_ratio", "length",        \
        "grate_width", "curb_length", "opening_height", "local_depression", "local_depression_width", "clogging"

bool bind_inlet(PyObject* args, PyObject* kwargs, const char* format, const char* function, Gutter& g, Inlet& inlet,
                double& q) {
    const char* const names[] = {RW_INLET_NAMES, nullptr};
    PyObject *type, *grate;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), &g.sx, &g.sl, &g.n, &g.w, &g.a,
                                     &q, &type, &grate, &inlet.splash_velocity, &inlet.open_area_ratio, &inlet.length,
                                     &inlet.grate_width, &inlet.curb_length, &inlet.opening_height,
                                     &inlet.local_depression, &inlet.local_depression_width, &inlet.clogging))
        return false;
    return read_inlet(type, grate, function, inlet);
}

}  // namespace

std::string inlet_sheet_json(const InletPass& pass) {
    JsonWriter w(JsonWriter::Style::compact);
    w.begin_object();
    w.key("inlets");
    w.begin_array();
    for (const InletRow& r : pass.inlets) {
        w.element();
        w.begin_object();
        w.text("id", r.id);
        w.text("type", r.type);
        w.key("on_grade");
        w.boolean(r.on_grade);
        const std::pair<const char*, std::optional<double>> numbers[] = {
            {"own_q", r.own_q},           {"carryover_in", r.carryover_in},
            {"gutter_q", r.gutter_q},     {"spread", r.spread},
            {"depth", r.depth},           {"w_over_t", r.w_over_t},
            {"eo", r.eo},                 {"velocity", r.velocity},
            {"splash_velocity", r.splash_velocity}, {"rf", r.rf},
            {"rs", r.rs},                 {"lt", r.lt},
            {"efficiency", r.efficiency}, {"intercepted", r.intercepted},
            {"bypass", r.bypass}};
        for (const auto& [name, value] : numbers) field(w, name, value);
        w.key("bypass_to");
        w.optional_text(r.bypass_to);
        field(w, "spread_limit", r.spread_limit);
        w.key("spread_ok");
        if (r.spread_ok) {
            w.boolean(*r.spread_ok);
        } else {
            w.null();
        }
        w.end_object();
    }
    w.end_array();
    w.key("warnings");
    w.begin_array();
    for (const Finding& f : pass.warnings) {
        w.element();
        w.begin_object();
        w.text("code", f.code);
        w.text("id", f.id);
        w.text("message", f.message);
        w.end_object();
    }
    w.end_array();
    w.end_object();
    return w.take();
}

PyObject* py_tools_inlets(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        LoadedNetwork loaded;
        if (!bind_source(args, kwargs, "OO:inlets", "inlets", &loaded)) return nullptr;
        if (!loaded.project) return raise_value_error("the inlet pass needs a project (.rwproj); .rwn text has no inlets");
        Outcome<InletPass> pass = inlet_pass(*loaded.project);
        if (!pass.ok()) return raise_value_error(pass.error);
        Outcome<AnalysisResult> result = analyze_network(pass.value->network);
        if (!result.ok()) return raise_value_error(analysis_failed(result.error));
        return pair_of(json_text(inlet_sheet_json(*pass.value)), to_python(loaded.project->name, *result.value));
    });
}

PyObject* py_tools_gutter_flow(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        const char* const names[] = {"sx", "sl", "n", "w", "a", "q", "spread", nullptr};
        Gutter g;
        PyObject *q, *spread;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "dddddOO:gutter_flow", const_cast<char**>(names), &g.sx, &g.sl,
                                         &g.n, &g.w, &g.a, &q, &spread))
            return nullptr;
        double value = 0.0;
        const bool by_flow = q != Py_None;
        if (!convert_double(by_flow ? q : spread, by_flow ? "q" : "spread", &value)) return nullptr;
        const GutterFlow f = by_flow ? gutter_at_flow(g, value) : gutter_at_spread(g, value);
        if (const auto problem = by_flow ? gutter_flow_problem(g, value, f) : gutter_spread_problem(value, f))
            return raise_value_error(*problem);
        JsonWriter w(JsonWriter::Style::compact);
        w.begin_object();
        gutter_fields(w, f, true);
        w.end_object();
        return json_text(w.take());
    });
}

PyObject* py_tools_inlet_on_grade(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Gutter g;
        Inlet inlet;
        double q = 0.0;
        if (!bind_inlet(args, kwargs, "ddddddOOddddddddd:inlet_on_grade", "inlet_on_grade", g, inlet, q)) return nullptr;
        const OnGrade r = inlet_on_grade(g, inlet, q);
        if (const auto problem = on_grade_problem(g, q, r)) return raise_value_error(*problem);
        JsonWriter w(JsonWriter::Style::compact);
        w.begin_object();
        gutter_fields(w, r.gutter, false);
        field(w, "eo", r.eo);  // over the grate or depression
        field(w, "splash_velocity", r.vo);
        field(w, "rf", r.rf);
        field(w, "rs", r.rs);
        field(w, "lt", r.lt);
        field(w, "se", r.se);
        field(w, "curb_intercepted", r.curb_intercepted);
        field(w, "grate_intercepted", r.grate_intercepted);
        field(w, "efficiency", r.efficiency);
        field(w, "intercepted", r.intercepted);
        field(w, "bypass", r.bypass);
        w.end_object();
        return json_text(w.take());
    });
}

PyObject* py_tools_inlet_in_sag(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Gutter g;
        Inlet inlet;
        double q = 0.0;
        if (!bind_inlet(args, kwargs, "ddddddOOddddddddd:inlet_in_sag", "inlet_in_sag", g, inlet, q)) return nullptr;
        const InSag s = inlet_in_sag(g, inlet, q);
        if (const auto problem = sag_problem(g, inlet, q, s)) return raise_value_error(*problem);
        JsonWriter w(JsonWriter::Style::compact);
        w.begin_object();
        const std::pair<const char*, double> fields[] = {{"q", s.q},           {"depth", s.depth},
                                                         {"spread", s.spread}, {"weir_q", s.weir_q},
                                                         {"orifice_q", s.orifice_q}};
        for (const auto& [name, value] : fields) field(w, name, value);
        w.text("regime", s.regime);
        w.end_object();
        return json_text(w.take());
    });
}

}  // namespace rillwright::python

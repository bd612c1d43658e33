// The inlet pass in bypass order. Each inlet's own flow is the rational flow
// of its node's own area at its own inlet time; carry-over is summed in id
// order so the sheet does not depend on the order of nodes in the file.
#include "names.hpp"
#include "inlet_pass.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "inlet_limits.hpp"
#include "inlet_messages.hpp"
#include "network_passes.hpp"

namespace rillwright::inlets {

namespace {

constexpr double kMinGutterSlope = 0.003;  // HEC-22: 0.3 % minimum gutter grade

struct Model {
    Gutter gutter;
    Inlet inlet;
    bool sag = false;
    double sides = 1.0;  // gutters sharing the approach flow, each with this inlet
    std::optional<double> spread_limit;
};

Model model_of(const Project& project, const InletOverrides& d) {
    const bool si = project.units == UnitSystem::si;
    const double length = si ? kFeetPerMetre : 1.0;     // per file unit of the _ft keys
    const double small = si ? 1.0 / 304.8 : 1.0 / 12.0;  // ft per mm or in
    Model m;
    m.gutter.sx = d.cross_slope;
    m.gutter.sl = d.gutter_slope;
    m.gutter.n = d.gutter_n.value_or(0.016);
    m.gutter.w = d.gutter_width_ft ? *d.gutter_width_ft * length : 2.0;
    m.gutter.a = d.depression_in.value_or(0.0) * small;
    Inlet& i = m.inlet;
    i.type = d.type ? *inlet_type_from_text(*d.type) : d.grate_width_ft > 0.0 ? InletType::grate : InletType::curb;
    i.grate = d.grate ? *grate_from_text(*d.grate) : GrateKind::p50;
    i.splash_velocity = d.splash_velocity.value_or(0.0) * length;
    i.open_area_ratio = d.open_area_ratio.value_or(0.0);
    i.length = d.length_ft * length;
    i.grate_width = d.grate_width_ft * length;
    if (i.type == InletType::slotted && i.grate_width <= 0.0) i.grate_width = 1.75 / 12.0;
    i.curb_length = d.curb_length_ft.value_or(0.0) * length;
    i.opening_height = d.opening_height_in ? *d.opening_height_in * small : 0.5;
    i.local_depression = d.local_depression_in.value_or(0.0) * small;
    i.local_depression_width = d.local_depression_width_ft.value_or(0.0) * length;
    i.clogging = d.clogging.value_or(0.0);
    m.sag = d.sag;
    m.sides = d.sides.value_or(1);
    const std::optional<double> limit = d.spread_limit_ft ? d.spread_limit_ft : project.spread_limit_ft;
    if (limit) m.spread_limit = *limit * length;
    return m;
}

// The bypass order: an inlet after every inlet whose bypass it takes (Kahn's
// order; each inlet sends to at most one). What is left over lies on a loop.
Outcome<std::vector<std::size_t>> bypass_order(const std::vector<std::optional<std::size_t>>& to,
                                               const std::vector<bool>& modelled, const Project& project) {
    const std::size_t n = to.size();
    std::vector<std::size_t> waiting(n, 0), order;
    for (std::size_t v = 0; v < n; ++v)
        if (modelled[v] && to[v] && modelled[*to[v]]) ++waiting[*to[v]];
    for (std::size_t v = 0; v < n; ++v)
        if (modelled[v] && waiting[v] == 0) order.push_back(v);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t v = order[k];
        if (to[v] && modelled[*to[v]] && --waiting[*to[v]] == 0) order.push_back(*to[v]);
    }
    for (std::size_t v = 0; v < n; ++v) {
        if (!modelled[v] || waiting[v] == 0) continue;
        // v is on a loop or downstream of one; walk until a node repeats, then name the loop.
        std::vector<std::size_t> seen(n, n);
        std::size_t u = v;
        for (std::size_t step = 0; seen[u] == n; ++step) {
            seen[u] = step;
            u = *to[u];
        }
        std::vector<std::string> ids{project.nodes[u].id};
        for (std::size_t w = *to[u]; w != u; w = *to[w]) ids.push_back(project.nodes[w].id);
        ids.push_back(project.nodes[u].id);
        return Outcome<std::vector<std::size_t>>::failure(message::bypass_loop(ids));
    }
    return Outcome<std::vector<std::size_t>>::success(std::move(order));
}

// What an inlet model needs beyond what the reader checks.
std::optional<std::string> model_problem(const ProjectNode& node) {
    const InletOverrides& d = node.inlet;
    if (!(d.cross_slope > 0.0)) return message::needs(node.id, "cross_slope", "greater than 0");
    if (!d.sag && !(d.gutter_slope > 0.0)) return message::needs(node.id, "gutter_slope", "greater than 0 on grade");
    const InletType type = d.type ? *inlet_type_from_text(*d.type) : d.grate_width_ft > 0.0 ? InletType::grate
                                                                                              : InletType::curb;
    if ((type == InletType::grate || type == InletType::combination) && !(d.grate_width_ft > 0.0))
        return message::needs(node.id, "grate_width_ft", "greater than 0 for a grate");
    if (d.grate && *d.grate == "generic" && (!d.splash_velocity || !d.open_area_ratio))
        return message::needs(node.id, "splash_velocity", "and open_area_ratio for a generic grate");
    return std::nullopt;
}

void fill_on_grade(InletRow& row, const OnGrade& r, double sides) {
    row.spread = r.gutter.spread;
    row.depth = r.gutter.depth;
    row.w_over_t = r.gutter.w_over_t;
    row.velocity = r.gutter.velocity;
    row.eo = r.eo;
    row.splash_velocity = r.vo;
    row.rf = r.rf;
    row.rs = r.rs;
    row.lt = r.lt;
    row.efficiency = r.efficiency;
    row.intercepted = r.intercepted * sides;
    row.bypass = r.bypass * sides;
}

}  // namespace

Outcome<InletPass> inlet_pass(const Project& project) {
    InletPass pass;
    pass.network = convert_project(project);
    Network& net = pass.network;
    const std::size_t n = project.nodes.size();
    std::map<std::string_view, std::size_t> index;
    for (std::size_t v = 0; v < n; ++v) index.emplace(project.nodes[v].id, v);  // the first of a repeated id

    std::vector<bool> modelled(n, false);
    std::vector<std::optional<std::size_t>> to(n);
    for (std::size_t v = 0; v < n; ++v) {
        const ProjectNode& node = project.nodes[v];
        modelled[v] = node.inlet.length_ft > 0.0 && net.nodes[v].kind != NodeKind::Outfall;
        if (modelled[v]) {
            if (const auto problem = model_problem(node)) return Outcome<InletPass>::failure(*problem);
        }
        if (!node.bypass_to) continue;
        const auto found = index.find(*node.bypass_to);
        if (found == index.end())
            return Outcome<InletPass>::failure(message::unknown_bypass_target(node.id, *node.bypass_to));
        to[v] = found->second;
    }
    Outcome<std::vector<std::size_t>> order = bypass_order(to, modelled, project);
    if (!order.ok()) return Outcome<InletPass>::failure(order.error);

    const double ff = net.settings.frequency_factor;
    const auto own_ca = [&](std::size_t v) { return std::fmin(net.nodes[v].c * ff, 1.0) * net.nodes[v].area_ac; };
    const auto own_rainfall = [&](std::size_t v) {
        return node_rainfall(net, max_of_numbers(net.nodes[v].tc_inlet, net.settings.min_tc));
    };
    std::vector<std::vector<std::pair<std::string_view, double>>> carried(n);  // (from id, q) sent to each node
    std::vector<std::optional<InletRow>> rows(n);
    for (const std::size_t v : *order.value) {
        const ProjectNode& node = project.nodes[v];
        const Model m = model_of(project, node.inlet);
        InletRow row;
        row.id = node.id;
        row.type = std::string(kInletTypeNames[static_cast<std::size_t>(m.inlet.type)]);
        row.on_grade = !m.sag;
        row.own_q = own_ca(v) * own_rainfall(v);
        std::sort(carried[v].begin(), carried[v].end());
        for (const auto& [from, q] : carried[v]) row.carryover_in += q;
        row.gutter_q = row.own_q + row.carryover_in;
        // A two-sided street: each gutter carries half the flow to its own inlet; the
        // spread and depth are one gutter's, the flows the node's sums.
        const double side_q = row.gutter_q / m.sides;
        if (m.sag) {
            const InSag s = inlet_in_sag(m.gutter, m.inlet, side_q);
            if (const auto problem = sag_problem(m.gutter, m.inlet, side_q, s))
                return Outcome<InletPass>::failure(message::at_inlet(row.id, *problem));
            row.spread = s.spread;
            row.depth = s.depth;
            row.efficiency = 1.0;
            row.intercepted = row.gutter_q;
        } else {
            const OnGrade r = inlet_on_grade(m.gutter, m.inlet, side_q);
            if (const auto problem = on_grade_problem(m.gutter, side_q, r))
                return Outcome<InletPass>::failure(message::at_inlet(row.id, *problem));
            fill_on_grade(row, r, m.sides);
            if (m.gutter.sl < kMinGutterSlope)
                pass.warnings.push_back({"flat_gutter", row.id, message::flat_gutter(row.id, m.gutter.sl)});
        }
        if (row.bypass > 0.0) {
            if (to[v]) {
                row.bypass_to = project.nodes[*to[v]].id;
                carried[*to[v]].emplace_back(node.id, row.bypass);
            }
            if (!to[v] || net.nodes[*to[v]].kind == NodeKind::Outfall)
                pass.warnings.push_back({"bypass_leaves", row.id,
                                         message::bypass_leaves(row.id, row.bypass, row.bypass_to.value_or(""))});
        } else if (to[v]) {
            row.bypass_to = project.nodes[*to[v]].id;
        }
        if (m.spread_limit) {
            row.spread_limit = m.spread_limit;
            row.spread_ok = row.spread <= *m.spread_limit;
            if (!*row.spread_ok)
                pass.warnings.push_back({"spread", row.id, message::over_spread_limit(row.id, row.spread, *m.spread_limit)});
        }
        const bool has_opening = m.inlet.type == InletType::curb || m.inlet.type == InletType::combination;
        const double lip = row.depth + m.inlet.local_depression;
        if (has_opening && lip > m.inlet.opening_height)
            pass.warnings.push_back({"depth", row.id, message::depth_above_opening(row.id, lip, m.inlet.opening_height)});
        rows[v] = std::move(row);
    }

    // The pipes take what each inlet intercepts, as the C·A that gives it at the
    // inlet's own time; a node without an inlet model takes its runoff and any
    // bypass sent to it whole (an outfall lets it leave).
    for (std::size_t v = 0; v < n; ++v) {
        Node& node = net.nodes[v];
        double q = rows[v] ? rows[v]->intercepted : 0.0;
        if (!rows[v] && carried[v].empty()) continue;
        if (!rows[v]) {
            std::sort(carried[v].begin(), carried[v].end());
            q = own_ca(v) * own_rainfall(v);
            for (const auto& [from, carried_q] : carried[v]) q += carried_q;
        }
        if (node.kind == NodeKind::Outfall) continue;
        const double rainfall = own_rainfall(v);
        node.area_ac = rainfall > 0.0 ? q / rainfall : 0.0;
        node.c = 1.0;  // the frequency factor is at least 1, so C·A is the area
    }
    for (std::optional<InletRow>& row : rows)
        if (row) pass.inlets.push_back(std::move(*row));
    return Outcome<InletPass>::success(std::move(pass));
}

}  // namespace rillwright::inlets

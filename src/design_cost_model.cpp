// The cost model: its keys and defaults, the prices of the catalogue's sizes,
// and the cost of a designed network. Internally every figure is per foot and
// per cubic foot; an SI model (per m, per m3, m) is converted once here.
//
// The defaults are round order-of-magnitude US figures, for comparing designs
// when the user gives none (they should give their own):
// - pipe: 3.0 per ft per inch of the pipe's equivalent diameter (installed
//   reinforced concrete pipe runs a few dollars per inch-diameter per foot in
//   US unit-price bid tabulations; a 24 in pipe 72 per ft);
// - excavation: 1.0 per cu ft (about 27 per cu yd for trench excavation,
//   bedding and backfill);
// - trench side: 1.0 ft of working room on each side of the pipe;
// - structures: 3000 each plus 300 per ft of depth (a precast manhole or inlet).
#include <cmath>
#include <cstdlib>
#include <limits>

#include "design_cost.hpp"
#include "design_cost_messages.hpp"

namespace rillwright::design {

namespace {

constexpr double kDefaultPricePerInchFt = 3.0;
constexpr double kDefaultExcavationPerCuft = 1.0;
constexpr double kDefaultTrenchSideFt = 1.0;
constexpr double kDefaultStructureEach = 3000.0;
constexpr double kDefaultStructurePerFt = 300.0;
constexpr double kFootMetres = 0.3048;        // exact, by definition of the foot
constexpr double kInchMillimetres = 25.4;     // exact
constexpr double kSameInches = 1e-6;          // a US size key names a catalogue size to a millionth of an inch
constexpr double kSameMillimetres = 0.5;      // an SI key names it to the nearest millimetre
constexpr double kInchesPerFoot = 12.0;

double default_price(double equivalent_diameter_ft) {
    return kDefaultPricePerInchFt * equivalent_diameter_ft * kInchesPerFoot;
}

struct SizeKey {
    double rise = 0.0;
    double span = 0.0;
};

// "15" or "24x36" (spaces allowed around the x), or nothing.
std::optional<SizeKey> parse_size_key(const std::string& text, bool circular) {
    const auto number_at = [](const char* start, const char** end) -> std::optional<double> {
        while (*start == ' ') ++start;
        char* stop = nullptr;
        const double value = std::strtod(start, &stop);
        if (stop == start || !std::isfinite(value) || !(value > 0.0)) return std::nullopt;
        while (*stop == ' ') ++stop;
        *end = stop;
        return value;
    };
    const char* end = nullptr;
    const std::optional<double> rise = number_at(text.c_str(), &end);
    if (!rise) return std::nullopt;
    if (circular) {
        if (*end != '\0') return std::nullopt;
        return SizeKey{*rise, *rise};
    }
    if (*end != 'x' && *end != 'X') return std::nullopt;
    const std::optional<double> span = number_at(end + 1, &end);
    if (!span || *end != '\0') return std::nullopt;
    return SizeKey{*rise, *span};
}

bool names_size(const SizeKey& key, double rise_in, double span_in, bool si) {
    if (si) {
        return std::fabs(key.rise - rise_in * kInchMillimetres) <= kSameMillimetres &&
               std::fabs(key.span - span_in * kInchMillimetres) <= kSameMillimetres;
    }
    return std::fabs(key.rise - rise_in) <= kSameInches && std::fabs(key.span - span_in) <= kSameInches;
}

std::optional<std::size_t> shape_of(std::string_view name) {
    for (std::size_t s = 0; s < kShapeNames.size(); ++s) {
        if (kShapeNames[s] == name) return s;
    }
    return std::nullopt;
}

std::string size_words(std::size_t shape, double rise_in, double span_in, bool si) {
    if (si) {
        const double rise = std::round(rise_in * kInchMillimetres), span = std::round(span_in * kInchMillimetres);
        return shape == 0 ? messages::number(rise) + " mm" : messages::number(rise) + " x " + messages::number(span) + " mm";
    }
    return messages::size_text(shape == 0, rise_in, span_in);
}

// A pipe's size in inches as the catalogue states sizes: rise and span in ft x 12.
std::pair<double, double> inches_of(const PipeShape& shape) {
    return {shape_rise(shape) * kInchesPerFoot, section_span(shape) * kInchesPerFoot};
}

}  // namespace

double section_span(const PipeShape& shape) {
    return std::visit([](const auto& s) {
        if constexpr (std::is_same_v<std::decay_t<decltype(s)>, Circular>) {
            return s.diameter;
        } else {
            return s.span;
        }
    }, shape);
}

Outcome<CostModel> cost_model(const Options& options, const SizeTables& tables, const std::vector<Role>& roles,
                              const Network& network, LengthUnit unit) {
    using Result = Outcome<CostModel>;
    const bool si = unit == LengthUnit::project_metres;
    CostModel model;
    model.excavation_per_cuft = kDefaultExcavationPerCuft;
    model.trench_side_ft = kDefaultTrenchSideFt;
    model.structure_each = kDefaultStructureEach;
    model.structure_per_ft = kDefaultStructurePerFt;
    for (const auto& [key, value] : options.cost_values) {
        if (!(std::isfinite(value) && value >= 0.0)) return Result::failure(messages::bad_cost_value(key, value));
        if (key == (si ? "pipe_per_m" : "pipe_per_ft")) {
            continue;  // the prices themselves come in cost_prices
        } else if (key == "structure_each") {
            model.structure_each = value;
        } else if (key == (si ? "excavation_per_m3" : "excavation_per_cuft")) {
            model.excavation_per_cuft = si ? value * (kFootMetres * kFootMetres * kFootMetres) : value;
        } else if (key == (si ? "trench_side_m" : "trench_side_ft")) {
            model.trench_side_ft = si ? value / kFootMetres : value;
        } else if (key == (si ? "structure_per_m" : "structure_per_ft")) {
            model.structure_per_ft = si ? value * kFootMetres : value;
        } else {
            return Result::failure(messages::unknown_cost_key(key, si));
        }
    }

    // The pipe prices: by rule without a table, else every size of a shape some pipe is sized in.
    std::array<bool, 4> used{};
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        if (roles[p] == Role::sized) used[network.pipes[p].shape.index()] = true;
    }
    std::array<std::vector<std::pair<SizeKey, double>>, 4> priced;
    for (const auto& [shape_name, prices] : options.cost_prices) {
        const std::optional<std::size_t> shape = shape_of(shape_name);
        if (!shape) return Result::failure(messages::unknown_price_shape(shape_name));
        for (const auto& [size, price] : prices) {
            const std::optional<SizeKey> key = parse_size_key(size, *shape == 0);
            if (!key) return Result::failure(messages::bad_size_key(shape_name, size, *shape == 0));
            if (!(std::isfinite(price) && price >= 0.0)) return Result::failure(messages::bad_price(shape_name, size, price));
            priced[*shape].push_back({*key, si ? price * kFootMetres : price});
        }
    }
    const bool by_rule = !options.cost_given || options.cost_prices.empty();
    // The price of a size in inches, or NaN; the message when it is priced twice.
    const auto price_of = [&](std::size_t shape, double rise_in, double span_in, std::string* twice) {
        double found = std::numeric_limits<double>::quiet_NaN();
        for (const auto& [key, price] : priced[shape]) {
            if (!names_size(key, rise_in, span_in, si)) continue;
            if (!std::isnan(found)) *twice = messages::priced_twice(kShapeNames[shape], size_words(shape, rise_in, span_in, si));
            found = price;
        }
        return found;
    };
    std::string twice;
    for (std::size_t shape = 0; shape < 4; ++shape) {
        for (const CatalogueSize& size : tables.shapes[shape]) {
            double price = by_rule ? default_price(size.diameter) : price_of(shape, size.rise_in, size.span_in, &twice);
            if (!twice.empty()) return Result::failure(twice);
            if (std::isnan(price) && used[shape]) {
                return Result::failure(messages::unpriced_size(kShapeNames[shape],
                                                               size_words(shape, size.rise_in, size.span_in, si), si));
            }
            model.price_per_ft[shape].push_back(price);
        }
    }
    model.kept_price_per_ft.assign(network.pipes.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        if (roles[p] == Role::sized) continue;
        const Pipe& pipe = network.pipes[p];
        const std::size_t shape = pipe.shape.index();
        const auto [rise_in, span_in] = inches_of(pipe.shape);
        const double price = by_rule ? default_price(pipe.diameter) : price_of(shape, rise_in, span_in, &twice);
        if (!twice.empty()) return Result::failure(twice);
        if (std::isnan(price)) {
            return Result::failure(messages::unpriced_kept(pipe.id, kShapeNames[shape],
                                                           size_words(shape, rise_in, span_in, si), si));
        }
        model.kept_price_per_ft[p] = price;
    }
    return Result::success(std::move(model));
}

CostSummary design_cost(const CostModel& model, const Network& network, const Topology& topology,
                        const std::vector<PipeChoice>& choices, const SizeTables& tables) {
    CostSummary summary;
    summary.pipe_costs.reserve(network.pipes.size());
    std::vector<double> lowest(network.nodes.size());
    for (std::size_t v = 0; v < lowest.size(); ++v) lowest[v] = network.nodes[v].invert;
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        const Pipe& pipe = network.pipes[p];
        const auto [from, to] = topology.pipe_ends[p];
        const PipeInverts inverts = pipe_inverts(network, topology, p);
        lowest[from] = std::fmin(lowest[from], inverts.up);
        lowest[to] = std::fmin(lowest[to], inverts.down);
        const int step = choices[p].step;
        const double price = step < 0 ? model.kept_price_per_ft[p]
                                      : model.price_per_ft[pipe.shape.index()][static_cast<std::size_t>(step)];
        const double material = pipe.length * price;
        const double trench = trench_volume(model, pipe.length, section_span(pipe.shape),
                                            network.nodes[from].rim - inverts.up, network.nodes[to].rim - inverts.down);
        const double excavation = model.excavation_per_cuft * trench;
        summary.pipes += material;
        summary.excavation += excavation;
        summary.pipe_costs.push_back(material + excavation);
    }
    for (std::size_t v = 0; v < network.nodes.size(); ++v) {
        const Node& node = network.nodes[v];
        if (node.kind == NodeKind::Outfall) continue;
        summary.structures += structure_cost(model, node.rim - lowest[v]);
    }
    summary.total = summary.pipes + summary.excavation + summary.structures;
    (void)tables;
    return summary;
}

}  // namespace rillwright::design

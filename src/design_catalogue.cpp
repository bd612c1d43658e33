// The catalogue: the default sizes, the checks of a given catalogue and of the
// other options, and each size as the network will read it back from the
// sized text (inches to feet, or to metres that the project reader converts).
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "design.hpp"
#include "design_messages.hpp"
#include "project.hpp"

namespace rillwright::design {

namespace {

constexpr std::size_t kCircular = 0;
constexpr double kInchesPerFoot = 12.0;

// Nominal sizes in inches; each list is in order of full area.
constexpr double kCircularSizes[] = {12, 15, 18, 21, 24, 27, 30, 33, 36, 42, 48, 54, 60,
                                     66, 72, 78, 84, 90, 96, 102, 108, 114, 120, 132, 144};
constexpr double kEllipticalSizes[][2] = {
    {14, 23}, {19, 30}, {22, 34}, {24, 38}, {27, 42}, {29, 45}, {32, 49}, {34, 53},
    {38, 60}, {43, 68}, {48, 76}, {53, 83}, {58, 91}, {63, 98}, {68, 106}, {72, 113},
    {77, 121}, {82, 128}, {87, 136}, {92, 143}, {97, 151}, {106, 166}, {116, 180}};
constexpr double kArchSizes[][2] = {
    {11, 18},         {13.5, 22},      {15.5, 26},     {18, 28.5},     {22.5, 36.25},  {26.625, 43.75},
    {31.3125, 51.125}, {36, 58.5},      {40, 65},       {45, 73},       {54, 88},       {62, 102},
    {72, 115},         {77.25, 122},    {87.125, 138},  {96.875, 154},  {106.5, 168.75}};
constexpr int kBoxSmallestRiseFt = 2;
constexpr int kBoxSmallestSpanFt = 3;
constexpr int kBoxLargestFt = 12;

// A size in inches as a section, for ordering by full area.
PipeShape inch_shape(std::size_t shape, double rise, double span) {
    switch (shape) {
        case 0: return Circular{rise};
        case 1: return Box{rise, span};
        case 2: return Elliptical{rise, span};
        default: return Arch{rise, span};
    }
}

double full_area_in(std::size_t shape, const std::vector<double>& size) {
    return full_area(inch_shape(shape, size[0], size.back()));
}

std::vector<CatalogueEntry> default_catalogue() {
    std::vector<CatalogueEntry> catalogue(4);
    for (std::size_t s = 0; s < 4; ++s) catalogue[s].shape = std::string(kShapeNames[s]);
    for (const double d : kCircularSizes) catalogue[0].sizes.push_back({d});
    // Whole feet, by full area; of equal areas the shallower box first.
    for (int rise = kBoxSmallestRiseFt; rise <= kBoxLargestFt; ++rise) {
        for (int span = std::max(rise, kBoxSmallestSpanFt); span <= kBoxLargestFt; ++span) {
            catalogue[1].sizes.push_back({rise * kInchesPerFoot, span * kInchesPerFoot});
        }
    }
    std::stable_sort(catalogue[1].sizes.begin(), catalogue[1].sizes.end(),
                     [](const std::vector<double>& a, const std::vector<double>& b) {
                         const double area_a = a[0] * a[1], area_b = b[0] * b[1];
                         return area_a < area_b || (area_a == area_b && a[0] < b[0]);
                     });
    for (const auto& size : kEllipticalSizes) catalogue[2].sizes.push_back({size[0], size[1]});
    for (const auto& size : kArchSizes) catalogue[3].sizes.push_back({size[0], size[1]});
    return catalogue;
}

std::optional<std::size_t> shape_number(std::string_view name) {
    for (std::size_t s = 0; s < kShapeNames.size(); ++s) {
        if (kShapeNames[s] == name) return s;
    }
    return std::nullopt;
}

std::string size_text_in(std::size_t shape, const std::vector<double>& size) {
    return messages::size_text(shape == kCircular, size[0], size.back());
}

std::optional<std::string> check_entry(const CatalogueEntry& entry, std::size_t shape) {
    if (entry.sizes.empty()) return messages::empty_catalogue(entry.shape);
    const std::size_t count = shape == kCircular ? 1 : 2;
    for (std::size_t k = 0; k < entry.sizes.size(); ++k) {
        const std::vector<double>& size = entry.sizes[k];
        if (size.size() != count) return messages::size_form(entry.shape, k + 1, shape == kCircular);
        for (const double value : size) {
            if (!(std::isfinite(value) && value > 0.0)) return messages::size_not_positive(entry.shape, k + 1);
        }
        if (k == 0) continue;
        const std::vector<double>& before = entry.sizes[k - 1];
        if (full_area_in(shape, size) < full_area_in(shape, before)) {
            return messages::not_sorted(entry.shape, k + 1, size_text_in(shape, size), size_text_in(shape, before));
        }
    }
    // Equal areas may stand in either order, so a repeat need not be adjacent.
    for (std::size_t k = 1; k < entry.sizes.size(); ++k) {
        for (std::size_t j = 0; j < k; ++j) {
            if (entry.sizes[j] == entry.sizes[k]) return messages::listed_twice(entry.shape, size_text_in(shape, entry.sizes[k]));
        }
    }
    return std::nullopt;
}

// The pipe the reader of the sized text builds from a written size: the
// constructor for .rwn text, the project converter itself for a project, so
// that the doubles designed with are the doubles read back.
Pipe read_back(std::size_t shape, double rise, double span, LengthUnit unit) {
    if (unit == LengthUnit::rwn_feet) {
        switch (shape) {
            case 0: return make_circular_pipe("", "", "", 0.0, rise, 0.0);
            case 1: return make_box_pipe("", "", "", 0.0, rise, span, 0.0);
            case 2: return make_elliptical_pipe("", "", "", 0.0, rise, span, 0.0);
            default: return make_arch_pipe("", "", "", 0.0, rise, span, 0.0);
        }
    }
    Project project;
    project.units = unit == LengthUnit::project_metres ? UnitSystem::si : UnitSystem::us_customary;
    ProjectPipe pipe;
    pipe.shape = std::string(kShapeNames[shape]);
    if (shape == kCircular) {
        pipe.diameter = rise;
    } else {
        pipe.rise_ft = rise;
        pipe.span_ft = span;
    }
    project.pipes.push_back(std::move(pipe));
    return convert_project(project).pipes.front();
}

// Inches in the length unit of the sized text. in * 254 is exact for nominal
// sizes (a few binary digits), so their metres are the nearest double to the
// exact value: 12 in is written 0.3048, not 0.30479999999999996.
double written_length(double inches, LengthUnit unit) {
    if (unit == LengthUnit::project_metres) return inches * 254.0 / 10000.0;
    return inches / kInchesPerFoot;
}

CatalogueSize ready_size(std::size_t shape, const std::vector<double>& size, LengthUnit unit) {
    CatalogueSize ready;
    ready.rise_in = size[0];
    ready.span_in = size.back();
    ready.written_rise = written_length(ready.rise_in, unit);
    ready.written_span = written_length(ready.span_in, unit);
    const Pipe pipe = read_back(shape, ready.written_rise, ready.written_span, unit);
    ready.shape = pipe.shape;
    ready.diameter = pipe.diameter;
    ready.full = full_section(pipe.shape);
    return ready;
}

}  // namespace

Outcome<SizeTables> size_tables(const Options& options, LengthUnit unit) {
    const std::vector<CatalogueEntry> catalogue = options.catalogue ? *options.catalogue : default_catalogue();
    SizeTables tables;
    for (const CatalogueEntry& entry : catalogue) {
        const std::optional<std::size_t> shape = shape_number(entry.shape);
        if (!shape) return Outcome<SizeTables>::failure(messages::unknown_shape(entry.shape));
        if (auto problem = check_entry(entry, *shape)) return Outcome<SizeTables>::failure(std::move(*problem));
        std::vector<CatalogueSize>& sizes = tables.shapes[*shape];
        sizes.clear();  // a shape given twice: the later list counts
        for (const std::vector<double>& size : entry.sizes) sizes.push_back(ready_size(*shape, size, unit));
        tables.listed[*shape] = true;
    }
    return Outcome<SizeTables>::success(std::move(tables));
}

std::optional<std::string> check_limits(const Options& options, const Network& network) {
    if (!(options.max_fill > 0.0 && options.max_fill <= 1.0)) return messages::bad_max_fill(options.max_fill);
    const std::pair<const char*, const std::optional<double>*> limits[] = {
        {"min_size", &options.min_size},       {"min_velocity", &options.min_velocity},
        {"max_velocity", &options.max_velocity}, {"min_cover", &options.min_cover},
        {"min_freeboard", &options.min_freeboard}, {"max_drop", &options.max_drop},
        {"min_slope", &options.min_slope},     {"max_slope", &options.max_slope},
        {"min_full_velocity", &options.min_full_velocity}, {"max_depth", &options.max_depth}};
    for (const auto& [name, limit] : limits) {
        if (*limit && !(std::isfinite(**limit) && **limit >= 0.0)) return messages::bad_limit(name, **limit);
    }
    if (!(std::isfinite(options.min_drop) && options.min_drop >= 0.0)) return messages::bad_limit("min_drop", options.min_drop);
    if (options.match != "crown" && options.match != "0.8" && options.match != "invert") {
        return messages::unknown_match(options.match);
    }
    if (options.min_slope && options.max_slope && *options.min_slope > *options.max_slope) {
        return messages::slope_limits_crossed(*options.min_slope, *options.max_slope);
    }
    if (!options.fixed_inverts.empty()) {
        std::unordered_set<std::string_view> ids;
        for (const Node& node : network.nodes) ids.insert(node.id);
        for (const std::string& id : options.fixed_inverts) {
            if (!ids.count(id)) return messages::unknown_fixed_structure(id);
        }
    }
    if (options.min_velocity && options.max_velocity && *options.min_velocity > *options.max_velocity) {
        return messages::velocity_limits_crossed(*options.min_velocity, *options.max_velocity);
    }
    if (!options.fixed.empty()) {
        std::unordered_set<std::string_view> ids;
        ids.reserve(network.pipes.size());
        for (const Pipe& pipe : network.pipes) ids.insert(pipe.id);
        for (const std::string& id : options.fixed) {
            if (!ids.count(id)) return messages::unknown_fixed(id);
        }
    }
    return std::nullopt;
}

}  // namespace rillwright::design

// The profile of one pipe for one candidate size: its upstream invert as high
// as the cover and the structure's rules allow, then the steepest slope of the
// cover, min_slope, min_full_velocity and capacity, kept within max_slope by
// lowering the pipe as a whole. Every invert is a level the sized text reads
// back, and every rule is judged on those levels with the analysis' own slope,
// so the analysis of the sized text meets exactly what the design met.
#include <cmath>
#include <limits>

#include "design.hpp"
#include "hydraulics.hpp"
#include "project.hpp"

namespace rillwright::design {

namespace {

constexpr double kLowest = -std::numeric_limits<double>::infinity();

double feet_of(double written, LengthUnit unit) {
    return unit == LengthUnit::project_metres ? project_length_feet(written, UnitSystem::si) : written;
}

// The highest level at or below `limit` for which `ok` holds, searched
// downward in doubling steps from `start` (a level at or below `limit`).
template <class Ok>
std::optional<Level> highest_meeting(Level start, LengthUnit unit, Ok ok) {
    Level level = start;
    double step = std::fabs(std::nextafter(level.feet, kLowest) - level.feet);
    // Doubling steps cover any finite gap in at most about two thousand tries.
    for (int tries = 0; tries < 2100; ++tries) {
        if (ok(level.feet)) return level;
        if (!std::isfinite(step) || step == 0.0) break;
        level = readable_at_most(start.feet - step, unit);
        step *= 2.0;
    }
    return std::nullopt;
}

struct Criteria {
    double q = 0.0;
    double n = 0.0;
    const FullSection* full = nullptr;
    const Options* options = nullptr;
};

}  // namespace

double match_fraction(const std::string& match) {
    if (match == "0.8") return 0.8;
    if (match == "invert") return 0.0;
    return 1.0;
}

const char* slope_governor_name(SlopeGovernor governor) {
    switch (governor) {
        case SlopeGovernor::cover: return "cover";
        case SlopeGovernor::minimum_slope: return "minimum slope";
        case SlopeGovernor::minimum_velocity: return "minimum velocity";
        case SlopeGovernor::capacity: return "capacity";
        case SlopeGovernor::maximum_slope: return "maximum slope";
        case SlopeGovernor::fixed: return "fixed";
        case SlopeGovernor::least_cost: return "least cost";
    }
    return "";
}

Level readable_at_most(double feet, LengthUnit unit) {
    if (unit != LengthUnit::project_metres) return Level{feet, feet};
    double written = feet / project_length_feet(1.0, UnitSystem::si);
    while (feet_of(written, unit) > feet) written = std::nextafter(written, kLowest);
    for (double up = std::nextafter(written, -kLowest); feet_of(up, unit) <= feet; up = std::nextafter(up, -kLowest)) {
        written = up;
    }
    return Level{feet_of(written, unit), written};
}

ProfileCandidate profile_candidate(Network& network, const Topology& topology, const SizingPlan& plan,
                                   std::size_t p, const CatalogueSize* size, double q) {
    const Options& options = plan.options;
    Pipe& pipe = network.pipes[p];
    if (size) {
        pipe.shape = size->shape;
        pipe.diameter = size->diameter;
    }
    const FullSection full = size ? size->full : full_section(pipe.shape);
    const double rise = shape_rise(pipe.shape);
    const double cover = options.min_cover.value_or(kDefaultProfileCover);
    const double m = match_fraction(options.match);
    // Plain names, not a structured binding: the lambdas below capture them.
    const std::size_t from = topology.pipe_ends[p].first;
    const std::size_t to = topology.pipe_ends[p].second;
    const Node& up_node = network.nodes[from];
    const Node& dn_node = network.nodes[to];
    const LengthUnit unit = plan.unit;

    // The upstream end: the cover, the match with and the drop from every entering pipe.
    const auto up_ok = [&](double up) {
        if (!(up_node.rim - (up + rise) >= cover)) return false;
        for (const PipeLink& in : topology.incoming[from]) {
            const Pipe& entering = network.pipes[in.pipe];
            const double dn_in = *entering.invert_dn;
            if (!(up <= dn_in + m * shape_rise(entering.shape) - m * rise)) return false;
            if (!(up <= dn_in - options.min_drop)) return false;
        }
        return true;
    };
    ProfileCandidate c;
    if (plan.fixed_nodes[from]) {
        c.up = readable_at_most(up_node.invert, unit);
    } else {
        double limit = up_node.rim - cover - rise;
        for (const PipeLink& in : topology.incoming[from]) {
            const Pipe& entering = network.pipes[in.pipe];
            const double dn_in = *entering.invert_dn;
            limit = std::fmin(limit, std::fmin(dn_in + m * shape_rise(entering.shape) - m * rise, dn_in - options.min_drop));
        }
        const Level start = readable_at_most(limit, unit);
        c.up = highest_meeting(start, unit, up_ok).value_or(start);
    }

    const auto slopes = [&](double up, double dn) {
        pipe.invert_up = up;
        pipe.invert_dn = dn;
        return pipe_slopes(network, topology, p);
    };
    const auto meets = [&](double up, double dn) {
        const PipeSlopes s = slopes(up, dn);
        const double capacity = full_capacity(pipe.n, full, s.used_slope);
        if (!(q <= options.max_fill * capacity)) return false;
        if (options.min_full_velocity && !(capacity / full.area >= *options.min_full_velocity)) return false;
        return !options.min_slope || s.slope >= *options.min_slope;
    };
    const auto within_max = [&](double up, double dn) {
        return !options.max_slope || slopes(up, dn).slope <= *options.max_slope;
    };

    if (plan.fixed_nodes[to] && dn_node.kind != NodeKind::Outfall) {
        c.dn = readable_at_most(dn_node.invert, unit);
        c.governed = SlopeGovernor::fixed;
        c.allowed = meets(c.up.feet, c.dn.feet);
        slopes(c.up.feet, c.dn.feet);
        return c;
    }
    const auto cover_ok = [&](double dn) { return dn_node.rim - (dn + rise) >= cover; };
    const Level cover_start = readable_at_most(dn_node.rim - cover - rise, unit);
    const Level dn_cover = highest_meeting(cover_start, unit, cover_ok).value_or(cover_start);

    if (meets(c.up.feet, dn_cover.feet)) {
        c.dn = dn_cover;
        c.governed = SlopeGovernor::cover;
        c.allowed = true;
        if (!within_max(c.up.feet, c.dn.feet)) {
            // Lowered as a whole to the cover at max_slope: a drop at its upstream structure.
            const double length = pipe.length;
            const Level start = readable_at_most(c.dn.feet + *options.max_slope * length, unit);
            c.up = highest_meeting(start, unit, [&](double up) { return within_max(up, c.dn.feet); }).value_or(start);
            c.governed = SlopeGovernor::maximum_slope;
            c.allowed = meets(c.up.feet, c.dn.feet);
        }
    } else {
        // The steepest of the other three, each from its closed form, then
        // lowered until the criteria hold on the levels read back.
        const double conveyance = kManningUs / pipe.n * std::pow(full.hydraulic_radius, 2.0 / 3.0);
        double needed = q / (options.max_fill * conveyance * full.area);
        needed *= needed;
        c.governed = SlopeGovernor::capacity;
        if (options.min_full_velocity) {
            const double root = *options.min_full_velocity / conveyance;
            if (root * root > needed) {
                needed = root * root;
                c.governed = SlopeGovernor::minimum_velocity;
            }
        }
        if (options.min_slope && *options.min_slope >= needed) {
            needed = *options.min_slope;
            c.governed = SlopeGovernor::minimum_slope;
        }
        const Level start = readable_at_most(std::fmin(dn_cover.feet, c.up.feet - needed * pipe.length), unit);
        const std::optional<Level> dn = highest_meeting(start, unit, [&](double d) { return meets(c.up.feet, d); });
        c.dn = dn.value_or(start);
        c.allowed = dn.has_value() && within_max(c.up.feet, c.dn.feet);
        if (!c.allowed && options.max_slope) {
            // The best try: max_slope from the upstream end, or to the cover.
            const Level at_max = readable_at_most(c.up.feet - *options.max_slope * pipe.length, unit);
            c.dn = highest_meeting(at_max, unit, [&](double d) { return within_max(c.up.feet, d); }).value_or(at_max);
            c.governed = SlopeGovernor::maximum_slope;
        }
    }
    slopes(c.up.feet, c.dn.feet);
    return c;
}

}  // namespace rillwright::design

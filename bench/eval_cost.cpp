// Cost of the two unit evaluations that per-pipe figures are expressed in: one
// Manning flow evaluation of a circular section and one elliptical wetted
// perimeter. Built and run by bench/run.py with the module's own flags.
#include <chrono>
#include <cstdio>

#include "hydraulics.hpp"
#include "sections.hpp"

namespace {

template <class F>
double nanoseconds_per_call(F evaluate, int calls) {
    double sink = 0.0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) sink += evaluate(i);
    const auto stop = std::chrono::steady_clock::now();
    if (sink == 42.0) std::puts("");  // keeps the loop from being optimised away
    return std::chrono::duration<double, std::nano>(stop - start).count() / calls;
}

}  // namespace

int main() {
    using namespace rillwright;
    const int calls = 2000000;
    double best_circular = 1e300, best_elliptical = 1e300;
    for (int round = 0; round < 5; ++round) {
        const double circular = nanoseconds_per_call(
            [](int i) { return circular_flow(1.5, 0.013, 0.01, (i % 2000) * 1.5 / 2000, UnitSystem::us_customary); },
            calls);
        const double elliptical = nanoseconds_per_call(
            [](int i) { return elliptical_wetted_perimeter((i % 2000) * 2.0 / 2000, 2.0, 3.0); }, calls / 20);
        if (circular < best_circular) best_circular = circular;
        if (elliptical < best_elliptical) best_elliptical = elliptical;
    }
    std::printf("%.3f %.3f\n", best_circular, best_elliptical);
    return 0;
}

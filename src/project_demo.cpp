// The built-in demo: a trunk line of three circular pipes from two inlets
// through a junction to an outfall, with one catchment on the first inlet.
#include "project.hpp"

namespace rillwright {

namespace {

ProjectNode demo_node(std::string id, std::string kind, double x, double invert, double rim, double area_ac,
                      double c, double tc_inlet) {
    ProjectNode node;
    node.id = std::move(id);
    node.kind = std::move(kind);
    node.x = x;
    node.y = 0.0;
    node.invert = invert;
    node.rim = rim;
    node.area_ac = area_ac;
    node.c = c;
    node.tc_inlet = tc_inlet;
    node.inlet = InletOverrides{};
    node.bypass_to.reset();
    node.diameter_ft = 4.0;
    return node;
}

ProjectPipe circular_pipe(std::string id, std::string from, std::string to, double length, double diameter,
                          double n) {
    ProjectPipe pipe;
    pipe.id = std::move(id);
    pipe.from = std::move(from);
    pipe.to = std::move(to);
    pipe.length = length;
    pipe.diameter = diameter;
    pipe.n = n;
    pipe.shape = "circular";
    pipe.rise_ft = 0.0;
    pipe.span_ft = 0.0;
    return pipe;
}

}  // namespace

Project demo_project() {
    Project project;
    project.name = "Demo Trunk Line";
    project.idf_a = 60.0;
    project.idf_b = 10.0;
    project.idf_c = 0.8;
    project.tailwater = 100.5;
    project.min_tc = 10.0;
    project.junction_k = 0.5;
    project.bend_loss_coeff = 0.0;
    project.hec22_structure_loss = false;
    project.access_hole_diam_ft = 4.0;
    project.design_return_period_years = 10.0;
    project.p2_rainfall_in = 3.0;
    project.min_slope = 0.001;
    project.nodes = {
        demo_node("N1", "inlet", 0.0, 104.0, 110.0, 1.0, 0.7, 12.0),
        demo_node("N2", "inlet", 300.0, 102.5, 108.5, 1.0, 0.7, 10.0),
        demo_node("N3", "junction", 550.0, 101.2, 107.0, 0.5, 0.8, 8.0),
        demo_node("OUT", "outfall", 730.0, 100.0, 106.0, 0.0, 0.0, 0.0),
    };
    project.pipes = {
        circular_pipe("P1", "N1", "N2", 300.0, 1.25, 0.013),
        circular_pipe("P2", "N2", "N3", 250.0, 1.5, 0.013),
        circular_pipe("P3", "N3", "OUT", 180.0, 1.75, 0.013),
    };
    ProjectCatchment catchment;
    catchment.id = "C1";
    catchment.vertices = {{-40.0, 80.0}, {40.0, 80.0}, {0.0, 140.0}};
    catchment.c = 0.7;
    catchment.flow_length_ft = 100.0;
    catchment.slope = 0.01;
    catchment.inlet_node_id = "N1";
    project.catchments = {catchment};
    project.background.reset();
    project.background_dxf.reset();
    project.idf_curves.clear();
    project.units = UnitSystem::us_customary;
    project.report = ReportInfo{};
    project.format_version = 1;
    return project;
}

}  // namespace rillwright

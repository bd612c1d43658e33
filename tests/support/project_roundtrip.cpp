// Test driver for what the Python module cannot show: the project the reader
// keeps and the text the writer makes of it.
//
//   project_roundtrip < project.json   read, write, read again; prints the text
//   project_roundtrip demo             the demo project written, checked the same way
//   project_roundtrip nonfinite        a project holding infinities and NaN, written only
//
// Exit status: 0 with the written text on stdout; 1 with the reader's message
// on stdout; 2 when the written text does not read back to an equal project;
// 3 when writing that again does not give the same text.
#include <cmath>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "project.hpp"

using namespace rillwright;

int main(int argc, char** argv) {
    Project project;
    if (argc > 1 && std::string_view(argv[1]) == "nonfinite") {
        project.idf_a = INFINITY;
        project.idf_b = -INFINITY;
        project.tailwater = NAN;
        project.background = BackgroundImage{"p.png", 0.0, 0.0, 1.0, INFINITY};
        std::cout << write_project_json(project);
        return 0;
    }
    if (argc > 1 && std::string_view(argv[1]) == "demo") {
        project = demo_project();
    } else {
        const std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        Outcome<Project> read = parse_project(input);
        if (!read.ok()) {
            std::cout << read.error;
            return 1;
        }
        project = std::move(*read.value);
    }
    const std::string text = write_project_json(project);
    Outcome<Project> again = parse_project(text);
    if (!again.ok() || !(*again.value == project)) return 2;
    if (write_project_json(*again.value) != text) return 3;
    std::cout << text;
    return 0;
}

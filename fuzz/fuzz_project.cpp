// The project reader followed by the conversion, the analysis and the writer on
// arbitrary bytes. Whatever the reader accepts, the writer's text reads back,
// and that project writes the very same text again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "file_text.hpp"
#include "fuzz_check.hpp"
#include "network.hpp"
#include "project.hpp"

using namespace rillwright;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Outcome<Project> project = parse_project(text);
    if (!project.ok()) {
        REQUIRE(project.error.find(" at line ") != std::string::npos);
        return 0;
    }

    // Escapes decode to whole characters: the texts the Python layer turns into
    // str objects are valid UTF-8 whenever the input is.
    const Project& read = *project.value;
    if (is_valid_utf8(text)) {
        REQUIRE(is_valid_utf8(read.name));
        for (const ProjectNode& node : read.nodes) REQUIRE(is_valid_utf8(node.id));
        for (const ProjectPipe& pipe : read.pipes)
            REQUIRE(is_valid_utf8(pipe.id) && is_valid_utf8(pipe.from) && is_valid_utf8(pipe.to));
    }

    const std::string written = write_project_json(*project.value);
    REQUIRE(is_valid_utf8(written) || !is_valid_utf8(text));
    const Outcome<Project> reread = parse_project(written);
    if (!reread.ok()) std::fprintf(stderr, "written text does not read back: %s\n%s\n", reread.error.c_str(), written.c_str());
    REQUIRE(reread.ok());
    REQUIRE(write_project_json(*reread.value) == written);

    const Network network = convert_project(*project.value);
    REQUIRE(network.nodes.size() == project.value->nodes.size());
    REQUIRE(network.pipes.size() == project.value->pipes.size());
    const Outcome<AnalysisResult> result = analyze_network(network);
    if (!result.ok()) {
        REQUIRE(!result.error.empty());
        return 0;
    }
    REQUIRE(result.value->pipes.size() == network.pipes.size());
    REQUIRE(result.value->nodes.size() == network.nodes.size());
    for (std::size_t i = 0; i < network.pipes.size(); ++i) REQUIRE(result.value->pipes[i].id == network.pipes[i].id);
    for (std::size_t i = 0; i < network.nodes.size(); ++i) REQUIRE(result.value->nodes[i].id == network.nodes[i].id);
    return 0;
}

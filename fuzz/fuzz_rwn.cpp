// The .rwn reader followed by the analysis on arbitrary bytes: every input ends
// in a network or one line-numbered message, and every analysed network gives
// one result per pipe and per node, in input order.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "file_text.hpp"
#include "fuzz_check.hpp"
#include "network.hpp"
#include "parse.hpp"

using namespace rillwright;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Outcome<Network> network = parse_rwn(text);
    if (!network.ok()) {
        REQUIRE(network.error.rfind("line ", 0) == 0);
        return 0;
    }
    const Outcome<AnalysisResult> result = analyze_network(*network.value);
    if (!result.ok()) {
        REQUIRE(!result.error.empty());
        return 0;
    }
    const Network& input = *network.value;
    // Tokens are whole characters: ids of valid text stay valid text, which the
    // Python layer relies on when it makes str objects of them.
    const bool valid_text = is_valid_utf8(text);
    REQUIRE(result.value->pipes.size() == input.pipes.size());
    REQUIRE(result.value->nodes.size() == input.nodes.size());
    for (std::size_t i = 0; i < input.pipes.size(); ++i) {
        REQUIRE(result.value->pipes[i].id == input.pipes[i].id);
        REQUIRE(result.value->pipes[i].from == input.pipes[i].from);
        REQUIRE(result.value->pipes[i].to == input.pipes[i].to);
        if (valid_text) REQUIRE(is_valid_utf8(input.pipes[i].id) && is_valid_utf8(input.pipes[i].from) &&
                                is_valid_utf8(input.pipes[i].to));
    }
    for (std::size_t i = 0; i < input.nodes.size(); ++i) {
        REQUIRE(result.value->nodes[i].id == input.nodes[i].id);
        if (valid_text) REQUIRE(is_valid_utf8(input.nodes[i].id));
    }
    return 0;
}

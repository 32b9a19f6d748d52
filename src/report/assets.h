// The fixed texts the report carries: its stylesheet, the external-links
// block, the graph section and the page's scripts. They live as real CSS,
// HTML and JavaScript files under src/report/assets/ and are embedded into
// the binary at build time.
#pragma once

#include <string_view>

namespace corvale {

/// The stylesheet, placed inside the head's <style> element.
std::string_view report_stylesheet();
/// The external-links block at the end of the header.
std::string_view report_extlinks();
/// The graph section (the SVG canvas, notes bar and reset button) after the payload.
std::string_view report_graph_section();
/// The viewer script followed by the reveal script, inside the closing <script>.
std::string_view report_script();

}  // namespace corvale

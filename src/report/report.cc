#include "report/report.h"

#include <fmt/format.h>

#include "util/html.h"

namespace corvale {

std::string render_report(const Facts& facts, const TopologyGraph&,
                          const std::string& interception_level, const PingCache&,
                          std::string_view) {
  std::string host = html_escape(facts.hostname);
  return fmt::format(
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n"
      "<title>Corvale Report - {0}</title>\n</head>\n<body>\n<header>\n"
      "<h1>Corvale Report <small>default egress + evidence graph</small></h1>\n"
      "<div class=\"sub\">{0} &middot; {1} &middot; generated {2}</div>\n"
      "<div class=\"chips\"><span class=\"chip\">Interception <b>{3}</b></span></div>\n"
      "</header>\n<main>\n</main>\n</body>\n</html>\n",
      host, html_escape(facts.os_name), html_escape(facts.collected_at),
      html_escape(interception_level));
}

}  // namespace corvale

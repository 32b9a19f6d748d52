#include "graph/graph.h"

namespace corvale {

GraphBuildResult build_graph(const Facts& facts, const PingCache&, const DnsCache&) {
  GraphBuildResult r;
  r.graph.interception.level = facts.interception.level;
  r.graph.interception.displayLevel = facts.interception.level;
  r.graph.interception.score = facts.interception.score;
  r.graph.interception.signals = facts.interception.signals;
  r.graph.interception.driverHits = facts.driver_hits.size();
  r.graph.interception.serviceHits = facts.service_hits.size();
  r.graph.interception.routeSourceMismatch = facts.route_source.mismatch;
  r.interception_level = facts.interception.level;
  return r;
}

}  // namespace corvale

// Crafted graph payloads in the report's wire format.
'use strict';

function item(id, k, v, o = {}) {
  return {
    id, k, v, status: o.status || '', meta: o.meta || '', role: o.role || 'prop',
    probe: !!o.probe, detail: o.detail || null,
  };
}

function node(id, label, kind, items = [], o = {}) {
  const n = { id, label, sub: o.sub || '', kind, status: o.status || '', sel: !!o.sel, items };
  if (o.ifIndex !== undefined) n.ifIndex = o.ifIndex;
  if (o.layer !== undefined) n.layer = o.layer;
  if (o.processId !== undefined) n.processId = o.processId;
  if (o.layoutLane !== undefined) n.layoutLane = o.layoutLane;
  return n;
}

function edge(from, to, o = {}) {
  return {
    from, fromItem: o.fromItem || '', to, kind: o.kind || 'main', dead: !!o.dead, bad: !!o.bad,
    confidence: o.confidence === undefined ? 1.0 : o.confidence, evidence: o.evidence || '',
  };
}

function payload(nodes, edges) {
  return {
    version: 5.2, profile: 'general-fit-flow-first-entity-compact', evidenceModel: 'entity-level topology',
    interception: {
      level: 'VISIBLE-TUNNEL', displayLevel: 'VISIBLE-TUNNEL', score: 9.0, signals: [],
      proxyLikeListeners: 1, proxyCandidateProcesses: 1, protocolProxyListeners: 1, protocolProxyProcesses: 1,
      driverHits: 0, serviceHits: 0, routeSourceMismatch: false,
    },
    tcpSnapshots: 3, limits: { maxDepth: 8, maxNodes: 160, maxRepeatPerPid: 2 }, nodes, edges,
  };
}

const dnsDetail = (addr) => ({
  label: `DNS ${addr}`, sub: 'resolver probe', kind: 'dns', status: 'OK',
  items: [
    item('resolve', 'resolve', 'www.baidu.com', { status: 'OK' }),
    item('answer', 'answer', '203.0.113.80'),
    item('time', 'time', '3 ms'),
  ],
});

// A tunnel path with a proxy core, a dead configured proxy, an evidence
// sidecar and the campus portal: every edge kind and row kind the viewer draws.
function tunGraph() {
  const nodes = [
    node('app', 'Applications', 'source', [
      item('default', 'default', 'tun0', { role: 'out', status: 'OK', meta: 'selected route · adapter role Tunnel' }),
      item('default-v6', 'IPv6 default', 'enp3s0', { status: 'OK', meta: 'same interface as IPv4 selected route' }),
      item('adapter-inventory', 'other adapters', '1', {
        meta: 'collapsed inventory · not a traffic hop',
        detail: {
          label: 'Other adapters', sub: 'inventory only · not current traffic-path hops', kind: 'adapter', status: '',
          items: [item('if-3', 'adapter', 'wlp2s0', { status: 'DOWN', meta: 'disconnected · ifIndex 3' })],
        },
      }),
      item('intercept-evidence', 'evidence', 'score 9', { role: 'out' }),
    ]),
    node('tun-7-l1', 'tun0 TUN', 'tun', [
      item('ipv4', 'IPv4', '198.18.0.1', { role: 'addr', status: 'OK' }),
      item('ifindex', 'ifIndex', '7'),
      item('role', 'role', 'Tunnel', { status: 'OK' }),
      item('owner', 'owner', 'mihomo', { role: 'out', status: 'WARN', meta: 'multiple core candidates' }),
      item('dns-0', 'resolver · primary', '198.18.0.2', { detail: dnsDetail('198.18.0.2') }),
    ], { sub: 'Tunnel ifIndex 7 · graph layer 1', sel: true, ifIndex: 7, layer: 1, status: 'OK' }),
    node('proc-41-l2', 'mihomo', 'core', [
      item('listen-7890', 'listen', '127.0.0.1:7890', { status: 'OK', meta: 'SOCKS5' }),
      item('ctl', 'controller', '127.0.0.1:9090', { probe: true, status: 'OK', meta: '12 ms' }),
      item('out', 'outbound', 'enp3s0', { role: 'out' }),
    ], { sub: 'PID 41 · proxy core', processId: 41, layer: 2, status: 'WARN' }),
    node('nic-2', 'enp3s0', 'nic', [
      item('ipv4', 'IPv4', '192.168.50.10', { role: 'addr', status: 'OK' }),
      item('metric', 'metric', '100'),
      item('link', 'link', '10 Gbps'),
      item('gw', 'gateway', '192.168.50.1', { role: 'out', meta: 'established socket' }),
    ], { sub: 'carrier · ifIndex 2', ifIndex: 2 }),
    node('gw-2-4-192.168.50.1', 'Gateway', 'gw', [
      item('address', 'IPv4', '192.168.50.1', { role: 'addr' }),
      item('ping', 'ping', 'reachable', { role: 'addr', probe: true, status: 'OK', meta: '1 ms' }),
    ], { status: 'OK' }),
    node('isp-2-4-192.168.50.1', 'Internet / ISP', 'isp', [
      item('probe', 'probe', '223.5.5.5', { role: 'addr', probe: true, status: 'OK', meta: '9 ms' }),
    ], { status: 'OK' }),
    node('cfgproxy-dead-0', 'Configured Proxy', 'core', [
      item('ep', 'endpoint', 'http://127.0.0.1:8888', { status: 'FAIL' }),
    ], { sub: 'configured local endpoint has no TCP listener', status: 'FAIL' }),
    node('intercept-evidence', 'Interception evidence', 'core', [
      item('score', 'assessment', 'VISIBLE-TUNNEL', { meta: '9' }),
    ], { sub: 'diagnostic sidecar · NOT a traffic hop', layoutLane: 'evidence' }),
    node('zekportal', 'ZEK Portal', 'zek', [
      item('login', 'login', 'srun_portal', { probe: true, status: 'OK', meta: 'HTTP 200' }),
    ], { sub: 'HTTP probe · srun login' }),
    node('zekapi', 'ZEK API', 'zek', [item('api', 'HTTP:8800', 'closed', { status: 'FAIL' })]),
  ];
  const edges = [
    edge('app', 'tun-7-l1', { fromItem: 'default', evidence: 'OS selected default route' }),
    edge('tun-7-l1', 'proc-41-l2', { fromItem: 'owner', confidence: 0.72, evidence: 'unique active proxy core' }),
    edge('proc-41-l2', 'nic-2', { fromItem: 'out', evidence: 'outbound socket' }),
    edge('nic-2', 'gw-2-4-192.168.50.1', { fromItem: 'gw' }),
    edge('gw-2-4-192.168.50.1', 'isp-2-4-192.168.50.1', { evidence: 'active internet probe' }),
    edge('app', 'cfgproxy-dead-0', { kind: 'policy', confidence: 0.9, bad: true, evidence: 'application proxy policy entry' }),
    edge('app', 'intercept-evidence', { fromItem: 'intercept-evidence', kind: 'evidence', confidence: 0.95 }),
    edge('nic-2', 'zekportal', { kind: 'zek', evidence: 'Find-NetRoute(10.0.0.55) -> carrier gateway' }),
    edge('zekportal', 'zekapi', { kind: 'zek', bad: true, evidence: 'Portal-associated API probe' }),
    edge('app', 'nic-2', { kind: 'alt', confidence: 0.45, evidence: 'alternate route candidate' }),
    edge('app', 'remote-gone', { evidence: 'dangling: target missing' }),
  ];
  return payload(nodes, edges);
}

// A deterministic graph of n nodes and m edges in a few columns.
function bigGraph(n, m) {
  const nodes = [];
  for (let i = 0; i < n; i++) {
    const items = [];
    for (let j = 0; j < 3 + (i % 4); j++) {
      items.push(item(`r${j}`, `key ${j}`, `value ${i}.${j}`, {
        role: j === 0 ? 'addr' : j === 1 ? 'out' : 'prop', status: j % 2 ? 'OK' : '', probe: j === 2,
        detail: j === 3 ? dnsDetail(`10.0.${i}.1`) : null,
      }));
    }
    nodes.push(node(`n${i}`, `node ${i}`, ['core', 'nic', 'gw', 'isp', 'remote'][i % 5], items, { sub: `sub ${i}` }));
  }
  const edges = [];
  let seed = 7;
  const rnd = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
  const seen = new Set();
  while (edges.length < m) {
    const a = Math.floor(rnd() * (n - 1));
    const b = a + 1 + Math.floor(rnd() * Math.min(12, n - a - 1));
    if (seen.has(`${a}-${b}`)) continue;
    seen.add(`${a}-${b}`);
    edges.push(edge(`n${a}`, `n${b}`, {
      fromItem: rnd() < 0.5 ? 'r1' : '', confidence: Math.round(rnd() * 100) / 100,
      kind: ['main', 'policy', 'likely', 'evidence', 'alt'][edges.length % 5],
    }));
  }
  return payload(nodes, edges);
}

module.exports = { item, node, edge, payload, tunGraph, bigGraph };

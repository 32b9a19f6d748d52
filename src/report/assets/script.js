// The graph viewer: reads window.ND, lays the evidence graph out in columns
// and draws it as SVG in #gcanvas. Then the tab switch and the reveal script.
// Every text from the payload enters the page as a text node, never as markup.
(function () {
  'use strict';
  var SVG_NS = 'http://www.w3.org/2000/svg';
  var NW = 230, TOP = 49, ITEM_H = 21, ITEM_STEP = 24, BOTTOM = 9;
  var NEST_X = 14, NEST_TOP = 43, NEST_ITEM_H = 19, NEST_STEP = 22, NEST_BOTTOM = 8, NEST_AFTER = 8;
  var H_GAP = 64, V_GAP = 34, X0 = 70, ROOT_Y = 125;
  var EVIDENCE_DROP = 460, MIN_Y = 55;
  var SCALE_MIN = 0.25, SCALE_MAX = 2.7;
  var K = {
    source: '#8b949e', tun: '#3fb950', core: '#58a6ff', nic: '#39c5cf', gw: '#d29922',
    isp: '#bc8cff', remote: '#a371f7', dns: '#ffa657', zek: '#f778ba', off: '#3d444d'
  };
  var KIND_RANK = { main: 4, policy: 3, zek: 3, likely: 2, possible: 1, alt: 0, evidence: -1 };

  function str(v) { return v === null || v === undefined ? '' : String(v); }
  function kindColor(kind) { return Object.prototype.hasOwnProperty.call(K, kind) ? K[kind] : '#58a6ff'; }
  function kindRank(kind) { return Object.prototype.hasOwnProperty.call(KIND_RANK, kind) ? KIND_RANK[kind] : 1; }

  function statusClass(s) {
    var c = str(s).toLowerCase();
    return c === 'ok' || c === 'fail' || c === 'down' || c === 'warn' ? c : '';
  }
  function compactStatus(s) { return str(s) === 'WARN' ? 'CHECK' : str(s); }
  function trimText(s, n) {
    var t = str(s);
    // Count code points, so a cut never splits a surrogate pair.
    var cps = Array.from(t);
    return cps.length > n ? cps.slice(0, n - 1).join('') + '\u2026' : t;
  }
  function roleOf(item) { return item && item.role ? item.role : 'prop'; }
  // A confidence that is missing or not a number (the payload writes NaN as null) counts as 1.
  function confidenceOf(e) {
    var c = e ? e.confidence : undefined;
    return typeof c === 'number' && isFinite(c) ? c : 1;
  }

  // Payload values arrive from JSON; anything of the wrong type is read as empty.
  function cleanItem(it) {
    it = it && typeof it === 'object' ? it : {};
    var d = it.detail && typeof it.detail === 'object' ? it.detail : null;
    return {
      id: str(it.id), k: str(it.k), v: str(it.v), status: str(it.status), meta: str(it.meta),
      role: str(it.role), probe: it.probe === true,
      detail: d ? {
        label: str(d.label), sub: str(d.sub), kind: str(d.kind), status: str(d.status),
        items: Array.isArray(d.items) ? d.items.map(cleanItem) : []
      } : null
    };
  }
  function readPayload(nd) {
    nd = nd && typeof nd === 'object' ? nd : {};
    var nodes = [], seen = Object.create(null);
    (Array.isArray(nd.nodes) ? nd.nodes : []).forEach(function (n) {
      if (!n || typeof n !== 'object') return;
      var id = str(n.id);
      // The first node of an id wins, as in the graph itself.
      if (seen[id]) return;
      seen[id] = true;
      nodes.push({
        id: id, label: str(n.label), sub: str(n.sub), kind: str(n.kind), status: str(n.status),
        sel: n.sel === true, lane: str(n.layoutLane), idx: nodes.length,
        items: Array.isArray(n.items) ? n.items.map(cleanItem) : []
      });
    });
    var edges = (Array.isArray(nd.edges) ? nd.edges : []).filter(function (e) {
      return e && typeof e === 'object';
    }).map(function (e, i) {
      return {
        from: str(e.from), fromItem: str(e.fromItem), to: str(e.to), kind: str(e.kind) || 'main',
        dead: e.dead === true, bad: e.bad === true, confidence: confidenceOf(e),
        evidence: str(e.evidence), idx: i
      };
    });
    return { nodes: nodes, edges: edges };
  }

  // Rows in display order: the first address row (or a synthetic "in" row)
  // takes the first incoming edge, one synthetic row per further incoming edge,
  // then the other address rows, the out rows and the rest. Returns the rows
  // per node and, per edge, the row it leaves from and the row it enters.
  function arrangeRows(nodes, edges) {
    var byId = Object.create(null);
    nodes.forEach(function (n) { byId[n.id] = n; });
    var incoming = Object.create(null);
    edges.forEach(function (e) { (incoming[e.to] = incoming[e.to] || []).push(e); });
    var rows = Object.create(null), toRow = [], fromRow = [];
    nodes.forEach(function (n) {
      var addr = [], out = [], rest = [];
      n.items.forEach(function (it) {
        var r = roleOf(it);
        (r === 'addr' ? addr : r === 'out' ? out : rest).push(it);
      });
      var list = [], ins = incoming[n.id] || [];
      var synth = function (j) {
        var e = ins[j], src = byId[e.from];
        return {
          id: '__in' + j, k: 'in', v: src ? src.label : e.from, status: '', meta: '',
          role: 'in', probe: false, detail: null
        };
      };
      if (ins.length) {
        list.push(addr.length ? addr.shift() : synth(0));
        for (var j = 1; j < ins.length; j++) list.push(synth(j));
      }
      rows[n.id] = list.concat(addr, out, rest);
      ins.forEach(function (e, i) {
        toRow[e.idx] = rows[n.id][Math.min(i, rows[n.id].length - 1)].id;
      });
    });
    edges.forEach(function (e) {
      var src = rows[e.from];
      var has = e.fromItem && src && src.some(function (r) { return r.id === e.fromItem; });
      fromRow[e.idx] = has ? e.fromItem : null;
      if (toRow[e.idx] === undefined) toRow[e.idx] = null;
    });
    return { rows: rows, fromRow: fromRow, toRow: toRow };
  }

  function drawable(e, byId) { return !!(byId[e.from] && byId[e.to]); }

  function portsOf(edges, byId, arranged) {
    var ports = Object.create(null);
    var add = function (nodeId, rowId, out, e) {
      var key = nodeId + '\u0001' + rowId + '\u0001' + (out ? 'o' : 'i');
      if (ports[key]) return;
      ports[key] = {
        node: nodeId, row: rowId, out: out,
        cls: 'port' + (out ? ' out' : '') + (e.dead ? ' dead' : e.kind === 'zek' ? ' zek' : '')
      };
    };
    edges.forEach(function (e) {
      if (!drawable(e, byId)) return;
      if (arranged.fromRow[e.idx] !== null) add(e.from, arranged.fromRow[e.idx], true, e);
      if (arranged.toRow[e.idx] !== null) add(e.to, arranged.toRow[e.idx], false, e);
    });
    return ports;
  }

  function cardHeight(detail) { return NEST_TOP + detail.items.length * NEST_STEP + NEST_BOTTOM; }

  // Row positions and height of one card; isOpen(rowId) says which details are expanded.
  function measureNode(rows, isOpen) {
    var y = TOP, rowY = Object.create(null), cards = [];
    rows.forEach(function (r) {
      rowY[r.id] = y;
      y += ITEM_STEP;
      if (r.detail && isOpen(r.id)) {
        cards.push({ row: r.id, y: y, h: cardHeight(r.detail) });
        y += cardHeight(r.detail) + NEST_AFTER;
      }
    });
    return { h: y + BOTTOM, rowY: rowY, cards: cards };
  }

  function rowCentre(m, rowId) {
    return rowId !== null && rowId !== undefined && m.rowY[rowId] !== undefined
      ? m.rowY[rowId] + ITEM_H / 2 : m.h / 2;
  }

  // Edges that lead back to a node on the current depth-first path, walking
  // from the nodes without incoming edges first, each in payload order.
  function cycleEdges(nodes, hop) {
    var out = Object.create(null), hasIn = Object.create(null);
    hop.forEach(function (e) { (out[e.from] = out[e.from] || []).push(e); hasIn[e.to] = true; });
    var roots = nodes.filter(function (n) { return !hasIn[n.id]; }).concat(nodes);
    var colour = Object.create(null), back = new Set();
    roots.forEach(function (root) {
      if (colour[root.id]) return;
      colour[root.id] = 1;
      var stack = [{ id: root.id, i: 0 }];
      while (stack.length) {
        var top = stack[stack.length - 1], list = out[top.id] || [];
        if (top.i >= list.length) { colour[top.id] = 2; stack.pop(); continue; }
        var e = list[top.i++];
        if (colour[e.to] === 1) back.add(e);
        else if (!colour[e.to]) { colour[e.to] = 1; stack.push({ id: e.to, i: 0 }); }
      }
    });
    return back;
  }

  // Columns by longest traffic path; rows aligned to the strongest incoming
  // edge; stacked without overlap. nodes: {id, idx, lane}, measures by id.
  function autoLayout(nodes, edges, measures, arranged) {
    var byId = Object.create(null), depth = Object.create(null);
    nodes.forEach(function (n) { byId[n.id] = n; depth[n.id] = 0; });
    var hop = edges.filter(function (e) { return drawable(e, byId) && e.kind !== 'evidence'; });
    // An edge that closes a cycle can never be satisfied: each pass would push
    // the cycle's nodes further right, up to one column per node of the graph.
    var back = cycleEdges(nodes, hop);
    hop = hop.filter(function (e) { return !back.has(e); });
    for (var pass = 0; pass < nodes.length; pass++) {
      var changed = false;
      hop.forEach(function (e) {
        if (depth[e.from] + 1 > depth[e.to]) { depth[e.to] = depth[e.from] + 1; changed = true; }
      });
      if (!changed) break;
    }
    nodes.forEach(function (n) { if (n.lane === 'evidence') depth[n.id] = Math.max(depth[n.id], 1); });

    var incoming = Object.create(null);
    edges.forEach(function (e) { if (byId[e.to]) (incoming[e.to] = incoming[e.to] || []).push(e); });
    var columns = [];
    nodes.forEach(function (n) { (columns[depth[n.id]] = columns[depth[n.id]] || []).push(n); });
    var pos = Object.create(null);
    var srcDepth = function (e) { return byId[e.from] ? depth[e.from] : -1; };
    columns.forEach(function (col, d) {
      if (!col) return;
      var want = Object.create(null);
      col.forEach(function (n) {
        var y = ROOT_Y + 0.01 * n.idx;
        var ins = incoming[n.id] || [];
        if (ins.length) {
          var strong = ins.filter(function (e) { return e.kind !== 'evidence'; });
          if (!strong.length) strong = ins;
          strong = strong.slice().sort(function (a, b) {
            return srcDepth(b) - srcDepth(a) || kindRank(b.kind) - kindRank(a.kind) || a.idx - b.idx;
          });
          var first = strong[0];
          if (pos[first.from]) {
            y = pos[first.from].y + rowCentre(measures[first.from], arranged.fromRow[first.idx]) -
              rowCentre(measures[n.id], arranged.toRow[first.idx]);
          }
        }
        if (n.lane === 'evidence') y += EVIDENCE_DROP;
        want[n.id] = y;
      });
      var order = col.slice().sort(function (a, b) { return want[a.id] - want[b.id] || a.idx - b.idx; });
      var bottom = -Infinity;
      order.forEach(function (n) {
        var y = Math.max(want[n.id], bottom + V_GAP);
        pos[n.id] = { x: X0 + d * (NW + H_GAP), y: y, depth: d };
        bottom = y + measures[n.id].h;
      });
    });
    var minY = Infinity;
    nodes.forEach(function (n) { minY = Math.min(minY, pos[n.id].y); });
    if (minY < MIN_Y) nodes.forEach(function (n) { pos[n.id].y += MIN_Y - minY; });
    return pos;
  }

  function confidenceClass(e) {
    if (e.kind === 'alt') return 'alt';
    var c = confidenceOf(e);
    return c >= 0.8 ? 'confirmed' : c >= 0.5 ? 'likely' : 'possible';
  }
  function isProblem(e, fromStatus, toStatus) {
    var bad = function (s) { var c = statusClass(s); return c === 'fail' || c === 'down'; };
    return e.dead || e.bad || bad(fromStatus) || bad(toStatus);
  }
  function markerFor(e, problem) {
    if (problem) return 'arrow-problem';
    if (e.kind === 'zek' || e.kind === 'policy' || e.kind === 'evidence' || e.kind === 'alt') return 'arrow-' + e.kind;
    var c = confidenceClass(e);
    return c === 'likely' || c === 'possible' ? 'arrow-' + c : 'arrow-main';
  }
  function edgeTitle(e, problem) {
    return (problem ? 'problem/disconnected \u00b7 ' : '') + confidenceClass(e) + ' ' +
      Math.round(confidenceOf(e) * 100) + '%' + (e.evidence ? ' \u00b7 ' + e.evidence : '');
  }
  function curve(ax, ay, bx, by) {
    var s = Math.sign(bx - ax), c = Math.min(60, Math.max(24, 0.42 * Math.abs(bx - ax)));
    return [ax, ay, ax + s * c, ay, bx - s * c, by, bx, by];
  }
  function curvePath(p) {
    var f = function (v) { return Math.round(v * 100) / 100; };
    return 'M' + f(p[0]) + ' ' + f(p[1]) + ' C' + f(p[2]) + ' ' + f(p[3]) + ' ' + f(p[4]) + ' ' +
      f(p[5]) + ' ' + f(p[6]) + ' ' + f(p[7]);
  }
  // The point halfway along the curve's length, found by sampling.
  function curveMidpoint(p) {
    var N = 48, pts = [], len = [0];
    for (var i = 0; i <= N; i++) {
      var t = i / N, u = 1 - t;
      var a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
      pts.push([a * p[0] + b * p[2] + c * p[4] + d * p[6], a * p[1] + b * p[3] + c * p[5] + d * p[7]]);
      if (i) len.push(len[i - 1] + Math.hypot(pts[i][0] - pts[i - 1][0], pts[i][1] - pts[i - 1][1]));
    }
    var half = len[N] / 2;
    for (var j = 1; j <= N; j++) {
      if (len[j] >= half) {
        var seg = len[j] - len[j - 1], k = seg ? (half - len[j - 1]) / seg : 0;
        return [pts[j - 1][0] + k * (pts[j][0] - pts[j - 1][0]), pts[j - 1][1] + k * (pts[j][1] - pts[j - 1][1])];
      }
    }
    return pts[0];
  }
  function fitView(bounds, width, height) {
    var W = width || 1000, H = height || 650, pad = 42;
    var bw = Math.max(1, bounds.maxX - bounds.minX), bh = Math.max(1, bounds.maxY - bounds.minY);
    var fit = Math.min((W - 2 * pad) / bw, (H - 2 * pad) / bh);
    var s = Math.max(0.22, Math.min(1.28, fit));
    return { s: s, x: W / 2 - (bounds.minX + bw / 2) * s, y: H / 2 - (bounds.minY + bh / 2) * s };
  }
  function zoomAt(view, px, py, zoomIn) {
    var s = Math.min(SCALE_MAX, Math.max(SCALE_MIN, view.s * (zoomIn ? 1.15 : 0.87)));
    var wx = (px - view.x) / view.s, wy = (py - view.y) / view.s;
    return { s: s, x: px - wx * s, y: py - wy * s };
  }

  // The layout arithmetic as plain functions, the live state and the figures
  // of the last layouts, for the browser tests and for looking into a report.
  var api = {
    NW: NW, TOP: TOP, ITEM_H: ITEM_H, ITEM_STEP: ITEM_STEP, BOTTOM: BOTTOM, NEST_X: NEST_X,
    NEST_TOP: NEST_TOP, NEST_STEP: NEST_STEP, NEST_BOTTOM: NEST_BOTTOM, NEST_AFTER: NEST_AFTER,
    H_GAP: H_GAP, V_GAP: V_GAP, X0: X0, ROOT_Y: ROOT_Y,
    statusClass: statusClass, compactStatus: compactStatus, trimText: trimText, roleOf: roleOf,
    readPayload: readPayload, arrangeRows: arrangeRows, measureNode: measureNode,
    autoLayout: autoLayout, confidenceClass: confidenceClass, isProblem: isProblem,
    markerFor: markerFor, edgeTitle: edgeTitle, curve: curve, curveMidpoint: curveMidpoint,
    fitView: fitView, zoomAt: zoomAt, timings: {}
  };
  window.__corvaleViewer = api;

  var svg = document.getElementById('gcanvas');
  var world = document.getElementById('gworld');
  if (!svg || !world) return;

  function svgEl(name, attrs, parent) {
    var el = document.createElementNS(SVG_NS, name);
    Object.keys(attrs || {}).forEach(function (k) {
      if (attrs[k] !== null && attrs[k] !== undefined) el.setAttribute(k, attrs[k]);
    });
    if (parent) parent.appendChild(el);
    return el;
  }
  function svgText(parent, attrs, text) {
    var t = svgEl('text', attrs, parent);
    t.textContent = text;
    return t;
  }
  function tooltip(parent, text) { svgEl('title', {}, parent).textContent = text; }

  var model = readPayload(window.ND);
  var byId = Object.create(null);
  model.nodes.forEach(function (n) { byId[n.id] = n; });
  var arranged = arrangeRows(model.nodes, model.edges);
  var ports = portsOf(model.edges, byId, arranged);
  var portRows = Object.create(null);
  Object.keys(ports).forEach(function (k) {
    var p = ports[k];
    (portRows[p.node] = portRows[p.node] || Object.create(null))[p.row] = true;
  });
  var state = { pos: Object.create(null), measures: Object.create(null), open: Object.create(null), moved: false };
  var view = { x: 0, y: 0, s: 1 };
  var nodeEls = Object.create(null), edgeEls = [];

  function isOpen(nodeId) { return function (rowId) { return !!state.open[nodeId + '\u0001' + rowId]; }; }
  function measureAll() {
    model.nodes.forEach(function (n) { state.measures[n.id] = measureNode(arranged.rows[n.id], isOpen(n.id)); });
  }
  function layout() {
    measureAll();
    state.pos = autoLayout(model.nodes, model.edges, state.measures, arranged);
    state.moved = false;
  }
  function applyView() {
    world.setAttribute('transform', 'translate(' + view.x + ',' + view.y + ') scale(' + view.s + ')');
  }

  function endPoints(e) {
    var a = state.pos[e.from], b = state.pos[e.to];
    var ay = a.y + rowCentre(state.measures[e.from], arranged.fromRow[e.idx]);
    var by = b.y + rowCentre(state.measures[e.to], arranged.toRow[e.idx]);
    return curve(a.x + NW, ay, b.x, by);
  }
  function placeEdge(rec) {
    var p = endPoints(rec.e), d = curvePath(p);
    rec.path.setAttribute('d', d);
    rec.hit.setAttribute('d', d);
    if (rec.x) {
      var m = curveMidpoint(p);
      rec.x.setAttribute('transform', 'translate(' + Math.round(m[0] * 100) / 100 + ',' + Math.round(m[1] * 100) / 100 + ')');
    }
  }
  function drawEdge(e, layer) {
    var problem = isProblem(e, byId[e.from].status, byId[e.to].status);
    var wrap = svgEl('g', { class: 'edge-wrap' + (problem ? ' problem' : '') }, layer);
    var hit = svgEl('path', { class: 'edge-hit' }, wrap);
    var path = svgEl('path', {
      class: 'edge ' + e.kind + ' ' + confidenceClass(e), 'marker-end': 'url(#' + markerFor(e, problem) + ')'
    }, wrap);
    tooltip(wrap, edgeTitle(e, problem));
    var x = null;
    if (problem) {
      x = svgEl('g', { class: 'xmark' }, wrap);
      svgEl('line', { x1: -6, y1: -6, x2: 6, y2: 6 }, x);
      svgEl('line', { x1: 6, y1: -6, x2: -6, y2: 6 }, x);
    }
    var rec = { e: e, wrap: wrap, path: path, hit: hit, x: x };
    placeEdge(rec);
    return rec;
  }

  function drawRow(g, nodeId, it, x, y, w, nested) {
    var h = nested ? NEST_ITEM_H : ITEM_H, expandable = !nested && !!it.detail;
    var open = expandable && isOpen(nodeId)(it.id);
    var linked = !nested && portRows[nodeId] && portRows[nodeId][it.id];
    var rg = svgEl('g', {
      class: (nested ? 'nested-item' : 'item') + (linked ? ' linked' : '') + (expandable ? ' expandable' : '') + (open ? ' open' : ''),
      'data-row': nested ? null : it.id
    }, g);
    svgEl('rect', { class: 'ibg', x: x, y: y, width: w, height: h, rx: h / 2 }, rg);
    var base = y + h / 2 + 4, kx = x + 8;
    if (expandable) {
      svgText(rg, { class: 'chev', x: x + 7, y: base }, open ? '\u25be' : '\u25b8');
      kx += 12;
    }
    svgText(rg, { class: 'k', x: kx, y: base }, trimText(it.k, expandable ? 9 : 11));
    var sc = statusClass(it.status), r = nested ? 3.2 : 3.6;
    if (it.probe) {
      svgText(rg, { class: 'v', x: x + w - 66, y: base, 'text-anchor': 'end' }, trimText(it.v, 17));
      svgEl('circle', { class: 'dot' + (sc ? ' ' + sc : ''), cx: x + w - 55, cy: y + h / 2, r: r }, rg);
      // The meta text has the last 40 pixels of the row; the tooltip carries it whole.
      svgText(rg, { class: 'm', x: x + w - 46, y: base }, trimText(it.meta, 8));
    } else {
      if (it.status) svgEl('circle', { class: 'dot' + (sc ? ' ' + sc : ''), cx: x + w - 9, cy: y + h / 2, r: r }, rg);
      var value = it.meta ? it.v + ' \u00b7 ' + it.meta : it.v;
      svgText(rg, { class: 'v', x: x + w - (it.status ? 18 : 7), y: base, 'text-anchor': 'end' },
        trimText(value, nested ? 22 : 25));
    }
    tooltip(rg, [it.k, it.v, it.status, it.meta].filter(function (s) { return s; }).join(' \u00b7 '));
  }

  function drawCard(g, nodeId, detail, y) {
    var x = NEST_X, w = NW - 2 * NEST_X, h = cardHeight(detail);
    var cg = svgEl('g', { class: 'card' }, g);
    svgEl('rect', { class: 'cbody', x: x, y: y, width: w, height: h, rx: 8 }, cg);
    var col = kindColor(detail.kind);
    svgEl('rect', { class: 'chead', x: x, y: y, width: w, height: 22, rx: 8, fill: col }, cg);
    svgEl('rect', { class: 'chead', x: x, y: y + 11, width: w, height: 11, fill: col }, cg);
    svgText(cg, { class: 'ctitle', x: x + 9, y: y + 15 }, trimText(detail.label, 25));
    svgText(cg, { class: 'cstatus', x: x + w - 9, y: y + 15, 'text-anchor': 'end' }, compactStatus(detail.status));
    svgText(cg, { class: 'csub', x: x + 9, y: y + 37 }, trimText(detail.sub, 31));
    detail.items.forEach(function (it, i) {
      drawRow(cg, nodeId, it, x + 7, y + NEST_TOP + i * NEST_STEP, w - 14, true);
    });
  }

  function drawNode(n, layer) {
    var p = state.pos[n.id], m = state.measures[n.id], sc = statusClass(n.status);
    var g = svgEl('g', {
      class: 'node' + (n.sel ? ' sel' : '') + (sc === 'fail' || sc === 'down' ? ' fail' : sc === 'warn' ? ' warn' : ''),
      'data-id': n.id, 'data-kind': n.kind, transform: 'translate(' + p.x + ',' + p.y + ')'
    }, layer);
    var col = kindColor(n.kind);
    svgEl('rect', { class: 'nbody', width: NW, height: m.h, rx: 9 }, g);
    svgEl('rect', { class: 'nhead', width: NW, height: 24, rx: 9, fill: col }, g);
    svgEl('rect', { class: 'nhead', y: 12, width: NW, height: 12, fill: col }, g);
    svgText(g, { class: 'ntitle', x: 9, y: 16 }, trimText(n.label, 27));
    svgText(g, { class: 'nstatus', x: NW - 9, y: 16, 'text-anchor': 'end' }, compactStatus(n.status));
    svgText(g, { class: 'nsub', x: 9, y: 40 }, trimText(n.sub, 37));
    var cards = Object.create(null);
    m.cards.forEach(function (c) { cards[c.row] = c; });
    arranged.rows[n.id].forEach(function (it) {
      drawRow(g, n.id, it, 7, m.rowY[it.id], NW - 14, false);
      if (cards[it.id]) drawCard(g, n.id, it.detail, cards[it.id].y);
    });
    Object.keys(ports).forEach(function (k) {
      var pt = ports[k];
      if (pt.node !== n.id) return;
      svgEl('circle', { class: pt.cls, cx: pt.out ? NW : 0, cy: m.rowY[pt.row] + ITEM_H / 2, r: 4.6 }, g);
    });
    nodeEls[n.id] = g;
  }

  function draw() {
    var t0 = performance.now();
    while (world.firstChild) world.removeChild(world.firstChild);
    nodeEls = Object.create(null);
    // Built detached and attached once, so the browser styles the graph in one go.
    var edgeLayer = svgEl('g', { class: 'edges' });
    var nodeLayer = svgEl('g', { class: 'nodes' });
    edgeEls = model.edges.filter(function (e) { return drawable(e, byId); }).map(function (e) { return drawEdge(e, edgeLayer); });
    model.nodes.forEach(function (n) { drawNode(n, nodeLayer); });
    world.appendChild(edgeLayer);
    world.appendChild(nodeLayer);
    return performance.now() - t0;
  }

  function clearHighlight() {
    edgeEls.forEach(function (r) { r.wrap.classList.remove('hl', 'dim'); });
    Object.keys(nodeEls).forEach(function (id) { nodeEls[id].classList.remove('dim'); });
  }
  function highlight(nodeId, rowId) {
    var touches = function (r) {
      var e = r.e;
      if (rowId === null) return e.from === nodeId || e.to === nodeId;
      return (e.from === nodeId && arranged.fromRow[e.idx] === rowId) || (e.to === nodeId && arranged.toRow[e.idx] === rowId);
    };
    var lit = edgeEls.filter(touches);
    // A row without edges of its own stands for its card.
    if (rowId !== null && !lit.length) return highlight(nodeId, null);
    var near = Object.create(null);
    near[nodeId] = true;
    edgeEls.forEach(function (r) {
      var on = lit.indexOf(r) >= 0;
      r.wrap.classList.toggle('hl', on);
      r.wrap.classList.toggle('dim', !on);
      if (on) { near[r.e.from] = true; near[r.e.to] = true; }
    });
    Object.keys(nodeEls).forEach(function (id) { nodeEls[id].classList.toggle('dim', !near[id]); });
  }

  function bounds() {
    if (!model.nodes.length) return null;
    var b = { minX: Infinity, minY: Infinity, maxX: -Infinity, maxY: -Infinity };
    model.nodes.forEach(function (n) {
      var p = state.pos[n.id];
      b.minX = Math.min(b.minX, p.x); b.minY = Math.min(b.minY, p.y);
      b.maxX = Math.max(b.maxX, p.x + NW); b.maxY = Math.max(b.maxY, p.y + state.measures[n.id].h);
    });
    return b;
  }
  function fit() {
    var b = bounds();
    if (!b) return;
    var r = svg.getBoundingClientRect();
    view = fitView(b, r.width, r.height);
    applyView();
  }
  function reset() {
    var t0 = performance.now();
    layout();
    draw();
    api.timings.reset = performance.now() - t0;
    fit();
  }

  function toggleRow(nodeId, rowId) {
    var t0 = performance.now(), key = nodeId + '\u0001' + rowId;
    if (state.open[key]) delete state.open[key]; else state.open[key] = true;
    if (state.moved) measureAll(); else layout();
    draw();
    api.timings.expand = performance.now() - t0;
  }

  function svgPoint(ev) {
    // The world's origin is inside the canvas border.
    var r = svg.getBoundingClientRect();
    return { x: ev.clientX - r.left - svg.clientLeft, y: ev.clientY - r.top - svg.clientTop };
  }
  var drag = null;
  svg.addEventListener('pointerdown', function (ev) {
    if (ev.button !== 0) return;
    var t = ev.target instanceof Element ? ev.target : null;
    var row = t && t.closest('.item.expandable');
    var node = t && t.closest('.node');
    if (row && node) {
      toggleRow(node.getAttribute('data-id'), row.getAttribute('data-row'));
      return;
    }
    drag = { id: node ? node.getAttribute('data-id') : null, x: ev.clientX, y: ev.clientY };
    svg.setPointerCapture(ev.pointerId);
    svg.classList.add('dragging');
  });
  svg.addEventListener('pointermove', function (ev) {
    if (!drag) return;
    var dx = ev.clientX - drag.x, dy = ev.clientY - drag.y;
    if (!dx && !dy) return;
    drag.x = ev.clientX;
    drag.y = ev.clientY;
    if (drag.id === null) {
      view.x += dx;
      view.y += dy;
      applyView();
      return;
    }
    var p = state.pos[drag.id];
    p.x += dx / view.s;
    p.y += dy / view.s;
    state.moved = true;
    nodeEls[drag.id].setAttribute('transform', 'translate(' + p.x + ',' + p.y + ')');
    edgeEls.forEach(function (r) { if (r.e.from === drag.id || r.e.to === drag.id) placeEdge(r); });
  });
  var endDrag = function () { drag = null; svg.classList.remove('dragging'); };
  svg.addEventListener('pointerup', endDrag);
  svg.addEventListener('pointercancel', endDrag);
  svg.addEventListener('wheel', function (ev) {
    ev.preventDefault();
    if (!ev.deltaY) return;
    var p = svgPoint(ev);
    view = zoomAt(view, p.x, p.y, ev.deltaY < 0);
    applyView();
  }, { passive: false });
  svg.addEventListener('dblclick', function (ev) {
    if (ev.target instanceof Element && ev.target.closest('.node')) return;
    fit();
  });
  world.addEventListener('mouseover', function (ev) {
    if (drag) return;
    var t = ev.target instanceof Element ? ev.target : null;
    var node = t && t.closest('.node');
    if (!node) { clearHighlight(); return; }
    var row = t.closest('.item');
    highlight(node.getAttribute('data-id'), row ? row.getAttribute('data-row') : null);
  });
  world.addEventListener('mouseleave', clearHighlight);
  var resetBtn = document.getElementById('greset');
  if (resetBtn) resetBtn.addEventListener('click', reset);

  window.fitNetGraph = fit;
  window.resetNetGraph = reset;
  api.state = function () {
    var pos = Object.create(null);
    model.nodes.forEach(function (n) {
      pos[n.id] = { x: state.pos[n.id].x, y: state.pos[n.id].y, h: state.measures[n.id].h, depth: state.pos[n.id].depth };
    });
    return { pos: pos, view: { x: view.x, y: view.y, s: view.s }, moved: state.moved, rows: arranged.rows };
  };

  var t0 = performance.now();
  layout();
  var tLayout = performance.now() - t0;
  var tDraw = draw();
  applyView();
  api.timings.layout = tLayout;
  api.timings.draw = tDraw;
  api.timings.init = performance.now() - t0;

  // The graph tab takes the window below the tab bar.
  var graphView = document.getElementById('view-graph');
  var chainView = document.getElementById('view-chain');
  var tabBar = document.querySelector('.tabs');
  var graphOn = false;
  function placeGraph() {
    var bottom = tabBar ? tabBar.getBoundingClientRect().bottom : 0;
    graphView.style.top = Math.max(0, bottom) + 8 + 'px';
  }
  document.querySelectorAll('.tab[data-view]').forEach(function (tab) {
    tab.addEventListener('click', function () {
      document.querySelectorAll('.tab[data-view]').forEach(function (t) { t.classList.toggle('on', t === tab); });
      graphOn = tab.getAttribute('data-view') === 'graph';
      if (chainView) chainView.classList.toggle('hidden', graphOn);
      if (!graphView) return;
      graphView.classList.toggle('hidden', !graphOn);
      graphView.classList.toggle('full', graphOn);
      if (graphOn) {
        placeGraph();
        setTimeout(function () {
          if (state.moved) fit(); else reset();
          api.graphShown = (api.graphShown || 0) + 1;
        }, 30);
      } else {
        graphView.style.top = '';
      }
    });
  });
  window.addEventListener('resize', function () {
    if (!graphOn || !graphView) return;
    placeGraph();
    setTimeout(fit, 20);
  });
})();

// Reveal: detail values stay blurred until "Show info", so a screenshot of
// the report does not expose addresses; selecting text still shows it.
(function () {
  'use strict';
  document.querySelectorAll('.dbody table td, .kv .v, .brows .v, .mono').forEach(function (el) {
    if (!el.textContent.trim() || el.querySelector('.real')) return;
    var real = document.createElement('span');
    real.className = 'real';
    while (el.firstChild) real.appendChild(el.firstChild);
    var overlay = real.cloneNode(true);
    overlay.className = 'bg';
    el.classList.add('bv');
    el.appendChild(real);
    el.appendChild(overlay);
  });
  var btn = document.getElementById('revealbtn');
  if (!btn) return;
  btn.addEventListener('click', function () {
    var on = document.body.classList.toggle('revealed');
    btn.textContent = on ? 'Hide info' : 'Show info';
  });
})();

// A report the built corvale wrote on the lab's laptop, opened in chromium:
// the page as the user gets it, its graph tab drawn from its own payload.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const lib = require('./lib');

const REPORT = process.env.CORVALE_REPORT;
const SCENARIO = process.env.CORVALE_SCENARIO || 'unknown';
assert.ok(REPORT, 'CORVALE_REPORT names the report under test');

let browser;
let page;
let nd;
before(async () => {
  browser = await lib.launch();
  // A large window, so the fitted graph of a real report is readable in the screenshots.
  page = await lib.openFile(browser, REPORT, { width: 1920, height: 1200 });
  nd = await page.evaluate(() => window.ND);
});
after(async () => { if (browser) await browser.close(); });

function drawableEdges() {
  const ids = new Set(nd.nodes.map((n) => n.id));
  return nd.edges.filter((e) => ids.has(e.from) && ids.has(e.to));
}
const shot = (name) => page.screenshot({ path: path.join(lib.ARTEFACTS, `lab-${SCENARIO}-${name}.png`), timeout: 90000 });

test(`${SCENARIO}: the report is one self-contained file under 1 MB`, async () => {
  const size = fs.statSync(REPORT).size;
  console.log(`${SCENARIO}: report ${size} bytes, ${nd.nodes.length} nodes, ${nd.edges.length} edges`);
  assert.ok(size < 1024 * 1024, `${size} bytes`);
  const r = await page.evaluate(() => ({
    bg: getComputedStyle(document.body).backgroundColor,
    markers: [...document.querySelectorAll('#gcanvas defs marker')].map((m) => m.id),
    reset: document.getElementById('greset').textContent,
    links: [...document.querySelectorAll('header .extlinks a.extbtn')].map((a) => [a.target, a.rel]),
    notes: document.querySelector('#view-graph .gnotes').textContent,
  }));
  assert.equal(r.bg, 'rgb(13, 17, 23)', 'the embedded stylesheet applies');
  // The binary carries the asset files unchanged, each placed where the document wants it.
  const html = fs.readFileSync(REPORT, 'utf8');
  assert.ok(html.includes(`<style>\n${lib.asset('style.css')}\n</style>`), 'stylesheet');
  assert.ok(html.includes(`${lib.asset('extlinks.html')}\n</header>`), 'links block');
  assert.ok(html.includes(`;</script>\n${lib.asset('graph_section.html')}\n</main>`), 'graph section');
  assert.ok(html.includes(`<script>\n${lib.asset('script.js')}\n</script>\n</body>`), 'scripts');
  assert.deepEqual(r.markers, ['arrow-main', 'arrow-policy', 'arrow-evidence', 'arrow-zek', 'arrow-bad',
    'arrow-problem', 'arrow-likely', 'arrow-possible', 'arrow-alt', 'cross']);
  assert.equal(r.reset, 'Auto layout');
  assert.deepEqual(r.links, Array(3).fill(['_blank', 'noopener noreferrer']));
  assert.ok(r.notes.includes('Ctrl+R restores auto layout') && r.notes.includes('evidence · not hop'));
  await shot('chain');
  assert.deepEqual(page.problems, []);
});

// Without a CJK font chromium draws the links block's Chinese labels as the
// same empty box it draws for a character no font has.
test(`${SCENARIO}: the Chinese labels are drawn as characters, not empty boxes`, async () => {
  const r = await page.evaluate(() => {
    const block = document.querySelector('header .extlinks');
    const han = [...new Set(block.textContent)].filter((c) => /\p{Script=Han}/u.test(c));
    const canvas = document.createElement('canvas');
    canvas.width = 48;
    canvas.height = 48;
    const g = canvas.getContext('2d');
    g.font = `32px ${getComputedStyle(block).fontFamily}`;
    const draw = (ch) => {
      g.clearRect(0, 0, 48, 48);
      g.fillText(ch, 4, 36);
      return canvas.toDataURL();
    };
    const box = draw('\u{10FFFD}');
    return { han: han.length, boxes: han.filter((c) => draw(c) === box) };
  });
  assert.ok(r.han > 0, 'the links block has Chinese labels');
  assert.deepEqual(r.boxes, [], 'drawn as empty boxes: is a CJK font (fonts-wqy-microhei) installed?');
});

test(`${SCENARIO}: the graph tab draws every node and every edge whose ends exist`, async () => {
  await lib.showGraph(page);
  assert.equal(await page.locator('g.node').count(), new Set(nd.nodes.map((n) => n.id)).size);
  assert.equal(await page.locator('path.edge').count(), drawableEdges().length);
  const titles = await page.$$eval('g.node text.ntitle', (ts) => ts.map((t) => t.textContent));
  const want = await page.evaluate(() => window.ND.nodes.map((n) => window.__corvaleViewer.trimText(n.label, 27)));
  assert.deepEqual(titles, want);
  // Every lab scenario's report has a graph: an empty payload is a failure.
  assert.ok(nd.nodes.length > 0, 'the report has nodes');
  const outside = await page.evaluate(() => {
    const c = document.getElementById('gcanvas').getBoundingClientRect();
    return [...document.querySelectorAll('g.node')].filter((n) => {
      const b = n.getBoundingClientRect();
      return b.left < c.left || b.right > c.right || b.top < c.top || b.bottom > c.bottom;
    }).length;
  });
  const scale = (await page.evaluate(() => window.__corvaleViewer.state())).view.s;
  assert.ok(scale >= 0.22 - 1e-9, `fit scale ${scale} below its clamp`);
  if (scale > 0.22 + 1e-9) {
    // Above the smallest fit scale, the fitted graph lies wholly inside the canvas.
    assert.equal(outside, 0, 'cards outside the canvas after fit');
  } else {
    // Clamped: the graph is larger than the canvas can show, but the fit
    // still centres it, so some cards are in view.
    assert.ok(outside < nd.nodes.length, 'no card inside the canvas after a clamped fit');
  }
  await shot('graph');
  await page.click('#revealbtn');
  await shot('graph-revealed');
  await page.click('#revealbtn');
  assert.deepEqual(page.problems, []);
});

test(`${SCENARIO}: what the scenario's graph must show`, async () => {
  const kinds = nd.nodes.map((n) => n.kind);
  const drawn = drawableEdges();
  assert.ok(nd.nodes.length > 0, 'the report has nodes');
  assert.ok(kinds.includes('source'), 'the applications card');
  if (SCENARIO === 'tun') {
    const tun = nd.nodes.find((n) => n.kind === 'tun');
    assert.ok(tun, 'a tunnel card');
    assert.equal(await page.locator(`g.node.sel[data-id="${tun.id}"]`).count(), 1, 'the tunnel card is on the selected path');
    assert.ok(drawn.some((e) => e.from === 'app' && e.to === tun.id && e.kind === 'main'), 'main edge into the tunnel');
    assert.ok(nd.nodes.some((n) => n.kind === 'core'), 'a proxy core card');
  }
  if (SCENARIO === 'direct' || SCENARIO === 'explicit' || SCENARIO === 'offline') {
    assert.ok(kinds.includes('nic'), 'a carrier card');
    assert.ok(drawn.some((e) => e.from === 'app' && e.kind === 'main'), 'the selected route leaves the applications');
  }
  if (SCENARIO === 'explicit') {
    assert.ok(nd.nodes.filter((n) => n.kind === 'core').length >= 1, 'proxy candidates as cards');
  }
  if (SCENARIO === 'offline') {
    assert.ok(await page.locator('g.edge-wrap.problem .xmark').count() >= 1, 'a failed hop is marked');
  }
  // Hovering the applications card lights its drawn edges and nothing else.
  const own = drawn.filter((e) => e.from === 'app' || e.to === 'app').length;
  await page.hover('g.node[data-id="app"] text.ntitle', { force: true });
  assert.equal(await page.locator('g.edge-wrap.hl').count(), own);
  assert.deepEqual(page.problems, []);
});

test(`${SCENARIO}: "Show info" reveals the blurred values`, async () => {
  await page.click('.tab[data-view="chain"]');
  const blurred = await page.locator('.bv > .real').count();
  assert.ok(blurred > 0, 'detail values are blurred');
  await page.click('#revealbtn');
  assert.equal(await page.textContent('#revealbtn'), 'Hide info');
  assert.equal(await page.evaluate(() => getComputedStyle(document.querySelector('.bv > .real')).filter), 'none');
  await page.evaluate(() => document.querySelectorAll('details').forEach((d) => { d.open = true; }));
  // The window's worth only: a whole page of the many scenario's tables is a huge image.
  await shot('details');
  assert.deepEqual(page.problems, []);
});

// The live mimic: the desktop window's picture, element by element, from the
// layout table the collector serves (/api/mimic-layout) and the artwork's
// own SVG files; which elements show and what the readings say come with
// every tile over the WebSocket, decided on the collector by the window's
// rules. The panels' charts keep the last 301 seconds, as the window's do.
const SECONDS = 301;
const NS = 'http://www.w3.org/2000/svg';
const layouts = {};
const mimic = { program: null, elements: {}, charts: [], volts: null, history: [] };

async function layoutOf(program) {
  if (!layouts[program]) {
    const r = await fetch(`/api/mimic-layout?program=${program}`, { credentials: 'same-origin' });
    if (!r.ok) throw new Error(`Brak układu schematu programu ${program}`);
    layouts[program] = await r.json();
  }
  return layouts[program];
}

function chartSvg(e, panel) {
  const svg = document.createElementNS(NS, 'svg');
  svg.setAttribute('viewBox', `0 0 ${e.w} ${e.h}`);
  svg.setAttribute('class', 'mimic-chart');
  const left = 30, top = 6, right = e.w - 5, bottom = e.h - 3;
  const y = (v) => bottom - (v - panel.axisMin) / (panel.axisMax - panel.axisMin) * (bottom - top);
  const add = (tag, attrs) => {
    const n = document.createElementNS(NS, tag);
    for (const [k, v] of Object.entries(attrs)) n.setAttribute(k, v);
    svg.append(n);
    return n;
  };
  add('rect', { x: 0, y: 0, width: e.w, height: e.h, fill: '#e8dbb9' });
  for (let v = Math.ceil(panel.axisMin / 50) * 50; v <= panel.axisMax; v += 50) {
    add('line', { x1: left, x2: right, y1: y(v), y2: y(v), class: 'grid' });
    add('text', { x: left - 2, y: y(v) + 3, class: 'tick' }).textContent = `${v}V`;
  }
  for (let s = 60; s < SECONDS; s += 60) {
    const x = left + s / SECONDS * (right - left);
    add('line', { x1: x, x2: x, y1: top, y2: bottom, class: 'grid' });
  }
  const lines = panel.colours.map((c) => add('polyline', { fill: 'none', stroke: c, 'stroke-width': 1 }));
  return { svg, lines, x: (i) => left + i / (SECONDS - 1) * (right - left), y };
}

async function build(program, box) {
  const l = await layoutOf(program);
  box.replaceChildren();
  box.style.width = `${l.width}px`;
  box.style.height = `${l.height}px`;
  box.setAttribute('aria-label', l.caption);
  mimic.elements = {};
  mimic.charts = [];
  mimic.history = [];
  document.getElementById('mimic-caption').textContent = l.caption;
  for (const e of l.elements) {
    let node;
    if (e.kind === 'picture') {
      node = document.createElement('img');
      node.src = `/art/${e.file}`;
      node.alt = e.spoken;
    } else if (e.kind === 'reading') {
      node = document.createElement('span');
      node.className = 'mimic-reading';
    } else {
      const panel = l.panels.find((p) => p.line === e.line);
      const c = chartSvg(e, panel);
      mimic.charts.push(c);
      node = document.createElement('div');
      node.append(c.svg);
    }
    node.dataset.name = e.name;
    node.title = e.spoken;
    Object.assign(node.style, { left: `${e.x}px`, top: `${e.y}px`, width: `${e.w}px`, height: `${e.h}px` });
    box.append(node);
    mimic.elements[e.name] = node;
  }
  mimic.program = program;
}

function apply(m) {
  const shown = new Set(m.shown);
  for (const [name, node] of Object.entries(mimic.elements)) {
    node.hidden = !shown.has(name);
    if (name in m.readings) node.textContent = m.readings[name];
  }
  mimic.volts = m.volts;
  document.getElementById('mimic').dataset.shown = m.shown.join(' ');
}

// One point a second per phase, as the window's chart steps.
setInterval(() => {
  if (!mimic.volts || !mimic.charts.length) return;
  mimic.history.push(mimic.volts);
  if (mimic.history.length > SECONDS) mimic.history.shift();
  mimic.charts.forEach((c, p) => {
    c.lines.forEach((line, k) => {
      line.setAttribute('points', mimic.history.map((v, i) => `${c.x(i).toFixed(1)},${c.y(v[p][k]).toFixed(1)}`).join(' '));
    });
  });
}, 1000);

let pending = Promise.resolve();
export function showMimic(tile) {
  const box = document.getElementById('mimic');
  const m = tile.mimic;
  document.getElementById('no-mimic').hidden = !!m;
  box.hidden = !m;
  if (!m) return;
  pending = pending.then(async () => {
    if (mimic.program !== m.program) await build(m.program, box);
    apply(m);
  }).catch((e) => { document.getElementById('no-mimic').textContent = e.message; });
}

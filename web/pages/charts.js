// The voltage charts: one supply line's three phases over a period, each
// pixel column's lowest and highest drawn as a band around its last value
// (dygraphs' custom bars), from the collector's line index. The desktop's six
// scales with their steps, free zoom by dragging (double click: back), and
// while the window ends at the present it moves on with the scale's period.
/* global Dygraph */
const state = { name: '', line: 1, scale: 2, scales: null, max: null, atNow: true, g: null, timer: null };
const PHASES = ['L1', 'L2', 'L3'];
const COLOURS = ['#e0c000', '#ff0000', '#0080ff']; // the chart windows' phases (yellow darkened on white)

function fmt(ms) {
  const d = new Date(ms);
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getUTCFullYear()}-${p(d.getUTCMonth() + 1)}-${p(d.getUTCDate())} ${p(d.getUTCHours())}:${p(d.getUTCMinutes())}:${p(d.getUTCSeconds())}`;
}

function message(text) {
  const m = document.getElementById('chart-message');
  m.textContent = text || '';
  m.hidden = !text;
}

async function fetchChart(t0, t1) {
  const box = document.getElementById('chart');
  const cols = Math.max(100, Math.min(4000, Math.round(box.clientWidth || 1000)));
  const q = new URLSearchParams({ c: state.name, linia: state.line, od: Math.round(t0), do: Math.round(t1), kolumny: cols });
  for (;;) {
    const r = await fetch(`/api/chart?${q}`, { credentials: 'same-origin' });
    const d = await r.json().catch(() => ({}));
    if (r.status === 401) location.replace('/login');
    if (r.status === 202) { // the index's first build
      message(`Budowanie indeksu historii napięć: ${d.percent}%`);
      await new Promise((ok) => setTimeout(ok, 500));
      continue;
    }
    if (!r.ok) throw new Error(d.error || `Błąd ${r.status}`);
    return d;
  }
}

// A column's band is [lowest, last, highest, first]. Between two columns
// with no rows between them the line runs straight from the one's last
// value to the other's first, as the desktop draws it, with no band across.
function chartRows(d, t0, t1) {
  const step = (t1 - t0) / d.columns;
  const band = (b) => (b ? [b[0], b[1], b[2]] : null);
  const point = (b, k) => (b ? [b[k], b[k], b[k]] : null);
  const rows = [];
  let prev = null;
  for (const r of d.rows) {
    if (prev && r[0] - prev[0] > 1.5 * step) {
      rows.push([new Date(prev[0] + step / 2), ...prev.slice(1).map((b) => point(b, 1))]);
      rows.push([new Date(r[0] - step / 2), ...r.slice(1).map((b) => point(b, 3))]);
    }
    rows.push([new Date(r[0]), ...r.slice(1).map(band)]);
    prev = r;
  }
  return rows;
}

function draw(d, t0, t1) {
  const rows = chartRows(d, t0, t1);
  const box = document.getElementById('chart');
  const options = {
    labels: ['Czas', ...PHASES.map((p) => `N${state.line}${p}`)],
    customBars: true, colors: COLOURS, labelsUTC: true, connectSeparatedPoints: true,
    dateWindow: [t0, t1], ylabel: 'V', legend: 'follow', strokeWidth: 1, fillAlpha: 0.25,
    valueRange: [0, 320], animatedZooms: false,
    zoomCallback: (minX, maxX) => { if (minX !== t0 || maxX !== t1) zoomTo(minX, maxX); },
  };
  if (!rows.length) rows.push([new Date(t0), null, null, null]);
  if (state.g) state.g.updateOptions({ file: rows, ...options });
  else state.g = new Dygraph(box, rows, options);
  box.dataset.rows = JSON.stringify(d.rows);
  box.dataset.t0 = String(t0);
  box.dataset.t1 = String(t1);
  box.dataset.columns = String(d.columns);
}

async function load(t0, t1) {
  const started = performance.now();
  try {
    const d = await fetchChart(t0, t1);
    if (!state.scales) { state.scales = d.scales; buttons(); }
    state.offset = d.now - Date.now(); // the collector's wall clock
    message(d.rows.length ? '' : 'Brak pomiarów w tym okresie.');
    draw(d, t0, t1);
    document.getElementById('chart-period').textContent = `${fmt(t0)} – ${fmt(t1)}`;
    const box = document.getElementById('chart');
    box.dataset.ms = String(performance.now() - started);
    box.dataset.loads = String(Number(box.dataset.loads || 0) + 1);
    return d;
  } catch (e) {
    message(e.message);
    return null;
  }
}

function scaleStep() { return state.scales[state.scale - 1]; }

async function show() {
  const asked = new URLSearchParams(location.search);
  if (!state.scales && asked.get('od') && asked.get('do')) { // a period named in the address
    const d = await load(Number(asked.get('od')), Number(asked.get('do')));
    if (!d) return;
    state.atNow = false;
    state.max = Number(asked.get('do'));
    return;
  }
  if (!state.scales) { // the scales come with the first answer
    const now = Date.now() - new Date().getTimezoneOffset() * 60000;
    const d = await load(now - 3600000, now);
    if (!d) return;
    state.max = d.now;
  }
  const s = scaleStep();
  document.getElementById('chart-scale').textContent = s.text;
  for (const b of document.querySelectorAll('#chart-scales button'))
    b.classList.toggle('on', Number(b.dataset.scale) === state.scale);
  await load(state.max - s.window, state.max);
}

async function zoomTo(minX, maxX) {
  state.atNow = false;
  await load(minX, maxX);
}

function buttons() {
  const box = document.getElementById('chart-scales');
  box.replaceChildren(...state.scales.map((s, i) => {
    const b = document.createElement('button');
    b.type = 'button';
    b.className = 'quiet';
    b.dataset.scale = String(i + 1);
    b.textContent = String(i + 1);
    b.title = s.text;
    b.addEventListener('click', () => { state.scale = i + 1; show(); });
    return b;
  }));
}

function restartTimer() {
  clearInterval(state.timer);
  // The window at the present moves on by the scale's period once that has passed.
  state.timer = setInterval(async () => {
    if (!state.atNow || !state.scales || document.getElementById('view-wykresy').hidden) return;
    const now = Date.now() + (state.offset || 0);
    if (now - state.max < scaleStep().period) return;
    state.max += scaleStep().period * Math.floor((now - state.max) / scaleStep().period);
    await show();
  }, 1000);
}

export function showCharts(name) {
  state.name = name;
  if (state.init) { show(); return; }
  state.init = true;
  document.getElementById('chart-line').addEventListener('change', (e) => { state.line = Number(e.target.value); show(); });
  document.getElementById('chart-left').addEventListener('click', () => { state.atNow = false; state.max -= scaleStep().move; show(); });
  const now = () => Date.now() + (state.offset || 0);
  document.getElementById('chart-right').addEventListener('click', () => {
    state.max = Math.min(state.max + scaleStep().move, now()); // never past the present
    show();
  });
  document.getElementById('chart-now').addEventListener('click', () => {
    state.atNow = true;
    state.max = now();
    show();
  });
  document.getElementById('chart-csv').addEventListener('click', () => {
    const box = document.getElementById('chart');
    const q = new URLSearchParams({ c: state.name, linia: state.line, od: box.dataset.t0, do: box.dataset.t1 });
    location.href = `/api/chart.csv?${q}`;
  });
  restartTimer();
  show();
}

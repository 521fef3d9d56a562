// One controller's page: its header (name, identifier, link, alarms) kept
// live from the overview's tiles, and its views: the event log a page at a
// time from the server, with remarks, the configuration of the last read, and
// the live mimic (mimic.js).
import { state, startPage, $, el, fmtTime, post } from './common.js';
import { showMimic } from './mimic.js';
import { showCharts } from './charts.js';

const name = new URLSearchParams(location.search).get('n') || '';
const LINK = { up: 'połączony', lost: 'brak połączenia', none: 'nie znaleziono sterownika' };
const q = (o) => new URLSearchParams(o).toString();

function showError(text) {
  $('message').textContent = text || '';
  $('message').hidden = !text;
}

async function getJson(path) {
  const r = await fetch(path, { credentials: 'same-origin' });
  const data = await r.json().catch(() => ({}));
  if (r.status === 401) location.replace('/login');
  if (!r.ok) throw new Error(data.error || `Błąd ${r.status}`);
  return data;
}

// --- header ---
let lastEvent = null;
function header() {
  const t = state.tiles.find((x) => x.name === name);
  if (!t) { showError(`Nie ma sterownika „${name}”`); return; }
  const operator = !!state.session?.canAct;
  $('report-form').hidden = !operator;
  $('report-note').hidden = !operator;
  $('report-viewer').hidden = operator;
  document.title = `${t.name} – konsola obiektu QTA-504`;
  $('unit-name').textContent = t.name;
  $('unit-id').textContent = t.id ? `ID ${t.id}` : '';
  const link = $('unit-link');
  link.className = `link link-${t.link}`;
  link.querySelector('.link-text').textContent = t.link === 'lost' && t.lostSince
    ? `brak połączenia od ${fmtTime(t.lostSince)}` : LINK[t.link];
  const a = $('unit-alarms');
  a.className = `tile-alarms ${t.unacked > 0 ? (t.top === 'wysoki' ? 'high' : 'medium') : 'none'}`;
  a.textContent = t.unacked > 0 ? `Niepotwierdzone alarmy: ${t.unacked}` : 'Brak niepotwierdzonych alarmów';
  showMimic(t);
  const ev = `${t.eventTime}|${t.eventText}`;
  if (lastEvent !== null && ev !== lastEvent && view === 'rejestr' && events.page === 1 && !editing())
    loadEvents();
  lastEvent = ev;
}

// --- views ---
let view = '';
function showView(v) {
  view = ['schemat', 'rejestr', 'wykresy', 'konfiguracja', 'raport'].includes(v) ? v : 'schemat';
  for (const a of document.querySelectorAll('#views a'))
    a.classList.toggle('current', a.dataset.view === view);
  for (const s of document.querySelectorAll('.view')) s.hidden = s.id !== `view-${view}`;
  if (view === 'rejestr') loadEvents();
  else if (view === 'konfiguracja') loadConfig();
  else if (view === 'wykresy') showCharts(name);
}
window.addEventListener('hashchange', () => showView(location.hash.slice(1)));

// --- event log ---
const events = { page: 1, pages: 1, od: '', do: '' };
const editing = () => document.activeElement?.classList.contains('remark');

async function saveRemark(input, row, tr) {
  const msg = $('remark-message');
  try {
    const r = await post('/api/remark', { controller: name, row, text: input.value });
    input.dataset.saved = r.text;
    tr.classList.remove('refused');
    msg.hidden = true;
  } catch (e) {
    // As in the event-log window: the text stays in its cell to be corrected.
    tr.classList.add('refused');
    msg.textContent = e.message;
    msg.hidden = false;
  }
}

function eventRow(r, canRemark) {
  const tr = el('tr', { 'data-row': String(r.row) });
  r.cells.forEach((text, c) => {
    const td = el('td', { class: `c${c}` });
    if (c === 3 && canRemark) {
      const input = el('input', { class: 'remark', value: text, 'aria-label': `Uwagi, wiersz ${r.row + 1}` });
      input.dataset.saved = text;
      const save = () => { if (input.value !== input.dataset.saved || tr.classList.contains('refused')) saveRemark(input, r.row, tr); };
      input.addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); save(); } });
      input.addEventListener('change', save);
      td.append(input);
    } else {
      td.textContent = text;
    }
    tr.append(td);
  });
  return tr;
}

async function loadEvents() {
  const started = performance.now();
  try {
    const d = await getJson(`/api/events?${q({ c: name, od: events.od, do: events.do, strona: events.page })}`);
    events.pages = d.pages;
    $('event-columns').replaceChildren(...d.columns.map((c) => el('th', { text: c })));
    $('event-rows').replaceChildren(...d.rows.map((r) => eventRow(r, d.canRemark)));
    $('no-events').hidden = d.rows.length > 0;
    $('page-info').textContent = `strona ${d.page} z ${d.pages} (zdarzeń: ${d.total})`;
    $('newer').disabled = d.page <= 1;
    $('older').disabled = d.page >= d.pages;
    showError('');
    document.body.dataset.eventsMs = String(performance.now() - started);
    document.body.dataset.eventsPage = String(d.page);
  } catch (e) {
    showError(e.message);
  }
}

$('event-filter').addEventListener('submit', (e) => {
  e.preventDefault();
  events.od = $('od').value;
  events.do = $('do').value;
  events.page = 1;
  loadEvents();
});
$('newer').addEventListener('click', () => { if (events.page > 1) { events.page--; loadEvents(); } });
$('older').addEventListener('click', () => { if (events.page < events.pages) { events.page++; loadEvents(); } });
$('events-csv').addEventListener('click', () => {
  location.href = `/api/events.csv?${q({ c: name, od: $('od').value, do: $('do').value })}`;
});

// --- configuration ---
async function loadConfig() {
  try {
    const d = await getJson(`/api/config?${q({ c: name })}`);
    if (!d.known) {
      $('config-read').textContent = d.note;
      $('config-groups').replaceChildren();
      return;
    }
    $('config-read').textContent =
      `Ostatni pełny odczyt sterownika${d.id ? ` ${d.id}` : ''}: ${fmtTime(d.read) || 'czas nieznany'}. Tylko do odczytu.`;
    $('config-groups').replaceChildren(...d.groups.map((g) => el('section', {},
      el('h2', { text: g.title }),
      el('dl', {}, ...g.rows.flatMap(([k, v]) => [el('dt', { text: k }), el('dd', { text: v })])))));
  } catch (e) {
    showError(e.message);
  }
}

// --- report ---
{
  const today = new Date();
  const iso = (d) => `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
  $('report-do').value = iso(today);
  $('report-od').value = iso(new Date(today.getFullYear(), today.getMonth() - 1, today.getDate()));
  $('report-form').addEventListener('submit', (e) => {
    e.preventDefault();
    location.href = `/api/report?${q({ c: name, od: $('report-od').value, do: $('report-do').value })}`;
  });
}

startPage({ snapshot: header, tile: (t) => { if (t.name === name) header(); } });
showView(location.hash.slice(1));

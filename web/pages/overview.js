// The overview: one tile per controller, in the configuration's order,
// replaced whenever the collector says it changed.
import { state, startPage, $, el, fmtTime } from './common.js';

const LINK = { up: 'połączony', lost: 'brak połączenia', none: 'nie znaleziono sterownika' };

function lineClass(code) {
  return ['zla', 'srednia', 'dobra', 'dobra'][code] ?? '';
}

function tile(t) {
  const link = t.link === 'lost' && t.lostSince
    ? `brak połączenia od ${fmtTime(t.lostSince)}` : LINK[t.link];
  const lines = el('ul', { class: 'lines' },
    ...t.lines.map((l) => el('li', { class: `line ${lineClass(l.code)}` },
      el('span', { class: 'line-name', text: l.name }), el('span', { text: l.state }))));
  const alarms = t.unacked > 0
    ? el('a', { class: `tile-alarms ${t.top === 'wysoki' ? 'high' : 'medium'}`, href: '/alarmy',
      text: `Niepotwierdzone alarmy: ${t.unacked}` })
    : el('span', { class: 'tile-alarms none', text: 'Brak niepotwierdzonych alarmów' });
  return el('article', { class: `tile link-${t.link}`, 'data-name': t.name },
    el('header', {},
      el('h2', {}, el('a', { href: `/sterownik?n=${encodeURIComponent(t.name)}`, text: t.name })),
      el('span', { class: 'ident', text: t.id ? `ID ${t.id}` : '' })),
    el('p', { class: `link link-${t.link}` },
      el('span', { class: 'dot' }), el('span', { class: 'link-text', text: link })),
    el('p', { class: 'port', text: t.port }),
    el('dl', {},
      el('dt', { text: 'Program' }), el('dd', { class: 'program', text: t.program || '–' }),
      el('dt', { text: 'Linia aktywna' }), el('dd', { class: 'active', text: t.active || '–' })),
    lines,
    alarms,
    el('p', { class: 'event' },
      el('span', { class: 'event-time', text: t.eventTime || '' }),
      el('span', { class: 'event-text', text: t.eventText || 'brak zdarzeń' })));
}

function renderAll() {
  const box = $('tiles');
  box.replaceChildren(...state.tiles.map(tile));
  $('empty').hidden = state.tiles.length > 0;
  box.dataset.count = String(state.tiles.length);
}

function renderOne(t) {
  const old = document.querySelector(`.tile[data-name="${CSS.escape(t.name)}"]`);
  if (old) old.replaceWith(tile(t)); else renderAll();
}

startPage({ snapshot: renderAll, tile: renderOne });

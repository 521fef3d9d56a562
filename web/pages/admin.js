// Administration: the sessions (any can be ended) and the activity log.
import { startPage, $, el, fmtTime, post } from './common.js';

let offset = 0;

function say(text) {
  $('message').textContent = text;
  $('message').hidden = !text;
}

async function loadSessions() {
  const r = await fetch('/api/sessions', { credentials: 'same-origin' });
  if (!r.ok) { say('Nie można odczytać sesji'); return; }
  const { sessions } = await r.json();
  $('sessions').replaceChildren(...sessions.map((s) => el('tr', { 'data-user': s.user },
    el('td', { text: s.user + (s.own ? ' (ta sesja)' : '') }),
    el('td', { text: s.role }),
    el('td', { text: s.address }),
    el('td', { text: fmtTime(s.created) }),
    el('td', { text: fmtTime(s.lastSeen) }),
    el('td', {}, el('button', { type: 'button', class: 'end quiet', text: 'Zakończ',
      onclick: async () => {
        try { await post('/api/sessions/end', { handle: s.handle }); } catch (e) { say(e.message); }
        loadSessions();
      } })))));
}

async function loadActivity(more) {
  if (!more) offset = 0;
  const r = await fetch(`/api/activity?offset=${offset}&limit=100`, { credentials: 'same-origin' });
  if (!r.ok) { say('Nie można odczytać dziennika aktywności'); return; }
  const page = await r.json();
  const rows = page.records.map((a) => el('tr', { class: a.result === 'sukces' ? '' : 'refused' },
    el('td', { text: fmtTime(a.time) }), el('td', { text: a.user }), el('td', { text: a.address }),
    el('td', { text: a.action }), el('td', { text: a.object }), el('td', { text: a.result }),
    el('td', { text: a.details })));
  if (more) $('activity').append(...rows); else $('activity').replaceChildren(...rows);
  offset += page.records.length;
  $('more').hidden = !page.more;
}

$('more').addEventListener('click', () => loadActivity(true));
startPage({}).then(() => {
  loadSessions();
  loadActivity(false);
  setInterval(loadSessions, 15000);
});

// The alarms of the whole site, newest first, filtered by controller;
// operators acknowledge (with the remark above), acknowledge all of one
// controller, or shelve for an hour. Viewers see the list only.
import { state, startPage, $, el, fmtTime, post } from './common.js';

const filter = $('filter');
const message = $('message');

function say(text) {
  message.textContent = text;
  message.hidden = !text;
}

async function act(path, body) {
  say('');
  try {
    await post(path, body);
    $('remark').value = '';
  } catch (e) {
    say(e.message);
  }
}

function row(a, canAct) {
  const ops = canAct ? el('td', { class: 'ops' },
    a.unacked ? el('button', { type: 'button', class: 'ack', text: 'Potwierdź',
      title: 'Potwierdź wybrany alarm',
      onclick: () => act('/api/ack', { controller: a.controller, key: a.key, remark: $('remark').value }) }) : null,
    a.state !== 'wyciszony' ? el('button', { type: 'button', class: 'shelve quiet', text: 'Wycisz na 1 h',
      title: 'Wycisz wybrany alarm na godzinę',
      onclick: () => act('/api/shelve', { controller: a.controller, key: a.key }) }) : null) : null;
  return el('tr', { class: `${a.priority} ${a.state}`, 'data-controller': a.controller, 'data-key': a.key },
    el('td', {}, el('span', { class: `prio ${a.priority}`, text: a.priorityText })),
    el('td', { text: a.controller }),
    el('td', { class: 'text', text: a.text }),
    el('td', { class: 'state', text: a.state === 'wyciszony' ? `wyciszony do ${fmtTime(a.shelvedUntil).slice(11, 16)}` : a.stateText }),
    el('td', { text: fmtTime(a.raised) }),
    el('td', { text: fmtTime(a.cleared) }),
    el('td', { text: a.who }),
    el('td', { text: a.remark }),
    ops);
}

function render() {
  const names = state.tiles.map((t) => t.name);
  const chosen = filter.value;
  if (filter.options.length - 1 !== names.length ||
      names.some((n, i) => filter.options[i + 1].value !== n)) {
    filter.replaceChildren(el('option', { value: '', text: 'wszystkie' }),
      ...names.map((n) => el('option', { value: n, text: n })));
    filter.value = names.includes(chosen) ? chosen : '';
  }
  const canAct = state.session.canAct;
  const list = Object.values(state.alarms).flat()
    .filter((a) => !filter.value || a.controller === filter.value)
    .sort((x, y) => (y.raised || '').localeCompare(x.raised || ''));
  $('rows').replaceChildren(...list.map((a) => row(a, canAct)));
  $('none').hidden = list.length > 0;
  const all = $('ack-all'); // gone for a viewer
  if (all) all.disabled = !filter.value || !(state.alarms[filter.value] || []).some((a) => a.unacked);
}

filter.addEventListener('change', render);
$('ack-all').addEventListener('click', () =>
  act('/api/ack-all', { controller: filter.value, remark: $('remark').value }));

startPage({ snapshot: render, alarms: render, tile: () => {} }).then(() => {
  // A viewer gets no column of buttons at all.
  for (const e of document.querySelectorAll('.ops'))
    if (state.session.canAct) e.hidden = false; else e.remove();
});

// What every signed-in page shares: the session (who, role, token), the
// header, the live connection to the collector (reconnected by itself, and
// said plainly while lost), the unacknowledged count in the title and the
// icon, and the alarm sound once the user has allowed it.
export const state = { session: null, tiles: [], alarms: {} };

export const $ = (id) => document.getElementById(id);

export function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else if (k.startsWith('data-')) e.setAttribute(k, v);
    else e[k] = v;
  }
  for (const c of children) if (c != null) e.append(c);
  return e;
}

export function fmtTime(iso) {
  if (!iso) return '';
  const d = new Date(iso);
  if (isNaN(d)) return iso;
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}`;
}

export async function post(path, body) {
  const r = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': state.session.csrf },
    body: JSON.stringify(body || {}),
    credentials: 'same-origin',
  });
  const data = await r.json().catch(() => ({}));
  if (r.status === 401) location.replace('/login');
  if (!r.ok) throw new Error(data.error || `Błąd ${r.status}`);
  return data;
}

async function loadSession() {
  const r = await fetch('/api/session', { credentials: 'same-origin' });
  if (!r.ok) {
    location.replace('/login');
    throw new Error('brak sesji');
  }
  state.session = await r.json();
  return state.session;
}

// --- the count of unacknowledged alarms: title, icon, navigation ---
const baseTitle = document.title;
function waiting() {
  let count = 0;
  let high = false;
  for (const list of Object.values(state.alarms))
    for (const a of list)
      if (a.unacked && a.state !== 'wyciszony') {
        count++;
        if (a.priority === 'wysoki') high = true;
      }
  return { count, high };
}

function drawIcon(count, high) {
  const c = document.createElement('canvas');
  c.width = c.height = 32;
  const g = c.getContext('2d');
  g.fillStyle = '#1f4e79';
  g.beginPath();
  g.roundRect(1, 1, 30, 30, 6);
  g.fill();
  if (count > 0) {
    g.fillStyle = high ? '#c62828' : '#ef8f00';
    g.beginPath();
    g.arc(20, 12, 11, 0, 2 * Math.PI);
    g.fill();
    g.fillStyle = '#fff';
    g.font = 'bold 15px sans-serif';
    g.textAlign = 'center';
    g.textBaseline = 'middle';
    g.fillText(count > 99 ? '99' : String(count), 20, 13);
  }
  let link = document.querySelector('link[rel="icon"]');
  link.type = 'image/png';
  link.href = c.toDataURL('image/png');
}

let lastBadge = '';
function updateBadge() {
  const { count, high } = waiting();
  document.title = count > 0 ? `(${count}) ${baseTitle}` : baseTitle;
  const badge = $('alarm-count');
  if (badge) {
    badge.hidden = count === 0;
    badge.textContent = String(count);
    badge.classList.toggle('high', high);
  }
  const key = `${count}/${high}`;
  if (key !== lastBadge) {
    lastBadge = key;
    drawIcon(count, high);
  }
  sound.high = high;
}

// --- sound: browsers allow it only after the user's own click ---
const sound = { allowed: false, high: false, ctx: null, timer: null };
function beep() {
  if (!sound.allowed || !sound.high || !sound.ctx) return;
  const o = sound.ctx.createOscillator();
  const g = sound.ctx.createGain();
  o.frequency.value = 880;
  g.gain.setValueAtTime(0.2, sound.ctx.currentTime);
  g.gain.exponentialRampToValueAtTime(0.001, sound.ctx.currentTime + 0.4);
  o.connect(g).connect(sound.ctx.destination);
  o.start();
  o.stop(sound.ctx.currentTime + 0.4);
}
function setupSound() {
  const b = $('sound');
  if (!b) return;
  b.hidden = false;
  const note = $('sound-note');
  if (note) note.hidden = false;
  b.addEventListener('click', () => {
    sound.allowed = !sound.allowed;
    if (sound.allowed && !sound.ctx) sound.ctx = new AudioContext();
    if (sound.ctx) sound.ctx.resume();
    b.textContent = sound.allowed ? 'Wycisz dźwięk alarmów' : 'Włącz dźwięk alarmów';
    b.classList.toggle('on', sound.allowed);
    if (note) note.hidden = sound.allowed;
    beep();
  });
  sound.timer = setInterval(beep, 2000);
}

// --- the live connection ---
function connect(handlers) {
  const lost = $('lost');
  let heard = Date.now();
  let retry = 1000;
  let ws;
  const open = () => {
    const proto = location.protocol === 'https:' ? 'wss:' : 'ws:';
    ws = new WebSocket(`${proto}//${location.host}/ws`);
    ws.onopen = () => { heard = Date.now(); retry = 1000; };
    ws.onmessage = (e) => {
      heard = Date.now();
      lost.hidden = true;
      document.body.classList.remove('offline');
      const m = JSON.parse(e.data);
      if (m.t === 'snapshot') {
        state.tiles = m.controllers;
        state.alarms = m.alarms;
        handlers.snapshot?.();
      } else if (m.t === 'unit') {
        if (m.tile) {
          const i = state.tiles.findIndex((t) => t.name === m.tile.name);
          if (i >= 0) state.tiles[i] = m.tile; else state.tiles.push(m.tile);
          handlers.tile?.(m.tile);
        }
        if (m.alarms) {
          state.alarms[m.c] = m.alarms;
          handlers.alarms?.(m.c);
        }
      }
      updateBadge();
    };
    ws.onclose = (e) => {
      if (e.code === 4001) { location.replace('/login'); return; }
      lost.hidden = false;
      document.body.classList.add('offline');
      setTimeout(async () => {
        // A session that ended meanwhile sends the page to sign in.
        const r = await fetch('/api/session', { credentials: 'same-origin' }).catch(() => null);
        if (r && r.status === 401) { location.replace('/login'); return; }
        open();
      }, retry);
      retry = Math.min(retry * 2, 10000);
    };
  };
  open();
  // Pings come every 15 s: 40 s of silence is a lost collector.
  setInterval(() => {
    if (Date.now() - heard > 40000 && ws.readyState === WebSocket.OPEN) ws.close();
  }, 5000);
}

export async function startPage(handlers) {
  const s = await loadSession();
  $('who').textContent = `${s.user} (${s.roleName})`;
  $('nav-admin').hidden = !s.isAdmin;
  $('logout').addEventListener('click', async () => {
    try { await post('/api/logout'); } finally { location.replace('/login'); }
  });
  setupSound();
  connect(handlers);
}

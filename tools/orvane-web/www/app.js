// The Orvane browser front-end: live state over a WebSocket to orvane-web,
// operator commands back. Jog buttons are hold-to-run: the jog is sent again
// every 50 ms while a button is held and stopped when it is let go;
// orvane-web stops it by itself when these stop coming.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const $ = (id) => document.getElementById(id);
const COLORS = ['#1f6feb', '#cf222e', '#1a7f37', '#bf8700', '#8250df', '#0a7ea4', '#6e7781'];
const POSE = ['X', 'Y', 'Z', 'A', 'B', 'C'];
const AXES = {
  Joint: ['J1', 'J2', 'J3', 'J4', 'J5', 'J6', 'Gripper'],
  Base: ['X', 'Y', 'Z', 'A', 'B', 'C', 'Gripper'],
  Tool: ['X', 'Y', 'Z', 'A', 'B', 'C', 'Gripper'],
  Platform: ['Forward', 'Sideways', 'Turn'],
};
const PLOT_SECONDS = 30;
const JOG_REPEAT_MS = 50;

// What the page knows; window.orvane for people and tests looking in.
const state = { status: null, statusCount: 0, controller: false, mode: 'Joint', program: null, jogTrips: 0 };
window.orvane = state;
const history = [];   // {t, meas[7]} of the last PLOT_SECONDS
const path = [];      // tool positions [x, y, z]
let socket = null;
let dirty = false;
let overrideTouched = -1e9;  // when the override slider was last moved here

// ------------------------------------------------------------------ link

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
  socket = new WebSocket(`${scheme}://${location.host}/ws?token=${encodeURIComponent(token)}`);
  socket.onopen = () => showLink();
  socket.onmessage = (e) => receive(JSON.parse(e.data));
  socket.onclose = () => {
    stopJog();
    state.controller = false;
    showLink();
    setTimeout(connect, 1000);
  };
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

function receive(m) {
  switch (m.type) {
    case 'status':
      state.status = m;
      state.statusCount++;
      record(m);
      dirty = true;
      break;
    case 'connection':
      state.controller = m.controller;
      if (m.mode) setMode(m.mode.charAt(0).toUpperCase() + m.mode.slice(1), false);
      showLink();
      break;
    case 'message': addMessage(m.text, false); break;
    case 'error':
      if (m.text.includes('went quiet')) state.jogTrips++;
      addMessage(m.text, true);
      break;
    case 'program': state.program = m; showProgram(); break;
    case 'programs': showPrograms(m.names); break;
  }
}

function showLink() {
  const open = socket && socket.readyState === WebSocket.OPEN;
  pill($('conn'), !open ? 'Offline' : state.controller ? 'Controller connected' : 'No controller',
       open && state.controller ? 'ok' : 'bad');
}

function pill(el, text, kind) {
  el.textContent = text;
  el.className = 'pill ' + (kind || '');
}

// ------------------------------------------------------------------ live values

function record(s) {
  const t = performance.now() / 1000;
  history.push({ t, meas: s.meas });
  while (history.length && history[0].t < t - PLOT_SECONDS) history.shift();
  const [x, y, z] = s.pose;
  const last = path[path.length - 1];
  if (!last || Math.abs(last[0] - x) + Math.abs(last[1] - y) + Math.abs(last[2] - z) > 0.05) {
    path.push([x, y, z]);
    if (path.length > 5000) path.shift();
  }
}

function buildTable() {
  const body = $('values');
  for (let i = 0; i < 7; i++) {
    const row = document.createElement('tr');
    row.id = `row-${i + 1}`;
    row.innerHTML = `<td class="name"><i style="color:${COLORS[i]}">■</i> J${i + 1}</td>` +
      `<td id="set-${i + 1}">–</td><td id="meas-${i + 1}">–</td><td class="gap"></td>` +
      (i < 6 ? `<td><span class="name">${POSE[i]}</span> <span id="pose-${POSE[i]}">–</span></td>` : '<td></td>');
    body.appendChild(row);
  }
  $('row-7').hidden = true;
  $('legend').innerHTML = COLORS.slice(0, 6).map((c, i) => `<span><i style="background:${c}"></i>J${i + 1}</span>`).join('');
}

function render() {
  requestAnimationFrame(render);
  if (!dirty) return;
  dirty = false;
  const s = state.status;
  for (let i = 0; i < 7; i++) {
    $(`set-${i + 1}`).textContent = s.set[i].toFixed(2);
    $(`meas-${i + 1}`).textContent = s.meas[i].toFixed(2);
  }
  if (s.set[6] !== 0 || s.meas[6] !== 0) $('row-7').hidden = false;
  POSE.forEach((name, i) => { $(`pose-${name}`).textContent = s.pose[i].toFixed(i < 3 ? 1 : 2); });
  $('override-shown').textContent = `${s.override.toFixed(0)} %`;
  // The slider follows the controller unless someone is moving it.
  if (performance.now() - overrideTouched > 2000 && Number($('override').value) !== Math.round(s.override)) {
    $('override').value = Math.round(s.override);
    $('override-set').textContent = `${$('override').value} %`;
  }
  pill($('bus'), s.error === 'NoError' ? 'Bus OK' : `Bus ${s.error}`, s.error === 'NoError' ? 'ok' : 'bad');
  pill($('kin'), s.kin === 0 ? 'Kinematic OK' : `${s.kinText} (${s.kin})`, s.kin === 0 ? 'ok' : 'warn');
  pill($('estop'), s.estop === 3 ? `E-stop released · ${(s.supply / 1000).toFixed(1)} V`
                                 : `E-stop ${s.estop} · ${(s.supply / 1000).toFixed(1)} V`,
       s.estop === 3 ? 'ok' : 'bad');
  drawPlot();
  drawPath($('top'), 0, 1, 'X', 'Y');
  drawPath($('side'), 0, 2, 'X', 'Z');
}

function prepare(canvas) {
  const ctx = canvas.getContext('2d');
  ctx.clearRect(0, 0, canvas.width, canvas.height);
  ctx.font = '11px "DejaVu Sans", sans-serif';
  return ctx;
}

function niceRange(lo, hi) {
  if (!isFinite(lo)) return [-1, 1];
  if (hi - lo < 1) { const m = (hi + lo) / 2; lo = m - 0.5; hi = m + 0.5; }
  const pad = (hi - lo) * 0.08;
  return [lo - pad, hi + pad];
}

function drawPlot() {
  const canvas = $('plot');
  const ctx = prepare(canvas);
  const W = canvas.width, H = canvas.height, L = 48, R = 10, T = 10, B = 22;
  if (!history.length) return;
  const now = history[history.length - 1].t;
  let lo = Infinity, hi = -Infinity;
  for (const h of history) for (let j = 0; j < 6; j++) { lo = Math.min(lo, h.meas[j]); hi = Math.max(hi, h.meas[j]); }
  [lo, hi] = niceRange(lo, hi);
  const x = (t) => L + (W - L - R) * (1 - (now - t) / PLOT_SECONDS);
  const y = (v) => T + (H - T - B) * (hi - v) / (hi - lo);
  ctx.strokeStyle = '#e3e7ec'; ctx.fillStyle = '#6b7685'; ctx.lineWidth = 1;
  for (let k = 0; k <= 4; k++) {
    const v = lo + (hi - lo) * k / 4, yy = y(v);
    ctx.beginPath(); ctx.moveTo(L, yy); ctx.lineTo(W - R, yy); ctx.stroke();
    ctx.fillText(v.toFixed(hi - lo < 10 ? 1 : 0), 4, yy + 4);
  }
  for (let s = 0; s <= PLOT_SECONDS; s += 10) {
    const xx = x(now - s);
    ctx.fillText(s === 0 ? 'now' : `-${s} s`, xx - 14, H - 6);
  }
  ctx.lineWidth = 1.8;
  for (let j = 0; j < 6; j++) {
    ctx.strokeStyle = COLORS[j];
    ctx.beginPath();
    history.forEach((h, i) => (i ? ctx.lineTo : ctx.moveTo).call(ctx, x(h.t), y(h.meas[j])));
    ctx.stroke();
  }
}

function drawPath(canvas, a, b, nameA, nameB) {
  const ctx = prepare(canvas);
  const W = canvas.width, H = canvas.height, M = 24;
  if (!path.length) return;
  let loA = Infinity, hiA = -Infinity, loB = Infinity, hiB = -Infinity;
  for (const p of path) { loA = Math.min(loA, p[a]); hiA = Math.max(hiA, p[a]); loB = Math.min(loB, p[b]); hiB = Math.max(hiB, p[b]); }
  // One scale for both axes, so that the path keeps its shape.
  const span = Math.max(hiA - loA, hiB - loB, 20) * 1.15;
  const cA = (hiA + loA) / 2, cB = (hiB + loB) / 2;
  const scale = Math.min(W - 2 * M, H - 2 * M) / span;
  const px = (v) => W / 2 + (v - cA) * scale;
  const py = (v) => H / 2 - (v - cB) * scale;
  ctx.fillStyle = '#6b7685';
  ctx.fillText(`${nameA} →`, W - 34, H - 6);
  ctx.fillText(`${nameB} ↑`, 4, 12);
  ctx.fillText(`${span.toFixed(0)} mm across`, 4, H - 6);
  ctx.strokeStyle = '#1f6feb'; ctx.lineWidth = 1.5;
  ctx.beginPath();
  path.forEach((p, i) => (i ? ctx.lineTo : ctx.moveTo).call(ctx, px(p[a]), py(p[b])));
  ctx.stroke();
  const last = path[path.length - 1];
  ctx.fillStyle = '#cf222e';
  ctx.beginPath(); ctx.arc(px(last[a]), py(last[b]), 4, 0, 2 * Math.PI); ctx.fill();
}

// ------------------------------------------------------------------ commands and jog

let held = null;
let repeat = null;

function jogSpeed() { return Number($('jog-speed').value); }

function startJog(button, axis, sign) {
  stopJog();
  held = { button, axis, value: sign * jogSpeed() };
  button.classList.add('held');
  send({ type: 'jog', axis, value: held.value });
  repeat = setInterval(() => send({ type: 'jog', axis: held.axis, value: held.value }), JOG_REPEAT_MS);
}

function stopJog() {
  if (!held) return;
  clearInterval(repeat);
  send({ type: 'jog', axis: held.axis, value: 0 });
  held.button.classList.remove('held');
  held = null;
}

function buildJog() {
  stopJog();
  const box = $('jog');
  box.innerHTML = '';
  AXES[state.mode].forEach((name, i) => {
    const axis = i === 6 ? 7 : i + 1;
    const label = document.createElement('span');
    label.className = 'axis';
    label.textContent = name;
    box.appendChild(label);
    for (const sign of [-1, 1]) {
      const b = document.createElement('button');
      b.id = `jog-${axis}-${sign < 0 ? 'minus' : 'plus'}`;
      b.textContent = sign < 0 ? '−' : '+';
      b.title = `${name} ${sign < 0 ? 'negative' : 'positive'} (hold)`;
      b.addEventListener('pointerdown', (e) => {
        e.preventDefault();
        b.setPointerCapture(e.pointerId);
        startJog(b, axis, sign);
      });
      for (const ev of ['pointerup', 'pointercancel', 'lostpointercapture']) b.addEventListener(ev, stopJog);
      b.addEventListener('contextmenu', (e) => e.preventDefault());
      box.appendChild(b);
    }
  });
}

function setMode(mode, tell) {
  if (!AXES[mode]) return;
  if (tell) send({ type: 'command', name: 'mode' + mode });
  state.mode = mode;
  document.querySelectorAll('#modes button').forEach((b) => b.classList.toggle('active', b.dataset.mode === mode));
  buildJog();
}

// ------------------------------------------------------------------ programs and messages

function showPrograms(names) {
  const list = $('programs');
  const chosen = list.value;
  list.innerHTML = '';
  for (const n of names) {
    const o = document.createElement('option');
    o.value = o.textContent = n;
    list.appendChild(o);
  }
  if (names.includes(chosen)) list.value = chosen;
}

function showProgram() {
  const p = state.program;
  $('program-name').textContent = p.name === 'n/a' ? '–' : p.name;
  const point = p.point >= 0 && p.count > 0 ? `${p.point + 1} of ${p.count}` : `– of ${p.count}`;
  $('program-point').textContent = point;
  $('program-bar').style.width = p.count > 0 && p.point >= 0 ? `${100 * (p.point + 1) / p.count}%` : '0';
}

function addMessage(text, error) {
  const li = document.createElement('li');
  const time = document.createElement('time');
  time.textContent = new Date().toLocaleTimeString();
  li.append(time, text);
  if (error || /error|not found|refused|failed|could not/i.test(text)) li.className = 'error';
  const list = $('messages');
  list.prepend(li);
  while (list.children.length > 100) list.lastChild.remove();
}

function upload(file) {
  if (file.size > 400000) { addMessage(`${file.name} is too large to upload`, true); return; }
  const reader = new FileReader();
  reader.onload = () => {
    send({ type: 'upload', name: file.name, text: reader.result });
    addMessage(`Uploading ${file.name} …`, false);
  };
  reader.readAsText(file);
}

// ------------------------------------------------------------------ set-up

function setUp() {
  buildTable();
  document.querySelectorAll('[data-command]').forEach((b) =>
    b.addEventListener('click', () => send({ type: 'command', name: b.dataset.command })));
  document.querySelectorAll('#modes button').forEach((b) =>
    b.addEventListener('click', () => setMode(b.dataset.mode, true)));
  const override = $('override');
  override.addEventListener('input', () => {
    overrideTouched = performance.now();
    $('override-set').textContent = `${override.value} %`;
  });
  override.addEventListener('change', () => {
    overrideTouched = performance.now();
    send({ type: 'override', value: Number(override.value) });
  });
  const speed = $('jog-speed');
  speed.addEventListener('input', () => { $('jog-speed-shown').textContent = `${speed.value} %`; });
  $('load').addEventListener('click', () => {
    const name = $('programs').value;
    if (name) send({ type: 'load', name });
    else addMessage('Choose a program to load', true);
  });
  const drop = $('drop');
  drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('over');
    for (const f of e.dataTransfer.files) upload(f);
  });
  $('file').addEventListener('change', (e) => { for (const f of e.target.files) upload(f); e.target.value = ''; });
  // A held jog ends when the page loses the pointer or the focus.
  window.addEventListener('blur', stopJog);
  document.addEventListener('visibilitychange', () => { if (document.hidden) stopJog(); });
  setMode('Joint', false);
  showLink();
  connect();
  requestAnimationFrame(render);
}

setUp();

// The console page: polls the JSON API, follows the event stream; nothing is loaded from elsewhere.
'use strict';
const token = new URLSearchParams(location.search).get('token');
const withToken = (path) => token ? path + (path.includes('?') ? '&' : '?') + 'token=' + encodeURIComponent(token) : path;
const $ = (id) => document.getElementById(id);
const el = (tag, props, ...kids) => {
  const e = document.createElement(tag);
  Object.assign(e, props || {});
  for (const k of kids) e.append(k);
  return e;
};

async function api(method, path, body) {
  const opts = { method, headers: {} };
  if (body !== undefined) { opts.body = JSON.stringify(body); opts.headers['Content-Type'] = 'application/json'; }
  const r = await fetch(withToken(path), opts);
  let doc = null;
  try { doc = await r.json(); } catch (e) { doc = null; }
  return { status: r.status, doc };
}

const statusNames = { 0: ['on line', 's-on'], 8: ['refused: key', 's-bad'], 10: ['off line', 's-off'], 11: ['refused: protocol', 's-bad'] };
function statusPill(code) {
  const [name, cls] = code < 0 ? ['waiting', 's-wait'] : statusNames[code] || ['status ' + code, 's-bad'];
  return el('span', { className: 'pill ' + cls, textContent: name });
}
function duration(s) {
  if (s < 0) return '–';
  s = Math.floor(s);
  const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60;
  return (h ? h + 'h ' : '') + (h || m ? m + 'm ' : '') + (s % 60) + 's';
}

let devices = [];
const live = {};
async function refreshDevices() {
  const r = await api('GET', '/api/devices');
  if (r.status !== 200 || !r.doc) return;
  devices = r.doc.devices;
  $('running').textContent = r.doc.running ? 'plug-in running' : 'plug-in stopped';
  $('running').className = 'pill ' + (r.doc.running ? 's-on' : 's-bad');
  const body = $('devices').tBodies[0];
  body.replaceChildren(...devices.map((d) => {
    const actions = el('td');
    if (d.camera) {
      const b = el('button', { textContent: live[d.id] ? 'Stop live view' : 'Live view' });
      b.onclick = () => toggleLive(d.id);
      actions.append(b, ' ');
    }
    const rm = el('button', { textContent: 'Remove' });
    rm.onclick = async () => { await api('DELETE', '/api/devices/' + encodeURIComponent(d.id)); refreshDevices(); };
    actions.append(rm);
    const tr = el('tr', {}, el('td', {}, statusPill(d.status)), el('td', { textContent: d.id }),
      el('td', { textContent: [d.type, d.protocol].filter(Boolean).join(' / ') }), el('td', { textContent: d.serial }),
      el('td', { textContent: d.address || '–' }), el('td', { textContent: duration(d.onlineSeconds) }),
      el('td', { className: 'text', textContent: d.statusText }), actions);
    tr.dataset.id = d.id;
    tr.dataset.status = d.status;
    return tr;
  }));
  syncSelect($('req-device'), devices.map((d) => d.id), null);
  syncSelect($('feed-device'), devices.map((d) => d.id), 'every device');
}

function syncSelect(sel, values, allLabel) {
  const keep = sel.value;
  const opts = allLabel ? [el('option', { value: '', textContent: allLabel })] : [];
  for (const v of values) opts.push(el('option', { value: v, textContent: v }));
  sel.replaceChildren(...opts);
  if ([...sel.options].some((o) => o.value === keep)) sel.value = keep;
}

async function toggleLive(id) {
  if (live[id]) {
    clearInterval(live[id].timer);
    delete live[id];
    await api('POST', '/api/live/' + encodeURIComponent(id), { action: 'stop' });
    $('live-' + id)?.remove();
    return refreshDevices();
  }
  const box = el('div', { className: 'stream', id: 'live-' + id, textContent: id + ': starting live view…' });
  $('live').append(box);
  const r = await api('POST', '/api/live/' + encodeURIComponent(id), { action: 'start' });
  if (r.status !== 200) { box.textContent = id + ': ' + (r.doc?.error || 'HTTP ' + r.status); return; }
  const show = (doc) => {
    const s = doc?.stream;
    box.textContent = id + ' live (session ' + (doc?.session || '?') + '): ' +
      (s ? s.bytes.toLocaleString() + ' bytes, ' + s.packets + ' packets over ' + s.transport + (s.ended ? ' (ended)' : '') : 'no bytes yet');
  };
  show(r.doc);
  live[id] = { timer: setInterval(async () => show((await api('GET', '/api/live/' + encodeURIComponent(id))).doc), 500) };
  refreshDevices();
}

$('add-form').onsubmit = async (ev) => {
  ev.preventDefault();
  const r = await api('POST', '/api/devices', {
    id: $('add-id').value, key: $('add-key').value, type: $('add-type').value, protocol: $('add-protocol').value });
  $('add-result').textContent = r.status === 201 ? 'added' : (r.doc?.error || 'HTTP ' + r.status);
  refreshDevices();
};

$('req-form').onsubmit = async (ev) => {
  ev.preventDefault();
  $('req-answer').textContent = '…';
  const r = await api('POST', '/api/request', {
    device: $('req-device').value, method: $('req-method').value, uri: $('req-uri').value, body: $('req-body').value });
  const d = r.doc || {};
  $('req-rtt').textContent = d.rttMs !== undefined ? d.rttMs.toFixed(1) + ' ms (code ' + d.rc + ')' : 'HTTP ' + r.status;
  $('req-answer').textContent = r.status === 200 ? JSON.stringify(d.answer, null, 2) : (d.error || 'HTTP ' + r.status);
  $('req-answer').dataset.ok = d.ok ? '1' : '0';
};

// Alarm feed: newest first, at most 300 kept.
const alarms = [];
const types = new Set();
function alarmItem(a) {
  const fields = ['eventType', 'description', 'name', 'channel', 'category', 'eventCode', 'active', 'serialNo', 'timeText']
    .filter((k) => a[k] !== '' && a[k] !== undefined).map((k) => k + '=' + a[k]).join('  ');
  const li = el('li', { className: 'alarm' },
    el('div', { className: 'head', textContent: new Date(a.received).toLocaleTimeString() + '  ' + a.host + '  ' + typeOf(a) }),
    el('div', { className: 'fields', textContent: fields }),
    el('pre', { textContent: typeof a.content === 'string' ? a.content : JSON.stringify(a.content, null, 1) }));
  li.dataset.device = a.host;
  li.dataset.type = typeOf(a);
  return li;
}
const typeOf = (a) => a.eventType || (a.content && typeof a.content === 'object' && Object.keys(a.content)[0]) || 'code ' + a.eventCode;
function renderFeed() {
  const dev = $('feed-device').value, type = $('feed-type').value;
  const shown = alarms.filter((a) => (!dev || a.host === dev) && (!type || typeOf(a) === type)).slice(0, 100);
  $('feed').replaceChildren(...shown.map(alarmItem));
  $('feed-count').textContent = shown.length + ' of ' + alarms.length + ' alarms';
}
$('feed-device').onchange = renderFeed;
$('feed-type').onchange = renderFeed;

let feedDirty = false;
function follow() {
  const es = new EventSource(withToken('/events'));
  es.onmessage = (m) => {
    let e;
    try { e = JSON.parse(m.data); } catch (x) { return; }
    if (e.event === 'alarm') {
      e.received = Date.now();
      alarms.unshift(e);
      alarms.length = Math.min(alarms.length, 300);
      if (!types.has(typeOf(e))) { types.add(typeOf(e)); syncSelect($('feed-type'), [...types].sort(), 'every event type'); }
      feedDirty = true;
    } else if (['status', 'deviceAdded', 'deviceRemoved'].includes(e.event)) {
      refreshDevices();
    }
  };
  es.onerror = () => { es.close(); setTimeout(follow, 2000); };
}
setInterval(() => { if (feedDirty) { feedDirty = false; renderFeed(); } }, 250);

// Counters and a chart of the last minute.
const latency = [];
async function refreshStats() {
  const r = await api('GET', '/api/stats');
  if (r.status !== 200 || !r.doc) return;
  const s = r.doc, l = s.latencyMs;
  latency.push([l.p50, l.p99]);
  if (latency.length > 60) latency.shift();
  const on = devices.filter((d) => d.status === 0).length;
  $('counters').textContent = `devices ${on}/${devices.length} on line · alarms ${s.alarms} · requests ${s.requests}` +
    ` (${s.requestErrors} failed) · latency p50 ${l.p50.toFixed(1)} / p90 ${l.p90.toFixed(1)} / p99 ${l.p99.toFixed(1)} ms`;
  draw(s);
}
function draw(s) {
  const c = $('chart'), g = c.getContext('2d'), W = c.width, H = c.height, pad = 18;
  g.clearRect(0, 0, W, H);
  g.strokeStyle = '#e5e7eb';
  g.strokeRect(pad, 4, W - pad - 4, H - pad - 4);
  const line = (values, color, max) => {
    g.strokeStyle = color;
    g.beginPath();
    values.forEach((v, i) => {
      const x = pad + (W - pad - 4) * i / 59, y = H - pad - (H - pad - 8) * (v / (max || 1));
      i ? g.lineTo(x, y) : g.moveTo(x, y);
    });
    g.stroke();
  };
  const rate = Math.max(1, ...s.alarmsPerSecond, ...s.requestsPerSecond);
  line(s.alarmsPerSecond, '#c0392b', rate);
  line(s.requestsPerSecond, '#2563eb', rate);
  const lat = latency.map((p) => p[1]).concat([1]);
  const lmax = Math.max(...lat);
  const pad60 = (a) => Array(60 - a.length).fill(0).concat(a);
  line(pad60(latency.map((p) => p[0])), '#2e8b57', lmax);
  line(pad60(latency.map((p) => p[1])), '#9333ea', lmax);
  g.fillStyle = '#666';
  g.fillText(rate + '/s', 2, 12);
  g.fillText(lmax.toFixed(0) + ' ms', W - 48, 12);
  g.fillText('last 60 s', pad + 2, H - 4);
}

refreshDevices();
follow();
refreshStats();
setInterval(refreshDevices, 2000);
setInterval(refreshStats, 1000);

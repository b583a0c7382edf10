// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusPage.h"

#include <QCryptographicHash>

namespace vx::status {

namespace {

// Every text the station or a listener chose (names, info text, a player's agent, a relay's reason)
// goes into the page through textContent, never as markup.
constexpr char kScript[] = R"JS(
'use strict';
const $ = (id) => document.getElementById(id);
const SVG = 'http://www.w3.org/2000/svg';
const STATES = {stopped: 'Stopped', starting: 'Starting', on_air: 'On air', record_only: 'Recording only',
                playing: 'Playing a file', stopping: 'Stopping'};
const players = new Map();

function set(id, value) { $(id).textContent = value; }
function when(iso) { return iso ? new Date(iso).toLocaleString() : ''; }
function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (cls) e.className = cls;
  return e;
}
function meter(id, dbfs) {
  const pct = Math.max(0, Math.min(100, (dbfs + 60) / 60 * 100));
  $(id).style.width = pct.toFixed(1) + '%';
}

function showHeader(s) {
  document.title = (s.radio_name || 'Station') + ' - status';
  set('name', s.radio_name || '(no radio name)');
  set('ext', s.ext_radio_name || '');
  set('info', s.info_text || '');
  set('state', STATES[s.state] || s.state);
  $('state').className = 'badge ' + s.state;
  set('since', 'since ' + when(s.state_since));
  set('version', 'v' + s.version + ' - ' + (s.server_name || ''));
}

function showStream(s) {
  const st = s.stream;
  set('rate', st.bit_rate_kbps.toFixed(0) + ' kbit/s, ' + st.sample_rate + ' Hz, ' +
      (st.channels === 1 ? 'mono' : st.channels + ' channels'));
  set('block', st.bytes_last_block + ' bytes every ' + st.refresh_ms + ' ms');
  set('load', st.line_load === null ? 'no line capacity set' : (st.line_load * 100).toFixed(0) + ' %');
  set('errors', String(st.transmission_errors));
  $('errors').className = st.transmission_errors > 0 ? 'bad' : '';
}

function showCapture(s) {
  const c = s.capture;
  set('device', c.device + (c.ok ? '' : ' - LOST'));
  $('device').className = c.ok ? '' : 'bad';
  meter('peak', c.level.peak_dbfs);
  meter('rms', c.level.rms_dbfs);
  set('levels', 'peak ' + c.level.peak_dbfs.toFixed(1) + ' dBFS, RMS ' + c.level.rms_dbfs.toFixed(1) + ' dBFS');
  $('deadair').hidden = !c.silent_since;
  if (c.silent_since) {
    set('deadairtext', 'Dead air: the input has been below ' + c.silence_threshold_dbfs + ' dBFS since ' +
        when(c.silent_since) + ' (' + Math.round(c.silence_seconds) + ' s).');
  }
  $('lost').hidden = c.ok;
}

function showFiles(s) {
  const lines = [];
  if (s.mp3_copy) lines.push('MP3 copy: ' + s.mp3_copy.file + ' (' + s.mp3_copy.bytes_written + ' bytes)');
  if (s.recording) lines.push('Recording: ' + s.recording.file + ' (' + s.recording.bytes_written + ' bytes)');
  if (s.playback) lines.push('Playing: ' + s.playback.file + ' (' + s.playback.bytes_played + ' bytes sent)');
  if (s.directory.offline) lines.push('Directory: offline');
  else if (s.directory.last_request) {
    const d = s.directory.last_request;
    lines.push('Directory: ' + d.action + ' at ' + when(d.time) + ': ' + d.result);
  }
  $('files').replaceChildren(...lines.map((l) => el('li', l)));
}

function showListeners(s) {
  const l = s.listeners;
  set('count', String(l.count));
  set('limit', l.limit === null ? 'no limit' : 'of ' + l.limit);
  const rows = l.clients.map((c) => {
    const tr = el('tr');
    tr.append(el('td', c.address), el('td', c.program), el('td', when(c.connected_since)));
    return tr;
  });
  $('clients').replaceChildren(...rows);
  $('noclients').hidden = l.count > 0;
}

function showRelays(s) {
  const items = s.relays.map((r) => {
    const li = el('li');
    li.append(el('span', r.state.replace('_', ' '), 'badge ' + r.state), el('span', ' ' + r.target));
    if (r.reason) li.append(el('div', r.reason, 'reason'));
    if (r.dropped_blocks > 0) li.append(el('div', r.dropped_blocks + ' blocks dropped', 'reason'));
    if (r.state === 'on_air' && /^https?:\/\//.test(r.listen_url)) {
      let player = players.get(r.listen_url);
      if (!player) {
        player = el('audio');
        player.controls = true;
        player.preload = 'none';
        player.src = r.listen_url;
        players.set(r.listen_url, player);
      }
      const label = el('div', 'Listen: ');
      label.append(player);
      li.append(label);
    }
    return li;
  });
  $('relays').replaceChildren(...items);
  $('norelays').hidden = items.length > 0;
}

function showGraph(s) {
  const points = s.history.map((h) => ({t: h.time, n: h.listeners}));
  points.push({t: s.generated_at, n: s.listeners.count});
  const svg = $('graph');
  const w = 600, h = 160, pad = 24;
  const top = Math.max(1, ...points.map((p) => p.n));
  const x = (i) => pad + (points.length === 1 ? w - 2 * pad : i * (w - 2 * pad) / (points.length - 1));
  const y = (n) => h - pad - n * (h - 2 * pad) / top;
  const line = document.createElementNS(SVG, 'polyline');
  line.setAttribute('points', points.map((p, i) => x(i).toFixed(1) + ',' + y(p.n).toFixed(1)).join(' '));
  line.setAttribute('class', 'line');
  const axis = document.createElementNS(SVG, 'path');
  axis.setAttribute('d', 'M' + pad + ' ' + (h - pad) + 'H' + (w - pad) + 'M' + pad + ' ' + pad + 'V' + (h - pad));
  axis.setAttribute('class', 'axis');
  const label = (tx, ty, text) => {
    const t = document.createElementNS(SVG, 'text');
    t.setAttribute('x', tx);
    t.setAttribute('y', ty);
    t.textContent = text;
    return t;
  };
  const now = document.createElementNS(SVG, 'circle');
  now.setAttribute('cx', x(points.length - 1).toFixed(1));
  now.setAttribute('cy', y(s.listeners.count).toFixed(1));
  now.setAttribute('r', '3');
  now.setAttribute('class', 'now');
  svg.replaceChildren(axis, line, now, label(2, pad + 4, String(top)), label(2, h - pad + 4, '0'),
                      label(pad, h - 6, when(points[0].t)), label(w - 140, h - 6, 'now: ' + s.listeners.count));
  svg.setAttribute('data-points', String(points.length));
  svg.setAttribute('data-last', String(s.listeners.count));
}

function show(s) {
  showHeader(s);
  showStream(s);
  showCapture(s);
  showFiles(s);
  showListeners(s);
  showRelays(s);
  showGraph(s);
}

async function refresh() {
  try {
    const r = await fetch('status.json', {cache: 'no-store'});
    if (!r.ok) throw new Error('HTTP ' + r.status);
    show(await r.json());
    set('updated', 'Updated ' + new Date().toLocaleTimeString());
    $('updated').className = '';
  } catch (e) {
    set('updated', 'The station does not answer (' + e.message + ')');
    $('updated').className = 'bad';
  }
}
refresh();
setInterval(refresh, 3000);
)JS";

constexpr char kHead[] = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<link rel="icon" href="data:,">
<title>Station status</title>
<style>
body { font-family: system-ui, sans-serif; margin: 0; padding: 1em; background: #f4f5f7; color: #1d2230; }
main { max-width: 60em; margin: auto; }
h1 { margin: 0; font-size: 1.6em; overflow-wrap: anywhere; }
h2 { font-size: 1.05em; margin: 0 0 .5em; }
section { background: #fff; border-radius: 8px; padding: .8em 1em; margin: .8em 0; box-shadow: 0 1px 2px #0002; }
.grid { display: grid; grid-template-columns: repeat(auto-fit, minmax(16em, 1fr)); gap: 0 .8em; }
.badge { display: inline-block; padding: .1em .6em; border-radius: 1em; background: #888; color: #fff; font-size: .9em; }
.on_air, .playing { background: #1a7f37; } .error, .stopping { background: #b42318; } .connecting, .starting, .record_only { background: #b54708; }
.warn { background: #b42318; color: #fff; font-weight: bold; }
.bad { color: #b42318; font-weight: bold; }
.big { font-size: 2em; font-weight: bold; }
.bar { background: #e4e7ec; height: .8em; border-radius: .4em; margin: .3em 0; overflow: hidden; }
.bar div { height: 100%; background: #1a7f37; }
.reason { color: #555; font-size: .9em; overflow-wrap: anywhere; }
table { border-collapse: collapse; width: 100%; } td { padding: .2em .4em; border-top: 1px solid #e4e7ec; overflow-wrap: anywhere; }
ul { padding-left: 1.2em; margin: 0; } li { margin: .3em 0; overflow-wrap: anywhere; }
svg { width: 100%; height: auto; } .line { fill: none; stroke: #1a56db; stroke-width: 2; } .axis { stroke: #999; fill: none; } .now { fill: #1a56db; }
svg text { font-size: 11px; fill: #555; }
#updated { font-size: .85em; color: #555; }
</style>
</head>
<body>
<main>
<section>
<h1 id="name">...</h1>
<div id="ext" class="reason"></div>
<p><span id="state" class="badge">...</span> <span id="since"></span></p>
<p id="info"></p>
</section>
<section id="deadair" class="warn" hidden><span id="deadairtext"></span></section>
<section id="lost" class="warn" hidden>The capture device is lost; the station tries to open it again.</section>
<div class="grid">
<section><h2>Listeners</h2><span id="count" class="big">0</span> <span id="limit"></span></section>
<section><h2>Stream</h2><div id="rate"></div><div id="block"></div><div>Line load: <span id="load"></span></div>
<div>Transmission errors: <span id="errors">0</span></div></section>
<section><h2>Input</h2><div id="device"></div><div class="bar"><div id="peak"></div></div>
<div class="bar"><div id="rms"></div></div><div id="levels" class="reason"></div></section>
</div>
<section><h2>Listeners over time</h2><svg id="graph" viewBox="0 0 600 160" role="img" aria-label="Listeners over time"></svg></section>
<section><h2>Listeners now</h2><p id="noclients">Nobody listens at the moment.</p>
<table><tbody id="clients"></tbody></table></section>
<section><h2>Icecast relays</h2><p id="norelays">No relays.</p><ul id="relays"></ul></section>
<section><h2>Files and directory</h2><ul id="files"></ul></section>
<p id="updated"></p><p id="version" class="reason"></p>
</main>
<script>)HTML";

constexpr char kTail[] = "</script>\n</body>\n</html>\n";

}  // namespace

const QByteArray& statusPage() {
    static const QByteArray page = QByteArray(kHead) + kScript + kTail;
    return page;
}

const QByteArray& statusPagePolicy() {
    static const QByteArray policy =
        "default-src 'none'; script-src 'sha256-" +
        QCryptographicHash::hash(QByteArray(kScript), QCryptographicHash::Sha256).toBase64() +
        "'; style-src 'unsafe-inline'; connect-src 'self'; img-src data:; media-src http: https:; "
        "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
    return policy;
}

}  // namespace vx::status

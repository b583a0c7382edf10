// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebPage.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace webpage {

namespace {

QString html(const QString& text) {
    return text.toHtmlEscaped();
}

// Polls /now.json every few seconds; the stream restarts at the live point when the player stalls for
// long, rather than play a backlog.
const char kPage[] = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>%RADIO%</title>
<link rel="icon" href="data:,">
<style>
body{font-family:system-ui,sans-serif;margin:0;padding:1.2em;background:#f4f4f6;color:#222;max-width:40em}
h1{margin:.2em 0;font-size:1.6em}#ext{color:#555;margin:0 0 1em}
.card{background:#fff;border-radius:10px;padding:1em;margin:0 0 1em;box-shadow:0 1px 3px #0002}
#now{font-size:1.2em;word-wrap:break-word}#state.on{color:#080}#state.off{color:#a00}
button{font-size:1.2em;padding:.6em 1.4em;border-radius:8px;border:0;background:#2a5db0;color:#fff}
button:disabled{background:#999}a{color:#2a5db0}
</style></head><body>
<h1 id="name">%RADIO%</h1><p id="ext">%EXT%</p>
<div class="card"><div>Now playing</div><div id="now">%INFO%</div></div>
<div class="card"><span id="state" class="%STATECLASS%">%STATE%</span> &middot;
<span id="listeners">%LISTENERS%</span> listening</div>
<div class="card"><button id="play" type="button">Play</button>
<audio id="audio" preload="none"></audio>
<p>In another player: <a href="listen.m3u">listen.m3u</a> &middot; <a href="listen.pls">listen.pls</a>
&middot; <a href="stream">stream</a></p></div>
<script>
"use strict";
const audio = document.getElementById("audio");
const button = document.getElementById("play");
function set(id, text) { const e = document.getElementById(id); if (e.textContent !== text) e.textContent = text; }
function show(n) {
  set("name", n.radio_name); set("ext", n.ext_radio_name); set("now", n.info_text);
  set("state", n.on_air ? "On air" : "Off air");
  document.getElementById("state").className = n.on_air ? "on" : "off";
  set("listeners", String(n.listeners));
  document.title = n.radio_name;
}
function poll() {
  fetch("now.json", {cache: "no-store"}).then(r => r.json()).then(show).catch(() => {});
}
button.addEventListener("click", () => {
  if (audio.paused) {
    audio.src = "stream?" + Date.now();
    audio.play().catch(() => { button.textContent = "Play"; });
    button.textContent = "Stop";
  } else {
    audio.pause(); audio.removeAttribute("src"); audio.load();
    button.textContent = "Play";
  }
});
poll();
setInterval(poll, 3000);
</script>
</body></html>
)";

}  // namespace

QByteArray page(const WebNow& now) {
    QString text = QString::fromUtf8(kPage);
    text.replace(QStringLiteral("%RADIO%"), html(now.radioName));
    text.replace(QStringLiteral("%EXT%"), html(now.extRadioName));
    text.replace(QStringLiteral("%INFO%"), html(now.infoText));
    text.replace(QStringLiteral("%STATECLASS%"), now.onAir ? QStringLiteral("on") : QStringLiteral("off"));
    text.replace(QStringLiteral("%STATE%"), now.onAir ? QStringLiteral("On air") : QStringLiteral("Off air"));
    text.replace(QStringLiteral("%LISTENERS%"), QString::number(now.listeners));
    return text.toUtf8();
}

QByteArray nowJson(const WebNow& now) {
    const QJsonObject o{{QStringLiteral("radio_name"), now.radioName},
                        {QStringLiteral("ext_radio_name"), now.extRadioName},
                        {QStringLiteral("info_text"), now.infoText},
                        {QStringLiteral("on_air"), now.onAir},
                        {QStringLiteral("listeners"), now.listeners},
                        {QStringLiteral("listener_limit"),
                         now.listenerLimit < 0 ? QJsonValue() : QJsonValue(now.listenerLimit)},
                        {QStringLiteral("stream_url"), now.streamUrl}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray m3u(const WebNow& now) {
    return ("#EXTM3U\n#EXTINF:-1," + now.radioName + "\n" + now.streamUrl + "\n").toUtf8();
}

QByteArray pls(const WebNow& now) {
    return QStringLiteral("[playlist]\nNumberOfEntries=1\nFile1=%1\nTitle1=%2\nLength1=-1\nVersion=2\n")
        .arg(now.streamUrl, now.radioName)
        .toUtf8();
}

}  // namespace webpage

#include "tools/plot/report_page.h"

#include <cstdio>

namespace g729::tool {

namespace {

// Nothing but what the page holds: its own script and styles, and audio
// from data: URIs (blob: for the CSV download). No request leaves it.
const char* const kPolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; media-src data: blob:; img-src data:; "
    "base-uri 'none'; form-action 'none'";

const char* const kStyle = R"CSS(
body { font: 14px/1.45 system-ui, sans-serif; margin: 0; color: #1d1d1f; background: #fafafa; }
header { background: #243b53; color: #fff; padding: 14px 24px; }
header h1 { margin: 0; font-size: 20px; }
main { padding: 8px 24px 40px; max-width: 1100px; }
code { font-size: 13px; }
section.call, section.lone { border-top: 3px solid #243b53; margin-top: 24px; }
section.call.failed h2::after { content: " (failed)"; color: #b00020; }
section.stream { background: #fff; border: 1px solid #ddd; border-radius: 6px; padding: 6px 16px 12px; margin: 16px 0; }
table.figures { border-collapse: collapse; margin: 6px 0; }
table.figures th { text-align: left; font-weight: normal; color: #555; padding: 1px 14px 1px 0; }
table.figures td { padding: 1px 6px 1px 0; font-variant-numeric: tabular-nums; }
table.figures td.unit { color: #777; }
.note { color: #8a4b00; }
.players { display: flex; gap: 24px; flex-wrap: wrap; }
.players figure { margin: 4px 0; }
.players figcaption { font-size: 13px; color: #444; }
.timeline-svg { width: 100%; height: 280px; cursor: crosshair; user-select: none; display: block; }
.timeline-tools { display: flex; gap: 12px; align-items: center; margin: 6px 0; }
.readout { font: 12px monospace; color: #333; }
.panel { fill: #f4f6f8; stroke: #ccd; }
.marks-band { fill: #e3f1e3; stroke: #ccd; }
.axis { font-size: 10px; fill: #666; }
path.level { fill: none; stroke: #243b53; stroke-width: 1; }
path.delta { fill: none; stroke: #9aa5b1; stroke-width: 1; }
path.jitter { fill: none; stroke: #d9480f; stroke-width: 1.5; }
.mark { cursor: pointer; }
.mark-lost { fill: #d0021b; }
.mark-late { fill: #f5a623; }
.mark-concealed { fill: #7b1fa2; }
.mark-SID { fill: #4a90e2; }
.mark-untransmitted { fill: #c8ccd0; }
.play-marker { stroke: #000; stroke-width: 1.5; }
.selection { fill: rgba(36, 59, 83, 0.15); }
.key .swatch { display: inline-block; width: 12px; height: 10px; }
.swatch.mark-lost { background: #d0021b; } .swatch.mark-late { background: #f5a623; }
.swatch.mark-concealed { background: #7b1fa2; } .swatch.mark-SID { background: #4a90e2; }
.swatch.mark-untransmitted { background: #c8ccd0; }
.swatch.line-delta { background: #9aa5b1; height: 3px; } .swatch.line-jitter { background: #d9480f; height: 3px; }
.emodel { background: #f4f6f8; padding: 4px 12px; border-radius: 4px; margin: 10px 0; }
.emodel h4 { margin: 6px 0; }
.assumptions { font-size: 13px; color: #444; }
.ladder-box { overflow-x: auto; }
svg.ladder text { font-size: 12px; }
svg.ladder .end { font-weight: bold; }
svg.ladder .who { fill: #666; }
svg.ladder .time { fill: #666; font: 11px monospace; }
svg.ladder .lifeline { stroke: #999; stroke-dasharray: 4 3; }
svg.ladder .message line { stroke: #333; stroke-width: 1.3; }
svg.ladder .response line { stroke: #2b6cb0; }
svg.ladder .with-sdp { cursor: pointer; }
svg.ladder .hit { fill: transparent; }
svg.ladder .with-sdp:hover .hit { fill: #eef3f8; }
pre.sdp { background: #f4f6f8; padding: 8px; font-size: 12px; overflow-x: auto; }
details.packets summary { cursor: pointer; margin: 8px 0; font-weight: bold; }
.table-tools { display: flex; gap: 16px; align-items: center; margin: 6px 0; }
.table-scroll { max-height: 420px; overflow: auto; border: 1px solid #ddd; }
table.packet-table { border-collapse: collapse; font: 12px monospace; width: 100%; }
table.packet-table th { position: sticky; top: 0; background: #e9edf1; text-align: right; padding: 2px 6px; }
table.packet-table td { text-align: right; padding: 0 6px; height: 19px; line-height: 18px; white-space: nowrap; border-top: 1px solid #eee; }
table.packet-table tr.spacer td { padding: 0; border: 0; }
.row-count { color: #555; font-size: 13px; }
table.packet-table tr.problem td { background: #fff1f0; }
footer { color: #777; font-size: 12px; padding: 0 24px 24px; }
)CSS";

// Lays out the data: calls with their ladders, then each stream with its
// players, timeline, E-model estimate and packet table.
const char* const kScript = R"JS(
"use strict";
(function () {
  const data = JSON.parse(document.getElementById("report-data").textContent);
  const page = document.getElementById("page");
  const SVG = "http://www.w3.org/2000/svg";
  const csvOf = []; // by stream: the CSV of its table as filtered
  const MARKS = {s: "speech", i: "SID", u: "untransmitted", l: "lost", t: "late", c: "concealed"};

  // Elements are made with text nodes only: nothing from the capture is
  // ever parsed as markup.
  function el(tag, attrs, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (k === "class") e.className = v; else e.setAttribute(k, String(v));
    }
    for (const c of children) if (c !== null && c !== undefined) e.append(c instanceof Node ? c : String(c));
    return e;
  }
  function svg(tag, attrs, text) {
    const e = document.createElementNS(SVG, tag);
    for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, String(v));
    if (text !== undefined) e.textContent = String(text);
    return e;
  }
  function figures(rows) {
    const t = el("table", {class: "figures"});
    for (const [name, key, value, unit] of rows) {
      const cell = el("td", key ? {"data-key": key} : {}, value === null || value === undefined ? "not seen" : String(value));
      const seen = value !== null && value !== undefined;
      t.append(el("tr", {}, el("th", {}, name), cell, el("td", {class: "unit"}, seen && unit ? unit : "")));
    }
    return t;
  }
  function clock(seconds) {
    const m = Math.floor(seconds / 60), s = seconds - 60 * m;
    return m + ":" + (s < 10 ? "0" : "") + s.toFixed(2);
  }

  // --- the header
  page.append(el("p", {class: "file"}, "File: ", el("code", {}, data.file)));
  if (data.kind === "capture")
    page.append(el("p", {}, "Jitter buffer heard through: " + data.jitter_buffer + "; " +
      (data.calls.length === 1 ? "1 call" : data.calls.length + " calls") + ", " +
      (data.streams.length === 1 ? "1 stream" : data.streams.length + " streams") + "."));
  for (const n of data.notes) page.append(el("p", {class: "note"}, n));

  // --- calls and their ladders
  function ladder(call) {
    const ends = [];
    for (const m of call.messages) for (const e of [m.from, m.to]) if (!ends.includes(e)) ends.push(e);
    const col = 230, left = 90, row = 30, top = 46;
    const width = left + Math.max(ends.length, 2) * col;
    const height = top + call.messages.length * row + 20;
    const s = svg("svg", {class: "ladder", viewBox: "0 0 " + width + " " + height, width: width, height: height, role: "img"});
    const defs = svg("defs");
    const arrow = svg("marker", {id: "arrow-" + call.index, viewBox: "0 0 10 10", refX: 10, refY: 5, markerWidth: 7, markerHeight: 7, orient: "auto-start-reverse"});
    arrow.append(svg("path", {d: "M0,0 L10,5 L0,10 z", fill: "#333"}));
    defs.append(arrow);
    s.append(defs);
    const x = (e) => left + col / 2 + ends.indexOf(e) * col;
    ends.forEach((e) => {
      const who = e === call.caller_end ? " (caller)" : e === call.callee_end ? " (callee)" : "";
      s.append(svg("text", {x: x(e), y: 16, "text-anchor": "middle", class: "end"}, e));
      s.append(svg("text", {x: x(e), y: 32, "text-anchor": "middle", class: "who"}, who));
      s.append(svg("line", {x1: x(e), y1: 38, x2: x(e), y2: height - 6, class: "lifeline"}));
    });
    const sdp = el("pre", {class: "sdp", hidden: ""});
    call.messages.forEach((m, k) => {
      const y = top + k * row + 18;
      const g = svg("g", {class: "message" + (m.request ? " request" : " response") + (m.sdp !== null ? " with-sdp" : "")});
      g.append(svg("rect", {x: 0, y: y - row / 2 - 4, width: width, height: row, class: "hit"}));
      g.append(svg("text", {x: 4, y: y + 4, class: "time"}, "+" + m.t.toFixed(3) + " s"));
      g.append(svg("line", {x1: x(m.from), y1: y, x2: x(m.to), y2: y, "marker-end": "url(#arrow-" + call.index + ")"}));
      g.append(svg("text", {x: (x(m.from) + x(m.to)) / 2, y: y - 5, "text-anchor": "middle"}, m.label + (m.sdp !== null ? " (SDP)" : "")));
      const title = svg("title", {}, "packet " + m.number + ": " + m.from + " \u2192 " + m.to);
      g.append(title);
      if (m.sdp !== null) g.addEventListener("click", () => { sdp.hidden = false; sdp.textContent = m.label + " from " + m.from + "\n\n" + m.sdp; });
      s.append(g);
    });
    const box = el("div", {class: "ladder-box"}, s);
    if (call.messages_not_listed > 0) box.append(el("p", {class: "note"}, call.messages_not_listed + " further messages not drawn"));
    box.append(sdp);
    return box;
  }

  const streamSections = [];
  data.calls.forEach((call, index) => {
    call.index = index;
    const sec = el("section", {class: "call" + (call.failed ? " failed" : ""), id: "call-" + index});
    sec.append(el("h2", {}, "Call " + (index + 1) + ": ", el("span", {class: "party"}, call.caller), " \u2192 ", el("span", {class: "party"}, call.callee)));
    sec.append(figures([
      ["Started", "start_time_utc", call.start_utc, ""],
      ["Call-ID", "call_id", call.call_id, ""],
      ["Post-dial delay", "post_dial_delay_ms", call.post_dial_delay_ms, "ms"],
      ["Setup time", "setup_ms", call.setup_ms, "ms"],
      ["Duration", "duration_s", call.duration_s, "s"],
      ["Ended", "end", call.end, ""],
      ["Directions", null, call.streams.length, ""],
    ]));
    sec.append(el("h3", {}, "Signalling"), ladder(call));
    page.append(sec);
    streamSections[index] = sec;
  });

  // --- streams
  let lone = null;
  data.streams.forEach((st, index) => {
    let parent = st.call >= 0 ? streamSections[st.call] : null;
    if (!parent) {
      if (!lone) {
        lone = el("section", {class: "lone"}, el("h2", {}, data.kind === "capture" ? (data.calls.length ? "Streams without a call" : "Streams") : "Coded file"));
        page.append(lone);
      }
      parent = lone;
    }
    parent.append(streamView(st, index));
  });

  function streamView(st, index) {
    const sec = el("section", {class: "stream", id: "stream-" + index});
    sec.append(el("h3", {}, st.label));
    const info = st.info;
    if (info) {
      sec.append(figures([
        ["Duration", "duration", info.duration, "s"],
        ["Packets", "packets", info.packets, ""],
        ["Lost packets", "lost_packets", info.lost_packets, ""],
        ["Late packets (buffer)", "late_packets", info.late_packets, ""],
        ["Loss, network and buffer", "loss_percent", info.loss_percent, "%"],
        ["Jitter, mean", "jitter_mean_ms", info.jitter_mean_ms, "ms"],
        ["Jitter, max", "jitter_max_ms", info.jitter_max_ms, "ms"],
        ["Largest arrival delta", "max_delta_ms", info.max_delta_ms, "ms"],
        ["SID frames", "sid_frames", info.sid_frames, ""],
        ["Untransmitted frames", "dtx_frames", info.dtx_frames, ""],
      ]));
    } else {
      sec.append(el("p", {}, st.summary));
    }

    // The players: as sent, and as heard through the buffer.
    const players = [];
    const row = el("div", {class: "players"});
    for (const a of st.audio) {
      const audio = el("audio", {controls: "", preload: "auto", "data-audio": a.key, "data-duration": st.duration});
      // A player the buffer changed nothing for plays its twin's audio.
      const twin = a.same_as === undefined ? a : st.audio.find(b => b.key === a.same_as);
      audio.src = twin.uri;
      players.push(audio);
      const same = a.same_as === undefined ? "" : ": the buffer changed nothing, the same as " + twin.name.toLowerCase();
      row.append(el("figure", {}, el("figcaption", {}, a.name + " (" + a.format + ")" + same), audio));
    }
    sec.append(row);
    const timelinePlayer = players[players.length - 1];
    sec.append(timeline(st, players, timelinePlayer));

    if (info) sec.append(emodel(info));
    sec.append(packetTable(st, index));
    return sec;
  }

  // --- the timeline: level, frame marks, arrivals
  function timeline(st, players, seekPlayer) {
    const W = 1000, L = 58, R = 10, PW = W - L - R;
    const levelTop = 10, levelH = 110, marksTop = 126, marksH = 16;
    const arrTop = 160, arrH = st.arrivals.length ? 90 : 0;
    const H = (arrH ? arrTop + arrH : marksTop + marksH) + 22;
    const total = Math.max(st.duration, 0.01);
    const view = {t0: 0, t1: total};
    const wrap = el("div", {class: "timeline"});
    const tools = el("div", {class: "timeline-tools"});
    const reset = el("button", {type: "button"}, "Whole stream");
    const readout = el("span", {class: "readout"}, "Drag across the timeline to zoom; click to play from there.");
    tools.append(reset, readout);
    const s = svg("svg", {viewBox: "0 0 " + W + " " + H, class: "timeline-svg", preserveAspectRatio: "none"});
    wrap.append(tools, s);
    // Runs of frames that were not plain speech, in seconds.
    const runs = [];
    for (let i = 0; i < st.marks.length;) {
      let j = i;
      while (j < st.marks.length && st.marks[j] === st.marks[i]) ++j;
      if (st.marks[i] !== "s") runs.push({kind: st.marks[i], start: i / 100, end: j / 100});
      i = j;
    }
    const maxArr = Math.max(20, ...st.arrivals.map((p) => Math.max(p[1], p[2])));
    const x = (t) => L + (t - view.t0) / (view.t1 - view.t0) * PW;
    const tOf = (px) => view.t0 + (px - L) / PW * (view.t1 - view.t0);
    const yLevel = (db) => levelTop + levelH * (Math.min(0, Math.max(-100, db)) / -100);
    const yArr = (ms) => arrTop + arrH - arrH * Math.min(ms, maxArr) / maxArr;
    let marker = null, selection = null;

    function draw() {
      s.replaceChildren();
      s.append(svg("rect", {x: L, y: levelTop, width: PW, height: levelH, class: "panel"}));
      for (const db of [0, -20, -40, -60, -80, -100])
        s.append(svg("text", {x: L - 4, y: yLevel(db) + 4, "text-anchor": "end", class: "axis"}, db));
      s.append(svg("text", {x: 2, y: levelTop + 8, class: "axis"}, "dBFS"));
      // The level: the loudest 20 ms in each column of the view.
      const cols = Math.ceil(PW);
      let path = "";
      for (let c = 0; c < cols; ++c) {
        const a = Math.floor(tOf(L + c) * 50), b = Math.max(a + 1, Math.floor(tOf(L + c + 1) * 50));
        let top = null;
        for (let k = Math.max(0, a); k < Math.min(b, st.level.length); ++k) top = top === null ? st.level[k] : Math.max(top, st.level[k]);
        if (top === null) continue;
        path += (path ? "L" : "M") + (L + c).toFixed(1) + "," + yLevel(top).toFixed(1);
      }
      s.append(svg("path", {d: path, class: "level"}));
      s.append(svg("rect", {x: L, y: marksTop, width: PW, height: marksH, class: "marks-band"}));
      for (const r of runs) {
        if (r.end <= view.t0 || r.start >= view.t1) continue;
        const x0 = Math.max(L, x(r.start)), x1 = Math.min(L + PW, x(r.end));
        const m = svg("rect", {x: x0, y: marksTop, width: Math.max(2, x1 - x0), height: marksH,
          class: "mark mark-" + MARKS[r.kind], "data-start": r.start, "data-end": r.end});
        m.append(svg("title", {}, MARKS[r.kind] + " " + r.start.toFixed(2) + "\u2013" + r.end.toFixed(2) + " s"));
        s.append(m);
      }
      if (arrH) {
        s.append(svg("rect", {x: L, y: arrTop, width: PW, height: arrH, class: "panel"}));
        s.append(svg("text", {x: L - 4, y: arrTop + 10, "text-anchor": "end", class: "axis"}, Math.round(maxArr)));
        s.append(svg("text", {x: L - 4, y: arrTop + arrH, "text-anchor": "end", class: "axis"}, 0));
        s.append(svg("text", {x: 2, y: arrTop + arrH / 2, class: "axis"}, "ms"));
        for (const [k, cls] of [[1, "delta"], [2, "jitter"]]) {
          let d = "";
          for (const p of st.arrivals) {
            if (p[0] < view.t0 || p[0] > view.t1) continue;
            d += (d ? "L" : "M") + x(p[0]).toFixed(1) + "," + yArr(p[k]).toFixed(1);
          }
          s.append(svg("path", {d: d, class: cls}));
        }
      }
      const bottom = H - 6;
      for (let k = 0; k <= 8; ++k) {
        const t = view.t0 + (view.t1 - view.t0) * k / 8;
        s.append(svg("text", {x: x(t), y: bottom, "text-anchor": k === 0 ? "start" : k === 8 ? "end" : "middle", class: "axis"}, clock(t)));
      }
      marker = svg("line", {x1: L, x2: L, y1: levelTop, y2: (arrH ? arrTop + arrH : marksTop + marksH), class: "play-marker"});
      s.append(marker);
      selection = svg("rect", {x: 0, y: levelTop, width: 0, height: H - levelTop - 22, class: "selection", visibility: "hidden"});
      s.append(selection);
      follow();
    }
    let last = seekPlayer;
    function follow() {
      const p = players.find((q) => !q.paused) || last;
      const t = p.currentTime;
      if (t < view.t0 || t > view.t1) { marker.setAttribute("visibility", "hidden"); return; }
      marker.setAttribute("visibility", "visible");
      marker.setAttribute("x1", x(t));
      marker.setAttribute("x2", x(t));
    }
    function tick() {
      follow();
      if (players.some((p) => !p.paused)) requestAnimationFrame(tick);
    }
    for (const p of players) {
      p.addEventListener("play", () => { last = p; for (const o of players) if (o !== p) o.pause(); requestAnimationFrame(tick); });
      p.addEventListener("timeupdate", follow);
      p.addEventListener("seeked", follow);
    }
    function pointerTime(ev) {
      const box = s.getBoundingClientRect();
      const px = (ev.clientX - box.left) / box.width * W;
      return Math.min(view.t1, Math.max(view.t0, tOf(px)));
    }
    function describe(t) {
      const f = Math.floor(t * 100);
      let text = clock(t) + "  " + (MARKS[st.marks[f]] || "");
      const lv = st.level[Math.floor(t * 50)];
      if (lv !== undefined) text += ", level " + lv.toFixed(1) + " dBFS";
      if (st.arrivals.length) {
        let lo = 0, hi = st.arrivals.length - 1;
        while (lo < hi) { const mid = (lo + hi) >> 1; if (st.arrivals[mid][0] < t) lo = mid + 1; else hi = mid; }
        const p = st.arrivals[lo];
        if (Math.abs(p[0] - t) < 0.5) text += ", arrival delta " + p[1] + " ms, jitter " + p[2] + " ms";
      }
      return text;
    }
    function play(t) {
      last = seekPlayer;
      seekPlayer.currentTime = t;
      const started = seekPlayer.play();
      if (started) started.catch(() => {});
      follow();
    }
    let down = null;
    s.addEventListener("mousedown", (ev) => { down = pointerTime(ev); ev.preventDefault(); });
    s.addEventListener("mousemove", (ev) => {
      const t = pointerTime(ev);
      readout.textContent = describe(t);
      if (down !== null) {
        selection.setAttribute("visibility", "visible");
        selection.setAttribute("x", Math.min(x(down), x(t)));
        selection.setAttribute("width", Math.abs(x(t) - x(down)));
      }
    });
    s.addEventListener("mouseup", (ev) => {
      if (down === null) return;
      const t = pointerTime(ev), from = down;
      down = null;
      selection.setAttribute("visibility", "hidden");
      const box = s.getBoundingClientRect();
      if (Math.abs(x(t) - x(from)) / W * box.width > 6) {
        view.t0 = Math.min(from, t);
        view.t1 = Math.max(from, t, view.t0 + 0.05);
        draw();
        return;
      }
      const target = ev.target.closest ? ev.target.closest(".mark") : null;
      play(target ? Number(target.getAttribute("data-start")) : t);
    });
    s.addEventListener("mouseleave", () => { down = null; selection.setAttribute("visibility", "hidden"); });
    reset.addEventListener("click", () => { view.t0 = 0; view.t1 = total; draw(); });
    draw();
    const key = el("p", {class: "key"});
    for (const k of ["l", "t", "c", "i", "u"]) key.append(el("span", {class: "swatch mark-" + MARKS[k]}), " " + MARKS[k] + "  ");
    if (arrH) key.append(el("span", {class: "swatch line-delta"}), " arrival delta  ", el("span", {class: "swatch line-jitter"}), " jitter");
    wrap.append(key);
    return wrap;
  }

  // --- the E-model estimate and what it assumes
  function emodel(info) {
    const c = data.emodel;
    const box = el("div", {class: "emodel"});
    box.append(el("h4", {}, "Listening quality (E-model estimate)"));
    box.append(figures([
      ["R factor", "r_factor", info.r_factor, ""],
      ["MOS", "mos", info.mos, ""],
      ["One-way delay assumed", "one_way_delay_ms", info.one_way_delay_ms, "ms"],
      ["Network delay (RTCP)", "network_delay_ms", info.network_delay_ms, "ms"],
      ["Loss counted", "loss_percent", info.loss_percent, "%"],
      ["Mean loss burst", "mean_loss_burst", info.mean_loss_burst, "packets"],
    ]));
    box.append(el("p", {class: "assumptions"},
      "Assumptions: G.729A's equipment impairment Ie = " + c.ie + " and loss robustness Bpl = " + c.bpl +
      "; every other parameter at its default (R = " + c.r0 + " with no delay or loss); echo perfectly controlled. " +
      "The delay is " + (info.network_delay_ms === null ? "assumed: packetization, the jitter buffer and the codec, with no network delay measured by RTCP"
        : "packetization, the jitter buffer and the codec, with half the round trip RTCP measured") +
      "; the loss counted is " + info.quality_loss + ". It estimates what a typical listener would rate from these figures alone; it does not listen to the audio."));
    return box;
  }

  // --- the per-packet table
  // Only the rows in view are made: a table of hundreds of thousands of
  // packets takes a browser longer to lay out than anyone waits for a page.
  // Every row has one height; a spacer above and one below stand for the
  // rows not drawn, and the filter, the count and the CSV work on the whole
  // data, never on what is drawn.
  function packetTable(st, index) {
    const ROWS_AROUND = 20; // drawn above and below the view, for smooth scrolling
    const box = el("details", {class: "packets"});
    const p = st.packets;
    const cols = p.by_column, count = cols.length ? cols[0].length : 0, status = cols.length - 1;
    box.append(el("summary", {}, "Packets (" + count + (p.not_listed ? ", " + p.not_listed + " more not listed" : "") + ")"));
    if (!count) { box.append(el("p", {class: "note"}, "No packet table for this stream.")); csvOf[index] = () => ""; return box; }
    const filter = el("input", {type: "search", placeholder: "filter: text in any column", class: "filter"});
    const problems = el("input", {type: "checkbox", class: "problems"});
    const download = el("button", {type: "button", class: "csv"}, "Download CSV");
    const shownText = el("span", {class: "row-count"});
    box.append(el("div", {class: "table-tools"}, filter, el("label", {}, problems, " only packets with a problem"), download, shownText));
    const table = el("table", {class: "packet-table"});
    table.append(el("thead", {}, el("tr", {}, ...p.columns.map((c) => el("th", {}, c)))));
    const body = el("tbody");
    table.append(body);
    const scroller = el("div", {class: "table-scroll"}, table);
    box.append(scroller);

    let shown = []; // the rows the filter lets through, in capture order
    let rowHeight = 20; // corrected from the first row drawn
    let drawn = "";
    function spacer(rows) {
      const td = el("td", {colspan: p.columns.length});
      td.style.height = rows * rowHeight + "px";
      return el("tr", {class: "spacer"}, td);
    }
    function row(k) {
      const tr = el("tr", cols[status][k] === "ok" ? {} : {class: "problem"});
      for (const c of cols) tr.append(el("td", {}, c[k] === true ? "yes" : c[k] === false ? "" : c[k]));
      return tr;
    }
    function draw(again) {
      const top = Math.max(0, scroller.scrollTop - table.tHead.offsetHeight);
      const first = Math.max(0, Math.floor(top / rowHeight) - ROWS_AROUND);
      const last = Math.min(shown.length, Math.ceil((top + (scroller.clientHeight || 420)) / rowHeight) + ROWS_AROUND);
      if (!again && drawn === first + ":" + last) return;
      drawn = first + ":" + last;
      const rows = [];
      for (let i = first; i < last; ++i) rows.push(row(shown[i]));
      body.replaceChildren(spacer(first), ...rows, spacer(shown.length - last));
      // Fonts and zoom decide the true height; the spacers follow it.
      const h = rows.length ? rows[0].getBoundingClientRect().height : 0;
      if (h > 0 && Math.abs(h - rowHeight) > 0.01) { rowHeight = h; draw(true); }
    }
    function passes(k) {
      if (problems.checked && cols[status][k] === "ok") return false;
      const needle = filter.value.trim().toLowerCase();
      return !needle || cols.some((c) => String(c[k]).toLowerCase().includes(needle));
    }
    function apply() {
      shown = [];
      for (let k = 0; k < count; ++k) if (passes(k)) shown.push(k);
      shownText.textContent = shown.length === count ? count + " packets" : shown.length + " of " + count + " packets";
      draw(true);
    }
    let pending = false;
    scroller.addEventListener("scroll", () => {
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => { pending = false; draw(false); });
    });
    box.addEventListener("toggle", () => draw(true));
    filter.addEventListener("input", apply);
    problems.addEventListener("change", apply);
    apply();
    const quote = (v) => { const t = String(v); return /[",\n\r]/.test(t) ? '"' + t.replace(/"/g, '""') + '"' : t; };
    csvOf[index] = () => [p.columns.map(quote).join(",")].concat(
      shown.map((k) => cols.map((c) => quote(c[k])).join(","))).join("\n") + "\n";
    download.addEventListener("click", () => {
      const a = el("a", {download: "stream-" + (index + 1) + "-packets.csv"});
      a.href = URL.createObjectURL(new Blob([csvOf[index]()], {type: "text/csv"}));
      document.body.append(a);
      a.click();
      a.remove();
    });
    return box;
  }

  // The CSV the download button gives, by stream, for whoever drives the page.
  window.g729aReport = {csv: (index) => csvOf[index](), data: data};
})();
)JS";

} // namespace

std::string html_escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string script_json(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '<') {
            out += "\\u003c";
        } else if (c == '>') {
            out += "\\u003e";
        } else if (c == '&') {
            out += "\\u0026";
        } else if (c == '\xE2' && i + 2 < json.size() && json[i + 1] == '\x80' && (json[i + 2] == '\xA8' || json[i + 2] == '\xA9')) {
            out += json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string report_html(const std::string& title, const std::string& data_json) {
    std::string page;
    page.reserve(data_json.size() + 32768);
    page += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<meta http-equiv=\"Content-Security-Policy\" content=\"" + std::string(kPolicy) + "\">\n";
    page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    page += "<title>" + html_escape(title) + " \u2014 g729a report</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    page += "<header><h1>" + html_escape(title) + "</h1></header>\n<main id=\"page\"></main>\n";
    page += "<footer>Made by g729a report. Everything shown is inside this file; it needs no network.</footer>\n";
    page += "<script type=\"application/json\" id=\"report-data\">" + script_json(data_json) + "</script>\n";
    page += "<script>" + std::string(kScript) + "</script>\n</body>\n</html>\n";
    return page;
}

} // namespace g729::tool

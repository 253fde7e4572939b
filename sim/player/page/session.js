// The session page's script: reads the session's data (session_page.h writes it
// into the page), draws the timeline once, and builds the view of the frame at the
// cursor whenever the cursor moves. Nothing is fetched: everything is in the page.
'use strict';

(function () {
  const started = performance.now();
  const D = JSON.parse(document.getElementById('session-data').textContent);
  const N = D.frames;
  const SVG = 'http://www.w3.org/2000/svg';
  const FrameW = 1280, FrameH = 720;
  const $ = (id) => document.getElementById(id);

  // ---------------------------------------------------------------------------
  // The data, unpacked into what a frame's view looks up.

  // Each frame's time, from the runs of equal steps.
  const at = new Float64Array(N + 1);
  {
    let f = 1, t = D.firstAt;
    for (let i = 0; i < D.atRuns.length; i += 2) {
      const count = D.atRuns[i], step = D.atRuns[i + 1];
      for (let k = 0; k < count && f <= N; ++k) {
        t += step;
        at[f++] = t;
      }
    }
  }

  // Runs written as [frames since the last start, value, ...].
  function unpackRuns(flat) {
    const n = flat.length / 2;
    const starts = new Int32Array(n), values = new Int32Array(n);
    let frame = 0;
    for (let i = 0; i < n; ++i) {
      frame += flat[2 * i];
      starts[i] = frame;
      values[i] = flat[2 * i + 1];
    }
    return { starts, values };
  }
  // The value of the run holding frame f.
  function runAt(runs, f) {
    let lo = 0, hi = runs.starts.length - 1;
    if (hi < 0 || f < runs.starts[0]) return -1;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (runs.starts[mid] <= f) lo = mid; else hi = mid - 1;
    }
    return runs.values[lo];
  }
  const stateRuns = unpackRuns(D.stateRuns);
  const spriteRuns = unpackRuns(D.spriteRuns);
  const callRuns = unpackRuns(D.callRuns);

  // The host's frame numbers: runs that step by one; a run whose number goes down
  // is a new load of the plug-in (the game quit and started again).
  const hostStarts = [], hostFirst = [], hostLoad = [];
  for (let i = 0, load = 1; i < D.hostRuns.length; i += 2) {
    if (i > 0 && D.hostRuns[i + 1] <= D.hostRuns[i - 1]) ++load;
    hostStarts.push(D.hostRuns[i]);
    hostFirst.push(D.hostRuns[i + 1]);
    hostLoad.push(load);
  }
  function hostOf(f) {
    let lo = 0, hi = hostStarts.length - 1;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (hostStarts[mid] <= f) lo = mid; else hi = mid - 1;
    }
    const k = lo;
    return { frame: hostFirst[k] + (f - hostStarts[k]), load: hostLoad[k] };
  }

  // The first frame at or after time t (N when none is).
  function frameAtOrAfter(t) {
    let lo = 1, hi = N;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (at[mid] >= t) hi = mid; else lo = mid + 1;
    }
    return lo;
  }
  // The last frame at or before time t (1 when none is).
  function frameAtOrBefore(t) {
    let lo = 1, hi = N;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (at[mid] <= t) lo = mid; else hi = mid - 1;
    }
    return lo;
  }

  // "1:05.3" below an hour, "1:02:03.0" above: the timeline's notation.
  function formatTime(ms) {
    const negative = ms < 0;
    if (negative) ms = -ms;
    const tenths = Math.floor((ms + 50) / 100);
    const total = Math.floor(tenths / 10);
    const two = (n) => (n < 10 ? '0' : '') + n;
    const s = total >= 3600
      ? Math.floor(total / 3600) + ':' + two(Math.floor(total / 60) % 60) + ':' + two(total % 60)
      : Math.floor(total / 60) + ':' + two(total % 60);
    return (negative ? '-' : '') + s + '.' + (tenths % 10);
  }
  // "0:14", "1:30.5", "1:02:03" (the address's time) to milliseconds, or NaN.
  function parseTime(text) {
    const m = /^(?:(\d+):)?(\d+):(\d+(?:\.\d+)?)$/.exec(text);
    if (!m) return NaN;
    return ((+(m[1] || 0) * 60 + +m[2]) * 60 + +m[3]) * 1000;
  }
  function formatMoney(cents) {
    const negative = cents < 0;
    const m = Math.abs(cents);
    const dollars = String(Math.floor(m / 100)).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
    return (negative ? '-$' : '$') + dollars + '.' + String(m % 100).padStart(2, '0');
  }
  const thousands = (n) => String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ',');

  // ---------------------------------------------------------------------------
  // A frame's view, built when it is shown.

  function frameView(f) {
    const stateIndex = runAt(stateRuns, f), setIndex = runAt(spriteRuns, f), list = runAt(callRuns, f);
    const s = D.states[stateIndex];
    const set = D.spriteSets[setIndex] || [];
    return {
      frame: f,
      at: at[f],
      host: hostOf(f),
      timer: D.timerBase === null ? null : (D.timerBase + at[f]) >>> 0,
      stateIndex,
      state: {
        flask: s[0], intake: s[1], drunk: s[2], intensity: s[3], flags: s[4],
        cash: s[5], saloon: s[6], target: s[7],
      },
      setIndex,
      sprites: set.map((i) => D.sprites[i]),
      list,
      calls: list >= 0 ? D.callLists[list] : null,
    };
  }
  // A call's text: a GET_GAME_TIMER that answered the frame's time gets its timer.
  const callText = (item, timer) => D.texts[item >> 1] + (item & 1 ? String(timer | 0) : '');

  // The HUD: the frame's sprites as the HUD picture draws them, at their size on a
  // 16:9 frame (the page's own, drawn once), and magnified above it with their
  // texture names.
  function drawHud(sprites) {
    $('hud-sprites').innerHTML = sprites.map((s) => s[5]).join('');
    $('hud-over').innerHTML = sprites.length === 0
      ? '<text x="640" y="360" text-anchor="middle" font-size="24" fill="#fff">no sprites were drawn in this frame</text>' +
        '<text x="640" y="390" text-anchor="middle" font-size="15" fill="#e8e8e8">the meters show while drinking and while the bartender serves a refill</text>'
      : magnified(sprites);
  }

  const esc = (t) => t.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
  const rgb = (c) => 'rgb(' + c.slice(0, 3).map((v) => Math.min(255, Math.max(0, v))).join(',') + ')';

  // The area the sprites cover, padded, drawn larger at the top of the frame, the
  // sprites drawn at one position grouped and labelled in call order below it.
  function magnified(sprites) {
    let bx0 = 1e9, by0 = 1e9, bx1 = -1e9, by1 = -1e9;
    for (const s of sprites) {
      const [x, y, w, h] = s[2];
      const pw = Math.abs(w * FrameW), ph = Math.abs(h * FrameH);
      bx0 = Math.min(bx0, x * FrameW - pw / 2); bx1 = Math.max(bx1, x * FrameW + pw / 2);
      by0 = Math.min(by0, y * FrameH - ph / 2); by1 = Math.max(by1, y * FrameH + ph / 2);
    }
    const pad = 8;
    bx0 -= pad; by0 -= pad; bx1 += pad; by1 += pad;
    const scale = Math.min(8, Math.max(1, Math.min(900 / (bx1 - bx0), 300 / (by1 - by0))));
    const iw = (bx1 - bx0) * scale, ih = (by1 - by0) * scale, ix = (FrameW - iw) / 2, iy = 150;
    const groups = [];
    sprites.forEach((s, i) => {
      const g = groups.find((g) => g.x === s[2][0] && g.y === s[2][1]);
      if (g) g.members.push(i); else groups.push({ x: s[2][0], y: s[2][1], members: [i] });
    });
    const tallest = Math.max(...groups.map((g) => g.members.length));
    const labelsH = 18 * tallest + 10;
    let px0 = ix - 12, px1 = ix + iw + 12;
    for (const g of groups) {
      const gx = ix + (g.x * FrameW - bx0) * scale;
      for (const i of g.members) {
        const s = sprites[i];
        px0 = Math.min(px0, gx - 162);
        px1 = Math.max(px1, gx - 150 + 15 + 8.4 * (s[0].length + s[1].length + 6) + 12);
      }
    }
    const f1 = (v) => v.toFixed(1);
    let o = '<g id="hud-magnified"><rect x="' + f1(px0) + '" y="' + f1(iy - 34) + '" width="' + f1(px1 - px0) +
      '" height="' + f1(ih + 46 + labelsH) + '" rx="6" fill="#1d2027" fill-opacity="0.88" stroke="#ffffff" stroke-opacity="0.6"/>' +
      '<text x="' + f1(px0 + 12) + '" y="' + f1(iy - 12) + '" font-size="14" fill="#ffffff">the sprites magnified ×' +
      scale.toFixed(1) + '</text>' +
      '<g transform="translate(' + ix.toFixed(2) + ' ' + iy.toFixed(2) + ') scale(' + scale.toFixed(3) + ') translate(' +
      (-bx0).toFixed(2) + ' ' + (-by0).toFixed(2) + ')">' + sprites.map((s) => s[5]).join('') + '</g>';
    for (const g of groups) {
      const gx = ix + (g.x * FrameW - bx0) * scale;
      let ly = iy + ih + 22;
      for (const i of g.members) {
        const s = sprites[i];
        o += '<rect x="' + f1(gx - 150) + '" y="' + f1(ly - 9) + '" width="10" height="10" fill="' + rgb(s[4]) +
          '" stroke="#ffffff" stroke-width="0.6"/><text x="' + f1(gx - 135) + '" y="' + f1(ly) +
          '" class="texture-label" font-size="13" fill="#ffffff">' + esc((i + 1) + '  ' + s[0] + ' / ' + s[1]) + '</text>';
        ly += 18;
      }
    }
    const bottom = iy + ih + 12 + labelsH;
    o += '<path d="M' + f1(bx0) + ' ' + f1(by0) + ' L' + f1(px0) + ' ' + f1(bottom) + ' M' + f1(bx1) + ' ' + f1(by0) +
      ' L' + f1(px1) + ' ' + f1(bottom) + '" stroke="#ffffff" stroke-opacity="0.5" stroke-dasharray="4 4" fill="none"/>' +
      '<rect x="' + f1(bx0) + '" y="' + f1(by0) + '" width="' + f1(bx1 - bx0) + '" height="' + f1(by1 - by0) +
      '" fill="none" stroke="#ffffff" stroke-opacity="0.7" stroke-dasharray="3 3"/></g>';
    return o;
  }

  function spriteRows(sprites) {
    const body = $('sprite-table').tBodies[0];
    body.textContent = '';
    sprites.forEach((s, i) => {
      const tr = body.insertRow();
      for (const v of [String(i + 1), s[0], s[1], ...s[3], s[4].join(', ')]) tr.insertCell().textContent = v;
    });
  }

  const Flag = {
    drinking: 1, scenario: 2, passedOut: 4, passOutEffect: 8, deadeye: 16, drinkPrompt: 32,
    refillPrompt: 64, held: 128, stateKnown: 256,
  };

  function stateRows(v) {
    const s = v.state, known = (s.flags & Flag.stateKnown) !== 0;
    const on = (bit, yes, no) => ((s.flags & bit) ? [yes, 'on'] : [no, '']);
    const ofPlugin = (value) => (known ? value : ['not known (this build does not export its state)', 'unknown']);
    const rows = [
      ['flask', ofPlugin([String(s.flask), ''])],
      ['intake', ofPlugin([String(s.intake), ''])],
      ['drunk', ofPlugin([String(s.drunk), ''])],
      ['intensity', [s.intensity, '']],
      ['drinking', ofPlugin(on(Flag.drinking, 'on', 'off'))],
      ['drinking scenario', on(Flag.scenario, 'running', 'not running')],
      ['"Drink From Flask"', ofPlugin(on(Flag.drinkPrompt, 'shown', 'hidden'))],
      ['"Refill Flask"', ofPlugin(on(Flag.refillPrompt, 'shown', 'hidden'))],
      ['deadeye lock', ofPlugin(on(Flag.deadeye, 'on', 'off'))],
      ['pass-out effect', on(Flag.passOutEffect, 'running', 'not running')],
      ['passed out', ofPlugin(on(Flag.passedOut, 'yes (the plug-in sees it)', 'no'))],
      ['mission hold', on(Flag.held, 'held (the mission flag is up)', 'no')],
      ['cash', s.cash === null ? ['not in the recording', 'unknown'] : [formatMoney(s.cash), '']],
      ['saloon', [s.saloon || 'outside the saloons', '']],
      ['target', [s.target ? 'ped ' + s.target : 'none', '']],
    ];
    const body = $('state').tBodies[0];
    body.textContent = '';
    for (const [name, [value, cls]] of rows) {
      const tr = body.insertRow();
      tr.dataset.field = name.replace(/"/g, '').toLowerCase().replace(/ /g, '-');
      const th = document.createElement('th');
      th.textContent = name;
      tr.appendChild(th);
      const td = tr.insertCell();
      td.textContent = value;
      if (cls) td.className = cls;
    }
  }

  // The calls' list; when the frame's list is the one shown, only the timer's
  // answers change.
  let timerCalls = [];
  function callRows(v, sameList) {
    if (sameList) {
      for (const [li, item] of timerCalls) li.textContent = callText(item, v.timer);
      return;
    }
    const list = $('calls');
    list.textContent = '';
    timerCalls = [];
    const note = $('calls-note');
    if (v.calls === null) {
      note.hidden = false;
      note.textContent = 'The calls of this frame are not kept in the page. ' + D.callsLost;
      $('call-count').textContent = '';
      return;
    }
    note.hidden = true;
    const frag = document.createDocumentFragment();
    for (const item of v.calls) {
      const li = document.createElement('li');
      const text = callText(item, v.timer);
      li.textContent = text;
      if (item & 1) timerCalls.push([li, item]);
      if (text.includes('GRAPHICS::DRAW_SPRITE(')) li.className = 'sprite';
      else if (text.startsWith('scriptWait(')) li.className = 'wait';
      frag.appendChild(li);
    }
    list.appendChild(frag);
    $('call-count').textContent = '(' + v.calls.length + ')';
  }

  // ---------------------------------------------------------------------------
  // The timeline, the chart's cursor, and moving in time.

  const lineFrames = new Int32Array(D.timeline.length);
  const lineNodes = [];
  {
    const frag = document.createDocumentFragment();
    D.timeline.forEach(([frame, text, topic, failed], i) => {
      const div = document.createElement('div');
      div.className = 'line ' + (topic === '>' ? 'action' : topic) + (failed ? ' failed' : '');
      div.dataset.frame = frame;
      div.dataset.index = i;
      div.textContent = text;
      // Lines come in the order they were told; a line told after a later one
      // (rare) is looked up as if at that one's frame.
      lineFrames[i] = Math.max(frame, i > 0 ? lineFrames[i - 1] : 0);
      lineNodes.push(div);
      frag.appendChild(div);
    });
    $('timeline').appendChild(frag);
    $('timeline').addEventListener('click', (e) => {
      const line = e.target.closest('.line');
      if (line) go(+line.dataset.frame);
    });
  }
  // The line of the moment: the last one linked to the frame or before it.
  function lineAt(f) {
    let lo = 0, hi = lineFrames.length - 1, found = -1;
    while (lo <= hi) {
      const mid = (lo + hi) >> 1;
      if (lineFrames[mid] <= f) { found = mid; lo = mid + 1; } else hi = mid - 1;
    }
    return found;
  }
  let currentLine = -1;
  function markLine(f) {
    const k = lineAt(f);
    if (k === currentLine) return;
    if (currentLine >= 0) lineNodes[currentLine].classList.remove('current');
    currentLine = k;
    if (k < 0) return;
    const node = lineNodes[k], box = $('timeline');
    node.classList.add('current');
    const top = node.offsetTop - box.offsetTop;
    if (top < box.scrollTop || top + node.offsetHeight > box.scrollTop + box.clientHeight)
      box.scrollTop = top - box.clientHeight / 2;
  }

  // The cursor stands over the chart rather than in it, so that moving it redraws
  // neither the chart's curves nor its bands: only the cursor moves.
  const chartSvg = $('chart').querySelector('svg');
  const cursor = $('chart-cursor');
  if (chartSvg) {
    const c = D.chart;
    cursor.style.top = (100 * (c.y0 - 4) / c.height) + '%';
    cursor.style.height = (100 * (c.y1 - c.y0 + 8) / c.height) + '%';
    chartSvg.addEventListener('click', (e) => {
      const point = chartSvg.createSVGPoint();
      point.x = e.clientX;
      point.y = e.clientY;
      const p = point.matrixTransform(chartSvg.getScreenCTM().inverse());
      const t = Math.min(1, Math.max(0, (p.x - c.x0) / (c.x1 - c.x0))) * c.end;
      go(frameAtOrAfter(t));
    });
  } else {
    cursor.hidden = true;
  }
  function chartX(t) {
    const c = D.chart;
    return c.x0 + (c.x1 - c.x0) * Math.min(Math.max(t, 0), c.end) / c.end;
  }

  const page = { ready: false, frame: 0, redrawMs: 0, openMs: 0, go: (f) => go(f) };
  window.tolvenmirePage = page;

  function setAddress(f) {
    const hash = '#frame=' + f + '&time=' + formatTime(at[f]);
    if (location.hash === hash) return;
    try {
      history.replaceState(null, '', hash);
    } catch (e) {
      location.replace(hash);
    }
  }

  // What is drawn now, so that a move redraws only what differs.
  const shown = { set: -2, state: -2, list: -2 };
  function show(f) {
    const v = frameView(f);
    $('frame-number').textContent = f;
    $('frame-time').textContent = formatTime(v.at);
    $('host-frame').textContent = 'the plug-in\'s frame ' + v.host.frame + (hostLoad[hostLoad.length - 1] > 1 ? ' of load ' + v.host.load : '');
    $('game-timer').textContent = v.timer === null ? '' : 'game timer ' + thousands(v.timer);
    if (v.setIndex !== shown.set) {
      drawHud(v.sprites);
      $('sprite-count').textContent = '(' + v.sprites.length + (v.sprites.length === 1 ? ' sprite)' : ' sprites)');
      spriteRows(v.sprites);
    }
    if (v.stateIndex !== shown.state) stateRows(v);
    callRows(v, v.list === shown.list && v.list >= 0);
    Object.assign(shown, { set: v.setIndex, state: v.stateIndex, list: v.list });
    if (chartSvg) cursor.style.left = (100 * chartX(v.at) / D.chart.width) + '%';
    markLine(f);
  }

  function go(f) {
    if (!(N > 0)) return;
    f = Math.min(N, Math.max(1, Math.round(f) || 1));
    const t0 = performance.now();
    page.frame = f;
    $('scrubber').value = f;
    show(f);
    setAddress(f);
    page.redrawMs = performance.now() - t0;
  }

  // "#frame=425" or "#time=0:14.0" (the frame wins); 0 for neither.
  function frameOfAddress() {
    const params = new URLSearchParams(location.hash.slice(1));
    const frame = parseInt(params.get('frame'), 10);
    if (frame >= 1) return Math.min(frame, N);
    const t = parseTime(params.get('time') || '');
    return isNaN(t) ? 0 : frameAtOrAfter(t);
  }

  document.addEventListener('keydown', (e) => {
    if (e.altKey || e.ctrlKey || e.metaKey) return;
    const f = page.frame;
    let to = 0;
    switch (e.key) {
      case 'ArrowLeft': to = f - 1; break;
      case 'ArrowRight': to = f + 1; break;
      case 'PageUp': to = frameAtOrBefore(at[f] - 1000); break;
      case 'PageDown': to = frameAtOrAfter(at[f] + 1000); break;
      case 'Home': to = 1; break;
      case 'End': to = N; break;
      default: return;
    }
    e.preventDefault();
    go(to);
  });
  $('scrubber').addEventListener('input', (e) => go(+e.target.value));
  window.addEventListener('hashchange', () => {
    const f = frameOfAddress();
    if (f && f !== page.frame) go(f);
  });

  // ---------------------------------------------------------------------------
  // The page's head, the difference, and the first frame.

  $('title').textContent = 'Tolvenmire session — ' + D.title;
  $('subtitle').textContent = D.subtitle + ' · ' + thousands(N) + ' frames';
  $('summary').textContent = D.summary.join('\n');
  if (D.limit) { $('limit').hidden = false; $('limit').textContent = D.limit; }
  if (D.callsLost) { $('calls-lost').hidden = false; $('calls-lost').textContent = D.callsLost; }
  $('frame-count').textContent = thousands(N);
  $('scrubber').max = Math.max(N, 1);

  if (D.difference) {
    const d = D.difference;
    $('difference').hidden = false;
    $('difference-where').textContent = d.told[0] || '';
    // The two calls side by side, the first character where they part marked.
    const [a, b] = [d.recorded, d.made];
    let k = 0;
    while (k < a.length && k < b.length && a[k] === b[k]) ++k;
    for (const [id, text] of [['recorded', a], ['made', b]]) {
      const pre = $(id);
      pre.textContent = text.slice(0, k);
      if (k < text.length) {
        const mark = document.createElement('mark');
        mark.textContent = text.slice(k);
        pre.appendChild(mark);
      }
    }
    $('difference-told').textContent = d.told.join('\n');
  }

  // A link's moment, else the difference of a replay that departs, else the HUD
  // picture's moment.
  if (N > 0) go(frameOfAddress() || D.open);
  requestAnimationFrame(() => setTimeout(() => {
    page.openMs = performance.now();
    page.scriptMs = page.openMs - started;
    page.ready = true;
    document.documentElement.dataset.ready = 'true';
  }, 0));
})();

// The chart page: reads its inputs from the page's URL (so a chart can be
// shared by its address), asks the operator's listener's /history
// pass-through for the bars, and draws candlesticks over a volume histogram.
// Empty grid slots (mode 6 dash lines) stay gaps. #status reports the
// outcome for people and for the browser test: data-state is loading, done
// or error, data-bars the number of bar slots drawn (gaps included).
"use strict";

const FIELDS = ["symbol", "mode", "interval", "dateStart", "dateOver", "timeStart", "timeOver"];
const UP = "#26a69a";
const DOWN = "#ef5350";

const form = document.getElementById("inputs");
const statusLine = document.getElementById("status");
const title = document.getElementById("title");

function report(state, text, bars, gaps) {
  statusLine.dataset.state = state;
  statusLine.dataset.bars = bars === undefined ? "" : String(bars);
  statusLine.dataset.gaps = gaps === undefined ? "" : String(gaps);
  statusLine.textContent = text;
}

// "2026-12-07" as the server's y/m/d.
function serverDate(iso) {
  const [y, m, d] = iso.split("-").map(Number);
  return `${y}/${m}/${d}`;
}

// "10:00" or "10:00:30" as hh:nn:ss.
function serverTime(t) {
  return t.length === 5 ? `${t}:00` : t;
}

function historyQuery(inputs) {
  const q = new URLSearchParams();
  q.set("symbol", inputs.symbol);
  q.set("mode", inputs.mode);
  q.set("interval", inputs.interval);
  // A lone half of a pair goes too: the server's answer explains it.
  for (const name of ["dateStart", "dateOver"]) if (inputs[name]) q.set(name, serverDate(inputs[name]));
  for (const name of ["timeStart", "timeOver"]) if (inputs[name]) q.set(name, serverTime(inputs[name]));
  return q.toString();
}

// Seconds since 1970 of a bar's date and time, taken as they are written
// (the chart shows the server's own clock).
function stamp(date, time) {
  const [y, m, d] = date.split("/").map(Number);
  const [hh, mm, ss] = time.split(":").map(Number);
  return Date.UTC(y, m - 1, d, hh, mm, ss) / 1000;
}

// The reply's lines as bars: TICK|n|date|time|o|h|l|c|volume| (modes 4, 5)
// or INTERVAL|n|date|time|o|h|l|c|volume| with "-" for an empty slot or for
// no volume (mode 6).
function parseReply(text, mode) {
  const out = { names: [], errors: [], bars: [], count: null };
  const kind = mode === "6" ? "INTERVAL" : "TICK";
  const lines = text.split("\r\n");
  if (lines[lines.length - 1] === "") lines.pop();
  for (const line of lines) {
    const f = line.split("|");
    if (f[0] === kind && f.length === 10) {
      const bar = { time: stamp(f[2], f[3]) };
      if (f[4] !== "-") {
        bar.open = Number(f[4]);
        bar.high = Number(f[5]);
        bar.low = Number(f[6]);
        bar.close = Number(f[7]);
        bar.volume = f[8] === "-" ? 0 : Number(f[8]);
      }
      out.bars.push(bar);
    } else if (f[0] === "NOTE" && (f[1] === "ENAME" || f[1] === "CNAME")) {
      out.names.push(f.slice(2, -1).join("|"));
    } else if (f[0] === "NOTE" && f[1] === "RECORDCOUNT") {
      out.count = Number(f[2]);
    } else if (f[0] === "ERROR") {
      out.errors.push(f[1]);
    } else {
      throw new Error(`unexpected reply line: ${line}`);
    }
  }
  // Modes 4 and 6 end every reply with the record count or an error; an
  // empty body means the server failed (its log says why).
  if (mode !== "5" && out.count === null && !out.errors.length) {
    throw new Error("the reply ended early (no record count)");
  }
  if (out.count !== null && out.count !== out.bars.length) {
    throw new Error(`the reply held ${out.bars.length} bars, its count says ${out.count}`);
  }
  return out;
}

let chart = null;

function draw(bars, interval) {
  if (chart) chart.remove();
  const LWC = window.LightweightCharts;
  chart = LWC.createChart(document.getElementById("chart"), {
    autoSize: true,
    layout: { background: { color: "#ffffff" }, textColor: "#1d2330" },
    timeScale: { timeVisible: true, secondsVisible: interval < 60 },
  });
  const candles = chart.addSeries(LWC.CandlestickSeries, {
    upColor: UP, downColor: DOWN, borderVisible: false, wickUpColor: UP, wickDownColor: DOWN,
  });
  const volume = chart.addSeries(LWC.HistogramSeries, { priceFormat: { type: "volume" } }, 1);
  chart.panes()[1].setStretchFactor(0.3);
  candles.setData(bars.map((b) => ("open" in b
    ? { time: b.time, open: b.open, high: b.high, low: b.low, close: b.close }
    : { time: b.time })));
  volume.setData(bars.map((b) => ("open" in b
    ? { time: b.time, value: b.volume, color: b.close >= b.open ? UP : DOWN }
    : { time: b.time })));
  chart.timeScale().fitContent();
}

async function show(inputs) {
  report("loading", "Loading...");
  title.textContent = inputs.symbol;
  try {
    const reply = await fetch(`/history?${historyQuery(inputs)}`);
    if (!reply.ok) throw new Error(`HTTP ${reply.status} ${reply.statusText}`);
    const parsed = parseReply(await reply.text(), inputs.mode);
    title.textContent = [inputs.symbol, ...parsed.names].join("  ");
    document.title = `${title.textContent} - history chart`;
    if (!parsed.bars.length) {
      throw new Error(parsed.errors.length ? parsed.errors.join(" ") : "No bars in this range.");
    }
    draw(parsed.bars, Number(inputs.interval));
    const gaps = parsed.bars.filter((b) => !("open" in b)).length;
    report("done", `${parsed.bars.length} bars (${gaps} empty slots)` +
      (parsed.errors.length ? `; the server also said: ${parsed.errors.join(" ")}` : ""),
    parsed.bars.length, gaps);
  } catch (e) {
    if (chart) {
      chart.remove();
      chart = null;
    }
    report("error", String(e.message || e));
  }
}

function readInputs() {
  const inputs = {};
  for (const name of FIELDS) inputs[name] = form.elements[name].value.trim();
  return inputs;
}

form.addEventListener("submit", (event) => {
  event.preventDefault();
  const inputs = readInputs();
  const q = new URLSearchParams();
  for (const name of FIELDS) if (inputs[name]) q.set(name, inputs[name]);
  history.pushState(null, "", `?${q}`);
  show(inputs);
});

function fromAddress() {
  const q = new URLSearchParams(location.search);
  for (const name of FIELDS) if (q.has(name)) form.elements[name].value = q.get(name);
  if (form.elements.symbol.value) show(readInputs());
}

window.addEventListener("popstate", fromAddress);
fromAddress();

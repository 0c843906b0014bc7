// The chart page in Debian's headless chromium, driven by playwright-core:
// on a sample market the page draws a symbol's bars (the canvas shows
// candles, and the page reports as many bar slots as the reply has data
// lines, its empty slots as gaps), and shows the server's error as text.
// A screenshot goes to $BUILD_DIR/chart-test/chart.png.
//
//   BUILD_DIR=build WEB_TEST_MODULES=build/web-test/node_modules node --test web/test/chart.test.mjs
//
// The page is served by the server's operator listener (--admin-port) when
// the server has one, else by a small static and pass-through server here.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import { createRequire } from "node:module";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";

const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), "../..");
const build = path.resolve(root, process.env.BUILD_DIR || "build");
const modules = path.resolve(root, process.env.WEB_TEST_MODULES || path.join(build, "web-test/node_modules"));
const { chromium } = createRequire(path.join(modules, "noop.js"))("playwright-core");

const SYMBOL = "0002";
let work, server, proxy, base, day;

function lastWeekday() {
  const d = new Date();
  do d.setDate(d.getDate() - 1); while (d.getDay() === 0 || d.getDay() === 6);
  return d;
}

// Starts the server and resolves with the ports it names on its first lines.
function startServer(args) {
  const child = spawn(path.join(build, "histdata-server"), args, { stdio: ["ignore", "pipe", "inherit"] });
  const wanted = args.includes("--admin-port") ? 2 : 1;
  return new Promise((resolve, reject) => {
    const ports = [];
    const lines = readline.createInterface({ input: child.stdout });
    lines.on("line", (line) => {
      const m = /(?:listening|operator's port) on [\d.]+:(\d+)/.exec(line);
      if (m) ports.push(Number(m[1]));
      if (ports.length === wanted) resolve({ child, ports });
    });
    child.on("exit", (code) => reject(new Error(`histdata-server exited with ${code}`)));
  });
}

// What the operator's listener serves, for a server built without it.
function startProxy(historyPort) {
  const files = path.join(build, "web");
  const types = { ".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8" };
  const s = http.createServer((req, res) => {
    const url = new URL(req.url, "http://x");
    if (url.pathname === "/history") {
      http.get({ port: historyPort, host: "127.0.0.1", path: `/${url.search}` }, (up) => {
        res.writeHead(up.statusCode, up.headers);
        up.pipe(res);
      });
      return;
    }
    const name = url.pathname === "/chart" ? "chart.html" : url.pathname.replace(/^\/web\//, "");
    const file = path.join(files, name);
    if (!/^[\w.-]+$/.test(name) || !fs.existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { "Content-Type": types[path.extname(name)] || "application/octet-stream" });
    fs.createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => s.listen(0, "127.0.0.1", () => resolve(s)));
}

function get(url) {
  return new Promise((resolve, reject) => {
    http.get(url, (res) => {
      let body = "";
      res.setEncoding("utf8");
      res.on("data", (c) => { body += c; });
      res.on("end", () => resolve(body));
    }).on("error", reject);
  });
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), "histdata-chart-"));
  const end = lastWeekday();
  day = `${end.getFullYear()}-${String(end.getMonth() + 1).padStart(2, "0")}-${String(end.getDate()).padStart(2, "0")}`;
  const made = spawnSync(path.join(build, "histdata-admin"), ["sample", "--data-dir", `${work}/data`,
    "--days", "2", "--symbols", "2", "--end", day], { stdio: ["ignore", "ignore", "inherit"] });
  assert.equal(made.status, 0, "histdata-admin sample failed");
  fs.copyFileSync(path.join(root, "config/zet.ini"), path.join(work, "zet.ini"));
  const help = spawnSync(path.join(build, "histdata-server"), ["--help"], { encoding: "utf8" });
  const listener = `${help.stdout}${help.stderr}`.includes("--admin-port");
  const args = ["--port", "0", "--data-dir", `${work}/data`, "--log-dir", work, "--workdir", work];
  if (listener) args.push("--admin-port", "0");
  server = await startServer(args);
  if (listener) {
    base = `http://127.0.0.1:${server.ports[1]}`;
  } else {
    proxy = await startProxy(server.ports[0]);
    base = `http://127.0.0.1:${proxy.address().port}`;
  }
  console.log(`# chart page served by ${listener ? "the operator's listener" : "the test's own pass-through"}`);
});

after(() => {
  if (proxy) proxy.close();
  if (server) server.child.kill();
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

async function withPage(fn) {
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  try {
    const page = await browser.newPage({ viewport: { width: 1100, height: 700 } });
    return await fn(page);
  } finally {
    await browser.close();
  }
}

async function settled(page) {
  await page.waitForFunction(() => ["done", "error"].includes(document.getElementById("status").dataset.state));
  return page.$eval("#status", (s) => ({ ...s.dataset, text: s.textContent }));
}

test("the chart draws every bar slot of the reply, empty slots as gaps", async () => {
  const query = `symbol=${SYMBOL}&mode=6&interval=300&dateStart=${day}&dateOver=${day}&timeStart=09:00:00&timeOver=16:00:00`;
  const [y, m, d] = day.split("-").map(Number);
  const reply = await get(`${base}/history?symbol=${SYMBOL}&mode=6&interval=300&dateStart=${y}/${m}/${d}` +
    `&dateOver=${y}/${m}/${d}&timeStart=09:00:00&timeOver=16:00:00`);
  const data = reply.split("\r\n").filter((l) => l.startsWith("INTERVAL|"));
  const dashes = data.filter((l) => l.split("|")[4] === "-");
  assert.ok(data.length > 20 && dashes.length > 0, `a grid with gaps expected, got ${data.length} lines`);
  const names = reply.split("\r\n").filter((l) => l.startsWith("NOTE|ENAME|")).map((l) => l.split("|")[2]);

  await withPage(async (page) => {
    await page.goto(`${base}/chart?${query}`);
    const status = await settled(page);
    assert.equal(status.state, "done", status.text);
    assert.equal(Number(status.bars), data.length);
    assert.equal(Number(status.gaps), dashes.length);
    assert.ok((await page.textContent("#title")).includes(names[0]));
    // Pixels in the candle colours: the chart drew, not just its frame.
    const colored = await page.$$eval("#chart canvas", (canvases) => canvases.reduce((n, c) => {
      const px = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
      for (let i = 0; i < px.length; i += 4) {
        const up = Math.abs(px[i] - 38) + Math.abs(px[i + 1] - 166) + Math.abs(px[i + 2] - 154) < 12;
        const down = Math.abs(px[i] - 239) + Math.abs(px[i + 1] - 83) + Math.abs(px[i + 2] - 80) < 12;
        if (up || down) n++;
      }
      return n;
    }, 0));
    assert.ok(colored > 500, `only ${colored} candle-coloured pixels`);
    // The address carries the inputs: the form shows them back.
    assert.equal(await page.inputValue("input[name=symbol]"), SYMBOL);
    assert.equal(await page.inputValue("select[name=mode]"), "6");
    fs.mkdirSync(path.join(build, "chart-test"), { recursive: true });
    await page.screenshot({ path: path.join(build, "chart-test", "chart.png") });
  });
});

test("the server's error is shown as text", async () => {
  await withPage(async (page) => {
    await page.goto(`${base}/chart?symbol=NOSUCH&mode=4&interval=60&dateStart=${day}&dateOver=${day}`);
    const status = await settled(page);
    assert.equal(status.state, "error");
    assert.match(status.text, /Record not found\./);
    await page.goto(`${base}/chart?symbol=${SYMBOL}&mode=4&interval=0`);
    assert.match((await settled(page)).text, /Invalid interval\./);
  });
});

// The cost of one frame, side by side in one run: the native Draw (the benchmark program's
// BM_Draw640x480 and BM_Draw1920x1080), the WebAssembly Draw in node and in headless Chromium
// after warm-up, each also with the conversion for the canvas. The same steady block of two sine
// waves as the benchmark's, the history full (155 frames first). A figure, not a test: nothing
// here passes or fails on time.
//
//   node web/tests/frame-cost.mjs --site BUILD/web/site --bench BUILD/native/bench/selvanore_bench --rounds N
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { startServer } from '../serve.mjs';
import { loadNodePlayer, parseArgs } from './support.mjs';

const args = parseArgs(process.argv.slice(2), ['site', 'bench', 'rounds']);
const Sizes = [[640, 480], [1920, 1080]];
const Frames = { 640: 2000, 1920: 500 };

// Milliseconds a frame, without and with the conversion, in APlayer (in node or in a page).
function measure(APlayer, AWidth, AHeight, AFrames) {
  APlayer.start(AWidth, AHeight);
  const block = APlayer.block();
  for (let i = 0; i < 512; ++i) {
    block[i] = Math.fround(Math.sin(i * 0.05) * 0.9);
    block[512 + i] = Math.fround(Math.sin(i * 0.13) * 0.8);
  }
  APlayer.timeFrames(155 + AFrames / 4, false); // the history full, the code warm
  const draw = APlayer.timeFrames(AFrames, false) / AFrames;
  const converted = APlayer.timeFrames(AFrames, true) / AFrames;
  APlayer.stop();
  return [draw, converted];
}

function native() {
  const run = spawnSync(args.bench, ['--benchmark_filter=^BM_Draw(640x480|1920x1080)$', '--benchmark_format=json',
    '--benchmark_min_time=1'], { encoding: 'utf8' });
  if (run.status !== 0) throw new Error(`${args.bench} failed: ${run.stderr}`);
  const out = {};
  for (const b of JSON.parse(run.stdout).benchmarks) {
    const scale = { ns: 1e-6, us: 1e-3, ms: 1 }[b.time_unit];
    out[b.name.includes('640') ? 640 : 1920] = b.real_time * scale;
  }
  return out;
}

const server = await startServer({ mounts: { '/': args.site }, port: 0 });
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
const page = await browser.newPage();
await page.goto(server.url + 'index.html');
await page.waitForFunction(() => window.selvanore && window.selvanore.ready);
const nodePlayer = await loadNodePlayer(args.site);

const rows = { 640: [], 1920: [] };
for (let round = 0; round < Number(args.rounds); ++round) {
  const nat = native();
  for (const [w, h] of Sizes) {
    const inNode = measure(nodePlayer, w, h, Frames[w]);
    const inPage = await page.evaluate(`(${measure.toString()})(window.selvanore.player, ${w}, ${h}, ${Frames[w]})`);
    rows[w].push({ native: nat[w], node: inNode, chromium: inPage });
  }
}
await browser.close();
await server.close();

// The least of the rounds: on a machine shared with other work, the round least disturbed by it
// is the nearest to each program's own cost.
const median = (values) => Math.min(...values);
console.log(`Frame cost, the least of ${args.rounds} rounds (ms a frame; ratio to native):`);
console.log('| Size | Native Draw | WebAssembly Draw, node | with conversion | WebAssembly Draw, Chromium | with conversion |');
console.log('|---|---|---|---|---|---|');
for (const [w, h] of Sizes) {
  const r = rows[w];
  const nat = median(r.map((x) => x.native));
  const cell = (ms) => `${ms.toFixed(3)} (${(ms / nat).toFixed(2)}x)`;
  console.log(`| ${w}x${h} | ${nat.toFixed(3)} | ${cell(median(r.map((x) => x.node[0])))} | ${cell(median(r.map((x) => x.node[1])))} | ` +
    `${cell(median(r.map((x) => x.chromium[0])))} | ${cell(median(r.map((x) => x.chromium[1])))} |`);
}
console.log(`(${path.basename(args.bench)} ${process.versions.node ? 'node ' + process.versions.node : ''}, ${await chromiumVersion()})`);

async function chromiumVersion() {
  const run = spawnSync('/usr/bin/chromium', ['--version'], { encoding: 'utf8' });
  return run.stdout.trim();
}

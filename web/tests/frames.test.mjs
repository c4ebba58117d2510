// The page's program in node, without a browser: frame n of a generated sound, drawn from the
// samples at floor(n x rate / fps) through the module's export, must be byte for byte frame n of
// `selvanore-preview --output -` for the same file, size and rate.
//
//   node web/tests/frames.test.mjs --site BUILD/web/site --preview PATH/selvanore-preview --work DIR
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { mkdir, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { test } from 'node:test';
import { FrameCases as Cases, FramesPerCase, loadNodePlayer, makeWav, parseArgs, previewHashes } from './support.mjs';

const args = parseArgs(process.argv.slice(2), ['site', 'preview', 'work']);
const { fillBlock, frameStart, rgbOf } = await import(path.resolve(args.site, 'selvanore.js'));

await mkdir(args.work, { recursive: true });
const player = await loadNodePlayer(args.site);

for (const c of Cases) {
  const frames = FramesPerCase;
  test(`${c.width}x${c.height} at ${c.fps} fps from ${c.channels} channel(s) at ${c.rate} Hz`, async () => {
    const { bytes, decoded } = makeWav(c);
    const wav = path.join(args.work, `frames-${c.width}x${c.height}.wav`);
    await writeFile(wav, bytes);
    const expected = await previewHashes(args.preview, wav, { ...c, frames });
    assert.equal(expected.length, frames);

    const left = decoded[0];
    const right = decoded[c.channels > 1 ? 1 : 0];
    player.start(c.width, c.height);
    try {
      for (let n = 0; n < frames; ++n) {
        fillBlock(player.block(), left, right, frameStart(n, c.rate, c.fps));
        const rgb = rgbOf(player.draw());
        const actual = createHash('sha256').update(rgb).digest('hex');
        assert.equal(actual, expected[n], `frame ${n} differs from the preview's`);
      }
      assert.deepEqual(player.calls().draws, frames);
    } finally {
      player.stop();
    }
  });
}

test('a failure is reported and the program stays usable', () => {
  // Drawing before the start is refused with a reason, not a trap.
  assert.throws(() => player.draw(), /not started/);
  // A size whose surface cannot be made is refused and leaves nothing started.
  assert.throws(() => player.start(-5, 10), /drawing surface/);
  player.start(64, 48);
  fillBlock(player.block(), new Float32Array(0), new Float32Array(0), 0);
  assert.equal(player.draw().length, 64 * 48 * 4);
  assert.throws(() => player.resize(0, -1), /drawing surface/);
  assert.equal(player.width(), 64);
  assert.equal(player.draw().length, 64 * 48 * 4);
  player.stop();
});

test('starting, resizing and stopping again and again leave the heap as it was', () => {
  const cycle = () => {
    player.start(320, 200);
    fillBlock(player.block(), new Float32Array(0), new Float32Array(0), 0);
    for (let n = 0; n < 10; ++n) player.draw();
    player.resize(1000, 700);
    player.draw();
    player.resize(320, 200);
    player.draw();
    player.stop();
  };
  cycle(); // the first makes what lasts as long as the program (the graphics pools' entries)
  const before = player.heapInUse();
  for (let i = 0; i < 50; ++i) cycle();
  assert.equal(player.heapInUse(), before);
});

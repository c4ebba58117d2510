// What the page's tests share: generated sounds, the preview's frame hashes, the program's
// frame hashes in node, and arguments.
import { spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import { readFile } from 'node:fs/promises';
import path from 'node:path';

// The frame identity's cases, for the node test and the browser's. Every ring slot is rewritten
// within 155 frames; 160 also run past the sound's end, where the blocks are zeros. The sizes:
// the default, an odd one, full HD; the rates make frame starts that are not whole multiples.
export const FrameCases = [
  { width: 640, height: 480, fps: 30, rate: 44100, channels: 2, seconds: 5 },
  { width: 333, height: 201, fps: 60, rate: 48000, channels: 1, seconds: 2.5 },
  { width: 1920, height: 1080, fps: 25, rate: 22050, channels: 2, seconds: 6 },
];
export const FramesPerCase = 160;

// --name value pairs of the command line, as an object.
export function parseArgs(AArgs, ANames) {
  const out = {};
  for (let i = 0; i < AArgs.length; ++i) {
    const name = AArgs[i].replace(/^--/, '');
    if (!ANames.includes(name) || i + 1 >= AArgs.length) {
      throw new Error(`unknown or incomplete option '${AArgs[i]}' (options: ${ANames.map((n) => '--' + n).join(' ')})`);
    }
    out[name] = AArgs[++i];
  }
  for (const name of ANames) if (!(name in out)) throw new Error(`--${name} is needed`);
  return out;
}

// A seeded generator (an LCG), so that every sound is the same on every run.
function random(ASeed) {
  let state = ASeed >>> 0;
  return () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state / 2 ** 32 - 0.5;
  };
}

// The sample at ATime seconds of the test signal: a chord, beats, a sweep, silence, then chord
// and beats near full scale, so that the rings' shapes, sizes and normalisation all change.
function signalAt(ATime, AChannel, ANoise) {
  const tau = 2 * Math.PI;
  const chord = (t) => (Math.sin(tau * 220 * t) + Math.sin(tau * 277.18 * t + AChannel) + Math.sin(tau * 329.63 * t)) / 3;
  const beat = (t) => {
    const since = t % 0.25;
    return Math.exp(-since * 30) * ANoise() * 1.6;
  };
  if (ATime < 1.5) return 0.6 * chord(ATime) * Math.min(1, ATime * 2);
  if (ATime < 2.5) return beat(ATime);
  if (ATime < 3.5) {
    const u = ATime - 2.5;
    return 0.7 * Math.sin(tau * (100 * u + 1950 * u * u)) * (AChannel ? 0.5 : 1);
  }
  if (ATime < 4) return 0;
  return Math.max(-1, Math.min(1, 0.95 * chord(ATime) + beat(ATime)));
}

// A 16-bit PCM WAV of the test signal. Returns the file's bytes and its samples as a decoder
// gives them (the integer / 32768), one Float32Array a channel.
export function makeWav({ rate, channels, seconds, silent = false, tone = 0 }) {
  const frames = Math.round(rate * seconds);
  const data = Buffer.alloc(frames * channels * 2);
  const decoded = Array.from({ length: channels }, () => new Float32Array(frames));
  const noise = [random(1), random(2)];
  for (let i = 0; i < frames; ++i) {
    for (let c = 0; c < channels; ++c) {
      const t = i / rate;
      const value = silent ? 0 : tone ? 0.5 * Math.sin(2 * Math.PI * tone * t) : signalAt(t, c, noise[c]);
      const q = Math.max(-32768, Math.min(32767, Math.round(value * 32767)));
      data.writeInt16LE(q, (i * channels + c) * 2);
      decoded[c][i] = q / 32768;
    }
  }
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + data.length, 4);
  header.write('WAVE', 8);
  header.write('fmt ', 12);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE(rate * channels * 2, 28);
  header.writeUInt16LE(channels * 2, 32);
  header.writeUInt16LE(16, 34);
  header.write('data', 36);
  header.writeUInt32LE(data.length, 40);
  return { bytes: Buffer.concat([header, data]), decoded };
}

// The SHA-256 of each frame's body in `selvanore-preview --output -` for AWav, in order.
export function previewHashes(APreview, AWav, { width, height, fps, frames }) {
  return new Promise((resolve, reject) => {
    const child = spawn(APreview, ['--input', AWav, '--size', `${width}x${height}`, '--fps', String(fps),
      '--frames', String(frames), '--output', '-'], { stdio: ['ignore', 'pipe', 'pipe'] });
    const header = `P6\n${width} ${height}\n255\n`;
    const body = width * height * 3;
    const hashes = [];
    let pending = Buffer.alloc(0);
    let hash = null;
    let left = 0; // body bytes still to come in the current frame
    let stderr = '';
    child.stderr.on('data', (chunk) => (stderr += chunk));
    child.stdout.on('data', (chunk) => {
      let at = 0;
      while (at < chunk.length) {
        if (left === 0) {
          const need = header.length - pending.length;
          const take = chunk.subarray(at, at + need);
          pending = Buffer.concat([pending, take]);
          at += take.length;
          if (pending.length < header.length) break;
          if (pending.toString('latin1') !== header) {
            child.kill();
            reject(new Error(`the preview's frame ${hashes.length} has the header ${JSON.stringify(pending.toString('latin1'))}`));
            return;
          }
          pending = Buffer.alloc(0);
          hash = createHash('sha256');
          left = body;
        }
        const take = chunk.subarray(at, at + left);
        hash.update(take);
        left -= take.length;
        at += take.length;
        if (left === 0) hashes.push(hash.digest('hex'));
      }
    });
    child.on('error', reject);
    child.on('close', (code) => {
      if (code !== 0) reject(new Error(`${path.basename(APreview)} failed (${code}): ${stderr.trim()}`));
      else if (left !== 0 || pending.length) reject(new Error('the preview stream ends inside a frame'));
      else resolve(hashes);
    });
  });
}

// Loads the page's program in node from ASite, as the page's script does, with the .wasm's bytes
// handed over (emscripten's own loader fetches, which node's fetch cannot do for a file).
export async function loadNodePlayer(ASite) {
  const { loadPlayer } = await import(path.resolve(ASite, 'selvanore.js'));
  return loadPlayer({ wasmBinary: await readFile(path.join(ASite, 'selvanore-wasm.wasm')) });
}

// The page's player: loads the WebAssembly build of the module with its stand-in and drive library,
// drives the visualization as a player does (initialized with the canvas's extents, one Draw per
// animation frame with the two channels' 512 samples at the audio clock's position, Resize,
// Click, finalized when the page is left) and puts each frame's pixels on the canvas.
//
// The same file is imported by the node test (no document there): the exports below are the
// frame-exact core, the rest runs only in a page.

// Samples per channel in one frame's block, the record's waveform row.
export const BlockSize = 512;

// The first sample of frame AFrame at ARate samples a second and AFps frames a second:
// floor(AFrame x ARate / AFps), exact while the product stays below 2^53.
export function frameStart(AFrame, ARate, AFps) {
  return Math.floor((AFrame * ARate) / AFps);
}

// Copies the 512 samples of each channel from AStart into ABlock (left, then right); samples
// before 0 or past the end are 0. A mono sound gives its one channel to both.
export function fillBlock(ABlock, ALeft, ARight, AStart) {
  for (let c = 0; c < 2; ++c) {
    const samples = c === 0 ? ALeft : ARight;
    const row = ABlock.subarray(c * BlockSize, (c + 1) * BlockSize);
    const from = Math.max(0, Math.min(AStart, samples.length));
    const to = Math.max(from, Math.min(AStart + BlockSize, samples.length));
    row.fill(0);
    if (to > from) row.set(samples.subarray(from, to), from - AStart);
  }
}

// The RGB bytes of RGBA pixels, as a PPM frame holds them.
export function rgbOf(ARgba) {
  const count = ARgba.length >> 2;
  const rgb = new Uint8Array(count * 3);
  for (let i = 0, j = 0, k = 0; i < count; ++i, j += 4, k += 3) {
    rgb[k] = ARgba[j];
    rgb[k + 1] = ARgba[j + 1];
    rgb[k + 2] = ARgba[j + 2];
  }
  return rgb;
}

// Lowercase hex SHA-256 of ABytes.
export async function sha256Hex(ABytes) {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', ABytes));
  return Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
}

// The visualization as the page drives it, over the WebAssembly program's exports.
export class TPlayer {
  constructor(AWasm) {
    this.wasm = AWasm;
    this.started = false;
  }

  // The reason of the last failure the program kept.
  error() {
    return this.wasm.UTF8ToString(this.wasm._SelvanoreError());
  }

  // Takes the plug-in through the player's sequence to a visualization of AWidth x AHeight.
  start(AWidth, AHeight) {
    if (!this.wasm._SelvanoreStart(AWidth, AHeight)) throw new Error(this.error());
    this.started = true;
  }

  // The frame's block (2 x 512 floats in the program's memory); a new view after the memory grew.
  block() {
    return new Float32Array(this.wasm.HEAPF32.buffer, this.wasm._SelvanoreBlock(), 2 * BlockSize);
  }

  // Draws one frame from the block; returns its RGBA bytes, a view valid until the next call.
  draw() {
    const pixels = this.wasm._SelvanoreDraw();
    if (!pixels) throw new Error(this.error());
    const bytes = this.width() * this.height() * 4;
    return new Uint8ClampedArray(this.wasm.HEAPU8.buffer, pixels, bytes);
  }

  resize(AWidth, AHeight) {
    if (!this.wasm._SelvanoreResize(AWidth, AHeight)) throw new Error(this.error());
  }

  click(AX, AY, AButton) {
    if (!this.wasm._SelvanoreClick(AX, AY, AButton)) throw new Error(this.error());
  }

  width() {
    return this.wasm._SelvanoreWidth();
  }

  height() {
    return this.wasm._SelvanoreHeight();
  }

  // Milliseconds of AFrames frames drawn in a row inside the program (with the conversion for the
  // canvas when AConverted), for the figures.
  timeFrames(AFrames, AConverted) {
    const ms = this.wasm._SelvanoreTimeFrames(AFrames, AConverted ? 1 : 0);
    if (ms < 0) throw new Error(this.error());
    return ms;
  }

  // Finalizes the visualization and the plug-in in the player's order.
  stop() {
    if (this.started) this.wasm._SelvanoreStop();
    this.started = false;
  }

  // What the page has called on the visualization so far.
  calls() {
    const at = this.wasm._SelvanoreCalls() >> 2;
    const h = this.wasm.HEAP32;
    return {
      draws: h[at] >>> 0, resizes: h[at + 1] >>> 0, clicks: h[at + 2] >>> 0,
      resize: [h[at + 3], h[at + 4]], click: [h[at + 5], h[at + 6], h[at + 7]],
    };
  }

  // Bytes of the program's heap in use, and of its whole memory.
  heapInUse() {
    return this.wasm._SelvanoreHeapInUse() >>> 0;
  }

  memoryBytes() {
    return this.wasm.HEAPU8.buffer.byteLength;
  }
}

// Loads the program; AOptions go to emscripten's loader (the node test gives wasmBinary).
export async function loadPlayer(AOptions = {}) {
  const { default: SelvanoreWasm } = await import('./selvanore-wasm.js');
  return new TPlayer(await SelvanoreWasm(AOptions));
}

// The sample rate a file states in its header, for WAV, RF64, AIFF, FLAC, Ogg (Vorbis, Opus) and
// MP3, or 0 when it is none of these: the audio context is made at that rate, so that the
// browser decodes without resampling and the samples are the file's own.
export function statedRate(ABytes) {
  const b = new Uint8Array(ABytes);
  const v = new DataView(b.buffer, b.byteOffset, b.byteLength);
  const text = (at, n) => String.fromCharCode(...b.subarray(at, at + n));
  if (b.length < 12) return 0;
  const head = text(0, 4);
  if ((head === 'RIFF' || head === 'RF64') && text(8, 4) === 'WAVE') {
    for (let at = 12; at + 8 <= b.length;) {
      const size = v.getUint32(at + 4, true);
      if (text(at, 4) === 'fmt ' && at + 16 <= b.length) return v.getUint32(at + 12, true);
      at += 8 + size + (size & 1);
    }
    return 0;
  }
  if (head === 'FORM' && (text(8, 4) === 'AIFF' || text(8, 4) === 'AIFC')) {
    for (let at = 12; at + 8 <= b.length;) {
      const size = v.getUint32(at + 4, false);
      if (text(at, 4) === 'COMM' && at + 26 <= b.length) {
        // An 80-bit extended float: sign and exponent, then a 64-bit mantissa.
        const exponent = (v.getUint16(at + 16, false) & 0x7fff) - 16383;
        const mantissa = v.getUint32(at + 18, false) * 2 ** 32 + v.getUint32(at + 22, false);
        return Math.round(mantissa * 2 ** (exponent - 63));
      }
      at += 8 + size + (size & 1);
    }
    return 0;
  }
  if (head === 'fLaC' && b.length >= 21) return (b[18] << 12) | (b[19] << 4) | (b[20] >> 4);
  if (head === 'OggS' && b.length >= 28 + 16) {
    const packet = 28 + b[26]; // after the page header and its segment table
    if (text(packet, 7) === '\x01vorbis') return v.getUint32(packet + 12, true);
    if (text(packet, 8) === 'OpusHead') return 48000; // Opus always decodes at 48 kHz
    return 0;
  }
  let at = 0;
  if (text(0, 3) === 'ID3' && b.length >= 10) at = 10 + ((b[6] << 21) | (b[7] << 14) | (b[8] << 7) | b[9]);
  for (const end = Math.min(b.length - 4, at + 65536); at < end; ++at) {
    if (b[at] !== 0xff || (b[at + 1] & 0xe0) !== 0xe0) continue;
    const version = (b[at + 1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const layer = (b[at + 1] >> 1) & 3;
    const index = (b[at + 2] >> 2) & 3;
    if (version === 1 || layer === 0 || index === 3) continue;
    const base = [44100, 48000, 32000][index];
    return version === 3 ? base : version === 2 ? base / 2 : base / 4;
  }
  return 0;
}

// The samples of a WAV file (PCM of 8, 16, 24 or 32 bits, or float of 32 or 64) as the preview's
// decoder gives them: integers over 2^(bits - 1), floats clipped to full scale and NaN as 0.
// Returns { rate, channels: [Float32Array...] } or null when ABytes is no WAV file of these.
export function decodeWav(ABytes) {
  const b = new Uint8Array(ABytes);
  const v = new DataView(b.buffer, b.byteOffset, b.byteLength);
  const text = (at, n) => String.fromCharCode(...b.subarray(at, at + n));
  if (b.length < 12 || text(0, 4) !== 'RIFF' || text(8, 4) !== 'WAVE') return null;
  let format = null;
  for (let at = 12; at + 8 <= b.length;) {
    const id = text(at, 4);
    const size = v.getUint32(at + 4, true);
    const body = at + 8;
    if (id === 'fmt ' && size >= 16 && body + 16 <= b.length) {
      let tag = v.getUint16(body, true);
      if (tag === 0xfffe && size >= 26) tag = v.getUint16(body + 24, true); // the sub-format's tag
      format = { tag, channels: v.getUint16(body + 2, true), rate: v.getUint32(body + 4, true), bits: v.getUint16(body + 14, true) };
    } else if (id === 'data' && format) {
      const { tag, channels, bits } = format;
      const width = bits / 8;
      const pcm = tag === 1 && [8, 16, 24, 32].includes(bits);
      const float = tag === 3 && (bits === 32 || bits === 64);
      if (!channels || (!pcm && !float)) return null;
      const length = Math.floor(Math.min(size, b.length - body) / (width * channels));
      const out = Array.from({ length: channels }, () => new Float32Array(length));
      for (let i = 0; i < length; ++i) {
        for (let c = 0; c < channels; ++c) {
          const p = body + (i * channels + c) * width;
          let x;
          if (float) {
            x = bits === 32 ? v.getFloat32(p, true) : v.getFloat64(p, true);
            x = Number.isNaN(x) ? 0 : Math.max(-1, Math.min(1, x));
          } else if (bits === 8) x = (b[p] - 128) / 128;
          else if (bits === 16) x = v.getInt16(p, true) / 32768;
          else if (bits === 24) x = (((b[p + 2] << 24) | (b[p + 1] << 16) | (b[p] << 8)) >> 8) / 8388608;
          else x = v.getInt32(p, true) / 2147483648;
          out[c][i] = x;
        }
      }
      return { rate: format.rate, channels: out };
    }
    at = body + size + (size & 1);
  }
  return null;
}

// ---------------------------------------------------------------------------------------------
// The page.

// Keeps the newest samples of a live source (the microphone, a captured tab) as the capture
// worklet posts them, with the audio clock's frame of the newest.
const WorkletSource = `
registerProcessor('selvanore-capture', class extends AudioWorkletProcessor {
  process(inputs) {
    const input = inputs[0];
    if (input && input.length) {
      const left = input[0], right = input[1] || input[0];
      this.port.postMessage({ frame: currentFrame, left: left.slice(), right: right.slice() });
    }
    return true;
  }
});`;

// The largest magnitude of a block's samples, both channels.
function peakOf(ABlock) {
  let peak = 0;
  for (let i = 0; i < ABlock.length; ++i) peak = Math.max(peak, Math.abs(ABlock[i]));
  return peak;
}

class TLiveRing {
  constructor() {
    this.size = 1 << 16;
    this.left = new Float32Array(this.size);
    this.right = new Float32Array(this.size);
    this.end = 0; // the audio clock's frame after the newest sample
  }

  push(AFrame, ALeft, ARight) {
    for (let i = 0; i < ALeft.length; ++i) {
      const at = (AFrame + i) & (this.size - 1);
      this.left[at] = ALeft[i];
      this.right[at] = ARight[i];
    }
    this.end = AFrame + ALeft.length;
  }

  // The 512 samples that end at AEnd (at most the newest), into ABlock; 0 where none came.
  fill(ABlock, AEnd) {
    const end = Math.min(AEnd, this.end);
    for (let i = 0; i < BlockSize; ++i) {
      const frame = end - BlockSize + i;
      const ok = frame >= 0 && frame > this.end - this.size;
      ABlock[i] = ok ? this.left[frame & (this.size - 1)] : 0;
      ABlock[BlockSize + i] = ok ? this.right[frame & (this.size - 1)] : 0;
    }
  }
}

function main() {
  const $ = (id) => document.getElementById(id);
  const canvas = $('rings');
  const message = $('message');
  const hashes = $('frame-hashes');
  const buttons = { play: $('play'), mic: $('mic'), tab: $('tab'), record: $('record'), full: $('full') };
  const query = new URLSearchParams(location.search);

  // What the tests read: the state, the figures of live play and the calls made.
  const stats = (window.selvanore = {
    ready: false, state: 'loading', message: '', error: false, framesDrawn: 0, animationFrames: 0,
    lags: [], firstFrameMs: null, lastPeak: 0, player: null, source: null,
  });

  const say = (AText, AError = false) => {
    message.textContent = AText;
    message.classList.toggle('error', AError);
    stats.message = AText;
    stats.error = AError;
  };

  if (typeof WebAssembly !== 'object' || typeof WebAssembly.instantiate !== 'function') {
    say('This browser has no WebAssembly, which the rings are drawn with: any current Firefox, Chromium or Safari has it.', true);
    stats.state = 'unsupported';
    return;
  }
  // The program uses WebAssembly's SIMD (Chromium 91, Firefox 89, Safari 16.4 and later): a
  // module of one v128 constant tells.
  const simd = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0, 65, 0, 253, 15, 253, 98, 11]);
  if (!WebAssembly.validate(simd)) {
    say('This browser\'s WebAssembly is too old for the rings (it lacks SIMD): Chromium 91, Firefox 89, Safari 16.4 or later have it.', true);
    stats.state = 'unsupported';
    return;
  }

  let player = null;
  let context = null; // the AudioContext of the source playing
  let source = null; // { kind, rate, position(): sample index heard now, fill(block, position), stop() }
  let frameRequest = 0;
  let playing = false;
  let activated = false; // a click has been seen: sound may start
  let pendingFile = null; // a file chosen before the first click
  let recorder = null;
  let surface = null; // { width, height, image } of the canvas
  let drawnFrom = null; // the audio clock's time of the last frame drawn, for its lag
  let clickedAt = 0;

  const context2d = canvas.getContext('2d', { alpha: false, willReadFrequently: query.has('check') });

  // The canvas's extents in device pixels, as the player's area.
  const areaSize = () => {
    const ratio = window.devicePixelRatio || 1;
    return [Math.max(1, Math.round(canvas.clientWidth * ratio)), Math.max(1, Math.round(canvas.clientHeight * ratio))];
  };

  // Puts the frame on the canvas: the program's RGBA bytes straight into the image, no pass here.
  const present = (ARgba) => {
    const w = player.width(), h = player.height();
    if (!surface || surface.width !== w || surface.height !== h) {
      canvas.width = w;
      canvas.height = h;
      surface = { width: w, height: h };
    }
    context2d.putImageData(new ImageData(ARgba, w, h), 0, 0);
  };

  // ---- Check mode: frames 0 to K-1 of a file, exactly as the preview draws them. -------------
  const check = async () => {
    const [w, h] = (query.get('size') || '640x480').split('x').map(Number);
    const fps = Number(query.get('fps') || 30);
    const frames = Number(query.get('frames') || 1);
    const input = query.get('input');
    stats.state = 'checking';
    say(`Checking ${frames} frames of ${input} at ${w}x${h}, ${fps} fps…`);
    const bytes = await (await fetch(input)).arrayBuffer().catch(() => null);
    if (!bytes) throw new Error(`cannot read ${input}`);
    // A WAV file is decoded here, exactly as the preview does and with no audio thread to wait
    // for (under a virtual time budget too); any other file by the browser, at its own rate.
    let sound = decodeWav(bytes);
    if (!sound) {
      const rate = statedRate(bytes);
      const decoded = await new OfflineAudioContext(2, 1, rate || 44100).decodeAudioData(bytes);
      sound = { rate: decoded.sampleRate, channels: Array.from({ length: decoded.numberOfChannels }, (_, c) => decoded.getChannelData(c)) };
    }
    const left = sound.channels[0];
    const right = sound.channels.length > 1 ? sound.channels[1] : left;
    canvas.style.width = `${w}px`;
    canvas.style.height = `${h}px`;
    player.start(w, h);
    const lines = [];
    for (let n = 0; n < frames; ++n) {
      fillBlock(player.block(), left, right, frameStart(n, sound.rate, fps));
      present(player.draw());
      const rgba = context2d.getImageData(0, 0, w, h).data;
      lines.push(await sha256Hex(rgbOf(rgba)));
    }
    hashes.textContent = lines.join('\n') + '\n';
    stats.state = 'checked';
    say(`Checked ${frames} frames.`);
  };

  // ---- Live play. -------------------------------------------------------------------------------

  // The audio clock less the output latency: the context time of the sample being heard now.
  const heardTime = () => {
    if (!context) return 0;
    if (context.getOutputTimestamp) {
      const stamp = context.getOutputTimestamp();
      if (stamp.contextTime > 0 && stamp.performanceTime > 0) {
        return Math.min(context.currentTime, stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000);
      }
    }
    return Math.max(0, context.currentTime - (context.outputLatency || 0) - (context.baseLatency || 0));
  };

  const stopLoop = () => {
    if (frameRequest) cancelAnimationFrame(frameRequest);
    frameRequest = 0;
  };

  const frame = (ATime) => {
    frameRequest = 0;
    if (!playing || !player) return;
    stats.animationFrames++;
    // The frame drawn last is on screen now: its lag is the clock now less the time it showed.
    const now = heardTime();
    if (drawnFrom !== null) stats.lags.push(now - drawnFrom);
    if (stats.lags.length > 100000) stats.lags.splice(0, 50000);
    const [w, h] = areaSize();
    try {
      if (w !== player.width() || h !== player.height()) player.resize(w, h);
      const position = source.position(now);
      const block = player.block();
      source.fill(block, position);
      stats.lastPeak = peakOf(block);
      present(player.draw());
      drawnFrom = position / source.rate + source.origin;
      stats.framesDrawn++;
      if (stats.firstFrameMs === null) stats.firstFrameMs = performance.now() - clickedAt;
    } catch (error) {
      say(`The visualization failed: ${error.message}`, true);
      pause();
      return;
    }
    if (source.ended && source.ended(now)) {
      finish();
      return;
    }
    frameRequest = requestAnimationFrame(frame);
  };

  const setPlaying = (AOn) => {
    playing = AOn;
    stats.state = AOn ? 'playing' : source ? 'paused' : 'idle';
    buttons.play.textContent = AOn ? 'Pause' : 'Play';
    buttons.play.disabled = !source;
    buttons.record.disabled = !source || typeof MediaRecorder !== 'function';
    document.body.classList.toggle('quiet', AOn);
  };

  const pause = () => {
    stopLoop();
    drawnFrom = null;
    if (context && context.state === 'running') context.suspend();
    setPlaying(false);
  };

  const resume = async () => {
    if (!source) return;
    if (source.restart && source.finished) source.restart();
    // A context the browser holds until a click never settles its resume: waited for a moment.
    await Promise.race([context.resume(), new Promise((resolve) => setTimeout(resolve, 250))]);
    if (context.state !== 'running') {
      say('Click the page to start the sound: the browser holds it until then.');
      return;
    }
    setPlaying(true);
    if (!frameRequest) frameRequest = requestAnimationFrame(frame);
  };

  // The sound reached its end: the picture stays, and Play starts it again.
  const finish = () => {
    stopLoop();
    drawnFrom = null;
    if (source) source.finished = true;
    setPlaying(false);
    if (recorder) recorder.stop();
    say(`${source.name} has ended. Play starts it again.`);
  };

  // Ends the source playing, its context and a recording.
  const closeSource = async () => {
    stopLoop();
    drawnFrom = null;
    if (recorder) recorder.stop();
    if (source) source.stop();
    source = null;
    stats.source = null;
    if (context) await context.close().catch(() => {});
    context = null;
    setPlaying(false);
  };

  // The audio context at ARate (0: the device's), or at the device's rate when the browser
  // refuses that one.
  const makeContext = (ARate) => {
    const options = { latencyHint: 'interactive' };
    if (ARate) {
      try {
        return new AudioContext({ ...options, sampleRate: ARate });
      } catch (error) {
        /* a rate the browser does not take: its own, and the sound resampled */
      }
    }
    return new AudioContext(options);
  };

  const ensureStarted = () => {
    if (player.started) return;
    const [w, h] = areaSize();
    player.start(w, h);
  };

  // A file: decoded at its own rate, played from the decoded buffer, whose samples the frames
  // take at the clock's position.
  const playFile = async (AFile, AName) => {
    await closeSource();
    say(`Decoding ${AName}…`);
    let bytes;
    try {
      bytes = await AFile.arrayBuffer();
    } catch (error) {
      say(`Cannot read ${AName}: ${error.message}`, true);
      return;
    }
    // Decoded apart from the context that plays it, which a browser holds until the first
    // click: a WAV file here, as the preview decodes it, anything else by the browser at the rate
    // the file states, so that nothing is resampled.
    const rate = statedRate(bytes);
    let sound;
    try {
      const wav = decodeWav(bytes);
      if (wav && wav.channels[0].length) {
        sound = new AudioBuffer({ length: wav.channels[0].length, numberOfChannels: wav.channels.length, sampleRate: wav.rate });
        wav.channels.forEach((samples, c) => sound.copyToChannel(samples, c));
      } else {
        const decodeRate = rate >= 3000 && rate <= 768000 ? rate : 48000;
        sound = await new OfflineAudioContext(1, 1, decodeRate).decodeAudioData(bytes);
      }
    } catch (error) {
      say(`The browser cannot decode ${AName} (${error.message || error.name || 'not a sound it knows'}). Try another file: WAV, FLAC, MP3, Ogg or, in most browsers, AAC.`, true);
      return;
    }
    const ctx = makeContext(sound.sampleRate);
    context = ctx;
    const left = sound.getChannelData(0);
    const right = sound.numberOfChannels > 1 ? sound.getChannelData(1) : left;
    const recordTo = ctx.createMediaStreamDestination ? ctx.createMediaStreamDestination() : null;
    let node = null;
    let startedAt = 0; // context time of sample 0; a pause suspends the clock with the sound
    const begin = (AFrom) => {
      node = ctx.createBufferSource();
      node.buffer = sound;
      node.connect(ctx.destination);
      if (recordTo) node.connect(recordTo);
      startedAt = ctx.currentTime - AFrom / sound.sampleRate;
      node.start(ctx.currentTime, AFrom / sound.sampleRate);
      src.origin = startedAt;
    };
    const src = {
      kind: 'file', name: AName, rate: sound.sampleRate, origin: 0, finished: false,
      stream: recordTo && recordTo.stream,
      position: (ANow) => Math.max(0, Math.floor((ANow - startedAt) * sound.sampleRate)),
      fill: (ABlock, APosition) => fillBlock(ABlock, left, right, APosition),
      ended: (ANow) => ANow - startedAt >= sound.duration,
      restart: () => { if (node) node.stop(); src.finished = false; begin(0); },
      stop: () => { if (node) node.stop(); node = null; },
    };
    source = src;
    stats.source = { kind: 'file', rate: sound.sampleRate, contextRate: ctx.sampleRate, channels: sound.numberOfChannels };
    ensureStarted();
    begin(0);
    const resampled = !rate || rate !== sound.sampleRate || ctx.sampleRate !== sound.sampleRate;
    // Nothing starts before the first click, whatever the browser would allow.
    if (activated) await resume();
    if (activated) {
      say(`${AName}: ${sound.numberOfChannels > 1 ? 'stereo' : 'mono'}, ${sound.sampleRate} Hz${resampled ? ' (resampled by the browser)' : ''}, ${sound.duration.toFixed(1)} s.`);
    } else {
      setPlaying(false);
      stats.state = 'ready';
      say(`${AName} is ready. Click the page to play it.`);
    }
  };

  // A live stream (the microphone or a captured tab): its samples come from the capture worklet;
  // each frame shows the 512 that end at the clock's position.
  const playStream = async (AStream, AKind, AName) => {
    const ctx = makeContext(0);
    context = ctx;
    const ring = new TLiveRing();
    try {
      const url = URL.createObjectURL(new Blob([WorkletSource], { type: 'text/javascript' }));
      await ctx.audioWorklet.addModule(url);
      URL.revokeObjectURL(url);
    } catch (error) {
      await closeSource();
      AStream.getTracks().forEach((t) => t.stop());
      say(`This browser cannot run the capture (${error.message}).`, true);
      return;
    }
    const input = ctx.createMediaStreamSource(AStream);
    const tap = new AudioWorkletNode(ctx, 'selvanore-capture', { numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [1] });
    tap.port.onmessage = (AEvent) => ring.push(AEvent.data.frame, AEvent.data.left, AEvent.data.right);
    const mute = ctx.createGain();
    mute.gain.value = 0; // the worklet runs only when it reaches the output; nothing is heard
    input.connect(tap).connect(mute).connect(ctx.destination);
    source = {
      kind: AKind, name: AName, rate: ctx.sampleRate, origin: 0, stream: AStream,
      position: (ANow) => Math.floor(ANow * ctx.sampleRate),
      fill: (ABlock, APosition) => ring.fill(ABlock, APosition),
      stop: () => { AStream.getTracks().forEach((t) => t.stop()); input.disconnect(); tap.disconnect(); },
    };
    stats.source = { kind: AKind, rate: ctx.sampleRate };
    AStream.getAudioTracks().forEach((t) => t.addEventListener('ended', () => {
      if (source && source.stream === AStream) {
        closeSource();
        say(`${AName} has stopped.`);
      }
    }));
    ensureStarted();
    say(`Showing ${AName}.`);
    await resume();
  };

  const useMicrophone = async () => {
    if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
      say('This browser offers no microphone to pages (it needs a secure page, https or this computer).', true);
      return;
    }
    await closeSource();
    let stream;
    try {
      stream = await navigator.mediaDevices.getUserMedia({
        audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
      });
    } catch (error) {
      if (error.name === 'NotAllowedError' || error.name === 'SecurityError') {
        say('The microphone was refused. Allow it in the browser\'s site settings and try again, or open a file.', true);
      } else if (error.name === 'NotFoundError') {
        say('There is no microphone on this computer.', true);
      } else {
        say(`The microphone cannot be opened (${error.message || error.name}).`, true);
      }
      return;
    }
    await playStream(stream, 'microphone', 'the microphone');
  };

  const captureTab = async () => {
    if (!navigator.mediaDevices || !navigator.mediaDevices.getDisplayMedia) {
      say('This browser cannot capture another tab\'s or the system\'s sound; Chromium-based browsers can.', true);
      return;
    }
    await closeSource();
    let stream;
    try {
      stream = await navigator.mediaDevices.getDisplayMedia({ video: true, audio: true, systemAudio: 'include' });
    } catch (error) {
      say(error.name === 'NotAllowedError' ? 'The capture was cancelled.' : `The capture failed (${error.message || error.name}).`, true);
      return;
    }
    stream.getVideoTracks().forEach((t) => t.stop());
    if (!stream.getAudioTracks().length) {
      say('That capture has no sound. Share a tab with "Share tab audio" ticked, or the whole screen with the system\'s sound.', true);
      return;
    }
    await playStream(new MediaStream(stream.getAudioTracks()), 'capture', 'the captured sound');
  };

  // Records the canvas with the source's sound to WebM, offered as a download when it stops.
  const toggleRecording = () => {
    if (recorder) {
      recorder.stop();
      return;
    }
    if (typeof MediaRecorder !== 'function' || !canvas.captureStream) {
      say('This browser cannot record the page.', true);
      return;
    }
    const stream = canvas.captureStream();
    if (source && source.stream) source.stream.getAudioTracks().forEach((t) => stream.addTrack(t));
    const type = ['video/webm;codecs=vp9,opus', 'video/webm;codecs=vp8,opus', 'video/webm']
      .find((t) => MediaRecorder.isTypeSupported(t));
    if (!type) {
      say('This browser cannot record WebM.', true);
      return;
    }
    const parts = [];
    const started = new Date();
    recorder = new MediaRecorder(stream, { mimeType: type });
    recorder.ondataavailable = (AEvent) => AEvent.data.size && parts.push(AEvent.data);
    recorder.onstop = () => {
      recorder = null;
      buttons.record.textContent = 'Record';
      const blob = new Blob(parts, { type: 'video/webm' });
      const link = $('download');
      if (link.href) URL.revokeObjectURL(link.href);
      link.href = URL.createObjectURL(blob);
      const stamp = started.toISOString().replace(/[-:]/g, '').replace(/\..*/, '').replace('T', '-');
      link.download = `selvanore-${stamp}.webm`;
      link.textContent = `Download the recording (${(blob.size / 1e6).toFixed(1)} MB)`;
      link.hidden = false;
      link.click();
    };
    recorder.start(1000);
    buttons.record.textContent = 'Stop recording';
  };

  const toggleFullScreen = () => {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (document.documentElement.requestFullscreen) document.documentElement.requestFullscreen().catch(() => {});
    else say('This browser offers no full screen to pages.', true);
  };

  const togglePlay = () => {
    if (!source) return;
    if (playing) pause();
    else resume();
  };

  // ---- Events. ----------------------------------------------------------------------------------
  const activate = () => {
    if (activated) return;
    activated = true;
    clickedAt = performance.now();
    if (pendingFile) {
      const [file, name] = pendingFile;
      pendingFile = null;
      playFile(file, name);
    } else if (source && !playing) {
      resume().then(() => playing && say(`Playing ${source.name}.`));
    }
  };
  document.addEventListener('pointerdown', activate, true);
  document.addEventListener('keydown', activate, true);

  $('file').addEventListener('change', (AEvent) => {
    const file = AEvent.target.files[0];
    if (file) playFile(file, file.name);
    AEvent.target.value = '';
  });
  buttons.play.addEventListener('click', togglePlay);
  buttons.mic.addEventListener('click', useMicrophone);
  buttons.tab.addEventListener('click', captureTab);
  buttons.record.addEventListener('click', toggleRecording);
  buttons.full.addEventListener('click', toggleFullScreen);
  if (!navigator.mediaDevices || !navigator.mediaDevices.getDisplayMedia) {
    buttons.tab.disabled = true;
    buttons.tab.title = 'This browser cannot capture another tab\'s sound';
  }

  document.addEventListener('keydown', (AEvent) => {
    if (AEvent.target instanceof HTMLInputElement || AEvent.ctrlKey || AEvent.metaKey || AEvent.altKey) return;
    if (AEvent.key === ' ') {
      AEvent.preventDefault();
      togglePlay();
    } else if (AEvent.key === 'f' || AEvent.key === 'F') {
      toggleFullScreen();
    }
  });
  canvas.addEventListener('dblclick', toggleFullScreen);
  // A click reaches the module in the area's pixels: 0 left, 1 right, 2 middle.
  const clickModule = (AEvent) => {
    if (!player || !player.started) return;
    const box = canvas.getBoundingClientRect();
    const x = Math.floor(((AEvent.clientX - box.left) * player.width()) / box.width);
    const y = Math.floor(((AEvent.clientY - box.top) * player.height()) / box.height);
    const button = [0, 2, 1][AEvent.button];
    if (button === undefined) return;
    try {
      player.click(x, y, button);
    } catch (error) {
      say(`The visualization failed: ${error.message}`, true);
    }
  };
  canvas.addEventListener('click', clickModule);
  canvas.addEventListener('auxclick', clickModule);
  canvas.addEventListener('contextmenu', (AEvent) => AEvent.preventDefault());
  // A paused picture follows the window: the module hears of the new extents at once.
  new ResizeObserver(() => {
    if (!player || !player.started || playing) return;
    const [w, h] = areaSize();
    if (w === player.width() && h === player.height()) return;
    try {
      player.resize(w, h);
    } catch (error) {
      say(`The visualization cannot take ${w}x${h}: ${error.message}`, true);
    }
  }).observe(canvas);

  document.addEventListener('dragover', (AEvent) => {
    AEvent.preventDefault();
    document.body.classList.add('drop-target');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('drop-target'));
  document.addEventListener('drop', (AEvent) => {
    AEvent.preventDefault();
    document.body.classList.remove('drop-target');
    const file = AEvent.dataTransfer.files[0];
    if (!file) return;
    if (activated) playFile(file, file.name);
    else {
      pendingFile = [file, file.name];
      say(`${file.name} is ready. Click the page to play it.`);
    }
  });

  // Leaving the page finalizes the visualization, then the plug-in, as the player does.
  window.addEventListener('pagehide', () => {
    stopLoop();
    if (recorder) recorder.stop();
    if (player) player.stop();
  });

  // A page brought back from the browser's back-forward cache was finalized on leaving: it
  // starts again from the beginning.
  window.addEventListener('pageshow', (AEvent) => AEvent.persisted && location.reload());

  // ---- Start. -----------------------------------------------------------------------------------
  loadPlayer()
    .then(async (AWasmPlayer) => {
      player = AWasmPlayer;
      stats.player = player;
      stats.ready = true;
      if (query.has('check')) {
        await check();
        return;
      }
      stats.state = 'idle';
      say('Pick or drop a sound file, or use the microphone.');
      const play = query.get('play');
      if (play) {
        const response = await fetch(play);
        if (!response.ok) {
          say(`Cannot fetch ${play} (${response.status}).`, true);
          return;
        }
        // Decoded now; it starts once the browser lets sound start (the first click).
        await playFile(await response.blob(), play);
      }
    })
    .catch((error) => {
      stats.state = 'failed';
      say(`The page cannot start: ${error.message || error}`, true);
    });
}

if (typeof document !== 'undefined') main();

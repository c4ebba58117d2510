// A static file server for the page: what scripts/web runs, and what the browser tests start on
// 127.0.0.1 and stop. Serves files only (no listings), read-only, with the types a browser needs
// (application/wasm above all, which WebAssembly.instantiateStreaming insists on).
//
//   node web/serve.mjs --root DIR [--port N] [--host ADDRESS]
import { createServer } from 'node:http';
import { createReadStream, promises as fs } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const Types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.txt': 'text/plain; charset=utf-8',
  '.wav': 'audio/wav',
  '.flac': 'audio/flac',
  '.ogg': 'audio/ogg',
  '.opus': 'audio/ogg',
  '.mp3': 'audio/mpeg',
  '.m4a': 'audio/mp4',
  '.webm': 'video/webm',
  '.png': 'image/png',
  '.ico': 'image/x-icon',
};

// Serves AMounts ({ '/': folder, '/prefix/': folder, ... }, the longest prefix first) on
// AHost:APort (0: any free port). Resolves to { server, port, url, close() }.
export async function startServer({ mounts, host = '127.0.0.1', port = 8000 }) {
  const prefixes = Object.keys(mounts).sort((a, b) => b.length - a.length);
  const server = createServer(async (request, response) => {
    const fail = (status, text) => {
      response.writeHead(status, { 'Content-Type': 'text/plain; charset=utf-8' });
      response.end(text + '\n');
    };
    if (request.method !== 'GET' && request.method !== 'HEAD') return fail(405, 'only GET and HEAD');
    let name;
    try {
      name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    } catch {
      return fail(400, 'bad path');
    }
    const prefix = prefixes.find((p) => name.startsWith(p));
    if (!prefix || name.includes('\0')) return fail(404, 'not found');
    const root = path.resolve(mounts[prefix]);
    let file = path.resolve(root, '.' + path.posix.normalize('/' + name.slice(prefix.length)));
    if (file !== root && !file.startsWith(root + path.sep)) return fail(403, 'outside the page');
    try {
      let stat = await fs.stat(file);
      if (stat.isDirectory()) {
        file = path.join(file, 'index.html');
        stat = await fs.stat(file);
      }
      if (!stat.isFile()) return fail(404, 'not found');
      response.writeHead(200, {
        'Content-Type': Types[path.extname(file).toLowerCase()] || 'application/octet-stream',
        'Content-Length': stat.size,
        'Cache-Control': 'no-cache',
        'X-Content-Type-Options': 'nosniff',
      });
      if (request.method === 'HEAD') return response.end();
      createReadStream(file).on('error', () => response.destroy()).pipe(response);
    } catch {
      fail(404, 'not found');
    }
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, resolve);
  });
  const actual = server.address().port;
  return {
    server,
    port: actual,
    url: `http://${host}:${actual}/`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const args = process.argv.slice(2);
  let root = null, port = 8000, host = '127.0.0.1';
  for (let i = 0; i < args.length; ++i) {
    if (args[i] === '--root') root = args[++i];
    else if (args[i] === '--port') port = Number(args[++i]);
    else if (args[i] === '--host') host = args[++i];
    else {
      console.error(`serve: unknown option '${args[i]}'\nusage: node web/serve.mjs --root DIR [--port N] [--host ADDRESS]`);
      process.exit(2);
    }
  }
  if (!root || !Number.isInteger(port) || port < 0 || port > 65535) {
    console.error('serve: --root DIR is needed, and --port must be 0 to 65535');
    process.exit(2);
  }
  try {
    await fs.access(path.join(root, 'index.html'));
  } catch {
    console.error(`serve: '${root}' holds no index.html: build the page first (scripts/web)`);
    process.exit(2);
  }
  try {
    const { url } = await startServer({ mounts: { '/': root }, host, port });
    console.log(`Serving the page on ${url} (Ctrl-C ends)`);
  } catch (error) {
    console.error(`serve: cannot listen on ${host}:${port}: ${error.message}`);
    process.exit(2);
  }
}

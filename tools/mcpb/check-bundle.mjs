// Installs a packed bundle the way a desktop MCP client does and runs its server against the
// stand-in app: unpacks it with the pinned library, resolves the manifest's command, arguments and
// environment with the library's own resolver (the function hosts call), and checks what the two
// tag scope fields do.
//
//   node tools/mcpb/check-bundle.mjs BUNDLE.mcpb UNIVERSAL_BINARY HOST_QUORVI STANDIN_APP
//
// The bundle's server is a macOS binary, which cannot run here: after checking that it is byte
// for byte the release's universal binary, the unpacked copy is replaced by this machine's build
// of the same commit, at the same resolved path.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { copyFileSync, existsSync, mkdtempSync, readFileSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { getMcpConfigForManifest, unpackExtension } from '@anthropic-ai/mcpb';

const [bundle, universal, hostQuorvi, standinApp] = process.argv.slice(2);
const root = mkdtempSync(path.join(tmpdir(), 'qv-bundle-'));
const timeout = 20000;

// One JSON-RPC exchange per line; every wait is bounded.
async function callTools(command, args, env, calls) {
  const child = spawn(command, args, { env, stdio: ['pipe', 'pipe', 'inherit'] });
  const answers = [];
  let buffer = '';
  const done = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('the server did not answer in time')), timeout);
    child.stdout.on('data', (chunk) => {
      buffer += chunk;
      for (let end; (end = buffer.indexOf('\n')) >= 0; buffer = buffer.slice(end + 1)) {
        answers.push(JSON.parse(buffer.slice(0, end)));
        if (answers.length === calls.length + 1) child.stdin.end();
      }
    });
    child.on('exit', (code) => {
      clearTimeout(timer);
      code === 0 ? resolve() : reject(new Error(`the server exited with ${code}`));
    });
  });
  const send = (message) => child.stdin.write(`${JSON.stringify({ jsonrpc: '2.0', ...message })}\n`);
  send({
    id: 0,
    method: 'initialize',
    params: { protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 'check', version: '1' } },
  });
  send({ method: 'notifications/initialized' });
  calls.forEach(([name, args], i) => send({ id: i + 1, method: 'tools/call', params: { name, arguments: args } }));
  await done;
  return answers.slice(1).map((answer) => answer.result.structuredContent?.result ?? answer.result);
}

async function startStandin() {
  const dir = path.join(root, 'Automation');
  const child = spawn(standinApp, [dir], { stdio: 'ignore' });
  for (const deadline = Date.now() + 10000; !existsSync(path.join(dir, 'connection.json'));) {
    if (Date.now() > deadline) throw new Error(`the stand-in app did not start in ${dir}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return { dir, stop: () => child.kill('SIGKILL') };
}

let standin;
try {
  const unpacked = path.join(root, 'bundle');
  assert.ok(await unpackExtension({ mcpbPath: bundle, outputDir: unpacked, silent: true }), 'unpacking failed');
  const server = path.join(unpacked, 'server', 'quorvi');
  assert.ok(readFileSync(server).equals(readFileSync(universal)), 'server/quorvi is not the universal binary');
  assert.equal(statSync(server).mode & 0o777, 0o755, 'server/quorvi lost its mode');
  const manifest = JSON.parse(readFileSync(path.join(unpacked, 'manifest.json'), 'utf8'));

  const resolve = (userConfig) =>
    getMcpConfigForManifest({ manifest, extensionPath: unpacked, systemDirs: {}, userConfig, pathSeparator: '/' });
  const empty = await resolve({});
  assert.equal(empty.command, server);
  assert.deepEqual(empty.args, ['mcp-server']);
  assert.deepEqual(empty.env, { QUORVI_ONLY_TAGS: '', QUORVI_EXCLUDE_TAGS: '' });
  const work = await resolve({ only_tags: 'work' });
  assert.deepEqual(work.env, { QUORVI_ONLY_TAGS: 'work', QUORVI_EXCLUDE_TAGS: '' });
  const hidden = await resolve({ exclude_tags: 'work' });
  assert.deepEqual(hidden.env, { QUORVI_ONLY_TAGS: '', QUORVI_EXCLUDE_TAGS: 'work' });

  copyFileSync(hostQuorvi, server);
  standin = await startStandin();
  const base = { PATH: process.env.PATH, HOME: root, QUORVI_BRIDGE_DIR: standin.dir };
  for (const [text, tags] of [['At work', 'work'], ['At home', 'home']]) {
    execFileSync(hostQuorvi, ['request', 'create', JSON.stringify({ text, tags })], { env: base, stdio: 'ignore' });
  }
  const titles = async (config) => {
    const [found] = await callTools(config.command, config.args, { ...base, ...config.env }, [
      ['quorvi_search', {}],
    ]);
    return found.notes.map((note) => note.title);
  };
  assert.deepEqual(await titles(empty), ['At work', 'At home'], 'empty scope fields hide notes');
  assert.deepEqual(await titles(work), ['At work'], 'only_tags=work reaches other notes');
  assert.deepEqual(await titles(hidden), ['At home'], 'exclude_tags=work shows work notes');
  console.log(`check-bundle.mjs: ${path.basename(bundle)}: resolved ${manifest.server.mcp_config.command}; ` +
    'empty scopes reach every note, only_tags and exclude_tags narrow them');
} finally {
  standin?.stop();
  rmSync(root, { recursive: true, force: true });
}

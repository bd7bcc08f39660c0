// Shared helpers of the interoperability tests: the build's executables, a stand-in app in a
// private temporary directory, and an MCP SDK client connected to `quorvi mcp-server`.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));

// Without the pinned packages every test would fail with a bare module-resolution error.
if (!existsSync(path.join(here, 'node_modules', '@modelcontextprotocol', 'sdk'))) {
  throw new Error(`the pinned packages are missing: run "npm ci" in ${here} (scripts/setup.sh does it)`);
}
const { Client } = await import('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = await import('@modelcontextprotocol/sdk/client/stdio.js');
export const sdkTypes = await import('@modelcontextprotocol/sdk/types.js');

function executable(variable) {
  const file = process.env[variable];
  if (!file || !existsSync(file)) {
    throw new Error(`${variable}=${file}: ctest passes the built executables; by hand, set ` +
      'QUORVI_EXE and QUORVI_STANDIN_APP_EXE to the paths in your build directory');
  }
  return file;
}
export const quorviExe = executable('QUORVI_EXE');
const standinExe = executable('QUORVI_STANDIN_APP_EXE');

// Every wait is bounded so that a broken server fails the test instead of hanging it.
export const timeout = 20000;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Starts `quorvi-standin-app DIR` in a fresh private directory and waits for its rendezvous.
export async function startStandin() {
  const root = mkdtempSync(path.join(tmpdir(), 'qi-'));
  const dir = path.join(root, 'Automation');
  const child = spawn(standinExe, [dir], { stdio: 'ignore' });
  const stop = () => {
    child.kill('SIGKILL');
    rmSync(root, { recursive: true, force: true });
  };
  for (const deadline = Date.now() + 10000; !existsSync(path.join(dir, 'connection.json'));) {
    if (Date.now() > deadline) {
      stop();
      throw new Error(`the stand-in app did not start in ${dir}`);
    }
    await sleep(20);
  }
  return { dir, stop };
}

// An SDK client connected to a fresh `quorvi mcp-server` with `env` added to the SDK's default
// environment. close() closes the server's input and resolves to how it ended.
export async function connectClient(env) {
  const transport = new StdioClientTransport({ command: quorviExe, args: ['mcp-server'], env });
  const client = new Client({ name: 'quorvi-interop-test', version: '1.0.0' });
  await client.connect(transport, { timeout });
  const child = transport._process;
  const exit = new Promise((resolve) => child.once('exit', (status, signal) => resolve({ status, signal })));
  return { client, close: async () => (await client.close(), exit) };
}

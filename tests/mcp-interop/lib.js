// Shared helpers of the interoperability tests: the build's executables, a stand-in app in a
// private temporary directory, and an MCP SDK client connected to `quorvi mcp-server`.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));

// Without the pinned packages every test would fail with a bare module-resolution error, so say
// what to do instead.
const sdkPackage = path.join(here, 'node_modules', '@modelcontextprotocol', 'sdk', 'package.json');
const inspectorPackage = path.join(
  here, 'node_modules', '@modelcontextprotocol', 'inspector-cli', 'package.json');
for (const file of [sdkPackage, inspectorPackage]) {
  if (!existsSync(file)) {
    throw new Error(`${path.dirname(file)} is missing: run "npm ci" in ${here} ` +
      '(bash scripts/setup.sh does it)');
  }
}

const { Client } = await import('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = await import('@modelcontextprotocol/sdk/client/stdio.js');
export const sdkTypes = await import('@modelcontextprotocol/sdk/types.js');

function executable(variable) {
  const file = process.env[variable];
  if (!file) {
    throw new Error(`${variable} is not set: ctest passes the built executables; by hand, set ` +
      'QUORVI_EXE and QUORVI_STANDIN_APP_EXE to the paths in your build directory');
  }
  if (!existsSync(file)) throw new Error(`${variable}=${file} does not exist: build it first`);
  return file;
}

export const quorviExe = executable('QUORVI_EXE');
export const standinExe = executable('QUORVI_STANDIN_APP_EXE');

// Every wait is bounded so that a broken server fails the test instead of hanging it.
export const requestTimeoutMs = 20000;
export const suiteTimeoutMs = 120000;

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

function exited(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) resolve();
    else child.once('exit', () => resolve());
  });
}

// Stand-ins still running when the test process ends, say after a failed hook, are killed.
const running = new Set();
process.on('exit', () => {
  for (const child of running) child.kill('SIGKILL');
});

// Starts `quorvi-standin-app DIR ...args` in a fresh private directory and waits until its
// rendezvous file exists. The socket path must stay short, so the directory is kept short too.
export async function startStandin(args = []) {
  const root = mkdtempSync(path.join(tmpdir(), 'qi-'));
  const dir = path.join(root, 'Automation');
  const child = spawn(standinExe, [dir, ...args], { stdio: ['ignore', 'ignore', 'pipe'] });
  running.add(child);
  child.once('exit', () => running.delete(child));
  let stderr = '';
  child.stderr.setEncoding('utf8');
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const app = {
    dir,
    async stop() {
      if (child.exitCode === null && child.signalCode === null) {
        child.kill('SIGTERM');
        const done = await Promise.race([exited(child).then(() => true), sleep(5000)]);
        if (!done) {
          child.kill('SIGKILL');
          await exited(child);
        }
      }
      rmSync(root, { recursive: true, force: true });
    },
  };
  const deadline = Date.now() + 10000;
  while (!existsSync(path.join(dir, 'connection.json'))) {
    if (child.exitCode !== null || child.signalCode !== null || Date.now() > deadline) {
      await app.stop();
      throw new Error(`the stand-in app did not start in ${dir}: ${stderr.trim()}`);
    }
    await sleep(20);
  }
  return app;
}

// Connects an SDK client to a fresh `quorvi mcp-server`, whose environment is the SDK's default
// one plus `env`. Every message in either direction is kept in `traffic` (as the SDK reads and
// writes it), and everything the server writes to standard error in `stderr()`.
export async function connectClient(env, { command = quorviExe, args = ['mcp-server'] } = {}) {
  const transport = new StdioClientTransport({ command, args, env, stderr: 'pipe' });
  const traffic = [];
  let stderr = '';
  transport.stderr.setEncoding('utf8');
  transport.stderr.on('data', (chunk) => { stderr += chunk; });
  const send = transport.send.bind(transport);
  transport.send = (message, options) => {
    traffic.push({ sent: message });
    return send(message, options);
  };
  // The client installs its handler during connect(); wrap whatever it installs.
  let handler;
  Object.defineProperty(transport, 'onmessage', {
    configurable: true,
    get: () => handler,
    set: (next) => {
      handler = next && ((message, extra) => {
        traffic.push({ received: message });
        next(message, extra);
      });
    },
  });
  const client = new Client({ name: 'quorvi-interop-test', version: '1.0.0' });
  await client.connect(transport, { timeout: requestTimeoutMs });
  // The SDK keeps the child to itself; its exit status tells whether the server ended cleanly
  // when its input closed.
  const child = transport._process;
  const exit = new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) {
      resolve({ status: child.exitCode, signal: child.signalCode });
    } else {
      child.once('exit', (status, signal) => resolve({ status, signal }));
    }
  });
  return {
    client,
    traffic,
    stderr: () => stderr,
    // Closes the server's input and reports how it ended.
    async close() {
      await client.close();
      return exit;
    },
  };
}

// Calls a tool and returns its result; JSON-RPC errors are thrown as the SDK's McpError.
export function callTool(client, name, args) {
  const params = args === undefined ? { name } : { name, arguments: args };
  return client.callTool(params, undefined, { timeout: requestTimeoutMs });
}

// Runs a command and collects its output; it is killed after `timeoutMs`.
export function run(command, args, { cwd, env, timeoutMs = 60000 } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(command, args, { cwd, env, stdio: ['ignore', 'pipe', 'pipe'] });
    let stdout = '';
    let stderr = '';
    child.stdout.setEncoding('utf8');
    child.stderr.setEncoding('utf8');
    child.stdout.on('data', (chunk) => { stdout += chunk; });
    child.stderr.on('data', (chunk) => { stderr += chunk; });
    const timer = setTimeout(() => child.kill('SIGKILL'), timeoutMs);
    child.on('error', (error) => {
      clearTimeout(timer);
      reject(error);
    });
    child.on('close', (status, signal) => {
      clearTimeout(timer);
      resolve({ status, signal, stdout, stderr });
    });
  });
}

export function writeJson(file, value) {
  writeFileSync(file, JSON.stringify(value, null, 2));
}

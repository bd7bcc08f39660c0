// Shared helpers of the interoperability tests: the build's executables, a stand-in app in a
// private temporary directory, and each client library behind one face.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { createMCPClient } from '@ai-sdk/mcp';
import { StdioMCPTransport } from '@ai-sdk/mcp/mcp-stdio';
import * as v2 from '@modelcontextprotocol/client';
import * as v2stdio from '@modelcontextprotocol/client/stdio';
import * as v1 from '@modelcontextprotocol/sdk/client/index.js';
import * as v1stdio from '@modelcontextprotocol/sdk/client/stdio.js';

// ctest passes the built executables; by hand, set both variables to the paths in your build.
function executable(variable) {
  if (!existsSync(process.env[variable] ?? '')) throw new Error(`${variable} names no executable`);
  return process.env[variable];
}
export const quorviExe = executable('QUORVI_EXE');
const standinExe = executable('QUORVI_STANDIN_APP_EXE');

// Every wait is bounded so that a broken server fails the test instead of hanging it.
export const timeout = 20000;

// Starts `quorvi-standin-app DIR` in a fresh private directory and waits for its rendezvous.
async function startStandin() {
  const root = mkdtempSync(path.join(tmpdir(), 'qi-'));
  const dir = path.join(root, 'Automation');
  const child = spawn(standinExe, [dir], { stdio: 'ignore' });
  const stop = () => {
    child.kill('SIGKILL');
    rmSync(root, { recursive: true, force: true });
  };
  for (const deadline = Date.now() + 10000; !existsSync(path.join(dir, 'connection.json'));) {
    if (Date.now() > deadline) stop(), assert.fail(`the stand-in app did not start in ${dir}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return { dir, stop };
}

// Each client library with its stdio transport: how it connects (`pin`: the only revision it
// may speak), calls a tool, lists the tools and names the server. The two official clients
// differ in where a call takes its options.
const info = { name: 'quorvi-interop', version: '1.0.0' };
const options = { timeout };
const official = (Client, ...callOptions) => async (transport, pin) => {
  const client = new Client(info, pin && { versionNegotiation: { mode: { pin } } });
  await client.connect(transport, options);
  return { client, call: (name, args) => client.callTool({ name, arguments: args }, ...callOptions),
    list: () => client.listTools(undefined, options), server: () => client.getServerVersion() };
};
const kinds = {
  sdk: [v1stdio.StdioClientTransport, official(v1.Client, undefined, options)],
  v2: [v2stdio.StdioClientTransport, official(v2.Client, options)],
  ai: [StdioMCPTransport, async (transport) => {
    const client = await createMCPClient({ transport, initializationOptions: options });
    return { client, call: (name, args) => client.callTool({ name, arguments: args, options }),
      list: () => client.listTools({ options }), server: () => client.serverInfo };
  }],
};

// A suite of one client of `kind` against `quorvi mcp-server` and a fresh stand-in app. With
// `common`, it shows what every client must: that it calls each of the fourteen tools with valid
// arguments and accepts and parses each answer, sees an app failure as isError, and learns who
// serves it in its own era (with or without the handshake). `more(session)` adds the
// suite's own tests; the session has the app, every message sent, the client and its face.
export function describeClient(title, kind, { pin, common = true } = {}, more = () => {}) {
  describe(title, { timeout: 240000 }, () => {
    const session = { sent: [] };
    before(async () => {
      session.app = await startStandin();
      const [Transport, connect] = kinds[kind];
      const transport = new Transport({
        command: quorviExe, args: ['mcp-server'], env: { QUORVI_BRIDGE_DIR: session.app.dir } });
      const send = transport.send.bind(transport);
      transport.send = (message, ...rest) => (session.sent.push(message), send(message, ...rest));
      Object.assign(session, await connect(transport, pin));
    });
    after(async () => {
      await session.client?.close();
      session.app?.stop();
    });
    if (common) commonTests(session, kind === 'sdk');
    more(session);
  });
}

function commonTests(session, handshake) {
  const call = (name, args) => session.call(name, args);
  it('calls each of the fourteen tools with valid arguments and parses each answer', async () => {
    const id = (await call('quorvi_create', { text: 'Table', tags: 'interop' })).structuredContent.result.id;
    const revision = async () => (await call('quorvi_read', { id })).structuredContent.result.revision;
    // In order: later rows use what earlier ones made (the attachment, the tag).
    const rows = [
      ['quorvi_search', () => ({ query: 'table', limit: 200, offset: 0, includeTrash: false })],
      ['quorvi_tags', () => ({ query: 'int', includeTrash: true })],
      ['quorvi_read', () => ({ id })],
      ['quorvi_create', () => ({ text: 'Another' })],
      ['quorvi_append', () => ({ id, text: 'after' })],
      ['quorvi_prepend', () => ({ id, text: 'before' })],
      ['quorvi_replace', async () => ({ id, text: 'Table\nreplaced', revision: await revision() })],
      ['quorvi_add_tags', () => ({ id, tags: 'extra' })],
      ['quorvi_remove_tags', () => ({ id, tags: 'extra' })],
      ['quorvi_pin', () => ({ id, enabled: true })],
      ['quorvi_archive', () => ({ id, enabled: false })],
      ['quorvi_trash', () => ({ id, enabled: false })],
      ['quorvi_attach', () => ({ id, name: 'a.txt', data: 'aGk=' })],
      ['quorvi_read_attachment', () => ({ id, attachmentId: 'att-1' })],
    ];
    const listed = (await session.list()).tools.map((tool) => tool.name);
    assert.deepEqual(rows.map(([name]) => name).sort(), listed.sort());
    for (const [name, args] of rows) {
      const result = await call(name, await args());
      assert.equal(result.isError, false, `${name}: ${result.content[0]?.text}`);
      assert.deepEqual(JSON.parse(result.content[0].text), result.structuredContent, name);
    }
  });

  it('sees an app failure as isError', async () => {
    const failed = await call('quorvi_read', { id: 'no-such-note' });
    assert.deepEqual([failed.isError, failed.content], [true, [{ type: 'text', text: 'Note not found' }]]);
  });

  it('knows who served it, and sent initialize only in the handshake era', () => {
    assert.deepEqual(session.server(), { name: 'Quorvi', version: '0.11.0' });
    assert.equal(session.sent.some((message) => message.method === 'initialize'), handshake);
  });
}

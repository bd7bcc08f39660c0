// The MCP TypeScript SDK's client against `quorvi mcp-server` and a stand-in app: the SDK's own
// handshake, its validation of the tool list, tool calls that reach the app, a protocol error,
// an app failure, and a clean end.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { McpError } from '@modelcontextprotocol/sdk/types.js';

import { quorviExe, startStandin, timeout } from './lib.js';

describe('an SDK client with a serving app', { timeout: 120000 }, () => {
  let app;
  let client;
  let exit;
  before(async () => {
    app = await startStandin();
    const transport = new StdioClientTransport({
      command: quorviExe, args: ['mcp-server'], env: { QUORVI_BRIDGE_DIR: app.dir },
    });
    client = new Client({ name: 'quorvi-interop-test', version: '1.0.0' });
    await client.connect(transport, { timeout });
    exit = new Promise((resolve) => transport._process.once('exit', (status, signal) => resolve({ status, signal })));
  });
  after(() => app?.stop());
  const call = (name, args) => client.callTool({ name, arguments: args }, undefined, { timeout });

  it('completes the handshake and lists the fourteen tools, which the SDK accepts', async () => {
    assert.deepEqual(client.getServerVersion(), { name: 'Quorvi', version: '0.11.0' });
    assert.deepEqual(client.getServerCapabilities(), { tools: { listChanged: false } });
    assert.equal((await client.listTools(undefined, { timeout })).tools.length, 14);
  });

  it('creates a note that read brings back, and reports the app refusing one', async () => {
    const created = await call('quorvi_create', { text: 'Interop list', tags: 'interop' });
    assert.equal(created.isError, false);
    assert.deepEqual(JSON.parse(created.content[0].text), created.structuredContent);
    const read = await call('quorvi_read', { id: created.structuredContent.result.id });
    assert.equal(read.structuredContent.result.text, 'Interop list');
    const missing = await call('quorvi_read', { id: 'no-such-note' });
    assert.deepEqual(missing, { content: [{ type: 'text', text: 'Note not found' }], isError: true });
  });

  it('answers invalid tool arguments with the JSON-RPC error -32602', async () => {
    await assert.rejects(call('quorvi_read', { id: 7 }), (error) => error instanceof McpError &&
      error.message === 'MCP error -32602: Invalid tool arguments');
  });

  it('ends with status 0 when its input closes', async () => {
    await client.close();
    assert.deepEqual(await exit, { status: 0, signal: null });
  });
});

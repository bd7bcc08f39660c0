// The MCP TypeScript SDK's client against `quorvi mcp-server` and a stand-in app: the SDK's own
// handshake, its validation of the tool list, a tool call that reaches the app, protocol errors,
// app failures, and a clean end.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';

import { connectClient, sdkTypes, startStandin, timeout } from './lib.js';

const toolNames = [
  'quorvi_search', 'quorvi_tags', 'quorvi_read', 'quorvi_create', 'quorvi_append',
  'quorvi_prepend', 'quorvi_replace', 'quorvi_add_tags', 'quorvi_remove_tags', 'quorvi_pin',
  'quorvi_archive', 'quorvi_trash', 'quorvi_read_attachment', 'quorvi_attach',
];

describe('an SDK client with a serving app', { timeout: 120000 }, () => {
  let app;
  let session;
  before(async () => {
    app = await startStandin();
    session = await connectClient({ QUORVI_BRIDGE_DIR: app.dir });
  });
  after(() => app?.stop());
  const call = (name, args) => session.client.callTool({ name, arguments: args }, undefined, { timeout });

  it('completes the handshake', () => {
    assert.deepEqual(session.client.getServerVersion(), { name: 'Quorvi', version: '0.11.0' });
    assert.deepEqual(session.client.getServerCapabilities(), { tools: { listChanged: false } });
  });

  it('lists the fourteen tools, each accepted by the SDK and closed to other names', async () => {
    const { tools } = await session.client.listTools(undefined, { timeout });
    assert.deepEqual(tools.map((tool) => tool.name), toolNames);
    for (const { name, inputSchema } of tools) {
      assert.equal(inputSchema.additionalProperties, false, name);
      for (const required of inputSchema.required) assert.ok(required in inputSchema.properties, name);
    }
  });

  it('creates a note that read brings back, and reports the app refusing one', async () => {
    const text = 'Interop shopping list';
    const created = await call('quorvi_create', { text, tags: 'interop' });
    assert.equal(created.isError, false);
    assert.deepEqual(JSON.parse(created.content[0].text), created.structuredContent);
    const read = await call('quorvi_read', { id: created.structuredContent.result.id });
    assert.equal(read.structuredContent.result.text, text);
    const missing = await call('quorvi_read', { id: 'no-such-note' });
    assert.deepEqual(missing, { content: [{ type: 'text', text: 'Note not found' }], isError: true });
  });

  it('answers invalid tool arguments with the JSON-RPC error -32602', async () => {
    for (const [name, args] of [['quorvi_read', { id: 7 }], ['quorvi_create', { text: 'x', colour: 'red' }]]) {
      await assert.rejects(call(name, args), (error) => error instanceof sdkTypes.McpError &&
        error.message === 'MCP error -32602: Invalid tool arguments');
    }
  });

  it('ends with status 0 when its input closes', async () => {
    assert.deepEqual(await session.close(), { status: 0, signal: null });
  });
});

it('gets the connector message as a tool error when no app is there', async () => {
  const session = await connectClient({ QUORVI_BRIDGE_DIR: '/nonexistent/quorvi-automation' });
  const result = await session.client.callTool({ name: 'quorvi_tags', arguments: {} }, undefined, { timeout });
  assert.equal(result.content[0].text, 'Open Quorvi and enable Desktop connector in Settings');
  assert.equal(result.isError, true);
  await session.close();
});

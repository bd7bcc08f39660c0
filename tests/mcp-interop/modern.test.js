// The AI SDK's MCP client, which speaks the stateless 2026-07-28 revision first, against
// `quorvi mcp-server` and a stand-in app: what only a real client shows, that it takes the
// revision without falling back to the handshake, accepts the tool list, sees app failures as
// isError, has its tag scopes applied and gets its own answer to each of many concurrent calls.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';

import { createMCPClient } from '@ai-sdk/mcp';
import { StdioMCPTransport } from '@ai-sdk/mcp/mcp-stdio';

import { quorviExe, startStandin, timeout } from './lib.js';

const options = { timeout };

describe('the AI SDK client in the 2026-07-28 era', { timeout: 120000 }, () => {
  let app;
  let client;
  const sent = [];
  const call = (name, args) => client.callTool({ name, arguments: args, options });
  const created = async (text) => (await call('quorvi_create', { text, tags: 'work' })).structuredContent.result.id;
  before(async () => {
    app = await startStandin();
    const transport = new StdioMCPTransport({
      command: quorviExe, args: ['mcp-server'], env: { QUORVI_BRIDGE_DIR: app.dir, QUORVI_ONLY_TAGS: '#Work' } });
    const send = transport.send.bind(transport);
    transport.send = (message) => {
      sent.push(message);
      return send(message);
    };
    client = await createMCPClient({ transport, initializationOptions: options });
  });
  after(async () => {
    await client?.close();
    await app?.stop();
  });

  it('discovers the server and never falls back to initialize', () => {
    assert.equal(sent[0].method, 'server/discover');
    assert.deepEqual(client.serverInfo, { name: 'Quorvi', version: '0.11.0' });
    assert.ok(!sent.some((message) => message.method?.includes('initialize')));
  });

  it('lists the fourteen tools', async () => {
    assert.equal((await client.listTools({ options })).tools.length, 14);
  });

  it('sees an app failure as isError', async () => {
    const failed = await call('quorvi_read', { id: 'no-such-note' });
    assert.deepEqual([failed.isError, failed.content[0].text], [true, 'Note not found']);
  });

  it('has the tag scopes of its environment applied', async () => {
    const outside = await call('quorvi_create', { text: 'Era home', tags: 'home' });
    assert.deepEqual([outside.isError, outside.content[0].text], [true, 'Note is outside the connector tag scope']);
  });

  it('answers twenty concurrent calls on one connection, each with its own result', async () => {
    const notes = [await created('Era plan'), await created('Era trip')];
    const ids = Array.from({ length: 20 }, (_, i) => notes[i % 2]);
    const before = sent.length;
    let sentAtFirstAnswer;
    const results = await Promise.all(ids.map((id) => call('quorvi_read', { id }).then((result) => {
      sentAtFirstAnswer ??= sent.length;
      return result;
    })));
    assert.deepEqual(results.map((result) => result.structuredContent?.result.id), ids);
    // All twenty were on the wire before the first answer came back.
    assert.equal(sentAtFirstAnswer - before, 20);
  });
});

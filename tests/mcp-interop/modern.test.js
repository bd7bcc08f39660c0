// The AI SDK's MCP client, which speaks the stateless 2026-07-28 revision first, against
// `quorvi mcp-server` and a stand-in app: no handshake on the wire, the tool list, tool calls
// with tag scopes, app failures and concurrent calls on one connection.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';

import { createMCPClient } from '@ai-sdk/mcp';
import { StdioMCPTransport } from '@ai-sdk/mcp/mcp-stdio';

import { quorviExe, startStandin, timeout } from './lib.js';

const options = { timeout };

// Connects the AI SDK client to a fresh `quorvi mcp-server` with the extra environment `env`;
// every message in either direction is kept in `traffic`.
async function connect(env) {
  const transport = new StdioMCPTransport({ command: quorviExe, args: ['mcp-server'], env });
  const traffic = [];
  const send = transport.send.bind(transport);
  transport.send = (message) => {
    traffic.push({ sent: message });
    return send(message);
  };
  let handler;
  Object.defineProperty(transport, 'onmessage', {
    configurable: true,
    get: () => handler,
    set: (next) => {
      handler = next && ((message) => {
        traffic.push({ received: message });
        next(message);
      });
    },
  });
  const client = await createMCPClient({ transport, initializationOptions: options });
  return { client, traffic };
}

const call = (client, name, args) => client.callTool({ name, arguments: args, options });

function answer(result) {
  assert.equal(result.isError, false, `tool failed: ${JSON.stringify(result.content)}`);
  assert.deepEqual(JSON.parse(result.content[0].text), result.structuredContent);
  return result.structuredContent.result;
}

describe('the AI SDK client in the 2026-07-28 era', { timeout: 120000 }, () => {
  let app;
  let session;
  let workId;
  let personalId;
  before(async () => {
    app = await startStandin();
    session = await connect({ QUORVI_BRIDGE_DIR: app.dir });
    const { client } = session;
    workId = answer(await call(client, 'quorvi_create', { text: 'Era plan', tags: 'work' })).id;
    personalId = answer(await call(client, 'quorvi_create', { text: 'Era trip', tags: 'home' })).id;
  });
  after(async () => {
    await session?.client.close();
    await app?.stop();
  });

  it('discovers the server and never sends initialize', () => {
    const { client, traffic } = session;
    const [probe, reply] = traffic;
    assert.equal(probe.sent.method, 'server/discover');
    assert.equal(probe.sent.params._meta['io.modelcontextprotocol/protocolVersion'], '2026-07-28');
    assert.equal(reply.received.id, probe.sent.id);
    assert.equal(reply.received.result.resultType, 'complete');
    assert.equal(reply.received.result.supportedVersions[0], '2026-07-28');
    assert.deepEqual(client.serverInfo, { name: 'Quorvi', version: '0.11.0' });
    assert.ok(client.instructions.startsWith('Access is controlled by Quorvi Settings'));
    const methods = traffic.filter((entry) => entry.sent).map((entry) => entry.sent.method);
    assert.ok(!methods.includes('initialize') && !methods.includes('notifications/initialized'));
    for (const { received } of traffic.filter((entry) => entry.received)) {
      assert.equal(received.result?.resultType, 'complete', JSON.stringify(received));
    }
  });

  it('lists the fourteen tools', async () => {
    const { tools, ttlMs, cacheScope } = await session.client.listTools({ options });
    assert.equal(tools.length, 14);
    assert.ok(tools.every((tool) => tool.name.startsWith('quorvi_') && tool.inputSchema));
    assert.ok(ttlMs > 0 && cacheScope === 'public');
  });

  it('sees an app failure as isError and goes on', async () => {
    const failed = await call(session.client, 'quorvi_read', { id: 'no-such-note' });
    assert.deepEqual([failed.isError, failed.content[0].text], [true, 'Note not found']);
    assert.equal(answer(await call(session.client, 'quorvi_read', { id: workId })).id, workId);
  });

  it('answers twenty concurrent calls on one connection, each with its own result', async () => {
    const ids = Array.from({ length: 20 }, (_, i) => (i % 2 ? workId : personalId));
    const before = session.traffic.length;
    const results = await Promise.all(
      ids.map((id) => call(session.client, 'quorvi_read', { id })));
    assert.deepEqual(results.map((result) => answer(result).id), ids);
    // All twenty were on the wire before the first answer came back.
    const sent = session.traffic.slice(before, before + 20);
    assert.ok(sent.every((entry) => entry.sent?.method === 'tools/call'));
  });

  it('applies the tag scopes of the server environment', async () => {
    for (const env of [{ QUORVI_ONLY_TAGS: 'Home' }, { QUORVI_EXCLUDE_TAGS: 'WORK' }]) {
      const scoped = await connect({ QUORVI_BRIDGE_DIR: app.dir, ...env });
      try {
        const found = answer(await call(scoped.client, 'quorvi_search', { query: 'Era' }));
        assert.deepEqual(found.notes.map((note) => note.id), [personalId], JSON.stringify(env));
        const hidden = await call(scoped.client, 'quorvi_read', { id: workId });
        assert.deepEqual([hidden.isError, hidden.content[0].text], [true, 'Note not found']);
      } finally {
        await scoped.client.close();
      }
    }
  });
});

// The official v2 client pinned to the stateless 2026-07-28 revision against `quorvi mcp-server`
// and a stand-in app: no handshake, every tool with valid arguments, a refusal whose reason
// reaches the caller as a tool error, a subscription that honours nothing, and an app failure.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';

import { Client } from '@modelcontextprotocol/client';
import { StdioClientTransport } from '@modelcontextprotocol/client/stdio';

import { quorviExe, startStandin, timeout } from './lib.js';

describe('the official v2 client pinned to 2026-07-28', { timeout: 120000 }, () => {
  let app;
  let client;
  const sent = [];
  const call = (name, args) => client.callTool({ name, arguments: args }, { timeout });
  before(async () => {
    app = await startStandin();
    const transport = new StdioClientTransport({
      command: quorviExe, args: ['mcp-server'], env: { QUORVI_BRIDGE_DIR: app.dir } });
    const send = transport.send.bind(transport);
    transport.send = (message, options) => {
      sent.push(message);
      return send(message, options);
    };
    client = new Client({ name: 'quorvi-interop-v2', version: '1.0.0' },
      { versionNegotiation: { mode: { pin: '2026-07-28' } } });
    await client.connect(transport, { timeout });
  });
  after(async () => {
    await client?.close();
    await app?.stop();
  });

  it('takes the revision without a handshake and learns who serves it', () => {
    assert.ok(!sent.some((message) => message.method === 'initialize'));
    assert.deepEqual(client.getServerVersion(), { name: 'Quorvi', version: '0.11.0' });
  });

  it('calls each of the fourteen tools with valid arguments', async () => {
    const id = (await call('quorvi_create', { text: 'V2 table', tags: 'v2' })).structuredContent.result.id;
    const revision = async () => (await call('quorvi_read', { id })).structuredContent.result.revision;
    // In order: later rows use what earlier ones made (the attachment, the tag).
    const rows = [
      ['quorvi_search', () => ({ query: 'table', limit: 200, offset: 0, includeTrash: false })],
      ['quorvi_tags', () => ({ query: 'v', includeTrash: true })],
      ['quorvi_read', () => ({ id })],
      ['quorvi_create', () => ({ text: 'Another' })],
      ['quorvi_append', () => ({ id, text: 'after' })],
      ['quorvi_prepend', () => ({ id, text: 'before' })],
      ['quorvi_replace', async () => ({ id, text: 'V2 table\nreplaced', revision: await revision() })],
      ['quorvi_add_tags', () => ({ id, tags: 'extra' })],
      ['quorvi_remove_tags', () => ({ id, tags: 'extra' })],
      ['quorvi_pin', () => ({ id, enabled: true })],
      ['quorvi_archive', () => ({ id, enabled: false })],
      ['quorvi_trash', () => ({ id, enabled: false })],
      ['quorvi_attach', () => ({ id, name: 'a.txt', data: 'aGk=' })],
      ['quorvi_read_attachment', () => ({ id, attachmentId: 'att-1' })],
    ];
    const listed = (await client.listTools(undefined, { timeout })).tools.map((tool) => tool.name);
    assert.deepEqual(rows.map(([name]) => name).sort(), listed.sort());
    for (const [name, args] of rows) {
      const result = await call(name, await args());
      assert.equal(result.isError, false, `${name}: ${result.content[0]?.text}`);
    }
  });

  it('hands the reason for refused arguments to the caller as a tool error', async () => {
    const refused = await call('quorvi_search', { limit: 201 });
    assert.deepEqual([refused.isError, refused.content],
      [true, [{ type: 'text', text: 'quorvi_search: "limit" must be at most 200' }]]);
  });

  it('is told that nothing can be subscribed to', async () => {
    const subscription = await client.listen({ toolsListChanged: true }, { timeout });
    assert.deepEqual(subscription.honoredFilter, {});
    assert.equal(await subscription.closed, 'graceful');
  });

  it('sees an app failure as isError', async () => {
    const failed = await call('quorvi_read', { id: 'no-such-note' });
    assert.deepEqual([failed.isError, failed.content[0].text], [true, 'Note not found']);
  });
});

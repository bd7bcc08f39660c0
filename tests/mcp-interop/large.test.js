// Both official MCP clients against answers near the connector's limit: a 4 MB attachment and a
// 7 MB note reach each client, whose stdio reader takes lines of at most 10,485,760 bytes, and
// the session goes on afterwards. The attachment and the note are built beforehand with
// `quorvi request`, since no request may pass 1 MB.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { it } from 'node:test';

import { describeClient, quorviExe, timeout } from './lib.js';

const kPiece = 699999;  // bytes of one attached piece: a multiple of 3, so pieces join as base64
const kPieces = 6;
const kTextPiece = 900000;

for (const [name, kind] of [['@modelcontextprotocol/sdk', 'sdk'], ['@modelcontextprotocol/client', 'v2']]) {
  describeClient(`${name} with answers of several megabytes`, kind, { common: false }, (session) => {
    const request = (operation, args) => JSON.parse(execFileSync(quorviExe, ['request', operation, '-'], {
      env: { ...process.env, QUORVI_BRIDGE_DIR: session.app.dir }, input: JSON.stringify(args), maxBuffer: 64 << 20, timeout,
    }));

    it('reads an attachment of 4 MB', async () => {
      const bytes = Buffer.alloc(kPiece * kPieces);
      for (let i = 0; i < bytes.length; ++i) bytes[i] = (i * 7919) % 251;
      const piece = (i) => bytes.subarray(i * kPiece, (i + 1) * kPiece).toString('base64');
      const note = request('create', { text: 'Large attachment' });
      const attachmentId = request('attach', { id: note.id, name: 'big.bin', data: piece(0) }).attachments[0].id;
      for (let i = 1; i < kPieces; ++i) {
        request('attach', { id: note.id, name: 'big.bin', attachmentId, data: piece(i) });
      }

      const read = await session.call('quorvi_read_attachment', { id: note.id, attachmentId });
      assert.equal(read.isError, false);
      const result = JSON.parse(read.content[0].text).result;
      assert.ok(Buffer.from(result.data, 'base64').equals(bytes));
    });

    it('appends to a note of 7 MB and is told the change', async () => {
      const text = (c) => c.repeat(kTextPiece);
      const note = request('create', { text: text('a') });
      for (let i = 1; i < 7; ++i) request('append', { id: note.id, text: text('bcdefgh'[i]) });
      const appended = await session.call('quorvi_append', { id: note.id, text: text('z') });
      assert.equal(appended.isError, false);
      const result = JSON.parse(appended.content[0].text).result;
      assert.equal(result.text.length, 8 * kTextPiece + 7);
      assert.ok(result.text.endsWith('h\n' + text('z')));
    });

    it('goes on with small calls, answered in both forms', async () => {
      const tags = await session.call('quorvi_tags', {});
      assert.equal(tags.isError, false);
      assert.deepEqual(JSON.parse(tags.content[0].text), tags.structuredContent);
    });
  });
}

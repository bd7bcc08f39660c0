// The MCP TypeScript SDK's client in the 2025-11-25 session: besides what every client shows,
// a protocol error that it takes as one.
import assert from 'node:assert/strict';
import { it } from 'node:test';

import { McpError } from '@modelcontextprotocol/sdk/types.js';

import { describeClient } from './lib.js';

describeClient('the SDK client with a serving app', 'sdk', {}, (session) => {
  it('answers invalid tool arguments with the JSON-RPC error -32602', async () => {
    await assert.rejects(session.call('quorvi_read', { id: 7 }), (error) => error instanceof McpError &&
      error.message === 'MCP error -32602: Invalid tool arguments');
  });
});

// The official v2 client pinned to the stateless 2026-07-28 revision: besides what every client
// shows, a subscription that honours nothing.
import assert from 'node:assert/strict';
import { it } from 'node:test';

import { describeClient, timeout } from './lib.js';

describeClient('the official v2 client pinned to 2026-07-28', 'v2', { pin: '2026-07-28' }, (session) => {
  it('is told that nothing can be subscribed to', async () => {
    const subscription = await session.client.listen({ toolsListChanged: true }, { timeout });
    assert.deepEqual(subscription.honoredFilter, {});
    assert.equal(await subscription.closed, 'graceful');
  });
});

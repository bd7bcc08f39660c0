// The AI SDK's MCP client, which speaks the stateless 2026-07-28 revision first: what every
// client shows.
import { describeClient } from './lib.js';

describeClient('the AI SDK client in the 2026-07-28 era', 'ai');

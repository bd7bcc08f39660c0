// The MCP Inspector's command-line mode against `quorvi mcp-server` and a stand-in app: one run
// from a client configuration file, as the README shows it, and one with the server's command
// line and environment given on the Inspector's own command line.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { here, quorviExe, run, startStandin, suiteTimeoutMs, writeJson } from './lib.js';

const inspectorDir = path.join(here, 'node_modules', '@modelcontextprotocol', 'inspector-cli');
const inspector = path.join(inspectorDir, 'build', 'cli.js');

// Nothing from the caller's environment may point the server elsewhere.
function cleanEnv() {
  const env = { ...process.env };
  for (const name of Object.keys(env)) {
    if (name.startsWith('QUORVI_')) delete env[name];
  }
  return env;
}

// Runs the Inspector in command-line mode and returns the JSON it prints. It finds its own
// package.json relative to the working directory, so it must run from its build directory.
async function inspect(args) {
  const result = await run(process.execPath, [inspector, '--cli', ...args], {
    cwd: path.join(inspectorDir, 'build'),
    env: cleanEnv(),
  });
  assert.equal(result.status, 0, `the Inspector failed:\n${result.stderr}`);
  return JSON.parse(result.stdout);
}

describe('the MCP Inspector in command-line mode', { timeout: suiteTimeoutMs }, () => {
  let app;
  before(async () => {
    app = await startStandin();
  });
  after(async () => {
    await app?.stop();
  });

  it('lists the fourteen tools of a server registered in a configuration file', async () => {
    const config = path.join(path.dirname(app.dir), 'mcp.json');
    writeJson(config, {
      mcpServers: {
        quorvi: { command: quorviExe, args: ['mcp-server'], env: { QUORVI_BRIDGE_DIR: app.dir } },
      },
    });
    const listed = await inspect(
      ['--config', config, '--server', 'quorvi', '--method', 'tools/list']);
    assert.equal(listed.tools.length, 14);
    assert.equal(listed.tools[0].name, 'quorvi_search');
    assert.equal(listed.tools[13].name, 'quorvi_attach');
  });

  it('calls a tool and gets the app result back', async () => {
    const target = ['-e', `QUORVI_BRIDGE_DIR=${app.dir}`, quorviExe, 'mcp-server'];
    const created = await inspect([...target, '--method', 'tools/call',
      '--tool-name', 'quorvi_create', '--tool-arg', 'text=Inspector note', 'tags=inspector']);
    assert.equal(created.isError, false);
    assert.deepEqual(JSON.parse(created.content[0].text), created.structuredContent);

    const found = await inspect([...target, '--method', 'tools/call',
      '--tool-name', 'quorvi_search', '--tool-arg', 'query=Inspector']);
    assert.equal(found.isError, false);
    const ids = found.structuredContent.result.notes.map((note) => note.id);
    assert.ok(ids.includes(created.structuredContent.result.id), JSON.stringify(found));
  });
});

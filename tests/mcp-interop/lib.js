// Shared helpers of the interoperability tests: the build's executables and a stand-in app in a
// private temporary directory.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';

// ctest passes the built executables; by hand, set both variables to the paths in your build.
function executable(variable) {
  if (!existsSync(process.env[variable] ?? '')) throw new Error(`${variable} names no executable`);
  return process.env[variable];
}
export const quorviExe = executable('QUORVI_EXE');
const standinExe = executable('QUORVI_STANDIN_APP_EXE');

// Every wait is bounded so that a broken server fails the test instead of hanging it.
export const timeout = 20000;

// Starts `quorvi-standin-app DIR` in a fresh private directory and waits for its rendezvous.
export async function startStandin() {
  const root = mkdtempSync(path.join(tmpdir(), 'qi-'));
  const dir = path.join(root, 'Automation');
  const child = spawn(standinExe, [dir], { stdio: 'ignore' });
  const stop = () => {
    child.kill('SIGKILL');
    rmSync(root, { recursive: true, force: true });
  };
  for (const deadline = Date.now() + 10000; !existsSync(path.join(dir, 'connection.json'));) {
    if (Date.now() > deadline) stop(), assert.fail(`the stand-in app did not start in ${dir}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return { dir, stop };
}

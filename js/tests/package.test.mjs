/* A page loads a whole module before its first call: each WebAssembly module the package
 * ships stays within 150 KB. */
import assert from 'node:assert/strict';
import { readdirSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { packageDir } from './helpers.mjs';

test('each .wasm of the package is at most 150,000 bytes', () => {
  const modules = readdirSync(packageDir).filter((name) => name.endsWith('.wasm'));
  assert.notEqual(modules.length, 0);
  for (const name of modules) {
    const bytes = statSync(join(packageDir, name)).size;
    assert.ok(bytes <= 150_000, `${name} is ${bytes} bytes, over 150,000`);
  }
});

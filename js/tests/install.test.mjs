/* npm pack gives a tarball that installs into a fresh project without a registry, and the
 * installed package encodes and decodes in Node. */
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';
import { packageDir } from './helpers.mjs';

const program = `
import { ready, encode, decode, info, version } from 'wsq';
await ready;
const pixels = new Uint8Array(96 * 96).map((_, i) => (i * 7919) % 251);
const stream = encode(pixels, 96, 96, { comment: 'installed' });
const image = decode(stream);
console.log(JSON.stringify({ version: version(), width: image.width, height: image.height,
                             comments: info(stream).comments }));
`;

test('the packed package installs offline and works', () => {
  const dir = mkdtempSync(join(tmpdir(), 'wsq-npm-'));
  try {
    const options = ['--cache', join(dir, 'cache'), '--offline', '--no-audit', '--no-fund'];
    const npm = (args, cwd) => execFileSync(process.env.WSQ_NPM, [...args, ...options],
                                            { cwd, encoding: 'utf8' });
    const tarball = JSON.parse(npm(['pack', packageDir, '--json', '--pack-destination', dir],
                                   dir))[0].filename;
    const project = join(dir, 'project');
    mkdirSync(project);
    writeFileSync(join(project, 'package.json'), '{"name": "consumer", "private": true}');
    npm(['install', join(dir, tarball)], project);
    writeFileSync(join(project, 'main.mjs'), program);
    const result = JSON.parse(execFileSync('node', ['main.mjs'], { cwd: project }));
    assert.equal(result.width, 96);
    assert.equal(result.height, 96);
    assert.deepEqual(result.comments, ['installed']);
    assert.match(result.version, /^\d+\.\d+\.\d+$/);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
});

/* The README's JavaScript examples type-check against the package's declarations with the
 * TypeScript of tests/web's lock file: the Node examples in a project with Node's types and no
 * DOM, the page's script in a browser project without Node's types. */
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';
import { packageDir } from './helpers.mjs';

const readme = readFileSync(new URL('../../README.md', import.meta.url), 'utf8');
const section = readme.slice(readme.indexOf('\n## JavaScript'), readme.indexOf('\n## Web page'));

/* The first indented code block after the text lead. */
function example(lead) {
  const rest = section.slice(section.indexOf(lead));
  return rest.match(/\n\n((?: {4}.*\n|\n(?= {4}))+)/)[1].replace(/^ {4}/gm, '');
}

const nodeExample = example('In Node:');
const transactionExample = example('between calls:');
const pageScript = example('file comes back out as one:')
  .match(/<script type="module">\n([^]*)<\/script>/)[1];

/* Checked as JavaScript is in an editor, strictly but for null checks: the page's script looks
 * up elements it knows it has. */
const common = { allowJs: true, checkJs: true, strict: true, strictNullChecks: false,
                 noEmit: true, target: 'es2022', skipLibCheck: false };
const projects = {
  node: { compilerOptions: { ...common, module: 'nodenext', lib: ['es2022'], types: ['node'] },
          files: ['example.mjs'], source: nodeExample },
  'Node transaction': { compilerOptions: { ...common, module: 'nodenext', lib: ['es2022'],
                                           types: ['node'] },
                        files: ['example.mjs'], source: transactionExample },
  browser: { compilerOptions: { ...common, module: 'es2022', moduleResolution: 'bundler',
                                lib: ['es2022', 'dom'], types: [] },
             files: ['example.mjs'], source: pageScript },
};

for (const [name, { source, ...config }] of Object.entries(projects)) {
  test(`the README's example compiles in a ${name} project`, () => {
    const dir = mkdtempSync(join(tmpdir(), `wsq-ts-${name}-`));
    try {
      mkdirSync(join(dir, 'node_modules'));
      symlinkSync(packageDir, join(dir, 'node_modules', 'wsq'));
      symlinkSync(packageDir, join(dir, 'wsq'));  // the page's './wsq/wsq.mjs'
      symlinkSync(join(process.env.WSQ_TYPESCRIPT, '..', '@types'),
                  join(dir, 'node_modules', '@types'));
      writeFileSync(join(dir, 'package.json'), '{"type": "module"}');
      writeFileSync(join(dir, 'tsconfig.json'), JSON.stringify(config));
      writeFileSync(join(dir, 'example.mjs'), source);
      try {
        execFileSync(process.execPath, [join(process.env.WSQ_TYPESCRIPT, 'bin', 'tsc'), '-p', dir],
                     { encoding: 'utf8' });
      } catch (failure) {
        assert.fail(`${failure.stdout}\n${source}`);
      }
    } finally {
      rmSync(dir, { recursive: true, force: true });
    }
  });
}

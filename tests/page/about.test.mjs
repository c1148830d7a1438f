// The About dialog's version: from the js/version.js the build packs into the
// bundle, run from a bundle packed the way the build packs it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { aboutText, bundledVersion } from '../../resources/bundle/html/js/editor/about.js';

const resources = join(dirname(fileURLToPath(import.meta.url)), '../../resources');

function run(command, args) {
    const r = spawnSync(command, args, { encoding: 'utf8' });
    assert.equal(r.status, 0, `${command} ${args.join(' ')}: ${r.stderr}`);
}

// Packs the bundle with a version into a fresh folder: its id and the folder.
function pack(version) {
    const out = mkdtempSync(join(tmpdir(), 'kx5-pack-'));
    run('python3', [join(resources, 'pack_bundle.py'), join(resources, 'bundle'), out, version]);
    const id = /"(B_[0-9a-f]{12})"/.exec(readFileSync(join(out, 'bundle_id.cpp'), 'utf8'))[1];
    return { id, out };
}

test('the packed page reads the version it was packed with', async () => {
    const { out } = pack('9.8.7');
    try {
        run('python3', ['-c', 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])',
            join(out, 'bundle.zip'), out]);
        const about = await import(pathToFileURL(join(out, 'html/js/editor/about.js')));
        assert.equal(await about.bundledVersion(), '9.8.7');
    } finally {
        rmSync(out, { recursive: true, force: true });
    }
});

test('the bundle id follows the content, the version included', () => {
    const packs = ['1.0.0', '1.0.0', '1.0.1'].map(pack);
    try {
        assert.equal(packs[0].id, packs[1].id);
        assert.notEqual(packs[0].id, packs[2].id);
    } finally {
        for (const p of packs) rmSync(p.out, { recursive: true, force: true });
    }
});

test('pages without a version module say so instead of failing', async () => {
    // The source tree has no js/version.js: the build writes it.
    assert.equal(await bundledVersion(), null);
    assert.equal(await bundledVersion(async () => { throw new Error('missing'); }), null);
    assert.equal(await bundledVersion(async () => ({ VERSION: '' })), null);
    assert.match(aboutText(null), /^Version unknown/);
    assert.match(aboutText('2.0.0'), /^Version 2\.0\.0\. /);
});

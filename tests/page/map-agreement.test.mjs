// The page and the simulated unit read one address-map definition; their
// power-up images must agree byte for byte.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { AddressMap, loadAddressMapDefinition } from '../../resources/bundle/html/js/params/address-map.js';

const sim = process.env.KX5_SIM;

test('the unit\'s power-up memory equals the page\'s initial images', { skip: !sim && 'KX5_SIM not set' }, async () => {
    const dir = mkdtempSync(join(tmpdir(), 'kx5-map-'));
    try {
        const file = join(dir, 'initial.json');
        execFileSync(sim, ['--dump-initial', file]);
        const dump = JSON.parse(readFileSync(file, 'utf8'));
        const map = new AddressMap(await loadAddressMapDefinition());
        assert.deepEqual(Object.keys(dump.blocks).sort(), [...map.blocks.keys()].sort());
        for (const [id, block] of map.blocks) {
            assert.equal(dump.blocks[id], block.initial.join(''), id);
        }
    } finally {
        rmSync(dir, { recursive: true, force: true });
    }
});

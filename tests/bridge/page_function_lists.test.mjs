// The page's list of every module's functions (js/bridge/native.js) is the
// program's own function tables, name for name and in id order, as the
// bridge console prints them.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { MODULE_FUNCTIONS } from '../../resources/bundle/html/js/bridge/native.js';

const editor = process.env.KX5_EDITOR;

test('every module of the page has the functions of the program, in id order', { skip: !editor && 'KX5_EDITOR not set' }, () => {
    const home = mkdtempSync(join(tmpdir(), 'kx5-functions-'));
    try {
        const run = spawnSync(editor, ['--console', '--no-simulated-unit'], {
            input: '["functions"]\n',
            encoding: 'utf8',
            timeout: 60000,
            env: {
                ...process.env, HOME: home, XDG_CONFIG_HOME: join(home, 'config'),
                XDG_DATA_HOME: join(home, 'data'), XDG_CACHE_HOME: join(home, 'cache'),
                XDG_RUNTIME_DIR: '', TMPDIR: home,
            },
        });
        assert.equal(run.status, 0, run.stderr);
        const line = run.stdout.split('\n').find((l) => l.startsWith('{"functions":'));
        assert.ok(line, run.stdout);
        const program = JSON.parse(line).functions;
        assert.deepEqual(Object.keys(program).sort(), Object.keys(MODULE_FUNCTIONS).sort());
        for (const [module, functions] of Object.entries(MODULE_FUNCTIONS))
            assert.deepEqual(functions, program[module], module);
    } finally {
        rmSync(home, { recursive: true, force: true });
    }
});

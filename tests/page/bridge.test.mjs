import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createCipheriv, createHash, randomBytes, createDecipheriv } from 'node:crypto';
import {
    HOST_TOKEN, MODULE_FUNCTIONS, createEventDispatcher, createLoader, createNative, decodeResult,
    detectHost, installBridge,
} from '../../resources/bundle/html/js/bridge/native.js';
import { FakeClock } from './helpers/fake-clock.mjs';

// A host that records every call and answers from a table or a function.
function recordingHost(answer = () => 'v') {
    const calls = [];
    const host = (...a) => { calls.push(a); return typeof answer === 'function' ? answer(...a) : answer; };
    return { host, calls };
}

test('result texts decode to values; e and unknown letters throw with the rest', () => {
    assert.equal(decodeResult('v'), undefined);
    assert.equal(decodeResult('b1'), true);
    assert.equal(decodeResult('b'), false);
    assert.equal(decodeResult('d-5'), -5);
    assert.equal(decodeResult('d4294967295'), 4294967295);
    assert.equal(decodeResult('f0.500000'), 0.5);
    assert.equal(decodeResult('f-120.000000'), -120);
    assert.equal(decodeResult('s'), '');
    assert.equal(decodeResult('sa\fb'), 'a\fb');
    assert.throws(() => decodeResult('esystem exception'), { message: 'system exception' });
    assert.throws(() => decodeResult('xwhat'), { message: 'what' });
    assert.throws(() => decodeResult(''), { message: '' });
    assert.equal(decodeResult(undefined), undefined);
});

test('every module call has a wrapper that sends its call name', () => {
    const { host, calls } = recordingHost('v');
    const native = createNative(host);
    let count = 0;
    for (const [module, fns] of Object.entries(MODULE_FUNCTIONS)) {
        for (const fn of fns) {
            assert.equal(typeof native[module][fn], 'function', `${module}.${fn}`);
            native.call(`$$${module}_${fn}`);
            count++;
        }
    }
    // The 21 modules of the shell, the IR library, the IR files and the
    // audition.
    assert.equal(Object.keys(MODULE_FUNCTIONS).length, 24);
    assert.equal(calls.length, count);
    assert.deepEqual(calls[0], ['$$app_ready']);
});

test('arguments become text; optional ones are passed only when given; at most two', () => {
    const { host, calls } = recordingHost('v');
    const n = createNative(host);
    n.util.bytes();
    n.util.bytes(12);
    n.util.bytes(1.5, true);
    n.util.bytes(undefined, 'x');
    n.util.bytes('a', undefined);
    n.util.text('a', 'b', 'c');
    n.util.bytes(null);
    assert.deepEqual(calls, [
        ['$$util_bytes'], ['$$util_bytes', '12'], ['$$util_bytes', '1.5', 'true'],
        ['$$util_bytes', 'undefined', 'x'], ['$$util_bytes', 'a'], ['$$util_text', 'a', 'b'],
        ['$$util_bytes', 'null'],
    ]);
});

test('convenience wrappers: storage read/write, dropfiles, endpoint lists, keyed ciphers', () => {
    const { host, calls } = recordingHost((name) => (
        name === '$$app_dropfiles' ? 's["/a","/b"]' :
            name === '$$midi_inendpoints' ? 's[{"MIDIDeviceNameKey":"X"}]' : 'sok'));
    const n = createNative(host);
    assert.equal(n.app.storage(), 'ok');
    n.app.storage('{}');
    assert.equal(n.app.control('wavstat:{}'), undefined);
    assert.deepEqual(n.app.dropfiles(), ['/a', '/b']);
    assert.deepEqual(n.midi.inendpoints(), [{ MIDIDeviceNameKey: 'X' }]);
    n.midi.inconnect({ a: 1 });
    n.security.aes.encrypt('00', '');
    n.security.aes.decrypt('00', 'K');
    assert.deepEqual(calls.map((c) => c.join(' ')), [
        '$$app_storage', '$$app_storage {}', '$$app_control wavstat:{}', '$$app_dropfiles',
        '$$midi_inendpoints', '$$midi_inconnect {"a":1}', '$$security_aesencrypt 00',
        '$$security_aesdecrypt 00 K',
    ]);
});

test('a thrown module error reaches the page as an Error', () => {
    const n = createNative(() => 'eNo such file or directory');
    assert.throws(() => n.fs.readString('/nope'), { message: 'No such file or directory' });
});

test('host detection needs the user-agent token and the host-object proxy', () => {
    const proxy = (...a) => 's' + a.join('|');
    const win = (ua, withProxy = true) => ({
        navigator: { userAgent: ua },
        chrome: withProxy ? { webview: { hostObjects: { sync: { native: proxy } } } } : undefined,
    });
    assert.equal(detectHost(win(`Mozilla/5.0 ${HOST_TOKEN}(Linux)`))('$$a_b', 'x'), 's$$a_b|x');
    assert.equal(detectHost(win('Mozilla/5.0')), null);
    assert.equal(detectHost(win(`x ${HOST_TOKEN}`, false)), null);
    const own = () => 'sown';
    assert.equal(detectHost({ ...win(`x ${HOST_TOKEN}`), $nativeHost: own }), own);
    // Without a host every call is undefined and nothing throws.
    const n = createNative(null);
    assert.equal(n.app.startevent(), undefined);
    assert.equal(n.hasHost, false);
});

test('events split at form feeds, run deferred and in order, unknown ones dropped', () => {
    const clock = new FakeClock();
    const native = createNative(null);
    const $event = createEventDispatcher(native, clock);
    const seen = [];
    native.midi.events.message = (...a) => seen.push(['message', ...a]);
    native.midi.events.changed = (...a) => seen.push(['changed', ...a]);
    native.fs.events.openfilename = (...a) => seen.push(['open', ...a]);
    $event.dispatch('midi\fmessage\fF07E\f123');
    $event.dispatch('midi\fchanged');
    $event.dispatch('midi\fnohandler\fx');
    $event.dispatch('nomodule\fmessage');
    $event.dispatch('fs\fopenfilename\fC:\\a\'b\nc');
    $event.dispatch('fs\fopenfilename\fa\fb\f');
    assert.deepEqual(seen, [], 'nothing runs inside dispatch');
    clock.advance(0);
    assert.deepEqual(seen, [
        ['message', 'F07E', '123'], ['changed'], ['open', "C:\\a'b\nc"], ['open', 'a', 'b', ''],
    ]);
});

test('a failing handler does not stop later events', () => {
    const clock = new FakeClock();
    const native = createNative(null);
    const $event = createEventDispatcher(native, clock);
    const seen = [];
    native.app.events.command = (x) => { if (x === 'bad') throw new Error('boom'); seen.push(x); };
    const error = console.error;
    console.error = () => {};
    try {
        $event.dispatch('app\fcommand\fbad');
        $event.dispatch('app\fcommand\fgood');
        clock.advance(0);
    } finally {
        console.error = error;
    }
    assert.deepEqual(seen, ['good']);
});

test('start: a host answering the probe gets push mode switched on', () => {
    const { host, calls } = recordingHost((name) => (name === '$$app_startevent' ? 'b1' : 's'));
    const clock = new FakeClock();
    const native = createNative(host);
    const $event = createEventDispatcher(native, clock);
    assert.equal($event.start(), 'push');
    assert.deepEqual(calls, [['$$app_startevent'], ['$$app_startevent', 'true']]);
    clock.advance(500);
    assert.equal(calls.length, 2, 'no pull loop in push mode');
});

test('start: a host answering v is drained by the 50 ms pull loop until empty', () => {
    const queue = ['midi\fchanged', 'midi\fmessage\fFE\f1', 'app\fcommand\fopen\f/x'];
    const { host, calls } = recordingHost((name) => {
        if (name === '$$app_getevent') return 's' + (queue.shift() ?? '');
        return 'v';
    });
    const clock = new FakeClock();
    const native = createNative(host);
    const $event = createEventDispatcher(native, clock);
    const seen = [];
    native.midi.events.changed = () => seen.push('changed');
    native.midi.events.message = (m) => seen.push(m);
    native.app.events.command = (c, p) => seen.push(c + p);
    assert.equal($event.start(), 'pull');
    clock.advance(49);
    assert.deepEqual(seen, []);
    clock.advance(1);
    assert.deepEqual(seen, ['changed', 'FE', 'open/x']);
    const pulls = calls.filter((c) => c[0] === '$$app_getevent').length;
    assert.equal(pulls, 4, 'stops at the empty text');
    queue.push('midi\fchanged');
    clock.advance(50);
    assert.deepEqual(seen, ['changed', 'FE', 'open/x', 'changed']);
    $event.stop();
    queue.push('midi\fchanged');
    clock.advance(200);
    assert.equal(seen.length, 4);
});

// The salted layout of script files: "Salted__", 8 bytes salt, AES-128-CBC
// with key and IV from the host's kiv. This test host derives them its own
// way; only the layout is the page's concern.
function saltedHost(files) {
    const derive = (saltHex) => {
        const d1 = createHash('md5').update(Buffer.concat([Buffer.from('pw'), Buffer.from(saltHex, 'hex')])).digest();
        const d2 = createHash('md5').update(Buffer.concat([d1, Buffer.from('pw'), Buffer.from(saltHex, 'hex')])).digest();
        return d1.toString('hex').toUpperCase() + '/' + d2.toString('hex').toUpperCase();
    };
    return (name, a, b) => {
        if (name === '$$fs_readData') return files.has(a) ? 's' + files.get(a) : 'eNo such file or directory';
        if (name === '$$security_kiv') return 's' + derive(a);
        if (name === '$$security_aesdecrypt') {
            const [k, iv] = b.split('/');
            try {
                const d = createDecipheriv('aes-128-cbc', Buffer.from(k, 'hex'), Buffer.from(iv, 'hex'));
                return 's' + Buffer.concat([d.update(Buffer.from(a, 'hex')), d.final()]).toString('hex').toUpperCase();
            } catch {
                return 's';
            }
        }
        return 'v';
    };
}

test('$load runs plain and salted script files and reports unreadable ones', () => {
    const files = new Map();
    files.set('/plain.js', Buffer.from('globalThis.__loaded = "plain é"; 41', 'utf8').toString('hex'));
    const salt = randomBytes(8);
    const host = saltedHost(files);
    const [k, iv] = decodeResult(host('$$security_kiv', salt.toString('hex'))).split('/');
    const c = createCipheriv('aes-128-cbc', Buffer.from(k, 'hex'), Buffer.from(iv, 'hex'));
    const body = Buffer.concat([c.update('globalThis.__loaded = "salted"; 42', 'utf8'), c.final()]);
    files.set('/salted.js', Buffer.concat([Buffer.from('Salted__'), salt, body]).toString('hex').toLowerCase());
    files.set('/broken.js', Buffer.concat([Buffer.from('Salted__'), salt, Buffer.alloc(16)]).toString('hex'));
    const $load = createLoader(createNative(host));
    assert.equal($load('/plain.js'), 41);
    assert.equal(globalThis.__loaded, 'plain é');
    assert.equal($load('/salted.js'), 42);
    assert.equal(globalThis.__loaded, 'salted');
    assert.throws(() => $load('/broken.js'), /cannot decipher/);
    assert.throws(() => $load('/missing.js'), /No such file/);
    delete globalThis.__loaded;
});

test('installBridge puts $native, $event and $load on the window', () => {
    const win = { navigator: { userAgent: HOST_TOKEN }, chrome: { webview: { hostObjects: { sync: { native: () => 'b1' } } } } };
    const { native } = installBridge(win, new FakeClock());
    assert.equal(win.$native, native);
    assert.equal(typeof win.$event.dispatch, 'function');
    assert.equal(typeof win.$load, 'function');
    assert.equal(native.app.startevent(), true);
});

test('the host asks before closing: only an onclose answering true keeps the window', () => {
    const native = createNative(null);
    const $event = createEventDispatcher(native, { setTimeout: () => {}, setInterval: () => 0, clearInterval: () => {} });
    assert.equal($event.closing(), false, 'no handler: the window closes');
    $event.onclose = () => 'yes';
    assert.equal($event.closing(), false, 'only true counts');
    $event.onclose = () => true;
    assert.equal($event.closing(), true);
});

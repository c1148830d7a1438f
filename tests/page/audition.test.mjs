// Hearing IRs before they go in: two renderings are brought to one
// loudness below the ceiling, and the audition asks the host for the file
// the preview shows (A), the file kept (B), at the matched gains.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { CEILING_DB, GAIN_RANGE_DB, TARGET_RMS_DB, matchLevels, takeRequest } from '../../resources/bundle/html/js/ir/audition-levels.js';

const heardAt = (l, g) => ({ rms: l.rms + g, peak: l.peak + g });

test('two renderings are matched in loudness and the louder peak stays below the ceiling', () => {
    // A quiet, smooth IR and a loud, spiky one.
    const a = { rms: -31.5, peak: -18 };
    const b = { rms: -9, peak: 2.5 };
    const { level, gains } = matchLevels([a, b]);
    const ha = heardAt(a, gains[0]);
    const hb = heardAt(b, gains[1]);
    assert.ok(Math.abs(ha.rms - hb.rms) < 0.01, 'one loudness for both');
    assert.ok(Math.abs(ha.rms - level) < 0.01);
    assert.ok(Math.max(ha.peak, hb.peak) <= CEILING_DB + 0.01, 'no clipping');
    assert.ok(level <= TARGET_RMS_DB);

    // Gentle crests: both go to the target level itself.
    const soft = matchLevels([{ rms: -30, peak: -24 }, { rms: -12, peak: -5 }]);
    assert.equal(soft.level, TARGET_RMS_DB);
    assert.deepEqual(soft.gains, [10, -8]);

    // The order of the takes changes nothing but the order of the gains.
    assert.deepEqual(matchLevels([b, a]).gains, [...gains].reverse());
});

test('a single take, a take without levels and gains beyond the host\'s range', () => {
    const one = matchLevels([{ rms: -26, peak: -16 }, null]);
    assert.deepEqual(one.gains, [6, 0]);
    assert.deepEqual(matchLevels([null, null]), { level: null, gains: [0, 0] });
    // A silent rendering (the host says -200 dB) or nonsense leaves its gain at 0.
    assert.deepEqual(matchLevels([{ rms: -200, peak: -200 }, { rms: NaN, peak: 0 }]).gains, [0, 0]);
    // An almost silent one is raised only as far as the host goes.
    const faint = matchLevels([{ rms: -140, peak: -130 }]);
    assert.equal(faint.gains[0], GAIN_RANGE_DB[1]);
});

test('a take is asked for by file and channel', () => {
    assert.deepEqual(JSON.parse(takeRequest('/irs/a b.wav', 0)), { ch: 0, path: '/irs/a b.wav' });
    assert.deepEqual(JSON.parse(takeRequest('/irs/x.flac', 1)), { ch: 1, path: '/irs/x.flac' });
    assert.deepEqual(JSON.parse(takeRequest('/irs/x.flac', 'mix')), { ch: 'mix', path: '/irs/x.flac' });
    assert.deepEqual(JSON.parse(takeRequest('/irs/x.flac', null)), { ch: 0, path: '/irs/x.flac' }, 'mono');
});

// Just enough of a document for the audition's controls.
function fakeDocument() {
    const elements = new Map();
    const element = (tag) => {
        const e = {
            tag, children: [], listeners: {}, attributes: {}, hidden: false, disabled: false, textContent: '', title: '', id: '',
            append(...c) { this.children.push(...c); },
            replaceChildren(...c) { this.children = c; for (const x of c) if (x?.id) elements.set(x.id, x); },
            addEventListener(type, fn) { this.listeners[type] = fn; },
            setAttribute(k, v) { this.attributes[k] = v; },
            click() { this.listeners.click?.(); },
        };
        return e;
    };
    elements.set('audition', element('div'));
    globalThis.document = {
        getElementById: (id) => elements.get(id) ?? null,
        createElement: element,
    };
    return elements;
}

function fakeHost() {
    const calls = [];
    const levels = { '/irs/quiet.wav': { rms: -30, peak: -20 }, '/irs/loud.wav': { rms: -10, peak: -2 } };
    const native = {
        irfile: { events: {} },
        audition: {
            phrase: (p) => { calls.push(['phrase', p]); return JSON.stringify({ result: 1, path: p, rate: 48000, frames: 240000 }); },
            load: (t, json) => {
                const { path, ch } = JSON.parse(json);
                calls.push(['load', t, path, ch]);
                const l = levels[path];
                return JSON.stringify(l ? { result: 1, ...l, rate: 48000, frames: 250000 } : { result: 0, reason: 'not an audio file' });
            },
            gain: (t, db) => { calls.push(['gain', t, db]); return db; },
            play: (t) => { calls.push(['play', t]); return true; },
            stop: () => calls.push(['stop']),
            loop: (f) => calls.push(['loop', f]),
        },
    };
    return { native, calls };
}

test('A is the file shown, B the file kept; each is rendered once and both play at matched gains', async () => {
    const elements = fakeDocument();
    const { Audition } = await import('../../resources/bundle/html/js/editor/audition.js');
    const { native, calls } = fakeHost();
    let shown = { kind: 'file', path: '/irs/quiet.wav', channel: null };
    const audition = new Audition({ native, current: () => shown, builtInPhrase: '/bundle/di.wav' });
    audition.shown();
    assert.equal(elements.get('audition').hidden, false);
    assert.equal(elements.get('audition-b').disabled, true, 'nothing kept as B yet');

    elements.get('audition-a').click();
    assert.deepEqual(calls.splice(0), [
        ['phrase', '/bundle/di.wav'], ['load', 'a', '/irs/quiet.wav', 0], ['gain', 'a', 10], ['gain', 'b', 0], ['play', 'a'],
    ]);
    elements.get('audition-keep').click();
    shown = { kind: 'file', path: '/irs/loud.wav', channel: 'mix' };
    audition.shown();
    assert.equal(elements.get('audition-b').disabled, false);
    assert.match(elements.get('audition-b').textContent, /quiet\.wav/);

    // A is now the loud file, B the quiet one kept (rendered as B now).
    elements.get('audition-a').click();
    const loads = calls.filter((c) => c[0] === 'load');
    assert.deepEqual(loads, [['load', 'a', '/irs/loud.wav', 'mix'], ['load', 'b', '/irs/quiet.wav', 0]]);
    const gains = Object.fromEntries(calls.filter((c) => c[0] === 'gain').map((c) => [c[1], c[2]]));
    assert.equal(-10 + gains.a, -30 + gains.b, 'one loudness');
    assert.match(elements.get('audition-note').textContent, /same loudness/);
    calls.length = 0;
    elements.get('audition-b').click();
    assert.deepEqual(calls.filter((c) => c[0] === 'load'), [], 'nothing rendered again for a switch');
    assert.deepEqual(calls.at(-1), ['play', 'b']);
    assert.equal(elements.get('audition-b').attributes['aria-pressed'], 'true');
    native.audition.events.ended();
    assert.equal(elements.get('audition-b').attributes['aria-pressed'], 'false');
    // The output going away while playing is said, and nothing shows as playing.
    elements.get('audition-b').click();
    native.audition.events.error('the audio output went away');
    assert.equal(elements.get('audition-b').attributes['aria-pressed'], 'false');
    assert.match(elements.get('audition-note').textContent, /stopped: the audio output went away/);

    // A plays the file shown: another file ends it, B goes on.
    elements.get('audition-a').click();
    assert.deepEqual(calls.at(-1), ['play', 'a']);
    shown = { kind: 'file', path: '/irs/quiet.wav', channel: null };
    audition.shown();
    assert.deepEqual(calls.at(-1), ['stop']);
    assert.equal(elements.get('audition-a').attributes['aria-pressed'], 'false');
    elements.get('audition-b').click();
    calls.length = 0;
    shown = { kind: 'file', path: '/irs/loud.wav', channel: 'mix' };
    audition.shown();
    assert.deepEqual(calls, []);

    // A slot in the preview: nothing to hear, and B stops.
    shown = { kind: 'slot', slot: 2 };
    audition.shown();
    assert.equal(elements.get('audition').hidden, true);
    assert.deepEqual(calls.at(-1), ['stop']);
});

test('the user\'s own DI recording replaces the phrase; a file the host refuses says why', async () => {
    const elements = fakeDocument();
    const { Audition } = await import('../../resources/bundle/html/js/editor/audition.js');
    const { native, calls } = fakeHost();
    native.irfile.openfiles = (ext) => calls.push(['openfiles', JSON.parse(ext).includes('wav')]);
    const audition = new Audition({ native, current: () => ({ kind: 'file', path: '/irs/broken.wav', channel: null }), builtInPhrase: '/bundle/di.wav' });
    elements.get('audition-source').click();
    native.irfile.events.openfiles(JSON.stringify(['/home/me/my DI.wav']));
    assert.deepEqual(calls.splice(0), [['openfiles', true], ['phrase', '/home/me/my DI.wav']]);
    assert.match(elements.get('audition-source').textContent, /my DI\.wav/);
    assert.equal(audition.play(0), false);
    assert.match(elements.get('audition-note').textContent, /broken\.wav cannot be heard: not an audio file/);
    assert.ok(!calls.some((c) => c[0] === 'play'));
});

test('the slot the file would replace can be B, written as a float WAVE file of what the unit holds', async () => {
    const elements = fakeDocument();
    const { Audition } = await import('../../resources/bundle/html/js/editor/audition.js');
    const { parseWav, hexToBytes } = await import('../../resources/bundle/html/js/ir/wav-preview.js');
    const { native, calls } = fakeHost();
    const written = {};
    native.fs = { path: (key) => (key === 'temporary' ? '/run/kx5/' : ''), writeData: (p, hex) => { written[p] = hex; } };
    const impulse = Float32Array.from([0.5, -0.25, 0.125, 0]);
    let overlay = null;
    const audition = new Audition({
        native, current: () => ({ kind: 'file', path: '/irs/quiet.wav', channel: null }), overlay: () => overlay, builtInPhrase: '/bundle/di.wav',
    });
    audition.shown();
    assert.equal(elements.get('audition-slot').hidden, true, 'no slot to compare with');
    overlay = { slot: 2, name: 'Old Cab', impulse };
    audition.shown();
    assert.equal(elements.get('audition-slot').hidden, false);
    elements.get('audition-slot').click();
    const wav = parseWav(hexToBytes(written['/run/kx5/audition-slot-3.wav']));
    assert.equal(wav.sampleRate, 96000);
    assert.equal(wav.channels, 1);
    assert.equal(wav.format, 3);
    assert.deepEqual(Array.from(wav.data[0]), Array.from(impulse));
    assert.match(elements.get('audition-b').textContent, /slot 3 \(Old Cab\)/);
    native.audition.load = (t, json) => {
        calls.push(['load', t, JSON.parse(json).path]);
        return JSON.stringify({ result: 1, rms: -25, peak: -12, rate: 48000, frames: 1000 });
    };
    elements.get('audition-b').click();
    assert.deepEqual(calls.filter((c) => c[0] === 'load').map((c) => c.slice(1)), [['a', '/irs/quiet.wav'], ['b', '/run/kx5/audition-slot-3.wav']]);
    assert.deepEqual(calls.at(-1), ['play', 'b']);
});

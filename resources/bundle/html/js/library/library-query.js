// The search a state of the panel's controls stands for, and the words the
// rows show.
export const PAGE_ROWS = 100;

export const LENGTHS = Object.freeze({
    any: {},
    short: { maxLength: 200 },
    medium: { maxLength: 500 },
    long: { minLength: 500 },
});

// state: { text, sort, descending, rate, channels, length, favourites,
// similar (path of the selected row), offset }
export function buildQuery(state) {
    const q = { text: state.text ?? '', sort: state.sort ?? 'name', limit: PAGE_ROWS, offset: state.offset ?? 0 };
    if (state.descending) q.descending = true;
    if (q.sort === 'similar') {
        if (state.similar) q.similar = state.similar;
        else q.sort = 'name';
    }
    if (Number(state.rate)) q.rate = Number(state.rate);
    if (Number(state.channels)) q.channels = Number(state.channels);
    Object.assign(q, LENGTHS[state.length] ?? {});
    if (state.favourites) q.favourites = true;
    return q;
}

const FORMATS = { 'wav-pcm': 'PCM', 'wav-float': 'float' };

// "48 kHz · 24-bit PCM · 500 ms · stereo"
export function describeRow(row) {
    const khz = `${(row.rate / 1000).toLocaleString('en', { maximumFractionDigits: 1 })} kHz`;
    const format = `${row.bits}-bit ${FORMATS[row.format] ?? row.format}`;
    const length = row.length >= 1000 ? `${(row.length / 1000).toFixed(2)} s` : `${row.length} ms`;
    const channels = row.channels === 1 ? 'mono' : row.channels === 2 ? 'stereo' : `${row.channels} ch`;
    return [khz, format, length, channels].join(' · ');
}

// "Scanning… 1,234 of 5,000 files" / the end of a scan in words.
export function describeProgress(done, total) {
    if (!total) return 'Scanning…';
    return `Scanning… ${done.toLocaleString('en')} of ${total.toLocaleString('en')} files`;
}

export function describeSummary(s) {
    const parts = [`${(s.files ?? 0).toLocaleString('en')} IRs`];
    if (s.skipped) parts.push(`${s.skipped.toLocaleString('en')} skipped`);
    const changes = [];
    if (s.added) changes.push(`${s.added} new`);
    if (s.changed) changes.push(`${s.changed} changed`);
    if (s.removed) changes.push(`${s.removed} gone`);
    if (changes.length) parts.push(changes.join(', '));
    if (s.missing?.length) parts.push(`missing: ${s.missing.join(', ')}`);
    return (s.cancelled ? 'Scan stopped. ' : '') + parts.join(' · ');
}

// The unit holds a slot name as 32 bytes of printable ASCII: a data byte of
// 0x80 or more would end the exclusive message early. A Latin letter with an
// accent (or a stroke) becomes its base letter ("Brücke" -> "Brucke"),
// anything else becomes "?". The editor shows a name the way the unit will
// hold it before anything is written.
export const NAME_LENGTH = 32;

// Letters whose base letter Unicode decomposition does not give.
const STROKED = new Map(Object.entries({
    'Ø': 'O', 'ø': 'o', 'Ł': 'L', 'ł': 'l', 'Đ': 'D', 'đ': 'd', 'Ħ': 'H', 'ħ': 'h',
    'Ŧ': 'T', 'ŧ': 't', 'ı': 'i', 'Ɨ': 'I', 'ɨ': 'i', 'Ƶ': 'Z', 'ƶ': 'z',
}));

const isPrintable = (c) => c >= 0x20 && c < 0x7f;
const isCombining = (c) => (c >= 0x300 && c <= 0x36f) || (c >= 0x1ab0 && c <= 0x1aff) ||
    (c >= 0x1dc0 && c <= 0x1dff) || (c >= 0x20d0 && c <= 0x20ff) || (c >= 0xfe20 && c <= 0xfe2f);

// One character as the unit holds it: itself, its base letter, "" for a
// lone combining accent (it belongs to the letter before it), or "?".
function unitChar(ch) {
    const c = ch.codePointAt(0);
    if (isPrintable(c)) return ch;
    if (isCombining(c)) return '';
    if (STROKED.has(ch)) return STROKED.get(ch);
    const base = [...ch.normalize('NFD')].filter((d) => !isCombining(d.codePointAt(0)));
    if (base.length === 1 && /^[A-Za-z]$/.test(base[0])) return base[0];
    return '?';
}

// { name, cut, replaced, folded }: the name as the unit holds it (trailing
// spaces removed), whether characters past `length` were cut off, how many
// characters became "?", and whether accents were dropped.
export function unitName(text, length = NAME_LENGTH) {
    const chars = [];
    let replaced = 0;
    let folded = false;
    for (const ch of String(text ?? '').normalize('NFC')) {
        const u = unitChar(ch);
        if (u === '?' && ch !== '?') replaced++;
        else if (u !== ch) folded = true;
        if (u !== '') chars.push(u);
    }
    const whole = chars.join('').trimEnd();
    const cut = whole.length > length;
    // Only what is cut off counts for the notes.
    if (cut) {
        const kept = [];
        replaced = 0;
        folded = false;
        for (const ch of String(text ?? '').normalize('NFC')) {
            const u = unitChar(ch);
            if (u !== '' && kept.length === length) break;
            if (u === '?' && ch !== '?') replaced++;
            else if (u !== ch) folded = true;
            if (u !== '') kept.push(u);
        }
        return { name: kept.join('').trimEnd(), cut, replaced, folded };
    }
    return { name: whole, cut, replaced, folded };
}

// The `length` name bytes sent to the unit, padded with spaces.
export function unitNameBytes(text, length = NAME_LENGTH) {
    const { name } = unitName(text, length);
    const out = [...name].map((ch) => ch.charCodeAt(0));
    while (out.length < length) out.push(0x20);
    return out;
}

// A short note on what happens to a name, for the dialogs that show it
// before it is written; "" when the unit takes it as it is.
export function nameNotice(text, length = NAME_LENGTH) {
    const r = unitName(text, length);
    const notes = [];
    if (r.folded) notes.push('accents dropped');
    if (r.replaced) notes.push(`${r.replaced} character${r.replaced === 1 ? '' : 's'} the unit cannot show replaced by "?"`);
    if (r.cut) notes.push(`cut to ${length} characters`);
    return notes.join(', ');
}

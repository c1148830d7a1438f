// The page's side of the host's "library" module: calls with their JSON
// answers parsed, and the module's events handed to one listener.
//
// Events handed to onEvent:
//   { type: 'progress', done, total }      a scan reads files
//   { type: 'scanned', summary }           a scan ended (summary.cancelled when stopped)
//   { type: 'scanfailed', message }
//   { type: 'rebuilt', which, keptAs, reason, recovered }   a damaged file was replaced
const parse = (text, fallback) => {
    if (!text) return fallback;
    try {
        return JSON.parse(text);
    } catch {
        return fallback;
    }
};

export class LibraryClient {
    constructor(native, onEvent = () => {}) {
        this.m = native.library;
        this.available = !!native.hasHost && !!this.m;
        this.onEvent = onEvent;
        if (!this.m) return;
        const events = this.m.events;
        events.progress = (done, total) => this.onEvent({ type: 'progress', done: Number(done), total: Number(total) });
        events.scanned = (json) => this.onEvent({ type: 'scanned', summary: parse(json, {}) });
        events.scanfailed = (message) => this.onEvent({ type: 'scanfailed', message });
        events.rebuilt = (which, keptAs, reason, recovered) => this.onEvent({
            type: 'rebuilt', which, keptAs, reason, recovered: Number(recovered) || 0,
        });
    }

    // The last call that failed (the host's reason), or ''.
    failure = '';

    // Reads answer something even when the host cannot read the library.
    read(call, fallback) {
        try {
            const answer = parse(call(), fallback);
            this.failure = '';
            return answer;
        } catch (e) {
            this.failure = e.message;
            return fallback;
        }
    }

    folders() { return this.read(() => this.m.folders(), []); }
    // true: added and scanning; false: a library folder already holds it.
    // Throws with the host's reason (not a folder...).
    addFolder(path) { return this.m.addfolder(path); }
    removeFolder(path) { return this.m.removefolder(path); }
    scan() { return this.m.scan(); }
    cancel() { return this.m.cancel(); }
    status() { return this.read(() => this.m.status(), {}); }
    // { total, offset, rows: [...] }
    search(query) { return this.read(() => this.m.search(JSON.stringify(query)), { total: 0, offset: 0, rows: [] }); }
    entry(path) { return this.read(() => this.m.entry(path), null); }
    skipped() { return this.read(() => this.m.skipped(), []); }
    setTags(path, tags) { return this.m.tag(path, JSON.stringify(tags)); }
    setFavourite(path, on) { return this.m.favourite(path, on ? 'true' : 'false'); }
}

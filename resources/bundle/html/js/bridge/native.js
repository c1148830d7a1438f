// The page side of the bridge: $native (one wrapper per module call), the
// event dispatcher $event and the script loader $load.
//
// A host is a function (callName, ...args) -> result text. The web view host
// publishes chrome.webview.hostObjects.sync.native; a page embedded elsewhere
// may provide window.$nativeHost instead. Without a host every call answers
// undefined, so the page can still be opened in a plain browser.

export const HOST_TOKEN = 'velmar.lattice';

// Function names of every module, in id order.
export const MODULE_FUNCTIONS = Object.freeze({
    app: ['ready', 'startevent', 'getevent', 'storage', 'storage2', 'clipboard', 'importfile',
        'exportfile', 'control', 'locate', 'dragdrop', 'dropfiles', 'exit'],
    midi: ['inendpoints', 'inconnect', 'indisconnect', 'outendpoints', 'outconnect',
        'outdisconnect', 'send', 'panel'],
    midix: ['client', 'inendpoints', 'inconnect', 'indisconnect', 'outendpoints', 'outconnect',
        'outdisconnect', 'send', 'thru', 'panel'],
    tgif: ['buffer', 'param', 'send', 'thru'],
    audio: ['inputs', 'outputs', 'format', 'convert', 'split', 'reverse'],
    player: ['device', 'open', 'play', 'pause', 'stop', 'locate', 'volume', 'file', 'status',
        'channels', 'peakpower', 'time', 'totaltime', 'output'],
    recorder: ['device', 'create', 'record', 'pause', 'stop', 'volume', 'file', 'status',
        'channels', 'peakpower', 'time', 'input'],
    sampler: ['create', 'device', 'open', 'close', 'start', 'play', 'pause', 'stop', 'locate',
        'begin', 'end', 'volume', 'repeat', 'speed', 'pitch', 'fadein', 'fadeout', 'file',
        'totaltime', 'status'],
    tether: ['discovery', 'connect', 'disconnect', 'device', 'send', 'inputmode', 'timeout',
        'keepalive'],
    http: ['download', 'upload', 'cancel'],
    tcpip: ['connect', 'close', 'write'],
    netservice: ['search', 'stop'],
    fs: ['separator', 'path', 'volumes', 'contents', 'stat', 'exec', 'mkdir', 'unlink', 'copy',
        'move', 'unzip', 'readString', 'readData', 'writeString', 'writeData', 'appendString',
        'appendData', 'openfilename', 'savefilename', 'choosefolder', 'unmount', 'openmediafile',
        'importmediafile', 'deletemediafile', 'mediafileinfo'],
    security: ['kiv', 'uuidgen', 'md5', 'encipher', 'decipher', 'aesencrypt', 'aesdecrypt',
        'desencrypt', 'desdecrypt'],
    ble: ['scanstart', 'scanstop', 'connect', 'disconnect', 'discover', 'properties', 'notify',
        'read', 'write', 'writewithoutresponse'],
    store: ['inert', 'purchased', 'restore'],
    notification: ['token', 'badge'],
    recognizer: ['start', 'stop'],
    barcode: ['read'],
    sh: ['exec', 'kill'],
    util: ['bytes', 'text'],
    // Not one of the 21 of the shell: the IR library (library/ in the host).
    library: ['folders', 'addfolder', 'removefolder', 'scan', 'cancel', 'status', 'search', 'entry',
        'skipped', 'tag', 'favourite'],
    // Every audio file an IR comes in (irfile/ in the host).
    irfile: ['describe', 'prepare', 'preview', 'openfiles'],
    // Hearing an IR before it goes in (audition/ in the host).
    audition: ['phrase', 'load', 'play', 'stop', 'gain', 'loop', 'status', 'device'],
});

// Decodes a typed result text. "e" and any unknown type letter throw.
export function decodeResult(text) {
    if (text === undefined || text === null) return undefined;
    text = String(text);
    const type = text.charAt(0);
    const rest = text.substring(1);
    switch (type) {
        case 'v': return undefined;
        case 'b': return Boolean(rest);
        case 'd': return parseInt(rest, 10);
        case 'f': return parseFloat(rest);
        case 's': return rest;
        default: throw new Error(rest);
    }
}

// Picks the host the page runs in.
export function detectHost(win) {
    if (!win) return null;
    if (typeof win.$nativeHost === 'function') return win.$nativeHost;
    const ua = win.navigator?.userAgent ?? '';
    const proxy = win.chrome?.webview?.hostObjects?.sync?.native;
    if (ua.includes(HOST_TOKEN) && proxy) return (...a) => proxy(...a);
    return null;
}

// Builds $native over a host function. Each module gets one wrapper per
// function (arguments turned into text, optional ones passed only when given)
// and an empty event table "events" that the page fills with handlers.
export function createNative(host) {
    const invoke = (callName, args) => {
        if (!host) return undefined;
        let n = args.length;
        while (n > 0 && args[n - 1] === undefined) n--;
        const text = args.slice(0, Math.min(n, 2)).map((a) => '' + a);
        return decodeResult(host(callName, ...text));
    };
    const native = { call: (callName, ...args) => invoke(callName, args) };
    for (const [module, functions] of Object.entries(MODULE_FUNCTIONS)) {
        const m = { events: {} };
        for (const fn of functions) {
            const callName = `$$${module}_${fn}`;
            m[fn] = (...args) => invoke(callName, args);
        }
        native[module] = m;
    }
    addConveniences(native);
    native.hasHost = !!host;
    return native;
}

function addConveniences(native) {
    const { app, midi, security } = native;
    const raw = { ...app };
    // Read when the data argument is undefined, write otherwise.
    app.storage = (text) => (text === undefined ? raw.storage() : raw.storage(text));
    app.storage2 = (key, text) => (text === undefined ? raw.storage2(key) : raw.storage2(key, text));
    app.clipboard = (text) => (text === undefined ? raw.clipboard() : raw.clipboard(text));
    for (const fn of ['control', 'locate', 'dragdrop', 'exit']) {
        app[fn] = (...a) => { raw[fn](...a); };
    }
    app.dropfiles = () => JSON.parse(raw.dropfiles() || '[]');
    // Endpoint lists as arrays of records.
    for (const fn of ['inendpoints', 'outendpoints']) {
        const f = midi[fn];
        midi[fn] = () => JSON.parse(f() || '[]');
    }
    for (const fn of ['inconnect', 'indisconnect', 'outconnect', 'outdisconnect']) {
        const f = midi[fn];
        midi[fn] = (record) => f(record === undefined ? undefined
            : typeof record === 'string' ? record : JSON.stringify(record));
    }
    // The key argument is passed only when given (an empty key counts as none).
    const keyed = (f) => (data, key) => (key ? f(data, key) : f(data));
    security.aes = { encrypt: keyed(security.aesencrypt), decrypt: keyed(security.aesdecrypt) };
    security.des = { encrypt: keyed(security.desencrypt), decrypt: keyed(security.desdecrypt) };
}

// The event dispatcher. dispatch() is what the host executes for each pushed
// event; handlers run later from a zero-delay timer, in dispatch order.
export function createEventDispatcher(native, timers = globalThis) {
    let pullTimer = null;
    const deliver = (text) => {
        const parts = String(text).split('\f');
        if (parts.length < 2) return;
        const [module, type, ...args] = parts;
        const handler = native[module]?.events?.[type];
        if (typeof handler !== 'function') return;
        try {
            handler(...args);
        } catch (e) {
            // One failing handler must not stop the events after it.
            console.error(`event ${module}.${type}:`, e);
        }
    };
    const $event = {
        pullInterval: 50,
        mode: 'none',
        // The host asks before its window closes; onclose() answering true
        // keeps it open (the page then asks the user and closes it itself
        // with app.exit).
        onclose: null,
        closing() {
            return typeof this.onclose === 'function' && this.onclose() === true;
        },
        dispatch(text) {
            timers.setTimeout(() => deliver(text), 0);
        },
        // Probes the host for push delivery; falls back to the pull loop.
        start() {
            if (native.app.startevent() !== undefined) {
                this.mode = 'push';
                native.app.startevent(true);
                return this.mode;
            }
            this.mode = 'pull';
            if (pullTimer === null) pullTimer = timers.setInterval(() => this.pull(), this.pullInterval);
            return this.mode;
        },
        // Drains the host queue once (pull mode).
        pull() {
            for (;;) {
                const text = native.app.getevent();
                if (!text) return;
                deliver(text);
            }
        },
        stop() {
            if (pullTimer !== null) timers.clearInterval(pullTimer);
            pullTimer = null;
            this.mode = 'none';
        },
    };
    return $event;
}

const SALTED = '53616C7465645F5F';

export function hexToText(hex) {
    const bytes = new Uint8Array(hex.length >> 1);
    for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(i * 2, 2), 16) || 0;
    return new TextDecoder('utf-8').decode(bytes);
}

// $load(path): reads a script file through the host, deciphers it when it is
// stored in the salted form (8 bytes "Salted__", 8 bytes salt, AES-128-CBC)
// and runs it in the global scope. Returns the script's completion value.
export function createLoader(native) {
    return function $load(path) {
        let hex = native.fs.readData(path);
        if (!hex) throw new Error(`cannot read ${path}`);
        hex = hex.toUpperCase();
        if (hex.startsWith(SALTED)) {
            const salt = hex.substr(16, 16);
            const key = native.security.kiv(salt);
            const plain = key ? native.security.aes.decrypt(hex.substr(32), key) : '';
            if (!plain) throw new Error(`cannot decipher ${path}`);
            hex = plain;
        }
        return (0, eval)(hexToText(hex));
    };
}

// Installs $native, $event and $load on the window and returns them.
export function installBridge(win = globalThis, timers = globalThis) {
    const native = createNative(detectHost(win));
    const $event = createEventDispatcher(native, timers);
    win.$native = native;
    win.$event = $event;
    win.$load = createLoader(native);
    return { native, $event, $load: win.$load };
}

// The host's open and save dialogs as promises, for the parts of the editor
// that ask for a file and wait for the answer. The dialog events reach the
// handler installed before (the editor's own) unless a question of ours is
// open.
export class FileDialogs {
    constructor(native) {
        this.native = native;
        this.pending = null;
        for (const event of ['openfilename', 'savefilename']) {
            const before = native.fs.events[event];
            native.fs.events[event] = (path, ...rest) => {
                const mine = this.pending;
                if (mine?.event === event) {
                    this.pending = null;
                    return mine.resolve(path || '');
                }
                if (typeof before === 'function') return before(path, ...rest);
                return undefined;
            };
        }
    }

    ask(event, call) {
        // A question left open (its dialog never answered) is given up.
        this.pending?.resolve('');
        return new Promise((resolve) => {
            this.pending = { event, resolve };
            try {
                call();
            } catch {
                this.pending = null;
                resolve('');
            }
        });
    }

    // Resolves with the chosen path, '' when cancelled.
    open(extensions, folder) {
        return this.ask('openfilename', () => this.native.fs.openfilename(JSON.stringify(extensions), folder || undefined));
    }

    save(name, extension) {
        return this.ask('savefilename', () => this.native.fs.savefilename(name, extension));
    }
}

export function folderOf(path) {
    const i = String(path).lastIndexOf('/');
    return i > 0 ? path.substring(0, i) : '';
}

export function baseNameOf(path) {
    return String(path).split('/').pop();
}

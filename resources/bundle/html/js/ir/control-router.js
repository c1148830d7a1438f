// Requests through app.control ("word:json") and their "app" "command"
// answers, handed to the listener registered for the word.
export class ControlRouter {
    constructor(native) {
        this.native = native;
        this.listeners = new Map();
        const previous = native.app.events.command;
        native.app.events.command = (word, json) => {
            let answer = null;
            try {
                answer = JSON.parse(json);
            } catch {
                answer = null;
            }
            const listener = this.listeners.get(word);
            // Shell words such as "wakeup" carry plain text, not JSON.
            if (listener) listener(answer && typeof answer === 'object' ? answer : {}, json);
            else if (!listener && typeof previous === 'function') previous(word, json);
        };
    }

    listen(word, listener) {
        this.listeners.set(word, listener);
    }

    request(word, args) {
        this.native.app.control(`${word}:${JSON.stringify(args)}`);
    }
}

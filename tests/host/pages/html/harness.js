// Test side of the page bridge: a minimal stand-in for the product's bridge
// script, so the host can be checked on its own.
(function () {
    "use strict";
    window.$received = [];   // event texts in arrival order
    window.$handled = [];    // field lists, as handlers would see them
    window.$event = {
        dispatch: function (text) {
            window.$received.push(text);
            setTimeout(function () { window.$handled.push(text.split("\f")); }, 0);
        }
    };
    function decode(result) {
        var type = result.charAt(0), rest = result.substring(1);
        switch (type) {
        case "v": return undefined;
        case "b": return Boolean(rest);
        case "d": return parseInt(rest, 10);
        case "f": return parseFloat(rest);
        case "s": return rest;
        default: throw new Error(rest);
        }
    }
    window.hasNative = function () {
        return !!(window.chrome && chrome.webview && chrome.webview.hostObjects &&
                  chrome.webview.hostObjects.sync && chrome.webview.hostObjects.sync.native);
    };
    // Like the product's script: every argument becomes text first.
    window.rawCall = function (name) {
        var native = chrome.webview.hostObjects.sync.native;
        if (arguments.length === 1) return native(name);
        if (arguments.length === 2) return native(name, "" + arguments[1]);
        return native(name, "" + arguments[1], "" + arguments[2]);
    };
    window.call = function () { return decode(window.rawCall.apply(null, arguments)); };
    window.startEvents = function () { return window.call("$$app_startevent", "true"); };
})();

// The extension's relay between the pages' content scripts and the native bridge. It holds one
// native port for all tabs (the bridge runs one call at a time and answers a second at once with
// the library's busy code), renumbers the pages' messages so two tabs never share an id, and
// forwards only the two message shapes the bridge knows.

export const HOST_NAME = "quillon.bridge";

/** The origins of match patterns such as "http://127.0.0.1/*", which match any port. */
export function allowedOrigin(patterns, origin) {
    let url;
    try {
        url = new URL(origin);
    } catch {
        return false;
    }
    return patterns.some((pattern) => {
        const m = /^(https?):\/\/([^/:]+)(?::(\d+))?\//.exec(pattern);
        return m !== null && url.protocol === m[1] + ":" && url.hostname === m[2] &&
               (m[3] === undefined || url.port === m[3]);
    });
}

/** The message to pass on to the bridge, or null for anything else a page may post. */
export function forwardable(message) {
    if (!message || typeof message !== "object") return null;
    if (typeof message.request === "string") return {request: message.request};
    if (message.cmd === "version") return {cmd: "version"};
    return null;
}

/**
 * chrome: what the relay uses of the extension API (runtime.connectNative, runtime.lastError,
 * runtime.id, runtime.getManifest), so tests can hand in a fake.
 */
export function createRelay(chrome, patterns) {
    const version = chrome.runtime.getManifest().version;
    const pending = new Map();  // bridge id -> {page, id, version}
    let host = null;
    let next = 1;

    function answerPage(entry, answer) {
        try {
            entry.page.postMessage({id: entry.id, answer});
        } catch {
            // The tab went away meanwhile: nobody is left to tell.
        }
    }

    function connectHost() {
        const port = chrome.runtime.connectNative(HOST_NAME);
        port.onMessage.addListener((answer) => {
            const entry = pending.get(answer && answer.id);
            if (!entry) return;  // a page that timed out or closed
            pending.delete(answer.id);
            const out = Object.assign({}, answer, {id: entry.id});
            if (entry.version) out.extension = version;
            answerPage(entry, out);
        });
        port.onDisconnect.addListener(() => {
            const why = (chrome.runtime.lastError && chrome.runtime.lastError.message) ||
                        "the bridge ended";
            if (host === port) host = null;
            for (const [key, entry] of pending) {
                pending.delete(key);
                answerPage(entry, {
                    kind: "no-host",
                    error: `the Quillon native host is not installed or stopped (${why})`,
                });
            }
        });
        return port;
    }

    return {
        /** A content script's port connected: serve it if it comes from an allowed page. */
        onConnect(page) {
            const sender = page.sender || {};
            if (sender.id !== chrome.runtime.id || !allowedOrigin(patterns, sender.origin)) {
                page.disconnect();
                return;
            }
            page.onMessage.addListener((data) => {
                const message = forwardable(data && data.message);
                if (message === null) {
                    answerPage({page, id: data && data.id}, {error: "not a Quillon message"});
                    return;
                }
                const id = next++;
                pending.set(id, {page, id: data.id, version: message.cmd === "version"});
                host = host || connectHost();
                host.postMessage(Object.assign({id}, message));
            });
            page.onDisconnect.addListener(() => {
                for (const [key, entry] of pending) {
                    if (entry.page === page) pending.delete(key);
                }
            });
        },
    };
}

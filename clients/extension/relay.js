// The extension's relay between the pages' content scripts and the native bridge. It holds one
// native port for all tabs, renumbers the pages' messages so two tabs never share an id, checks
// each message's page against the allow-list in force, adds the page's origin to each request,
// and forwards only the two message shapes the bridge knows.
//
// The bridge gives every message a first answer at once (an error, a version or busy answer, or
// "running" for a request it starts). The relay sends one message at a time and waits for that
// first answer before the next, so an error the bridge could not give an id (an over-long or
// unreadable message) belongs to the one message in flight and reaches that page.
import "./origins.js";

const {allowedUrl, readList} = globalThis.QuillonOrigins;

export const HOST_NAME = "quillon.bridge";

/** The message to pass on to the bridge, or null for anything else a page may post. */
export function forwardable(message) {
    if (!message || typeof message !== "object") return null;
    if (typeof message.request === "string") return {request: message.request};
    if (message.cmd === "version") return {cmd: "version"};
    return null;
}

/** The origin of a content script's page when the list allows it, else null. */
export function senderOrigin(patterns, sender) {
    let url;
    try {
        url = new URL(sender.url);
    } catch {
        return null;
    }
    // A sandboxed document has an opaque origin ("null") though its URL may be allowed.
    const same = sender.origin === undefined || sender.origin === url.origin;
    return same && sender.frameId === 0 && allowedUrl(patterns, sender.url) ? url.origin : null;
}

/** What a page gets for a bridge answer: errors typed, with the bridge's stable code. */
export function pageAnswer(answer, id) {
    if (answer.error !== undefined) {
        return {kind: "bridge", error: String(answer.error), errorCode: answer.errorCode ?? null};
    }
    return Object.assign({}, answer, {id});
}

/**
 * chrome: what the relay uses of the extension API (runtime.connectNative, runtime.lastError,
 * runtime.id, runtime.getManifest, storage.managed and storage.local), so tests can hand in a
 * fake.
 */
export function createRelay(chrome) {
    const version = chrome.runtime.getManifest().version;
    const queue = [];           // {page, id, message, origin}: not sent to the bridge yet
    let sending = false;        // a message is being checked, or waits for its first answer
    let inFlight = null;        // the one sent message whose first answer has not come
    const running = new Map();  // bridge id -> entry of a request the bridge runs
    let host = null;
    let next = 1;

    function answerPage(entry, answer) {
        if (entry.gone) return;
        try {
            entry.page.postMessage({id: entry.id, answer});
        } catch {
            // The tab went away meanwhile: nobody is left to tell.
        }
    }

    function settle(entry, answer) {
        const out = pageAnswer(answer, entry.id);
        if (entry.message.cmd === "version" && out.kind === undefined) out.extension = version;
        answerPage(entry, out);
    }

    function onHostMessage(answer) {
        if (!answer || typeof answer !== "object") return;
        if (inFlight !== null && (answer.id === inFlight.bridgeId || answer.id === null)) {
            const entry = inFlight;
            inFlight = null;
            sending = false;
            if (answer.running === true && answer.error === undefined) {
                running.set(entry.bridgeId, entry);
            } else {
                settle(entry, answer);
            }
            pump();
            return;
        }
        const entry = running.get(answer.id);
        if (entry === undefined) return;  // nothing asked for it
        running.delete(answer.id);
        settle(entry, answer);
    }

    function connectHost() {
        const port = chrome.runtime.connectNative(HOST_NAME);
        port.onMessage.addListener(onHostMessage);
        port.onDisconnect.addListener(() => {
            const why = (chrome.runtime.lastError && chrome.runtime.lastError.message) ||
                        "the bridge ended";
            if (host !== port) return;
            host = null;
            const lost = [...running.values()];
            running.clear();
            if (inFlight !== null) {
                lost.push(inFlight);
                inFlight = null;
                sending = false;
            }
            for (const entry of lost) {
                answerPage(entry, {
                    kind: "no-host",
                    error: `the Quillon native host is not installed or stopped (${why})`,
                });
            }
            pump();  // what waited goes to a new bridge
        });
        return port;
    }

    // Sends the next queued message once the list, read again now, still allows its page.
    async function pump() {
        if (sending || queue.length === 0) return;
        sending = true;
        const entry = queue.shift();
        const {patterns} = await readList(chrome.storage).catch(() => ({patterns: []}));
        const origin = senderOrigin(patterns, entry.page.sender || {});
        if (origin === null) {
            sending = false;
            answerPage(entry, {kind: "no-extension",
                               error: `the Quillon extension is not allowed on ${entry.origin}`});
            pump();
            return;
        }
        entry.bridgeId = next++;
        inFlight = entry;
        host = host || connectHost();
        const extra = entry.message.request === undefined ? {} : {origin};
        host.postMessage(Object.assign({id: entry.bridgeId}, entry.message, extra));
    }

    return {
        /** A content script's port connected: serve it if it comes from an allowed page. */
        onConnect(page) {
            const sender = page.sender || {};
            if (sender.id !== chrome.runtime.id) {
                page.disconnect();
                return;
            }
            page.onMessage.addListener((data) => {
                const message = forwardable(data && data.message);
                if (message === null) {
                    answerPage({page, id: data && data.id}, {error: "not a Quillon message"});
                    return;
                }
                queue.push({page, id: data.id, message, origin: sender.origin});
                pump();
            });
            // A closed tab's queued messages are dropped; what the bridge runs for it goes on,
            // and its answers are dropped when they come.
            page.onDisconnect.addListener(() => {
                for (let i = queue.length - 1; i >= 0; i--) {
                    if (queue[i].page === page) queue.splice(i, 1);
                }
                for (const entry of [inFlight, ...running.values()]) {
                    if (entry !== null && entry.page === page) entry.gone = true;
                }
            });
        },
    };
}

import assert from "node:assert/strict";
import fs from "node:fs";
import crypto from "node:crypto";
import vm from "node:vm";
import {describe, it} from "node:test";

import {allowedOrigin, createRelay, forwardable, HOST_NAME} from "../relay.js";

const manifest = JSON.parse(fs.readFileSync(new URL("../manifest.json", import.meta.url), "utf8"));
const PATTERNS = manifest.content_scripts.flatMap((c) => c.matches);

function event() {
    const listeners = [];
    return {listeners, addListener: (f) => listeners.push(f), fire: (...a) => listeners.forEach((f) => f(...a))};
}

function fakePort(sender) {
    return {sender, onMessage: event(), onDisconnect: event(), posted: [], disconnected: false,
            postMessage(m) { this.posted.push(m); }, disconnect() { this.disconnected = true; }};
}

const PAGE = {id: "dhblbfonpbgilccmeljbfofcghblmhgk", origin: "http://127.0.0.1:8080"};

// The part of the extension API the relay uses; connectNative hands out ports the test drives.
function fakeChrome() {
    const natives = [];
    const connectNative = (name) => natives[natives.push({...fakePort(), name}) - 1];
    return {natives, runtime: {id: PAGE.id, lastError: undefined, getManifest: () => manifest, connectNative}};
}

describe("which pages may reach the host", () => {
    const bank = ["http://bank.test:8443/*"];  // a pattern with a port allows that port only
    const cases = [
        ["http://127.0.0.1:8080", true],
        ["http://localhost:3000", true],
        ["http://127.0.0.2:8080", false],
        ["https://127.0.0.1:8080", false],
        ["http://127.0.0.1.example:8080", false],
        ["http://evil.localhost:8080", false],
        [undefined, false],
        ["http://bank.test:8443", true, bank],
        ["http://bank.test:8444", false, bank],
    ];
    for (const [origin, allowed, patterns = PATTERNS] of cases) {
        it(`${origin} ${allowed ? "may" : "may not"}`, () => assert.equal(allowedOrigin(patterns, origin), allowed));
    }
});

describe("what a page may send to the host", () => {
    const cases = [
        [{request: "[ENROLL][0][7]", cmd: "version", extra: 1}, {request: "[ENROLL][0][7]"}],
        [{cmd: "version", id: 99}, {cmd: "version"}],
        [{request: 42}, null],
        [{cmd: "quit"}, null],
        [null, null],
    ];
    for (const [message, forwarded] of cases) {
        it(JSON.stringify(message), () => assert.deepEqual(forwardable(message), forwarded));
    }
});

describe("the relay", () => {
    it("a page of another origin or extension is cut off and never starts the host", () => {
        const chrome = fakeChrome();
        const relay = createRelay(chrome, PATTERNS);
        const pages = [fakePort({id: PAGE.id, origin: "http://127.0.0.2:8080"}),
                       fakePort({id: "another", origin: PAGE.origin}), fakePort({})];
        for (const page of pages) relay.onConnect(page);
        assert.deepEqual(pages.map((p) => [p.disconnected, p.onMessage.listeners.length]),
                         [[true, 0], [true, 0], [true, 0]]);
        assert.equal(chrome.natives.length, 0);
    });

    it("two pages share one host, each answer goes back to its page under the page's id", () => {
        const chrome = fakeChrome();
        const relay = createRelay(chrome, PATTERNS);
        const a = fakePort(PAGE), b = fakePort({...PAGE, origin: "http://localhost:8081"});
        relay.onConnect(a);
        relay.onConnect(b);
        a.onMessage.fire({id: 5, message: {cmd: "shutdown"}});  // answered by the relay itself
        assert.deepEqual(a.posted.splice(0), [{id: 5, answer: {error: "not a Quillon message"}}]);
        assert.equal(chrome.natives.length, 0);
        a.onMessage.fire({id: 1, message: {request: "[ENROLL][1][7]"}});
        b.onMessage.fire({id: 1, message: {cmd: "version"}});
        const [host] = chrome.natives;
        assert.equal(chrome.natives.length, 1);
        assert.equal(host.name, HOST_NAME);
        assert.deepEqual(host.posted, [{id: 1, request: "[ENROLL][1][7]"}, {id: 2, cmd: "version"}]);
        host.onMessage.fire({id: 2, bridge: "0.1.0", dll: "0.1.0"});
        host.onMessage.fire({id: 1, code: 0, reply: "[ENROLL][0][AB][123]"});
        host.onMessage.fire({id: 1, code: 0, reply: "again"});  // answered already: dropped
        assert.deepEqual(a.posted, [{id: 1, answer: {id: 1, code: 0, reply: "[ENROLL][0][AB][123]"}}]);
        assert.deepEqual(b.posted, [{id: 1, answer: {id: 1, bridge: "0.1.0", dll: "0.1.0",
                                                      extension: "0.1.0"}}]);
    });

    it("a host that ends answers every page still waiting, forgets closed tabs, and starts anew", () => {
        const chrome = fakeChrome();
        const relay = createRelay(chrome, PATTERNS);
        const gone = fakePort(PAGE), page = fakePort(PAGE);
        relay.onConnect(gone);
        relay.onConnect(page);
        gone.onMessage.fire({id: 1, message: {request: "[ENROLL][1][7]"}});
        page.onMessage.fire({id: 1, message: {cmd: "version"}});
        page.onMessage.fire({id: 2, message: {request: "[GETBRANCHCODE]"}});
        gone.onDisconnect.fire();
        chrome.natives[0].onMessage.fire({id: 1, code: 0, reply: "[ENROLL][0][AB][123]"});  // late
        chrome.runtime.lastError = {message: "Specified native messaging host not found."};
        chrome.natives[0].onDisconnect.fire();
        chrome.runtime.lastError = undefined;
        const error = "the Quillon native host is not installed or stopped " +
                      "(Specified native messaging host not found.)";
        assert.deepEqual([gone.posted, page.posted], [[], [{id: 1, answer: {kind: "no-host", error}},
                                                           {id: 2, answer: {kind: "no-host", error}}]]);
        page.onMessage.fire({id: 3, message: {request: "[GETBRANCHCODE]"}});
        assert.deepEqual(chrome.natives.map((n) => n.posted.length), [3, 1]);
    });
});

// Objects the script made carry the script context's prototypes: compare their JSON.
const plain = (x) => JSON.parse(JSON.stringify(x));

// The content script as the browser runs it: a classic script with window and chrome as globals.
function runContentScript(origin) {
    const listeners = [];
    const toWorker = [];
    let workerPort = null;
    const connect = () => (workerPort = {...fakePort(), postMessage: (m) => toWorker.push(m)});
    const win = {
        location: {origin},
        document: {documentElement: {dataset: {}}},
        posted: [],
        addEventListener: (type, f) => type === "message" && listeners.push(f),
        postMessage: (data, target) => win.posted.push([data, target]),
        deliver: (data, source, from) => listeners.forEach((f) => f({data, source, origin: from})),
    };
    const source = fs.readFileSync(new URL("../content.js", import.meta.url), "utf8");
    vm.runInNewContext(source, {window: win, chrome: {runtime: {getManifest: () => manifest, connect}}});
    return {win, toWorker, worker: () => workerPort};
}

describe("the content script", () => {
    it("passes on its own window's tagged messages from its own origin only, and answers there", () => {
        const origin = "http://localhost:3000";
        const {win, toWorker, worker} = runContentScript(origin);
        assert.deepEqual(plain(win.document.documentElement.dataset), {quillonExtension: "0.1.0"});
        const message = {request: "[GETBRANCHCODE]"};
        win.deliver({tag: "quillon/page", id: 1, message}, {}, origin);  // a frame
        win.deliver({tag: "quillon/page", id: 2, message}, win, "http://127.0.0.1:8080");
        win.deliver({tag: "other", id: 3, message}, win, origin);
        win.deliver("[GETBRANCHCODE]", win, origin);
        for (const id of [4, 5]) win.deliver({tag: "quillon/page", id, message}, win, origin);
        assert.deepEqual(plain(toWorker), [{id: 4, message}, {id: 5, message}]);
        const first = worker();
        first.onMessage.fire({id: 4, answer: {bridge: "0.1.0"}});
        first.onDisconnect.fire();  // 5 was still running
        const stopped = {kind: "no-host", error: "the Quillon extension stopped during the call"};
        assert.deepEqual(plain(win.posted), [[{tag: "quillon/extension", id: 4, answer: {bridge: "0.1.0"}}, origin],
                                             [{tag: "quillon/extension", id: 5, answer: stopped}, origin]]);
        win.deliver({tag: "quillon/page", id: 6, message}, win, origin);  // connects again
        assert.deepEqual([worker() !== first, toWorker.length], [true, 3]);
    });
});

it("the extension ID the host manifests name follows from the manifest's key", () => {
    const der = Buffer.from(manifest.key, "base64");
    const hex = crypto.createHash("sha256").update(der).digest("hex").slice(0, 32);
    const id = [...hex].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join("");
    const hostManifest = JSON.parse(fs.readFileSync(
        new URL("../../install/quillon.bridge.json", import.meta.url), "utf8"));
    assert.deepEqual(hostManifest.allowed_origins, [`chrome-extension://${id}/`]);
    assert.equal(hostManifest.name, HOST_NAME);
});

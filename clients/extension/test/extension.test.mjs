import assert from "node:assert/strict";
import fs from "node:fs";
import crypto from "node:crypto";
import vm from "node:vm";
import {describe, it} from "node:test";

import {createRelay, forwardable, HOST_NAME} from "../relay.js";

const {parsePattern, matches, currentList} = globalThis.QuillonOrigins;
const manifest = JSON.parse(fs.readFileSync(new URL("../manifest.json", import.meta.url), "utf8"));
const source = (name) => fs.readFileSync(new URL(`../${name}`, import.meta.url), "utf8");
const settle = () => new Promise((r) => setImmediate(r));

describe("which pages a pattern names, and which patterns are refused", () => {
    const cases = [  // pattern, pages it names, pages it does not
        ["https://counter.bank.test/*", ["https://counter.bank.test/teller/index.html", "https://counter.bank.test:8443/"],
         ["http://counter.bank.test/", "https://counter.bank.test.evil.test/", "https://xcounter.bank.test/", "not a url"]],
        ["https://*.bank.test/*", ["https://counter.bank.test/", "https://a.b.bank.test/", "https://bank.test/"],
         ["https://evilbank.test/", "https://bank.test.evil.test/", "http://counter.bank.test/"]],
        ["https://*/*", ["https://anything.test/"], ["http://anything.test/"]],
        ["*://counter.bank.test/*", ["https://counter.bank.test/"], ["http://counter.bank.test/"]],  // "*": https alone
        ["https://COUNTER.bank.test/*", ["https://counter.BANK.test/"], []],
        ["https://counter.bank.test:8443/*", ["https://counter.bank.test:8443/"], ["https://counter.bank.test/"]],
        ["https://counter.bank.test:443/*", ["https://counter.bank.test/"], ["https://counter.bank.test:8443/"]],
        ["https://counter.bank.test:*/*", ["https://counter.bank.test:9/"], []],
        ["https://counter.bank.test/teller/*", ["https://counter.bank.test/teller/a?x=1"], ["https://counter.bank.test/admin/"]],
        ["https://counter.bank.test/a.html", ["https://counter.bank.test/a.html"], ["https://counter.bank.test/aXhtml"]],
        ["http://127.0.0.1/*", ["http://127.0.0.1:8080/demo/"], ["https://127.0.0.1/", "http://127.0.0.2/"]],
        ["http://127.0.0.1:8080/*", ["http://127.0.0.1:8080/"], ["http://127.0.0.1:8081/"]],
        ["http://localhost/*", ["http://localhost:3000/"], ["http://evil.localhost/"]],
    ];
    for (const [pattern, named, others] of cases) {
        it(pattern, () => assert.deepEqual([...named, ...others].map((url) => matches(pattern, url)),
                                           [...named.map(() => true), ...others.map(() => false)]));
    }
    const NOT = "not a match pattern such as https://counter.bank.test/*";
    const HTTP = "plain http only on localhost or 127.0.0.1, named exactly";
    const refused = [
        ["http://counter.bank.test/*", HTTP], ["http://*.localhost/*", HTTP], ["http://*/*", HTTP],
        ["https://counter.bank.test", NOT], ["https://*bank.test/*", NOT], ["https://counter.*.test/*", NOT],
        ["<all_urls>", NOT], ["file:///*", NOT], ["ftp://counter.bank.test/*", NOT], [42, NOT],
        ["https://counter.bank.test:70000/*", "the port is above 65535"],
    ];
    it("refused patterns name nothing, and say why", () => {
        assert.deepEqual(refused.map(([pattern]) => [parsePattern(pattern), matches(pattern, "http://counter.bank.test/")]),
                         refused.map(([, error]) => [{error}, false]));
    });
});

it("a policy list replaces the trial list and locks it; without either nothing is allowed", () => {
    const trial = {trialOrigins: ["http://127.0.0.1/*", 7]};
    const cases = [
        [{AllowedOrigins: ["https://*.bank.test/*"]}, trial, {patterns: ["https://*.bank.test/*"], locked: true}],
        [{AllowedOrigins: []}, trial, {patterns: [], locked: true}],
        [{}, trial, {patterns: ["http://127.0.0.1/*"], locked: false}],
        [{}, {}, {patterns: [], locked: false}],
    ];
    for (const [managed, local, list] of cases) assert.deepEqual(currentList(managed, local), list);
});

function event() {
    const listeners = [];
    return {listeners, addListener: (f) => listeners.push(f), fire: (...a) => listeners.forEach((f) => f(...a))};
}

function fakePort(sender) {
    return {sender, onMessage: event(), onDisconnect: event(), posted: [], disconnected: false,
            postMessage(m) { this.posted.push(m); }, disconnect() { this.disconnected = true; }};
}

const ID = "dhblbfonpbgilccmeljbfofcghblmhgk";
const COUNTER = "https://counter.bank.test";
const page = (origin = COUNTER, extra = {}) =>
    fakePort({id: ID, origin, url: `${origin}/teller/`, frameId: 0, ...extra});

// The part of the extension API the relay uses; connectNative hands out ports the test drives,
// and the two storage areas hold what the test puts in `stored`.
function fakeChrome(stored = {managed: {AllowedOrigins: ["https://*.bank.test/*"]}, local: {}}) {
    const natives = [];
    const connectNative = (name) => natives[natives.push({...fakePort(), name}) - 1];
    const area = (name) => ({get: async (key) => ({[key]: stored[name][key]})});
    return {natives, stored, runtime: {id: ID, lastError: undefined, getManifest: () => manifest, connectNative},
            storage: {managed: area("managed"), local: area("local")}};
}

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
    it("a page the list does not name, a frame, a sandboxed page or another extension never starts the host", async () => {
        const chrome = fakeChrome();
        const relay = createRelay(chrome);
        const refused = [page("https://other.test"), page("http://127.0.0.1:8080"), page(COUNTER, {frameId: 3}),
                         page("null", {url: `${COUNTER}/`})];
        const stranger = fakePort({id: "another", origin: COUNTER, url: `${COUNTER}/`, frameId: 0});
        for (const p of [...refused, stranger]) {
            relay.onConnect(p);
            p.onMessage.fire({id: 1, message: {cmd: "version"}});
        }
        await settle();
        assert.deepEqual(refused.map((p) => p.posted), refused.map((p) => [{id: 1, answer: {
            kind: "no-extension", error: `the Quillon extension is not allowed on ${p.sender.origin}`}}]));
        assert.deepEqual([stranger.disconnected, stranger.onMessage.listeners.length, chrome.natives.length], [true, 0, 0]);
    });

    it("sends one message at a time with the page's origin, and gives each answer to its page", async () => {
        const chrome = fakeChrome();
        const relay = createRelay(chrome);
        const a = page(), b = page("https://desk.bank.test:8443");
        relay.onConnect(a);
        relay.onConnect(b);
        a.onMessage.fire({id: 5, message: {cmd: "shutdown"}});  // answered by the relay itself
        assert.deepEqual(a.posted.splice(0), [{id: 5, answer: {error: "not a Quillon message"}}]);
        a.onMessage.fire({id: "a:1", message: {request: "[ENROLL][1][7]"}});
        b.onMessage.fire({id: "b:1", message: {request: "[GETSERIALNUMBER][0][7]"}});
        b.onMessage.fire({id: "b:2", message: {cmd: "version"}});
        const long = `[VERIFY][0][7][${"A".repeat(5000)}]`;
        a.onMessage.fire({id: "a:2", message: {request: long}});
        await settle();
        const [host] = chrome.natives;
        const origin = (o) => ({origin: o});
        assert.deepEqual([chrome.natives.length, host.name, host.posted],
                         [1, HOST_NAME, [{id: 1, request: "[ENROLL][1][7]", ...origin(COUNTER)}]]);
        host.onMessage.fire({id: 1, running: true});
        await settle();
        host.onMessage.fire({id: 2, code: -1008, reply: "[GETSERIALNUMBER][-1008][123]",
                             heldBy: {command: "ENROLL", origin: COUNTER}});
        await settle();
        host.onMessage.fire({id: 3, bridge: "0.1.0", dll: "0.1.0"});
        await settle();
        host.onMessage.fire({id: null, error: "message too long", errorCode: "message-too-long"});
        host.onMessage.fire({id: null, error: "invalid JSON", errorCode: "invalid-json"});  // nothing in flight
        host.onMessage.fire({id: 1, code: 0, reply: "[ENROLL][0][AB][123]"});
        host.onMessage.fire({id: 1, code: 0, reply: "again"});  // answered already: dropped
        assert.deepEqual(host.posted.slice(1), [
            {id: 2, request: "[GETSERIALNUMBER][0][7]", ...origin("https://desk.bank.test:8443")},
            {id: 3, cmd: "version"}, {id: 4, request: long, ...origin(COUNTER)}]);
        assert.deepEqual(a.posted, [
            {id: "a:2", answer: {kind: "bridge", error: "message too long", errorCode: "message-too-long"}},
            {id: "a:1", answer: {id: "a:1", code: 0, reply: "[ENROLL][0][AB][123]"}}]);
        assert.deepEqual(b.posted, [
            {id: "b:1", answer: {id: "b:1", code: -1008, reply: "[GETSERIALNUMBER][-1008][123]",
                                 heldBy: {command: "ENROLL", origin: COUNTER}}},
            {id: "b:2", answer: {id: "b:2", bridge: "0.1.0", dll: "0.1.0", extension: "0.1.0"}}]);
    });

    it("checks the list again for each message: a page the policy no longer names is refused", async () => {
        const chrome = fakeChrome();
        const relay = createRelay(chrome);
        const a = page();
        relay.onConnect(a);
        a.onMessage.fire({id: 1, message: {cmd: "version"}});
        await settle();
        chrome.natives[0].onMessage.fire({id: 1, bridge: "0.1.0", dll: "0.1.0"});
        chrome.stored.managed.AllowedOrigins = ["https://desk.bank.test/*"];
        a.onMessage.fire({id: 2, message: {request: "[GETBRANCHCODE]"}});
        await settle();
        assert.deepEqual([chrome.natives[0].posted.length, a.posted[1]], [1, {id: 2, answer: {
            kind: "no-extension", error: `the Quillon extension is not allowed on ${COUNTER}`}}]);
    });

    it("a host that ends answers every page still waiting, forgets closed tabs, and starts anew", async () => {
        const chrome = fakeChrome();
        const relay = createRelay(chrome);
        const gone = page(), waiting = page();
        relay.onConnect(gone);
        relay.onConnect(waiting);
        gone.onMessage.fire({id: 1, message: {request: "[ENROLL][1][7]"}});
        waiting.onMessage.fire({id: 1, message: {request: "[GETBRANCHCODE]"}});
        gone.onMessage.fire({id: 2, message: {request: "[GETBRANCHCODE]"}});  // still queued when it closes
        await settle();
        chrome.natives[0].onMessage.fire({id: 1, running: true});
        await settle();
        gone.onDisconnect.fire();
        chrome.runtime.lastError = {message: "Specified native messaging host not found."};
        chrome.natives[0].onDisconnect.fire();
        chrome.runtime.lastError = undefined;
        const error = "the Quillon native host is not installed or stopped " +
                      "(Specified native messaging host not found.)";
        assert.deepEqual([gone.posted, waiting.posted], [[], [{id: 1, answer: {kind: "no-host", error}}]]);
        waiting.onMessage.fire({id: 2, message: {request: "[GETBRANCHCODE]"}});
        await settle();
        assert.deepEqual(chrome.natives.map((n) => n.posted.length), [2, 1]);
    });
});

// Objects the script made carry the script context's prototypes: compare their JSON.
const plain = (x) => JSON.parse(JSON.stringify(x));

// The content scripts as the browser runs them: classic scripts in one context with window and
// chrome as globals, the allow-list in `stored`.
async function runContentScript(url, stored, visibilityState = "visible") {
    const origin = new URL(url).origin;
    const listeners = [];
    const toWorker = [];
    let workerPort = null;
    const connect = () => (workerPort = {...fakePort(), postMessage: (m) => toWorker.push(m)});
    const win = {
        location: {origin, href: url},
        document: {documentElement: {dataset: {}}, visibilityState},
        posted: [],
        addEventListener: (type, f) => type === "message" && listeners.push(f),
        postMessage: (data, target) => win.posted.push([data, target]),
        deliver: (data, from = win, at = origin) => listeners.forEach((f) => f({data, source: from, origin: at})),
    };
    const chrome = fakeChrome(stored);
    const context = vm.createContext({window: win, chrome: {...chrome, runtime: {getManifest: () => manifest, connect}}, URL});
    for (const name of manifest.content_scripts[0].js) vm.runInContext(source(name), context);
    await settle();
    return {win, toWorker, listeners, worker: () => workerPort};
}

describe("the content script", () => {
    const policy = (...patterns) => ({managed: {AllowedOrigins: patterns}, local: {trialOrigins: [`${COUNTER}/*`]}});
    it("stays inert where the list in force does not name the page: no listener, no mark, nothing posted", async () => {
        const cases = [
            ["https://other.test/", policy("https://*.bank.test/*")],
            ["https://counter.bank.test/", policy("https://desk.bank.test/*")],  // the trial list does not count
            ["http://127.0.0.1:8080/demo/", policy("https://*.bank.test/*")],
            ["http://127.0.0.1:8080/demo/", {managed: {}, local: {}}],
        ];
        for (const [url, stored] of cases) {
            const {win, listeners} = await runContentScript(url, stored);
            assert.deepEqual([listeners.length, plain(win.document.documentElement.dataset), win.posted], [0, {}, []], url);
        }
    });

    it("on a named page passes on its own window's tagged messages from its own origin only, and answers there", async () => {
        const url = "http://localhost:3000/teller/";
        const origin = "http://localhost:3000";
        const {win, toWorker, worker} = await runContentScript(url, {managed: {}, local: {trialOrigins: ["http://localhost/*"]}});
        assert.deepEqual(plain([win.document.documentElement.dataset, win.posted.splice(0)]),
                         [{quillonExtension: "0.1.0"}, [[{tag: "quillon/extension", ready: "0.1.0"}, origin]]]);
        const message = {request: "[GETBRANCHCODE]"};
        win.deliver({tag: "quillon/page", id: 1, message}, {}, origin);  // a frame
        win.deliver({tag: "quillon/page", id: 2, message}, win, "http://127.0.0.1:8080");
        win.deliver({tag: "other", id: 3, message});
        win.deliver("[GETBRANCHCODE]");
        for (const id of [4, 5]) win.deliver({tag: "quillon/page", id, message});
        assert.deepEqual(plain(toWorker), [{id: 4, message}, {id: 5, message}]);
        const first = worker();
        first.onMessage.fire({id: 4, answer: {bridge: "0.1.0"}});
        first.onDisconnect.fire();  // 5 was still running
        const stopped = {kind: "no-host", error: "the Quillon extension stopped during the call"};
        assert.deepEqual(plain(win.posted), [[{tag: "quillon/extension", id: 4, answer: {bridge: "0.1.0"}}, origin],
                                             [{tag: "quillon/extension", id: 5, answer: stopped}, origin]]);
        win.deliver({tag: "quillon/page", id: 6, message});  // connects again
        assert.deepEqual([worker() !== first, toWorker.length], [true, 3]);
    });

    it("refuses a call while the page is not in view, and sends nothing", async () => {
        const {win, toWorker, worker} = await runContentScript(`${COUNTER}/`, policy("https://*.bank.test/*"), "hidden");
        win.posted.splice(0);
        win.deliver({tag: "quillon/page", id: 1, message: {request: "[ENROLL][0][0]"}});
        assert.deepEqual(plain([win.posted, toWorker, worker()]), [[[{tag: "quillon/extension", id: 1, answer: {
            kind: "not-visible", error: "the page is not in view (a background tab or a minimised window): " +
                                        "Quillon takes calls only from the page in front"}}, COUNTER]], [], null]);
    });
});

it("the extension ID the host manifests name follows from the manifest's key", () => {
    const der = Buffer.from(manifest.key, "base64");
    const hex = crypto.createHash("sha256").update(der).digest("hex").slice(0, 32);
    const id = [...hex].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join("");
    const hostManifest = JSON.parse(fs.readFileSync(
        new URL("../../install/quillon.bridge.json", import.meta.url), "utf8"));
    assert.deepEqual([id, hostManifest.allowed_origins, hostManifest.name], [ID, [`chrome-extension://${id}/`], HOST_NAME]);
});

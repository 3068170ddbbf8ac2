import assert from "node:assert/strict";
import fs from "node:fs";
import {describe, it} from "node:test";

import {createClient, extensionTransport, MYKAD_MODES, QuillonError, RESULTS, TIMEOUTS}
    from "../quillon.js";

const T1 = "1D66AFF8418AD31C65AEF740" + "0".repeat(1172);
const T2 = "ab".repeat(598);

// A message check: a pattern, or the exact text.
const like = (message) => message instanceof RegExp ? message :
    new RegExp("^" + message.replace(/[.*+?^${}()|[\]\\]/g, "\\$&") + "$");

// A stand-in host: answers each request from a table, records what reached it.
function standIn(answers) {
    const sent = [];
    return {
        sent,
        send(message) {
            sent.push(message);
            const key = message.request ?? message.cmd;
            if (!(key in answers)) return Promise.reject(new Error(`unexpected ${key}`));
            return Promise.resolve(answers[key]);
        },
    };
}

describe("the request each call sends, or the argument it refuses before anything is sent", () => {
    const cases = [
        ["getSerialNumber", [{show: true, port: 7}], "[GETSERIALNUMBER][1][7]"],
        ["getSerialNumber", [], "[GETSERIALNUMBER][0][0]"],
        ["enroll", [{show: 1, port: 7}], "[ENROLL][1][7]"],
        ["getSignature", [{show: false, port: 3}], "[GETSIGNATURE][0][3]"],
        ["verify", [T1.toLowerCase(), {port: 7}], `[VERIFY][0][7][${T1}]`],
        ["verify2f", [T1, T2, {show: true, port: 7}], `[VERIFY2F][1][7][${T1}${T2.toUpperCase()}]`],
        ["setDateTime", [new Date(2026, 2, 14, 9, 30, 5), {port: 7}], "[SETDATETIME][7][260314093005]"],
        ["readMyKad", [{texts: ["ALI BIN ABU", "KL01", "OPERATOR7"]}],
         "[READMYKAD][0][0][ALI BIN ABU][KL01][OPERATOR7]"],
        ["readMyKad", [{mode: "READMYKADNOVERIFYNOPHOTO", texts: ["COUNTER-07"], show: true, port: 0}],
         "[READMYKADNOVERIFYNOPHOTO][1][0][COUNTER-07][][]"],
        // Refused: [type, message].
        ["readMyKad", [{texts: ["", "[X"]}], [TypeError, "text 2 must not contain brackets"]],
        ["readMyKad", [{texts: ["", "", "OPERATOR-NUMBER-0007"]}],
         [RangeError, "text 3 is longer than 19 characters"]],
        ["readMyKad", [{texts: ["ALÍ"]}], [TypeError, "text 1 must be printable ASCII"]],
        ["readMyKad", [{mode: "READ"}], [RangeError, /^mode must be one of READMYKAD, /]],
        ["enroll", [{port: 256}], [RangeError, /^port must be an integer/]],
        ["getSerialNumber", [{port: "7]"}], [RangeError, /^port must be an integer/]],
        ["verify", [T1.slice(2) + "G0"], [TypeError, "the template must be a string of hexadecimal digits"]],
        ["verify2f", [T1, T1 + "00"],
         [RangeError, "the second template must be 1196 hexadecimal digits, not 1198"]],
        ["setDateTime", ["2603140930"], [TypeError, "the time must be a Date or twelve digits YYMMDDhhmmss"]],
        ["setDateTime", [new Date(NaN)], [RangeError, "the date is invalid"]],
    ];
    for (const [name, args, expected] of cases) {
        it(`${name}: ${String(expected).slice(0, 60)}`, async () => {
            const host = standIn({});
            const [type, message] = typeof expected === "string" ? [Error, /^unexpected /] : expected;
            await assert.rejects(createClient(host)[name](...args), (e) => {
                assert.ok(e instanceof type, e.constructor.name);
                assert.match(e.message, like(message));
                return true;
            });
            assert.deepEqual(host.sent, typeof expected === "string" ? [{request: expected}] : []);
        });
    }
});

describe("replies taken apart", () => {
    const payload = "5oO6N218Z0W7jkCQeql47Qr7+/";
    const cases = [
        ["getBranchCode", [], "[GETBRANCHCODE]", 0, "[GETBRANCHCODE][0][KL042][Cawangan Tengah][192.0.2.2][123]",
         {status: 0, branchCode: "KL042", name: "Cawangan Tengah", address: "192.0.2.2"}],
        // The branch's status is not a result code: 1 (no branch name) still resolves.
        ["getBranchCode", [], "[GETBRANCHCODE]", 0, "[GETBRANCHCODE][1][EMPTY][EMPTY][192.0.2.2][123]",
         {status: 1, branchCode: "EMPTY", name: "EMPTY", address: "192.0.2.2"}],
        ["getFirmwareVersion", [{port: 7}], "[GETFIRMWAREVERSION][0][7]", 0,
         "[GETFIRMWAREVERSION][0][BANK SERINDIT CAWANGAN TENGAH][123]",
         {customerName: "BANK SERINDIT CAWANGAN TENGAH"}],
        ["enroll", [{port: 7}], "[ENROLL][0][7]", 0, `[ENROLL][0][${T1}][123]`, {template: T1}],
        ["getSignature", [{port: 7}], "[GETSIGNATURE][0][7]", 0,
         "[GETSIGNATURE][0][00017F80ABFF][123]", {signature: "00017F80ABFF"}],
        ["verify", [T1, {port: 7}], `[VERIFY][0][7][${T1}]`, 0, "[VERIFY][0][123]", {}],
        ["readMyKad", [{texts: ["A"]}], "[READMYKAD][0][0][A][][]", 0,
         `[READMYKAD][0][0][${payload}][vmZY+/=]`,
         {cardType: "MyKad", payload, photo: "vmZY+/="}],
        ["readMyKad", [{mode: "READMYKADNOPHOTO"}], "[READMYKADNOPHOTO][0][0][][][]", 0,
         `[READMYKADNOPHOTO][0][1][${payload}]`, {cardType: "MyKid", payload, photo: null}],
    ];
    for (const [name, args, request, code, reply, fields] of cases) {
        it(`${name}: ${reply.slice(0, 48)}`, async () => {
            const got = await createClient(standIn({[request]: {id: 1, code, reply}}))[name](...args);
            assert.deepEqual(got, {...fields, code, reply});
        });
    }
});

describe("a nonzero code, an answer the client cannot read, a failure on the way: each rejects", () => {
    const HELD = {command: "READMYKAD", origin: "https://counter.bank.test"};
    // The meanings themselves are the documented table's, checked whole below.
    const cases = [
        ["getSerialNumber", {code: -4, reply: "[GETSERIALNUMBER][-4][123]"}, "result", -4,
         "QUILLON_RESULT_PORT_OPEN_FAILED", /^GETSERIALNUMBER failed with -4: the terminal's COM port/],
        ["enroll", {code: -1008, reply: "[ENROLL][-1008][123]", heldBy: HELD}, "result", -1008, "QUILLON_RESULT_BUSY",
         /^ENROLL failed with -1008: another call was still running/, null, HELD],
        // The reader library's own code, passed on: no name of ours, the table's "other" row.
        ["readMyKad", {code: -77, reply: "[READMYKAD][-77][123]"}, "result", -77, null,
         /^READMYKAD failed with -77: MyKad commands: the failing result of the card-reader/],
        // A wrong access code leaves the reply buffer untouched: the code alone tells.
        ["getSignature", {code: -9999, reply: ""}, "result", -9999, "QUILLON_RESULT_WRONG_ACCESS",
         /^GETSIGNATURE failed with -9999: the access code differs/],
        ["enroll", {code: 0, reply: "[GETSERIALNUMBER][0][X][123]"}, "reply", null, null,
         "ENROLL: the reply cannot be read"],
        ["enroll", {code: 0, reply: "[ENROLL][-3][123]"}, "reply", null, null,
         "ENROLL: the reply cannot be read"],
        ["enroll", {kind: "bridge", error: "message too long", errorCode: "message-too-long"}, "bridge", null, null,
         "ENROLL: message too long", "message-too-long"],
        ["version", {kind: "bridge", error: "invalid JSON", errorCode: "invalid-json"}, "bridge", null, null,
         "invalid JSON", "invalid-json"],
        ["enroll", {kind: "no-host", error: "the Quillon native host is not installed"}, "no-host",
         null, null, "ENROLL: the Quillon native host is not installed"],
        ["enroll", {kind: "not-visible", error: "the page is not in view"}, "not-visible", null, null,
         "ENROLL: the page is not in view"],
    ];
    for (const [name, answer, kind, code, codeName, message, errorCode = null, heldBy = null] of cases) {
        it(`${name}: ${JSON.stringify(answer).slice(0, 60)}`, async () => {
            const client = createClient({send: () => Promise.resolve(answer)});
            await assert.rejects(client[name](), (e) => {
                assert.ok(e instanceof QuillonError);
                assert.deepEqual([e.kind, e.code, e.codeName, e.errorCode, e.heldBy], [kind, code, codeName, errorCode, heldBy]);
                assert.match(e.message, like(message));
                return true;
            });
        });
    }
});

it("available() only when the bridge has its library; version(); a transport's own fault shows", async () => {
    const both = {id: 1, bridge: "0.1.0", dll: "0.1.0", extension: "0.1.0"};
    const noHost = {kind: "no-host", error: "not installed"};
    for (const [answer, available] of [[both, true], [noHost, false], [{...both, dll: null}, false]]) {
        const host = standIn({version: answer});
        assert.equal(await createClient(host).available(), available, JSON.stringify(answer));
        assert.deepEqual(host.sent, [{cmd: "version"}]);
    }
    assert.deepEqual(await createClient(standIn({version: {...both, dll: null}})).version(),
                     {bridge: "0.1.0", dll: null, extension: "0.1.0"});
    await assert.rejects(createClient({send: () => Promise.reject(new RangeError("bug"))}).available(), RangeError);
});

describe("the page-side time-out of each command", () => {
    const cases = [
        ["getBranchCode", [], {}, 6000, "GETBRANCHCODE: no answer within 6 s"],
        ["readMyKad", [{mode: "READMYKADNOPHOTO"}], {}, 840000, "READMYKAD: no answer within 840 s"],
        ["enroll", [{timeout: 1500}], {}, 1500, "ENROLL: no answer within 1.5 s"],
        ["version", [], {}, 5000, "version: no answer within 5 s"],
        // A bank whose settings lengthen the library's time-outs.
        ["readMyKad", [], {timeouts: {READMYKAD: 130000}}, 130000, "READMYKAD: no answer within 130 s"],
    ];
    for (const [name, args, options, limit, message] of cases) {
        it(`${name} gives up after ${limit} ms`, async (t) => {
            t.mock.timers.enable({apis: ["setTimeout"]});
            let outcome = null;
            createClient({send: () => new Promise(() => {})}, options)[name](...args)
                .catch((e) => { outcome = e; });
            const settle = () => new Promise((r) => setImmediate(r));
            for (const step of [limit - 1, 1]) {
                await settle();
                assert.equal(outcome, null);
                t.mock.timers.tick(step);
            }
            await settle();
            assert.deepEqual([outcome?.kind, outcome?.message], ["timeout", message]);
        });
    }
});

it("the client knows every command of the library's command table, and no other", () => {
    const table = fs.readFileSync(new URL("../../../src/command/commands.h", import.meta.url), "utf8");
    const rows = [...table.matchAll(/^ *\{"([A-Z0-9]+)", CommandKind::(\w+),/gm)];
    const reads = rows.filter(([, , kind]) => kind === "kCardRead").map(([, keyword]) => keyword);
    const others = rows.filter(([, , kind]) => kind !== "kCardRead").map(([, keyword]) => keyword);
    assert.equal(rows.length, 12);
    assert.deepEqual([...MYKAD_MODES].sort(), reads.sort());
    // The card reads share READMYKAD's time-out; version is the bridge's, not the library's.
    assert.deepEqual(Object.keys(TIMEOUTS).filter((k) => k !== "version").sort(),
                     [...others, "READMYKAD"].sort());
});

it("the result table says what the documented result-code table says", () => {
    const doc = fs.readFileSync(new URL("../../../docs/result-codes.md", import.meta.url), "utf8");
    const rows = [...doc.matchAll(/^\| (-?\d+) \| `(\w+)` \| (.*?) \| [^|]* \|$/gm)];
    const documented = Object.fromEntries(rows.map(([, code, name, meaning]) =>
        [code, [name, meaning.replace(/`/g, "")]]));
    assert.equal(rows.length, 13);
    assert.deepEqual(Object.fromEntries(Object.entries(RESULTS).map(([c, v]) => [c, [...v]])), documented);
});

// A window as the page and the content script share it: its listeners, and what was posted.
function fakeWindow(origin, marked = true) {
    const listeners = [];
    const win = {
        location: {origin},
        document: {documentElement: {dataset: marked ? {quillonExtension: "0.1.0"} : {}}},
        posted: [],
        addEventListener: (type, f) => listeners.push(f),
        postMessage: (data, target) => win.posted.push([data, target]),
        deliver: (data, source = win, from = origin) => listeners.forEach((f) => f({data, source, origin: from})),
    };
    return win;
}

describe("the page's side of the extension", () => {
    const origin = "http://127.0.0.1:8080";
    const ID = /^[0-9a-f]{16}:[12]$/;
    it("posts tagged to its own origin and takes answers only from its own window, origin and client", async () => {
        const win = fakeWindow(origin);
        const [one, two] = [createClient(extensionTransport(win)), createClient(extensionTransport(win))];
        const results = [one.getSerialNumber({port: 7}), two.getSerialNumber({port: 7}), one.getBranchCode()];
        await new Promise((r) => setImmediate(r));
        const ids = win.posted.map(([data]) => data.id);
        assert.deepEqual(win.posted, [
            [{tag: "quillon/page", id: ids[0], message: {request: "[GETSERIALNUMBER][0][7]"}}, origin],
            [{tag: "quillon/page", id: ids[1], message: {request: "[GETSERIALNUMBER][0][7]"}}, origin],
            [{tag: "quillon/page", id: ids[2], message: {request: "[GETBRANCHCODE]"}}, origin]]);
        // Each client numbers from 1 under a prefix of its own.
        assert.deepEqual([ids.map((id) => ID.test(id)), ids[0].slice(0, 16) === ids[2].slice(0, 16),
                          ids[0].slice(0, 16) !== ids[1].slice(0, 16), ids.map((id) => id.slice(17))],
                         [[true, true, true], true, true, ["1", "1", "2"]]);
        const answer = (serial) => ({code: 0, reply: `[GETSERIALNUMBER][0][${serial}][123]`});
        win.deliver({tag: "quillon/extension", id: ids[0], answer: answer("FORGED")}, {}, origin);  // a frame
        win.deliver({tag: "quillon/extension", id: ids[0], answer: answer("FORGED")}, win, "http://127.0.0.2:8080");
        win.deliver({tag: "quillon/page", id: ids[0], answer: answer("FORGED")});
        win.deliver({tag: "quillon/extension", id: ids[1], answer: answer("QT-2")});
        win.deliver({tag: "quillon/extension", id: ids[0], answer: answer("QT-1")});
        win.deliver({tag: "quillon/extension", id: ids[2], answer: {code: 0, reply: "[GETBRANCHCODE][1][E][E][A][123]"}});
        assert.deepEqual([(await results[0]).serialNumber, (await results[1]).serialNumber, (await results[2]).status],
                         ["QT-1", "QT-2", 1]);
    });
    it("a call made before the content script marked the page waits for it, at most a second", async (t) => {
        t.mock.timers.enable({apis: ["setTimeout"]});
        const [late, absent] = [fakeWindow(origin, false), fakeWindow("http://127.0.0.2:8080", false)];
        const outcomes = [late, absent].map((win) => createClient(extensionTransport(win)).version()
            .then((v) => v, (e) => ({kind: e.kind, message: e.message})));
        late.document.documentElement.dataset.quillonExtension = "0.1.0";
        late.deliver({tag: "quillon/extension", ready: "0.1.0"});
        await new Promise((r) => setImmediate(r));
        late.deliver({tag: "quillon/extension", id: late.posted[0][0].id, answer: {bridge: "0.1.0", dll: null}});
        assert.deepEqual([await outcomes[0], absent.posted], [{bridge: "0.1.0", dll: null, extension: null}, []]);
        t.mock.timers.tick(999);
        await new Promise((r) => setImmediate(r));
        t.mock.timers.tick(1);
        assert.deepEqual([await outcomes[1], absent.posted], [{kind: "no-extension",
            message: "the Quillon extension is not installed, or not allowed on http://127.0.0.2:8080"}, []]);
    });
});

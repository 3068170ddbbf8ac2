// The web demo end to end: Debian's chromium with the extension, the demo page served over https
// on counter.bank.test and over http on 127.0.0.1, the native host manifest in the browser
// profile naming a launcher that runs quillon_bridge.exe under wine64 against the terminal
// simulator on COM7 and the stand-in reader. First without a policy (the extension unpacked,
// nothing allowed until a trial origin is added), then with the bank's policy (the extension
// force-installed, its allow-list "https://*.bank.test/*").
import assert from "node:assert/strict";
import {spawnSync} from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {after, before, describe, it} from "node:test";

import {addTrialOrigin, startBrowser, startRig} from "./session.mjs";

const ARTEFACTS = path.join(process.env.QUILLON_NATIVE_DIR || os.tmpdir(), "artefacts");
const B64 = "[A-Za-z0-9+/=]";
const READY = "Ready: extension 0.1.0, bridge 0.1.0, quillon.dll 0.1.0";
const POLICY = ["https://*.bank.test/*"];

let rig, session, setup, page, frames;

async function until(check, what, ms = 15000) {
    const end = Date.now() + ms;
    while (!check()) {
        assert.ok(Date.now() < end, `waited ${ms} ms for ${what}`);
        await new Promise((r) => setTimeout(r, 50));
    }
}

// What a command's panel shows once its call ended: the code line, the reply, the fields.
async function click(id, ms = 40000) {
    await page.click(`#run-${id}`);
    return outcome(id, ms);
}

async function outcome(id, ms = 40000) {
    const out = page.locator(`#out-${id}`);
    await page.waitForFunction((el) => el.textContent && !el.querySelector(".busy"),
                               await out.elementHandle(), {timeout: ms});
    return out.evaluate((el) => ({
        code: el.querySelector(".code").textContent,
        reply: el.querySelector(".reply")?.textContent ?? null,
        fields: Object.fromEntries([...el.querySelectorAll("dt")].map((dt) => [dt.textContent,
                                                                             dt.nextElementSibling.textContent])),
        ...(el.querySelector(".held") ? {held: el.querySelector(".held").textContent} : {}),
    }));
}

// The demo page's status line once its first call (a version query) settled.
async function status(p, url) {
    if (url) await p.goto(url);
    // Polled by timer: a background tab runs no animation frames.
    await p.waitForFunction(() => document.getElementById("status").textContent !== "Looking for the Quillon extension…",
                            null, {timeout: 30000, polling: 100});
    return p.textContent("#status");
}

// What a page of this origin gets for a message posted as the client posts it: the answers.
function probe(p) {
    return p.evaluate(() => new Promise((resolve) => {
        const seen = [];
        window.addEventListener("message", (e) => e.data?.tag === "quillon/extension" && seen.push(e.data));
        window.postMessage({tag: "quillon/page", id: 1, message: {request: "[GETSERIALNUMBER][0][7]"}}, "*");
        setTimeout(() => resolve({seen, mark: document.documentElement.dataset.quillonExtension ?? null}), 2000);
    }));
}

// The options page: where the list comes from, and the list.
const shownList = (p) => p.evaluate(() => ({source: document.getElementById("source").textContent,
                                            patterns: [...document.querySelectorAll("#patterns li")].map((li) => li.firstChild.textContent)}));

before(async () => {
    rig = await startRig();
    ({setup, frames} = rig);
});

after(async () => {
    try {
        await session?.close();
    } finally {
        await rig?.close();  // whatever the browser's end did: the rig keeps the process alive
    }
});

it("without a policy nothing is allowed until a trial origin is added on the options page", async () => {
    session = await startBrowser(rig);
    const demo = `${session.http}/demo/index.html`;
    assert.equal(await status(session.page, demo), `the Quillon extension is not installed, or not allowed on ${session.http}`);
    assert.equal(rig.starts(), 0);
    const options = await session.openOptions();
    assert.deepEqual(await shownList(options), {source: "No policy is set: only the pages listed here may use Quillon, for a trial.",
                                                patterns: ["none: no page may use Quillon"]});
    await options.fill("#pattern", "http://192.0.2.7/*");
    await options.click("#add-button");
    assert.equal(await options.textContent("#error"), "http://192.0.2.7/*: plain http only on localhost or 127.0.0.1, named exactly");
    await addTrialOrigin(options, "http://127.0.0.1/*");
    assert.deepEqual((await shownList(options)).patterns, ["http://127.0.0.1/*"]);
    await options.close();
    await session.page.bringToFront();
    assert.equal(await status(session.page, demo), READY);
    assert.equal(rig.starts(), 1);
    await session.close();
    session = null;
});

describe("with the bank's policy, the extension force-installed from the bank's server", () => {
    let starts, counter;
    before(async () => {
        await session?.close();  // the first test's, had it failed
        session = await startBrowser(rig, {policy: POLICY});
        page = session.page;
        starts = rig.starts();
        counter = session.https("counter.bank.test");
    });

    it("the options page shows the policy's list, locked", async () => {
        const options = await session.openOptions();
        assert.deepEqual([await shownList(options), await options.isHidden("#add")],
                         [{source: "Set by your organisation's browser policy: it cannot be changed here.", patterns: POLICY}, true]);
        await options.close();
        await page.bringToFront();
    });

    it("a page the list does not name gets nothing: no mark, no answer, no bridge start", async () => {
        for (const origin of [session.https("other.test"), session.https("counter.bank.test.other.test"), session.http]) {
            assert.equal(await status(page, `${origin}/demo/index.html`),
                         `the Quillon extension is not installed, or not allowed on ${origin}`);
            assert.deepEqual(await probe(page), {seen: [], mark: null}, origin);
        }
        assert.equal(rig.starts(), starts);
    });

    it("finds the extension and the bridge on the allowed page and shows their versions", async () => {
        assert.equal(await status(page, `${counter}/demo/index.html`), READY);
        assert.equal(rig.starts(), starts + 1);
        await page.fill("#port", "7");
        assert.deepEqual(await click("version"), {code: "0: success", reply: null,
                                                  fields: {bridge: "0.1.0", "quillon.dll": "0.1.0", extension: "0.1.0"}});
    });

    it("each terminal query shows the reply the end-to-end tables know and its fields", async () => {
        const cases = [
            ["serial", setup.expected.serial, {"serial number": "QT-2026-00042"}],
            ["firmware", setup.expected.firmware, {"customer name": "BANK SERINDIT CAWANGAN TENGAH"}],
            ["datetime", setup.expected.datetime, {}],
            ["signature", setup.expected.signature, {signature: "6 bytes"}],
        ];
        for (const [id, reply, fields] of cases) {
            assert.deepEqual(await click(id), {code: "0: success", reply, fields}, id);
        }
    });

    it("the branch code comes from the bridge's settings file", async () => {
        const got = await click("branch");
        assert.match(got.reply, /^\[GETBRANCHCODE\]\[0\]\[ST042\]\[Serindit Tengah\]\[\d+\.\d+\.\d+\.\d+\]\[123\]$/);
        assert.deepEqual([got.code, got.fields.status, got.fields["branch code"], got.fields.name],
                         ["0: success", "0", "ST042", "Serindit Tengah"]);
    });

    it("a request during a running enrolment is answered busy at once; the enrolment then ends", async () => {
        const before = frames().length;
        await page.click("#run-enroll");
        await until(() => frames().slice(before).some((f) => f.slice(6, 8) === "27"), "the enrol frame");
        const started = Date.now();
        const busy = await click("serial", 2000);
        assert.ok(Date.now() - started < 2000, "not queued behind the enrolment");
        assert.deepEqual([busy.reply, busy.held], ["[GETSERIALNUMBER][-1008][123]", `held by ENROLL from ${counter}`]);
        assert.ok(busy.code.startsWith("-1008: another call was still running; that call goes on undisturbed."), busy.code);
        const t = setup.expected.template;
        assert.deepEqual(await outcome("enroll"), {code: "0: success", reply: `[ENROLL][0][${t.slice(0, 24)}…(1196 characters)][123]`,
                                                   fields: {template: "1196 hex digits (598 bytes)"}});
        assert.equal(await page.getAttribute("#out-enroll", "data-reply"), setup.expected.enroll);
    });

    it("the enrolled template verifies, alone and as both fingers", async () => {
        assert.deepEqual(await click("verify"), {code: "0: success", reply: setup.expected.verify, fields: {}});
        assert.deepEqual(await click("verify2f"), {code: "0: success", reply: setup.expected.verify2f, fields: {}});
    });

    it("a failing code is shown with its meaning", async () => {
        await page.fill("#port", "9");
        const got = await click("serial");
        await page.fill("#port", "7");
        assert.deepEqual(got, {code: "-4: the terminal's COM port could not be opened; MyKad: the card reader " +
                                     "could not be initialised (no OrvMyKad.dll, or its init failed)",
                               reply: setup.expected.noport, fields: {}});
    });

    it("a MyKad read shows the fields the integrators' decoder finds in the same reply", async () => {
        const got = await click("mykad", 70000);
        assert.match(got.reply, new RegExp(`^\\[READMYKAD\\]\\[0\\]\\[0\\]\\[${B64}{24}…\\(975 characters\\)\\]` +
                                           `\\[${B64}{24}…\\(5335 characters\\)\\]$`));
        const reply = await page.getAttribute("#out-mykad", "data-reply");
        const decoder = spawnSync(path.join(process.env.QUILLON_NATIVE_DIR, "quillon_mykad_decode"), {input: reply, encoding: "utf8"});
        assert.equal(decoder.status, 0, decoder.stdout + decoder.stderr);
        const decoded = Object.fromEntries(decoder.stdout.split("\n").filter(Boolean).map((l) => {
            const at = l.indexOf(":");
            return [l.slice(0, at), l.slice(at + 1).trim()];
        }));
        const shown = ["marker", "layout", "data", "first text", "second text", "time stamp", "third text", "address", "photo"];
        assert.deepEqual(shown.map((k) => got.fields[k]), shown.map((k) => decoded[k]));
        assert.deepEqual([got.code, got.fields["card type"], got.fields["check bytes"], got.fields["first text"],
                          got.fields["second text"], got.fields["third text"], got.fields.photo],
                         ["0: success", "MyKad", "right", '"COUNTER-07          "', '"A1    "', '"T-000123            "',
                          "4000 bytes"]);
        fs.mkdirSync(ARTEFACTS, {recursive: true});
        await page.screenshot({path: process.env.QUILLON_WEB_SCREENSHOT || path.join(ARTEFACTS, "web-demo.png"),
                               fullPage: true});
    });

    it("a page in a background tab is refused before anything reaches the bridge, and works in front", async () => {
        const before = frames().length;
        const cdp = await session.context.newCDPSession(page);
        const opened = session.context.waitForEvent("page");
        await cdp.send("Target.createTarget", {url: `${counter}/demo/index.html`, background: true});
        const back = await opened;
        assert.deepEqual([await status(back), await page.evaluate(() => document.visibilityState)],
                         ["the page is not in view (a background tab or a minimised window): " +
                          "Quillon takes calls only from the page in front", "visible"]);
        assert.equal(frames().length, before);
        await back.bringToFront();
        await back.click("#run-branch");
        await back.waitForFunction(() => document.querySelector("#out-branch .code")?.textContent === "0: success");
        await back.close();
        await page.bringToFront();
    });
});

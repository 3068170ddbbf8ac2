// The web demo end to end: Debian's chromium with the unpacked extension, the demo page served
// from 127.0.0.1, the native host manifest in the browser profile naming a launcher that runs
// quillon_bridge.exe under wine64 against the terminal simulator on COM7 and the stand-in reader.
import assert from "node:assert/strict";
import {spawn} from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import {after, before, describe, it} from "node:test";
import {fileURLToPath} from "node:url";

import {chromium} from "playwright-core";

const HERE = path.dirname(fileURLToPath(import.meta.url));
const ROOT = path.resolve(HERE, "..", "..");
const CLIENTS = path.join(ROOT, "clients");
const ARTEFACTS = path.join(process.env.QUILLON_NATIVE_DIR || os.tmpdir(), "artefacts");
const TYPES = {".html": "text/html", ".js": "text/javascript", ".json": "application/json"};
const B64 = "[A-Za-z0-9+/=]";

let rig, setup, servers, context, page, port;

function serve(host) {
    const server = http.createServer((req, res) => {
        const file = path.join(CLIENTS, path.normalize(decodeURIComponent(new URL(req.url, "http://x").pathname)));
        if (!file.startsWith(CLIENTS + path.sep) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
            res.writeHead(404).end();
            return;
        }
        res.writeHead(200, {"content-type": TYPES[path.extname(file)] || "application/octet-stream"});
        fs.createReadStream(file).pipe(res);
    });
    return new Promise((resolve) => server.listen(port || 0, host, () => resolve(server)));
}

function frames() {
    return fs.existsSync(setup.record) ? fs.readFileSync(setup.record, "utf8").split("\n").filter(Boolean) : [];
}

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
    }));
}

before(async () => {
    rig = spawn("python3", [path.join(HERE, "rig.py")], {stdio: ["pipe", "pipe", "inherit"]});
    const [first] = await Promise.race([
        (async () => { for await (const line of readline.createInterface({input: rig.stdout})) return [line]; })(),
        new Promise((_, reject) => rig.once("exit", (c) => reject(new Error(`rig.py ended with ${c}`)))),
    ]);
    setup = JSON.parse(first);
    servers = [await serve("127.0.0.1")];
    port = servers[0].address().port;
    servers.push(await serve("127.0.0.2"));  // same port, an origin outside the allow-list

    const profile = fs.mkdtempSync(path.join(os.tmpdir(), "quillon-chromium-"));
    const hostManifest = JSON.parse(fs.readFileSync(path.join(CLIENTS, "install", "quillon.bridge.json"), "utf8"));
    fs.mkdirSync(path.join(profile, "NativeMessagingHosts"));
    fs.writeFileSync(path.join(profile, "NativeMessagingHosts", "quillon.bridge.json"),
                     JSON.stringify({...hostManifest, path: setup.launcher}));
    const extension = path.join(CLIENTS, "extension");
    context = await chromium.launchPersistentContext(profile, {
        executablePath: process.env.QUILLON_CHROMIUM || "/usr/bin/chromium",
        headless: true,
        viewport: {width: 1040, height: 900},
        args: ["--headless=new", `--disable-extensions-except=${extension}`, `--load-extension=${extension}`],
    });
    page = await context.newPage();
    await page.goto(`http://127.0.0.1:${port}/demo/index.html`);
    await page.fill("#port", "7");
});

after(async () => {
    await context?.close();
    for (const s of servers || []) s.close();
    rig?.stdin.end();
    await new Promise((r) => (rig && rig.exitCode === null ? rig.once("exit", r) : r()));
});

describe("the demo page in chromium, through the extension and the bridge under wine", () => {
    it("finds the extension and the bridge and shows their versions", async () => {
        await page.waitForFunction(() => document.getElementById("status").textContent !== "Looking for the Quillon extension…",
                                   null, {timeout: 30000});
        assert.equal(await page.textContent("#status"), "Ready: extension 0.1.0, bridge 0.1.0, quillon.dll 0.1.0");
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
        assert.equal(busy.reply, "[GETSERIALNUMBER][-1008][123]");
        assert.ok(busy.code.startsWith("-1008: another call was still running; that call goes on undisturbed."), busy.code);
        const t = setup.expected.template;
        assert.equal(setup.expected.enroll, `[ENROLL][0][${t}][123]`);
        assert.deepEqual(await outcome("enroll"), {code: "0: success", reply: `[ENROLL][0][${t.slice(0, 24)}…(1196 characters)][123]`,
                                                   fields: {template: "1196 hex digits (598 bytes)"}});
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

    it("a MyKad read shows the card type, the payload and the photo", async () => {
        const got = await click("mykad", 70000);
        assert.match(got.reply, new RegExp(`^\\[READMYKAD\\]\\[0\\]\\[0\\]\\[${B64}{24}…\\(975 characters\\)\\]` +
                                           `\\[${B64}{24}…\\(5335 characters\\)\\]$`));
        assert.deepEqual([got.code, got.fields], ["0: success", {"card type": "MyKad", payload: "975 base64 characters",
                                                                 photo: "5335 base64 characters"}]);
        fs.mkdirSync(ARTEFACTS, {recursive: true});
        await page.screenshot({path: process.env.QUILLON_WEB_SCREENSHOT || path.join(ARTEFACTS, "web-demo.png"),
                               fullPage: true});
    });

    it("a page outside the allow-list gets no extension and its messages never reach the host", async () => {
        const other = await context.newPage();
        const origin = `http://127.0.0.2:${port}`;
        await other.goto(`${origin}/demo/index.html`);
        await other.waitForFunction(() => document.getElementById("status").className === "bad", null, {timeout: 5000});
        assert.equal(await other.textContent("#status"),
                     `the Quillon extension is not installed, or not allowed on ${origin}`);
        const before = frames().length;
        const answers = await other.evaluate(() => new Promise((resolve) => {
            const seen = [];
            window.addEventListener("message", (e) => e.data?.tag === "quillon/extension" && seen.push(e.data));
            window.postMessage({tag: "quillon/page", id: 1, message: {request: "[GETSERIALNUMBER][0][7]"}}, "*");
            setTimeout(() => resolve(seen), 2000);
        }));
        assert.deepEqual([answers, frames().length], [[], before]);
        await other.close();
    });
});

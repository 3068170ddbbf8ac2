// Browser sessions of the web demo: the wine side (rig.py: bridge, simulator, stand-in reader),
// the clients/ folder served over https on every *.test host (chromium maps them to 127.0.0.1;
// the certificate is made here and not checked) and over plain http on 127.0.0.1, and Debian's
// chromium with a profile whose native host manifest names rig.py's launcher. Without a policy
// the extension is loaded unpacked (its release ID); with one, the extension is packed by
// scripts/crx.py with the throwaway key, force-installed from an update manifest on 127.0.0.1,
// and its allow-list set, all through a managed policy file as Chromium on Linux reads it.
import {execFileSync, spawn} from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import https from "node:https";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import {fileURLToPath} from "node:url";

import {chromium} from "playwright-core";

const HERE = path.dirname(fileURLToPath(import.meta.url));
export const CLIENTS = path.resolve(HERE, "..", "..", "clients");
const TYPES = {".html": "text/html", ".js": "text/javascript", ".json": "application/json",
               ".xml": "text/xml", ".crx": "application/x-chrome-extension"};
export const RELEASE_ID = "dhblbfonpbgilccmeljbfofcghblmhgk";
// The policy applies to every chromium run on the machine: one run at a time holds it, and the
// file goes when the process ends (a killed run's file goes at the next run's start).
const POLICY_FILE = "/etc/chromium/policies/managed/quillon-browser-test.json";
const LOCK = path.join(os.tmpdir(), "quillon-chromium-policy.lock");

let locked = false;

async function holdPolicyLock() {
    if (locked) return;
    for (const end = Date.now() + 240000; ;) {
        try {
            fs.mkdirSync(LOCK);
            break;
        } catch (e) {
            if (e.code !== "EEXIST") throw e;
        }
        let holder = null;
        try {
            holder = Number(fs.readFileSync(path.join(LOCK, "pid"), "utf8"));
            process.kill(holder, 0);
        } catch (e) {
            if (e.code === "ESRCH") fs.rmSync(LOCK, {recursive: true, force: true});
        }
        if (Date.now() > end) throw new Error(`${LOCK} held by process ${holder}: remove it if that is stale`);
        await new Promise((r) => setTimeout(r, 500));
    }
    locked = true;
    fs.writeFileSync(path.join(LOCK, "pid"), String(process.pid));
    fs.rmSync(POLICY_FILE, {force: true});
    process.once("exit", () => {
        fs.rmSync(POLICY_FILE, {force: true});
        fs.rmSync(LOCK, {recursive: true, force: true});
    });
    process.once("SIGTERM", () => process.exit(143));  // a time-out's stop: the exit above runs
}

function serve(host, port, extra, tls) {
    const handler = (req, res) => {
        const wanted = path.normalize(decodeURIComponent(new URL(req.url, "http://x").pathname));
        const file = extra[wanted] ?? path.join(CLIENTS, wanted);
        if (!(wanted in extra) && !file.startsWith(CLIENTS + path.sep) || !fs.existsSync(file) ||
            fs.statSync(file).isDirectory()) {
            res.writeHead(404).end();
            return;
        }
        res.writeHead(200, {"content-type": TYPES[path.extname(file)] || "application/octet-stream"});
        fs.createReadStream(file).pipe(res);
    };
    const server = tls ? https.createServer(tls, handler) : http.createServer(handler);
    return new Promise((resolve, reject) => {
        server.once("error", reject);
        server.listen(port, host, () => resolve(server));
    });
}

/** The wine side; close() ends it. starts() counts the bridge's starts so far. */
export async function startRig() {
    const rig = spawn("python3", [path.join(HERE, "rig.py")], {stdio: ["pipe", "pipe", "inherit"]});
    const first = await Promise.race([
        (async () => { for await (const line of readline.createInterface({input: rig.stdout})) return line; })(),
        new Promise((_, reject) => rig.once("exit", (c) => reject(new Error(`rig.py ended with ${c}`)))),
    ]);
    if (first === undefined) throw new Error("rig.py ended without its set-up line");
    const setup = JSON.parse(first);
    return {
        setup,
        starts: () => fs.existsSync(setup.starts) ? fs.readFileSync(setup.starts, "utf8").length : 0,
        /** The frames the simulator got so far, one line each. */
        frames: () => fs.existsSync(setup.record) ? fs.readFileSync(setup.record, "utf8").split("\n").filter(Boolean) : [],
        async close() {
            rig.stdin.end();
            if (rig.exitCode === null) await new Promise((r) => rig.once("exit", r));
        },
    };
}

/**
 * Chromium with the extension; close() ends it. policy: the allow-list the bank's policy sets,
 * or null for none. headless: false opens a window (needs DISPLAY).
 */
export async function startBrowser(rig, {policy = null, headless = true} = {}) {
    await holdPolicyLock();
    const work = fs.mkdtempSync(path.join(os.tmpdir(), "quillon-chromium-"));
    const profile = path.join(work, "profile");
    execFileSync("openssl", ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=bank.test", "-days", "2",
                             "-keyout", path.join(work, "tls.key"), "-out", path.join(work, "tls.crt")], {stdio: "ignore"});
    const extra = {};  // the update manifest and the .crx, by path on the http server
    const servers = [await serve("127.0.0.1", 0, extra), await serve("127.0.0.1", 0, {}, {
        key: fs.readFileSync(path.join(work, "tls.key")), cert: fs.readFileSync(path.join(work, "tls.crt"))})];
    const [port, tlsPort] = servers.map((s) => s.address().port);
    let id = RELEASE_ID, extension = [];
    if (policy) {
        const packed = JSON.parse(execFileSync("python3", [path.resolve(HERE, "..", "..", "scripts", "crx.py"), work], {
            encoding: "utf8", stdio: ["ignore", "pipe", "ignore"],
            env: {...process.env, QUILLON_EXTENSION_URL: `http://127.0.0.1:${port}/update/`}}));
        id = packed.id;
        extra["/update/update.xml"] = packed.update;
        extra[`/update/${path.basename(packed.crx)}`] = packed.crx;
        fs.mkdirSync(path.dirname(POLICY_FILE), {recursive: true});
        fs.writeFileSync(POLICY_FILE, JSON.stringify({
            ExtensionInstallForcelist: [`${id};http://127.0.0.1:${port}/update/update.xml`],
            "3rdparty": {extensions: {[id]: {AllowedOrigins: policy}}},
        }));
    } else {
        const unpacked = path.join(CLIENTS, "extension");
        extension = [`--disable-extensions-except=${unpacked}`, `--load-extension=${unpacked}`];
    }

    let browser = null, context = null;
    async function close() {
        await context?.browser().close().catch(() => {});
        if (browser && browser.exitCode === null) {
            // The whole process group: chromium's helpers go too, and stop writing the profile.
            try {
                process.kill(-browser.pid, "SIGTERM");
            } catch {
                browser.kill();
            }
            await new Promise((r) => browser.once("exit", r));
        }
        for (const s of servers) s.close();
        fs.rmSync(POLICY_FILE, {force: true});
        // A helper that outlived the group for a moment may still add a file while this runs.
        fs.rmSync(work, {recursive: true, force: true, maxRetries: 20, retryDelay: 100});
    }
    try {
        const host = JSON.parse(fs.readFileSync(path.join(CLIENTS, "install", "quillon.bridge.json"), "utf8"));
        fs.mkdirSync(path.join(profile, "NativeMessagingHosts"), {recursive: true});
        fs.writeFileSync(path.join(profile, "NativeMessagingHosts", "quillon.bridge.json"),
                         JSON.stringify({...host, path: rig.setup.launcher, allowed_origins: [`chrome-extension://${id}/`]}));
        // Started here rather than by playwright, whose default switches block force-installs
        // and whose focus emulation keeps every tab "visible"; playwright attaches without
        // either (noDefaults), so a background tab is hidden as in a browser someone uses.
        browser = spawn(process.env.QUILLON_CHROMIUM || "/usr/bin/chromium", [
            ...(headless ? ["--headless=new"] : []), ...(process.getuid() === 0 ? ["--no-sandbox"] : []),
            "--remote-debugging-port=0", `--user-data-dir=${profile}`, "--no-first-run", "--no-default-browser-check",
            "--window-size=1040,900", "--host-resolver-rules=MAP *.test 127.0.0.1", "--ignore-certificate-errors",
            ...extension, "about:blank"], {stdio: "ignore", detached: true});
        const portFile = path.join(profile, "DevToolsActivePort");
        for (let i = 0; !fs.existsSync(portFile) || !fs.readFileSync(portFile, "utf8").includes("\n"); i++) {
            if (i > 300 || browser.exitCode !== null) throw new Error("chromium did not start");
            await new Promise((r) => setTimeout(r, 100));
        }
        const cdp = `http://127.0.0.1:${fs.readFileSync(portFile, "utf8").split("\n")[0]}`;
        context = (await chromium.connectOverCDP(cdp, {noDefaults: true})).contexts()[0];
        // A force-install takes a moment; its service worker shows it done. (A tab opened on
        // the extension before that would be closed by the install.)
        const targets = await context.browser().newBrowserCDPSession();
        const worker = `chrome-extension://${id}/background.js`;
        for (let i = 0; !(await targets.send("Target.getTargets")).targetInfos.some((t) => t.url === worker); i++) {
            if (i > 240) throw new Error(`the extension ${id} was not installed`);
            await new Promise((r) => setTimeout(r, 250));
        }
        const options = `chrome-extension://${id}/options.html`;
        // The options page in a tab of its own (a tab that leaves an extension page may be
        // closed under playwright), once the list in force shows: a policy's values reach the
        // extension's managed storage a moment after the install.
        async function openOptions() {
            const shown = await context.newPage();
            await shown.goto(options);
            await shown.waitForFunction((locked) => document.getElementById("source").textContent !== "" &&
                                                    (document.getElementById("source").className === "locked") === locked,
                                        Boolean(policy), {timeout: 30000});
            return shown;
        }
        await (await openOptions()).close();
        const page = context.pages()[0];
        await page.bringToFront();
        return {
            page, context, id, openOptions, close,
            http: `http://127.0.0.1:${port}`,
            https: (name) => `https://${name}:${tlsPort}`,
        };
    } catch (e) {
        await close();
        throw e;
    }
}

/** Adds a trial pattern on the extension's options page, which `page` shows. */
export async function addTrialOrigin(page, pattern) {
    await page.fill("#pattern", pattern);
    await page.click("#add-button");
    await page.waitForFunction((p) => [...document.querySelectorAll("#patterns li")].some((li) => li.firstChild.textContent === p),
                               pattern);
}

// One browser session of the web demo: the wine side (rig.py: bridge, simulator, stand-in
// reader), the clients/ folder served on 127.0.0.1 and, on the same port, on 127.0.0.2 (an
// origin outside the extension's allow-list), and Debian's chromium with the unpacked extension
// and a profile whose native host manifest names rig.py's launcher.
import {spawn} from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import {fileURLToPath} from "node:url";

import {chromium} from "playwright-core";

const HERE = path.dirname(fileURLToPath(import.meta.url));
export const CLIENTS = path.resolve(HERE, "..", "..", "clients");
const TYPES = {".html": "text/html", ".js": "text/javascript", ".json": "application/json"};

function serve(host, port) {
    const server = http.createServer((req, res) => {
        const file = path.join(CLIENTS, path.normalize(decodeURIComponent(new URL(req.url, "http://x").pathname)));
        if (!file.startsWith(CLIENTS + path.sep) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
            res.writeHead(404).end();
            return;
        }
        res.writeHead(200, {"content-type": TYPES[path.extname(file)] || "application/octet-stream"});
        fs.createReadStream(file).pipe(res);
    });
    return new Promise((resolve, reject) => {
        server.once("error", reject);
        server.listen(port, host, () => resolve(server));
    });
}

async function startRig() {
    const rig = spawn("python3", [path.join(HERE, "rig.py")], {stdio: ["pipe", "pipe", "inherit"]});
    const first = await Promise.race([
        (async () => { for await (const line of readline.createInterface({input: rig.stdout})) return line; })(),
        new Promise((_, reject) => rig.once("exit", (c) => reject(new Error(`rig.py ended with ${c}`)))),
    ]);
    if (first === undefined) throw new Error(`rig.py ended without its set-up line (exit ${await new Promise((r) => rig.exitCode === null ? rig.once("exit", r) : r(rig.exitCode))})`);
    return {rig, setup: JSON.parse(first)};
}

/** Starts everything; close() ends it. headless: false opens a window (needs DISPLAY). */
export async function startSession({headless = true} = {}) {
    const {rig, setup} = await startRig();
    const servers = [await serve("127.0.0.1", 0)];
    const port = servers[0].address().port;
    servers.push(await serve("127.0.0.2", port));

    const profile = fs.mkdtempSync(path.join(os.tmpdir(), "quillon-chromium-"));
    const host = JSON.parse(fs.readFileSync(path.join(CLIENTS, "install", "quillon.bridge.json"), "utf8"));
    fs.mkdirSync(path.join(profile, "NativeMessagingHosts"));
    fs.writeFileSync(path.join(profile, "NativeMessagingHosts", "quillon.bridge.json"),
                     JSON.stringify({...host, path: setup.launcher}));
    const extension = path.join(CLIENTS, "extension");
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: process.env.QUILLON_CHROMIUM || "/usr/bin/chromium",
        headless,
        handleSIGINT: false,  // the caller ends the session on Ctrl-C, profile and rig included
        viewport: {width: 1040, height: 900},
        args: [...(headless ? ["--headless=new"] : []), `--disable-extensions-except=${extension}`,
               `--load-extension=${extension}`],
    });
    const url = `http://127.0.0.1:${port}/demo/index.html`;
    const page = await context.newPage();
    await page.goto(url);
    return {
        page, context, setup, port, url,
        /** The frames the simulator got so far, one line each. */
        frames: () => fs.existsSync(setup.record) ? fs.readFileSync(setup.record, "utf8").split("\n").filter(Boolean) : [],
        async close() {
            await context.close().catch(() => {});
            for (const s of servers) s.close();
            rig.stdin.end();
            if (rig.exitCode === null) await new Promise((r) => rig.once("exit", r));
            fs.rmSync(profile, {recursive: true, force: true});
        },
    };
}

// The web demo: the demo page in chromium with the extension (its own origin added on the
// options page, as for a trial), the bridge under wine64, the terminal simulator and the
// stand-in card reader (scripts/demo.sh --web runs it).
import {addTrialOrigin, startBrowser, startRig} from "./session.mjs";

const USAGE = "usage: node web_demo.mjs [--help] [--screenshot PATH]\n";
const HELP = "Runs the Quillon web demo: the demo page in chromium with the Quillon extension, the\n" +
             "native bridge under wine64, the terminal simulator on COM7 and the stand-in card reader.\n" +
             "With a display it opens the page and prints its URL, until the browser is closed;\n" +
             "with --screenshot (or without a display) it enrols a finger, reads a MyKad, writes a\n" +
             "screenshot of the page to PATH and ends.\n\n" + USAGE +
             "  --help             this text\n" +
             "  --screenshot PATH  headless: write the page after an enrolment and a MyKad read\n\n" +
             "example: node tests/browser/web_demo.mjs --screenshot build/web-demo.png\n";

const args = process.argv.slice(2);
let screenshot = null;
for (let i = 0; i < args.length; i++) {
    if (args[i] === "--help") {
        process.stdout.write(HELP);
        process.exit(0);
    } else if (args[i] === "--screenshot" && i + 1 < args.length) {
        screenshot = args[++i];
    } else {
        process.stderr.write(`web_demo: ${args[i] === "--screenshot" ? "--screenshot needs a path" :
                                                                 "unknown option " + args[i]}\n${USAGE}`);
        process.exit(2);
    }
}
if (!screenshot && !process.env.DISPLAY) screenshot = "web-demo.png";

const rig = await startRig();
const session = await startBrowser(rig, {headless: Boolean(screenshot)});
try {
    // No policy here: the demo's own origin goes on the trial list, as a person would add it.
    const {page} = session;
    const options = await session.openOptions();
    await addTrialOrigin(options, "http://127.0.0.1/*");
    await options.close();
    await page.bringToFront();
    const url = `${session.http}/demo/index.html`;
    await page.goto(url);
    await page.fill("#port", "7");
    if (!screenshot) {
        console.log(`web demo: ${url} (close the browser or press Ctrl-C to end)`);
        await new Promise((r) => {
            session.context.browser().once("disconnected", r);
            process.once("SIGINT", r);
        });
    } else {
        for (const id of ["branch", "serial", "enroll", "mykad"]) {
            await page.click(`#run-${id}`);
            await page.waitForFunction((el) => el.textContent && !el.querySelector(".busy"),
                                       await page.locator(`#out-${id}`).elementHandle(), {timeout: 90000});
        }
        await page.screenshot({path: screenshot, fullPage: true});
        console.log(`web demo: ${url} (headless); screenshot: ${screenshot}`);
    }
} finally {
    await session.close();
    await rig.close();
}

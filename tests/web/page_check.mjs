// Opens a page written by morvakine-render -o x.html in headless Chromium,
// as a person would: from file:// (no network) or from a server that sends
// the strict Content-Security-Policy below. A script added at its end poses
// the figure through the page's own fields, found by their labels, and
// compares the canvas with the native renderer's PNG of each pose.
//   node page_check.mjs file|csp SCALE PAGE.html CASES.json
// SCALE is the screen's pixels per CSS pixel. CASES.json: [{"png": FILE,
// "time": T, null (as it stands) or "opening" (the time the page opened on,
// which it has played on from when the check takes it), "controls": [[LABEL, VALUE], ...], "gestures": [G, ...]}, ...]
// where G is ["wheel", STEPS] (the wheel turned at the canvas's centre,
// towards the figure for positive STEPS) or ["drag", DX, DY, SHIFT] (a
// left drag from the centre by DX, DY CSS pixels, shift held or not).
// Prints one line per case, "case K iou I mean M" (lit-pixel intersection
// over union; mean difference of all channels, 0-255), then "console" and
// the console's transcript on one line, then "violations N" (policy
// violations seen). A page that fails prints its status line.
import { readFileSync, writeFileSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { askChromium } from '../chromium.mjs';

const kPolicy = "default-src 'none'; script-src 'unsafe-inline' 'wasm-unsafe-eval'; " +
    "style-src 'unsafe-inline'; img-src data: blob:";
const [mode, scale, pageFile, casesFile] = process.argv.slice(2);
const cases = JSON.parse(readFileSync(casesFile, 'utf8')).map((c) => ({
    ...c, png: 'data:image/png;base64,' + readFileSync(c.png).toString('base64'),
}));

const driver = (port) => `<script>
(async () => {
    const cases = ${JSON.stringify(cases)};
    let violations = 0;
    document.addEventListener('securitypolicyviolation', () => { violations += 1; });
    const $ = (id) => document.getElementById(id);
    const failed = new Promise((resolve) => new MutationObserver(() => resolve($('status').textContent))
        .observe($('status'), { childList: true, characterData: true, subtree: true }));
    const answer = await Promise.race([window.morvakine.started.then(() => null), failed]);
    const lines = [];
    if (answer !== null) {
        lines.push('failed: ' + answer);
    } else {
        if ($('play').textContent === 'Pause') $('play').click();
        const control = (text) => [...document.querySelectorAll('label')]
            .find((label) => label.textContent.trim() === text).control;
        const pixels = async (url, width, height) => {
            const image = new Image();
            image.src = url;
            await image.decode();
            const context = Object.assign(document.createElement('canvas'), { width, height }).getContext('2d');
            context.drawImage(image, 0, 0);
            return context.getImageData(0, 0, width, height).data;
        };
        const canvas = $('figure');
        for (const [k, c] of cases.entries()) {
            if (c.time !== null) {
                $('time').value = c.time === 'opening' ? JSON.parse($('morvakine-opening').textContent).time : c.time;
                $('time').dispatchEvent(new Event('change'));
            }
            for (const [label, value] of c.controls) {
                const input = control(label);
                if (input.type === 'checkbox') input.checked = Boolean(value); else input.value = value;
                input.dispatchEvent(new Event(input.type === 'checkbox' ? 'change' : 'input'));
            }
            const box = canvas.getBoundingClientRect();
            const [x, y] = [box.left + box.width / 2, box.top + box.height / 2];
            for (const [kind, ...how] of c.gestures || []) {
                if (kind === 'wheel') {
                    for (let k = 0; k < Math.abs(how[0]); ++k) {
                        canvas.dispatchEvent(new WheelEvent('wheel', { deltaY: -Math.sign(how[0]) * 100,
                            clientX: x, clientY: y, cancelable: true }));
                    }
                    continue;
                }
                const [dx, dy, shiftKey] = how;
                const at = (type, u, v) => canvas.dispatchEvent(new PointerEvent(type,
                    { pointerId: 1, button: 0, clientX: u, clientY: v, shiftKey, bubbles: true }));
                at('pointerdown', x, y);
                at('pointermove', x + dx / 2, y + dy / 2);
                at('pointermove', x + dx, y + dy);
                at('pointerup', x + dx, y + dy);
            }
            window.morvakine.draw();
            const shown = canvas.toDataURL();
            const { width, height } = canvas;
            const [a, b] = [await pixels(shown, width, height), await pixels(c.png, width, height)];
            let both = 0, either = 0, difference = 0;
            for (let i = 0; i < a.length; i += 4) {
                const litA = a[i] + a[i + 1] + a[i + 2] > 0, litB = b[i] + b[i + 1] + b[i + 2] > 0;
                both += litA && litB;
                either += litA || litB;
                for (let j = 0; j < 3; ++j) difference += Math.abs(a[i + j] - b[i + j]);
            }
            lines.push('case ' + k + ' ' + width + 'x' + height + ' iou ' + (either ? both / either : 1).toFixed(4) +
                       ' mean ' + (difference / (a.length / 4 * 3)).toFixed(2));
        }
        $('console').open = true;
        for (const command of ['zelkori::clock set 5', 'zelkori::clock get', '::model::resize 1 x']) {
            $('tcl-command').value = command;
            $('tcl-command').dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter' }));
        }
        lines.push('console ' + JSON.stringify($('tcl-output').textContent));
    }
    lines.push('violations ' + violations);
    const form = Object.assign(document.createElement('form'),
                               { method: 'POST', action: 'http://127.0.0.1:${port}/' });
    form.append(Object.assign(document.createElement('textarea'), { name: 'result', value: lines.join('\\n') }));
    document.body.append(form);
    form.submit();
})();
</script>`;

const page = readFileSync(pageFile, 'utf8');
const end = page.lastIndexOf('</body>');
const withDriver = (port) => page.slice(0, end) + driver(port) + page.slice(end);
const scratch = mkdtempSync(join(tmpdir(), 'page-'));
let served = '';
const serve = (request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html', 'Content-Security-Policy': kPolicy });
    response.end(served);
};
const open = (port) => {
    if (mode === 'csp') {
        served = withDriver(port);
        return `http://127.0.0.1:${port}/`;
    }
    const file = join(scratch, 'page.html');
    writeFileSync(file, withDriver(port));
    return 'file://' + file;
};
try {
    const body = await askChromium(serve, 120000, [`--force-device-scale-factor=${scale}`], open);
    console.log(new URLSearchParams(body).get('result'));
} finally {
    rmSync(scratch, { recursive: true, force: true });
}

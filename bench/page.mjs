// The web page in headless Chromium (SwiftShader), as benchmarks: opened
// from file://, the time from navigation to the first picture, then the
// frames a second it draws while playing, each frame drawn whole (the GL
// work done, a pixel read back) as the page's loop draws them.
//   node bench/page.mjs PAGE.html [FRAMES]
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { askChromium } from '../tests/chromium.mjs';

const [pageFile, frames = '300'] = process.argv.slice(2);
const page = readFileSync(pageFile, 'utf8');
const scratch = mkdtempSync(join(tmpdir(), 'page-bench-'));
const driver = (port) => `<script>
window.morvakine.started.then(() => {
    const first = window.morvakine.firstPicture;
    const gl = document.getElementById('figure').getContext('webgl');
    const pixel = new Uint8Array(4);
    const start = performance.now();
    for (let k = 0; k < ${Number(frames)}; ++k) {
        window.morvakine.draw();
        gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
    }
    const seconds = (performance.now() - start) / 1000;
    const canvas = document.getElementById('figure');
    const form = Object.assign(document.createElement('form'), { method: 'POST', action: 'http://127.0.0.1:${port}/' });
    form.append(Object.assign(document.createElement('textarea'), { name: 'result',
        value: 'first picture ' + first.toFixed(0) + ' ms after navigation (WebAssembly ready at ' +
               window.morvakine.compiled.toFixed(0) + ' ms, the page parsed at ' +
               performance.getEntriesByType('navigation')[0].domInteractive.toFixed(0) + ' ms)\\n' + canvas.width + 'x' + canvas.height + ' ' +
               (${Number(frames)} / seconds).toFixed(1) + ' frames/s over ${Number(frames)} frames' }));
    document.body.append(form);
    form.submit();
});
</script>`;
const end = page.lastIndexOf('</body>');
try {
    const body = await askChromium(() => {}, 300000, ['--force-device-scale-factor=1', '--window-size=1400,900'], (port) => {
        const file = join(scratch, 'page.html');
        writeFileSync(file, page.slice(0, end) + driver(port) + page.slice(end));
        return 'file://' + file;
    });
    console.log(new URLSearchParams(body).get('result'));
} finally {
    rmSync(scratch, { recursive: true, force: true });
}

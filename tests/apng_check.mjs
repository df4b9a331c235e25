// Shows an animated PNG's frames as headless Chromium composes them (its
// ImageDecoder, the decoder behind <img>) and compares each with the PNG of
// the same moment.
//   node apng_check.mjs MOVIE.apng FRAME0.png FRAME1.png ...
// Prints one line per frame: "frame K differs D", the largest difference of
// any channel (0-255); the alpha counts, so a hole shows as 255.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [movie, ...pictures] = process.argv.slice(2);
const timeoutMs = 120000;

const page = `<!doctype html><html><body><script type="module">
function pixels(image, width, height) {
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    return context.getImageData(0, 0, width, height).data;
}
async function run() {
    const data = await (await fetch('/movie')).arrayBuffer();
    const decoder = new ImageDecoder({ data, type: 'image/png' });
    await decoder.tracks.ready;
    const count = decoder.tracks.selectedTrack.frameCount;
    const lines = ['frames ' + count];
    for (let k = 0; k < ${pictures.length}; ++k) {
        const { image } = await decoder.decode({ frameIndex: k });
        const width = image.displayWidth, height = image.displayHeight;
        const shown = pixels(image, width, height);
        image.close();
        const reference = pixels(await createImageBitmap(await (await fetch('/picture/' + k)).blob()),
                                 width, height);
        let most = 0;
        for (let i = 0; i < shown.length; ++i) most = Math.max(most, Math.abs(shown[i] - reference[i]));
        lines.push('frame ' + k + ' differs ' + most);
    }
    return lines.join('\\n');
}
run().then((text) => text, (error) => 'apng_check: ' + (error && error.stack || error))
    .then((body) => fetch('/result', { method: 'POST', body }));
</script></body></html>`;

const profile = mkdtempSync(join(tmpdir(), 'apng-chromium-'));
let browser = null;
const finish = (code, message) => {
    console.log(message);
    if (browser) {
        try {
            process.kill(-browser.pid, 'SIGKILL');
        } catch {
            // Already gone.
        }
    }
    rmSync(profile, { recursive: true, force: true });
    process.exit(code);
};
const server = createServer((request, response) => {
    if (request.method === 'POST') {
        let body = '';
        request.on('data', (chunk) => (body += chunk));
        request.on('end', () => {
            response.end();
            finish(body.startsWith('apng_check:') ? 1 : 0, body);
        });
        return;
    }
    const send = (type, body) => {
        response.writeHead(200, { 'Content-Type': type });
        response.end(body);
    };
    if (request.url === '/') return send('text/html', page);
    if (request.url === '/movie') return send('image/apng', readFileSync(movie));
    const picture = /^\/picture\/(\d+)$/.exec(request.url);
    if (picture && pictures[picture[1]]) return send('image/png', readFileSync(pictures[picture[1]]));
    response.writeHead(404);
    response.end();
});
server.listen(0, '127.0.0.1', () => {
    browser = spawn(process.env.CHROMIUM || 'chromium', [
        '--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
        '--no-sandbox', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`,
        `http://127.0.0.1:${server.address().port}/`,
    ], { detached: true, stdio: 'ignore' });
    browser.on('exit', (code) => finish(1, `apng_check: chromium stopped (${code}) before answering`));
});
setTimeout(() => finish(1, `apng_check: no answer from chromium in ${timeoutMs / 1000} s`), timeoutMs).unref();

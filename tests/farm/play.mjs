// Plays movies to their end in headless Chromium and prints, one line
// each, "FILE DURATION DECODED-FRAMES" or "FILE error MESSAGE".
//   node play.mjs FILE...
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';

const files = process.argv.slice(2);
const page = `<!doctype html><body><script>
(async () => {
    const lines = [];
    for (const name of ${JSON.stringify(files.map((f) => basename(f)))}) {
        const video = document.createElement('video');
        video.muted = true;
        video.src = '/movie/' + name;
        document.body.appendChild(video);
        try {
            await video.play();
            await new Promise((ended, failed) => {
                video.onended = ended;
                video.onerror = () => failed(video.error.message);
            });
            lines.push(name + ' ' + video.duration + ' ' + video.getVideoPlaybackQuality().totalVideoFrames);
        } catch (error) {
            lines.push(name + ' error ' + error);
        }
        video.remove();
    }
    fetch('/result', { method: 'POST', body: lines.join('\\n') });
})();
</script></body>`;
const profile = mkdtempSync(join(tmpdir(), 'farm-chromium-'));
let browser = null;
// Leaves once Chromium has gone, so that its profile can be removed.
function finish(code, text) {
    (code ? process.stderr : process.stdout).write(text + '\n');
    const leave = () => {
        // Chromium's helper processes can still be writing into the profile
        // when the browser has exited: retry, and never fail the check for it.
        try {
            rmSync(profile, { recursive: true, force: true, maxRetries: 20 });
        } catch (error) {
            process.stderr.write(`note: ${profile} left behind: ${error.message}\n`);
        }
        process.exit(code);
    };
    if (browser && browser.exitCode === null && browser.signalCode === null) {
        browser.removeAllListeners('exit');
        browser.once('exit', leave);
        browser.kill();
    } else {
        leave();
    }
}
const server = createServer((request, response) => {
    if (request.method === 'POST') {
        let body = '';
        request.on('data', (chunk) => { body += chunk; });
        request.on('end', () => finish(0, body));
        return;
    }
    const file = files.find((f) => request.url === '/movie/' + basename(f));
    if (request.url === '/') {
        response.writeHead(200, { 'content-type': 'text/html' });
        response.end(page);
    } else if (file) {
        response.writeHead(200, { 'content-type': file.endsWith('.mp4') ? 'video/mp4' : 'video/webm' });
        response.end(readFileSync(file));
    } else {
        response.writeHead(404);
        response.end();
    }
});
server.listen(0, '127.0.0.1', () => {
    browser = spawn(process.env.CHROMIUM || 'chromium', [
        '--headless=new', '--no-sandbox', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required',
        `--user-data-dir=${profile}`, `http://127.0.0.1:${server.address().port}/`,
    ], { stdio: 'ignore' });
    browser.on('exit', (code) => finish(1, `play: chromium stopped (${code}) before answering`));
});
setTimeout(() => finish(1, 'play: no answer from chromium in 120 s'), 120000).unref();

// Plays movies to their end in headless Chromium and prints, one line
// each, "FILE DURATION DECODED-FRAMES" or "FILE error MESSAGE".
//   node play.mjs FILE...
import { readFileSync } from 'node:fs';
import { basename } from 'node:path';
import { askChromium } from '../chromium.mjs';

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

function serve(request, response) {
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
}
try {
    process.stdout.write(await askChromium(serve, 120000,
        ['--autoplay-policy=no-user-gesture-required']) + '\n');
} catch (error) {
    process.stderr.write(`play: ${error.message}\n`);
    process.exitCode = 1;
}

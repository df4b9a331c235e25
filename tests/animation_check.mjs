// Shows an animated image's frames (APNG, GIF, WebP, AVIF) as headless
// Chromium composes them (its ImageDecoder, the decoder behind <img>) and
// compares each with the PNG of the same moment.
//   node animation_check.mjs MOVIE.apng|.gif|.webp|.avif FRAME0.png FRAME1.png ...
// Prints "frames N", "seconds S" (all frames' delays together), "repeats R"
// (Infinity: loops for ever), then one
// line per PNG given: "frame K differs D mean M", the largest difference
// of any channel (0-255) and the mean over all; the alpha counts, so a
// hole shows as 255.
import { readFileSync } from 'node:fs';

import { askChromium } from './chromium.mjs';

const [movieFile, ...pictureFiles] = process.argv.slice(2);
const movie = readFileSync(movieFile);
const pictures = pictureFiles.map((file) => readFileSync(file));
const type = { gif: 'image/gif', webp: 'image/webp', avif: 'image/avif' }[movieFile.split('.').pop()] || 'image/png';

const page = `<!doctype html><html><body><script type="module">
function pixels(image, width, height) {
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    return context.getImageData(0, 0, width, height).data;
}
async function run() {
    const data = await (await fetch('/movie')).arrayBuffer();
    const decoder = new ImageDecoder({ data, type: '${type}' });
    await decoder.tracks.ready;
    const count = decoder.tracks.selectedTrack.frameCount;
    const lines = ['frames ' + count];
    let shownFor = 0;
    for (let k = 0; k < count; ++k) shownFor += (await decoder.decode({ frameIndex: k })).image.duration;
    lines.push('seconds ' + shownFor / 1e6);
    lines.push('repeats ' + decoder.tracks.selectedTrack.repetitionCount);
    for (let k = 0; k < ${pictures.length}; ++k) {
        const { image } = await decoder.decode({ frameIndex: k });
        const width = image.displayWidth, height = image.displayHeight;
        const shown = pixels(image, width, height);
        image.close();
        const reference = pixels(await createImageBitmap(await (await fetch('/picture/' + k)).blob()),
                                 width, height);
        let most = 0, sum = 0;
        for (let i = 0; i < shown.length; ++i) {
            const difference = Math.abs(shown[i] - reference[i]);
            most = Math.max(most, difference);
            sum += difference;
        }
        lines.push('frame ' + k + ' differs ' + most + ' mean ' + (sum / shown.length).toFixed(1));
    }
    return lines.join('\\n');
}
run().then((text) => text, (error) => 'animation_check: ' + (error && error.stack || error))
    .then((body) => fetch('/result', { method: 'POST', body }));
</script></body></html>`;

function serve(request, response) {
    const send = (type, body) => {
        response.writeHead(200, { 'Content-Type': type });
        response.end(body);
    };
    if (request.url === '/') return send('text/html', page);
    if (request.url === '/movie') return send(type, movie);
    const picture = /^\/picture\/(\d+)$/.exec(request.url);
    if (picture && pictures[picture[1]]) return send('image/png', pictures[picture[1]]);
    response.writeHead(404);
    response.end();
}

askChromium(serve, 120000).then((body) => {
    console.log(body);
    process.exit(body.startsWith('animation_check:') ? 1 : 0);
}, (error) => {
    console.log(`animation_check: ${error.message}`);
    process.exit(1);
});

// Opens glTF scenes in headless Chromium with three.js at its defaults,
// renders each through the file's own camera at the size of a reference
// PNG, and
// compares the two pictures in the page.
//   node browser_check.mjs CASE...   CASE: FILE.glb,REFERENCE.png,SECONDS[,orbit]
// SECONDS is the animation time to show, or - for a still. Prints one line
// per case: "FILE iou I colour D", the intersection over union of the
// non-black pixels and the mean absolute colour difference (0-255) where
// both show the figure. With orbit everything but the camera and its
// lights is first turned a quarter turn about the vertical axis through
// the origin, which is what a viewer's orbit control about the origin
// shows, and the line ends in "shown S": the figure's pixels over the
// reference's.
import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { askChromium } from '../chromium.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const threeDir = join(here, 'node_modules', 'three');
const cases = process.argv.slice(2).map((arg) => {
    const [file, reference, seconds, orbit] = arg.split(',');
    return { file, reference, seconds: seconds === '-' ? null : Number(seconds), orbit: orbit === 'orbit' };
});
const timeoutMs = 120000;

const page = `<!doctype html><html><body style="margin:0">
<script type="importmap">{"imports":{"three":"/three/build/three.module.js",
"three/addons/":"/three/examples/jsm/"}}</script>
<script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
const cases = ${JSON.stringify(cases.map((c) => ({ seconds: c.seconds, orbit: c.orbit })))};
async function picture(url) {
    const image = new Image();
    image.src = url;
    await image.decode();
    const canvas = document.createElement('canvas');
    canvas.width = image.width;
    canvas.height = image.height;
    const context = canvas.getContext('2d', { colorSpace: 'srgb' });
    context.drawImage(image, 0, 0);
    return context.getImageData(0, 0, image.width, image.height);
}
async function check(index) {
    const reference = await picture('/reference/' + index);
    const { width, height } = reference;
    const gltf = await new GLTFLoader().loadAsync('/scene/' + index);
    const camera = gltf.cameras[0];
    const renderer = new THREE.WebGLRenderer({ antialias: false, preserveDrawingBuffer: true });
    renderer.setPixelRatio(1);
    renderer.setSize(width, height);
    renderer.setClearColor(0x000000, 1);
    // The renderer as a web page leaves it: no tone curve, exposure 1.
    if (cases[index].seconds !== null) {
        const mixer = new THREE.AnimationMixer(gltf.scene);
        mixer.clipAction(gltf.animations[0]).play();
        mixer.setTime(cases[index].seconds);
    }
    if (cases[index].orbit) {
        const turned = new THREE.Group();
        for (const child of [...gltf.scene.children]) {
            if (child !== camera) turned.add(child);
        }
        turned.rotation.y = Math.PI / 2;
        gltf.scene.add(turned);
    }
    gltf.scene.updateMatrixWorld(true);
    renderer.render(gltf.scene, camera);
    const gl = renderer.getContext();
    const ours = new Uint8Array(width * height * 4);
    gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, ours);
    let both = 0, either = 0, difference = 0, ourCount = 0, theirCount = 0;
    for (let y = 0; y < height; ++y) {
        for (let x = 0; x < width; ++x) {
            const a = ((height - 1 - y) * width + x) * 4, b = (y * width + x) * 4;
            const inA = ours[a] + ours[a + 1] + ours[a + 2] > 0;
            const inB = reference.data[b] + reference.data[b + 1] + reference.data[b + 2] > 0;
            either += inA || inB;
            ourCount += inA;
            theirCount += inB;
            if (inA && inB) {
                both += 1;
                for (let c = 0; c < 3; ++c) difference += Math.abs(ours[a + c] - reference.data[b + c]);
            }
        }
    }
    const shown = ${process.env.SCENE_PICTURES ? 'renderer.domElement.toDataURL()' : 'null'};
    renderer.dispose();
    return { iou: either ? both / either : 1, colour: both ? difference / both / 3 : 0,
             covered: theirCount ? ourCount / theirCount : 0, shown };
}
async function run() {
    const results = [];
    for (let i = 0; i < cases.length; ++i) results.push(await check(i));
    return results;
}
run().then((results) => ({ results }), (error) => ({ error: String(error && error.stack || error) }))
    .then((body) => fetch('/result', { method: 'POST', body: JSON.stringify(body) }));
</script></body></html>`;

function serve(request, response) {
    const url = new URL(request.url, 'http://localhost');
    const send = (type, body) => {
        response.writeHead(200, { 'Content-Type': type });
        response.end(body);
    };
    const index = Number(url.pathname.split('/')[2]);
    if (url.pathname === '/') return send('text/html', page);
    if (url.pathname.startsWith('/scene/')) return send('model/gltf-binary', readFileSync(cases[index].file));
    if (url.pathname.startsWith('/reference/')) return send('image/png', readFileSync(cases[index].reference));
    if (url.pathname.startsWith('/three/') && !url.pathname.includes('..')) {
        try {
            return send('text/javascript', readFileSync(join(threeDir, url.pathname.slice(7))));
        } catch {
            // Not there: 404 below.
        }
    }
    response.writeHead(404);
    response.end();
}

askChromium(serve, timeoutMs).then((body) => {
    const answer = JSON.parse(body);
    if (answer.error) {
        console.log(`browser_check: ${answer.error}`);
        process.exit(1);
    }
    answer.results.forEach((r, i) => r.shown &&
        writeFileSync(join(process.env.SCENE_PICTURES, `shown${i}.png`), Buffer.from(r.shown.split(',')[1], 'base64')));
    console.log(answer.results.map((r, i) =>
        `${cases[i].file}${cases[i].seconds === null ? '' : '@' + cases[i].seconds} iou ${r.iou.toFixed(4)} colour ${r.colour.toFixed(2)}` +
        (cases[i].orbit ? ` shown ${r.covered.toFixed(2)}` : '')).join('\n'));
    process.exit(0);
}, (error) => {
    console.log(`browser_check: ${error.message}`);
    process.exit(1);
});

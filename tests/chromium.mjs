// Opens a page in headless Chromium from a server on the loopback and
// waits for the page to POST its answer. serve(request, response) answers
// the page's GET requests, '/' being the page; the promise gives the body
// of the POST, or fails when Chromium stops first or takes over timeoutMs.
// flags go to Chromium's command line; open(port) gives the address it
// opens (the server's '/' unless told).
// Chromium and its profile are gone either way.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export function askChromium(serve, timeoutMs, flags = [],
                            open = (port) => `http://127.0.0.1:${port}/`) {
    return new Promise((resolve, reject) => {
        const profile = mkdtempSync(join(tmpdir(), 'chromium-'));
        let browser = null;
        let timer = null;
        const server = createServer((request, response) => {
            if (request.method !== 'POST') return serve(request, response);
            let body = '';
            request.on('data', (chunk) => (body += chunk));
            request.on('end', () => {
                response.end();
                finish(() => resolve(body));
            });
        });
        const stop = () => {
            try {
                process.kill(-browser.pid, 'SIGKILL');
            } catch {
                // Already gone.
            }
        };
        const finish = (settle) => {
            clearTimeout(timer);
            if (browser) {
                browser.removeAllListeners('exit');
                stop();
            }
            server.close();
            // Chromium's helper processes can still be writing into the profile
            // when the browser has exited: retry, and never fail the check for it.
            try {
                rmSync(profile, { recursive: true, force: true, maxRetries: 20 });
            } catch (error) {
                process.stderr.write(`note: ${profile} left behind: ${error.message}\n`);
            }
            settle();
        };
        server.listen(0, '127.0.0.1', () => {
            browser = spawn(process.env.CHROMIUM || '/usr/bin/chromium', [
                '--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
                '--no-sandbox', '--no-first-run', '--disable-background-networking',
                '--disable-component-update', '--disable-sync', '--disable-quic',
                '--disable-gpu-vsync', ...flags, `--user-data-dir=${profile}`,
                open(server.address().port),
            ], { detached: true, stdio: 'ignore' });
            process.on('exit', stop);  // not left behind by a caller that dies of an exception
            browser.on('exit', (code) =>
                finish(() => reject(new Error(`chromium stopped (${code}) before answering`))));
        });
        timer = setTimeout(() => finish(() =>
            reject(new Error(`no answer from chromium in ${timeoutMs / 1000} s`))), timeoutMs);
    });
}

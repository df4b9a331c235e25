// Runs the Khronos glTF validator over each file named and prints one line
// per file: "FILE errors E warnings W infos I hints H", then every error and
// warning. Exits 1 when any file has an error or a warning.
import { readFileSync } from 'node:fs';
import validator from 'gltf-validator';

let failed = false;
for (const file of process.argv.slice(2)) {
    const report = await validator.validateBytes(new Uint8Array(readFileSync(file)), {
        uri: file,
        maxIssues: 0,
        // Every buffer is in the file; nothing outside it may be read.
        externalResourceFunction: (uri) => Promise.reject(new Error(`outside resource ${uri}`)),
    });
    const { numErrors, numWarnings, numInfos, numHints, messages } = report.issues;
    console.log(`${file} errors ${numErrors} warnings ${numWarnings} infos ${numInfos} hints ${numHints}`);
    for (const m of messages.filter((m) => m.severity <= 1)) {
        console.log(`  ${m.severity === 0 ? 'error' : 'warning'} ${m.code} ${m.pointer ?? ''}: ${m.message}`);
    }
    failed ||= numErrors > 0 || numWarnings > 0;
}
process.exit(failed ? 1 : 0);

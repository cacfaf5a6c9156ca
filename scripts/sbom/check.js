#!/usr/bin/env node
// Checks a release package's SBOM: valid CycloneDX JSON by the schema of the
// pinned @cyclonedx/cyclonedx-library (validated with ajv), every shipped
// program of both widths listed with the SHA-256 of the file as it is, and
// each of them depending on the statically linked parts, each with a version
// and a licence. Prints what is wrong and exits 1.
//   node scripts/sbom/check.js TOOLS SBOM PACKAGE_ROOT
// TOOLS: the folder that scripts/sbom/install prints.
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const { createRequire } = require('module');

const [tools, sbomPath, root] = process.argv.slice(2);
if (!tools || !sbomPath || !root) {
    process.stderr.write('usage: node scripts/sbom/check.js TOOLS SBOM PACKAGE_ROOT\n');
    process.exit(2);
}
const CDX = createRequire(path.resolve(tools, 'package.json'))('@cyclonedx/cyclonedx-library');

const shippedFiles = ['bin/QRIPLUGN.dll', 'bin/qrihost.exe', 'bin/standin_engine.exe', 'x64/bin/QRIPLUGN.dll',
    'x64/bin/qrihost.exe', 'x64/bin/standin_engine.exe'];
const staticParts = ['libstdc++', 'libgcc', 'winpthreads', 'mingw-w64-crt'];

async function main() {
    const problems = [];
    const text = fs.readFileSync(sbomPath, 'utf8');
    const bom = JSON.parse(text);
    const versions = { '1.5': CDX.Spec.Version.v1dot5, '1.6': CDX.Spec.Version.v1dot6 };
    const schemaVersion = versions[bom.specVersion];
    if (schemaVersion === undefined) {
        problems.push(`specVersion ${bom.specVersion} is not 1.5 or 1.6`);
    } else {
        const errors = await new CDX.Validation.JsonStrictValidator(schemaVersion).validate(text);
        for (const error of errors || [])
            problems.push(`schema: ${error.instancePath || '/'} ${error.message}`);
    }

    const byRef = new Map((bom.components || []).map(c => [c['bom-ref'], c]));
    const dependsOn = new Map((bom.dependencies || []).map(d => [d.ref, d.dependsOn || []]));
    for (const file of shippedFiles) {
        const listed = (bom.components || []).filter(c =>
            ((c.evidence || {}).occurrences || []).some(o => o.location === file));
        if (listed.length !== 1) {
            problems.push(`${file}: listed ${listed.length} times`);
            continue;
        }
        const component = listed[0];
        const hash = (component.hashes || []).find(h => h.alg === 'SHA-256');
        const actual = crypto.createHash('sha256').update(fs.readFileSync(path.join(root, file))).digest('hex');
        if (!hash || hash.content !== actual)
            problems.push(`${file}: SHA-256 ${hash ? hash.content : 'missing'}, the file's is ${actual}`);
        const parts = (dependsOn.get(component['bom-ref']) || []).map(ref => byRef.get(ref)).filter(Boolean);
        for (const name of staticParts) {
            const part = parts.find(p => p.name === name);
            if (!part)
                problems.push(`${file}: no dependency on ${name}`);
            else if (!part.version || !(part.licenses || []).length)
                problems.push(`${file}: ${name} without version or licence`);
        }
    }
    if (problems.length > 0) {
        process.stderr.write(problems.map(p => `sbom: ${p}\n`).join(''));
        process.exit(1);
    }
}

main().catch(error => {
    process.stderr.write(`sbom: ${error.message}\n`);
    process.exit(1);
});

#!/usr/bin/env node
// Writes the release package's CycloneDX 1.6 SBOM (JSON) to standard
// output: the shipped programs of both widths with their SHA-256, and the
// parts that the toolchain (clang and lld against mingw-w64 and GCC's runtime)
// links into them statically, with the
// versions of this build machine's Debian packages and their SPDX licences.
// The same package and machine give the same bytes: no clock, no random
// serial number (it is derived from the content).
//   node scripts/sbom/make.js ROOT VERSION EPOCH
// ROOT: the package's top folder as staged; EPOCH: SOURCE_DATE_EPOCH.
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');

const [root, version, epoch] = process.argv.slice(2);
if (!root || !version || !/^[0-9]+$/.test(epoch || '')) {
    process.stderr.write('usage: node scripts/sbom/make.js ROOT VERSION EPOCH\n');
    process.exit(2);
}

const widths = [
    { name: 'i686', folder: 'bin', triple: 'i686-w64-mingw32', machine: 'i386' },
    { name: 'x86_64', folder: 'x64/bin', triple: 'x86_64-w64-mingw32', machine: 'x86-64' },
];

const programs = [
    { file: 'QRIPLUGN.dll', type: 'library', what: 'the installer plug-in' },
    { file: 'qrihost.exe', type: 'application', what: 'the reference agent' },
    { file: 'standin_engine.exe', type: 'application', what: 'the stand-in installer engine' },
];

// What the toolchain links in statically, each found by one file of it.
const staticParts = [
    {
        id: 'libstdc++',
        file: 'libstdc++.a',
        licence: 'GPL-3.0-or-later WITH GCC-exception-3.1',
        what: "GCC's C++ runtime library",
    },
    {
        id: 'libgcc',
        file: 'libgcc.a',
        licence: 'GPL-3.0-or-later WITH GCC-exception-3.1',
        what: "GCC's low-level runtime library (with libgcc_eh)",
    },
    {
        id: 'winpthreads',
        file: 'libwinpthread.a',
        licence: 'MIT AND BSD-3-Clause AND LicenseRef-public-domain',
        what: "mingw-w64's POSIX threads library",
    },
    {
        id: 'mingw-w64-crt',
        file: 'dllcrt2.o',
        licence: 'ZPL-2.1 AND LicenseRef-public-domain AND LicenseRef-Lucent-gdtoa AND LicenseRef-David-M-Gay',
        what: "mingw-w64's C runtime: start-up code, libmingw32, libmingwex and the msvcrt import library",
    },
];

function run(program, args) {
    return execFileSync(program, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] }).trim();
}

function sha256(file) {
    return crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');
}

// The Debian package that holds FILE, its version and architecture.
function debianPackage(file) {
    const owner = run('dpkg-query', ['-S', file]).split('\n')[0];
    const name = owner.slice(0, owner.indexOf(':'));
    const [pkgVersion, arch] = run('dpkg-query', ['-W', '-f=${Version} ${Architecture}', name]).split(' ');
    return { name, version: pkgVersion, arch };
}

function purl(pkg, distro) {
    return `pkg:deb/debian/${pkg.name}@${encodeURIComponent(pkg.version)}?arch=${pkg.arch}&distro=${distro}`;
}

function osRelease() {
    const text = fs.readFileSync('/etc/os-release', 'utf8');
    const field = key => (text.match(new RegExp(`^${key}="?([^"\\n]*)"?$`, 'm')) || [])[1] || '';
    return `${field('ID')}-${field('VERSION_ID')}`;
}

const distro = osRelease();
const components = [];
const dependencies = [];
const shipped = [];
const toolchain = new Map();

for (const width of widths) {
    const compiler = 'clang++-19';
    const partRefs = [];
    for (const part of staticParts) {
        // The compiler names the file it links; dpkg knows the path without ".." only.
        const file = path.resolve(run(compiler, [`--target=${width.triple}`, `-print-file-name=${part.file}`]));
        const pkg = debianPackage(file);
        const ref = `${part.id}@${width.name}`;
        partRefs.push(ref);
        components.push({
            type: 'library',
            'bom-ref': ref,
            name: part.id,
            version: pkg.version,
            description: `${part.what} for ${width.triple}, linked in statically; from Debian package ${pkg.name}`,
            licenses: [{ expression: part.licence }],
            purl: purl(pkg, distro),
        });
    }
    // clang compiles, lld links, llvm's objcopy splits off the DWARF, and
    // the width's binutils compile the version resource.
    for (const name of ['clang-19', 'lld-19', 'llvm-19', `binutils-mingw-w64-${width.name.replace('_', '-')}`]) {
        const [toolVersion, arch] = run('dpkg-query', ['-W', '-f=${Version} ${Architecture}', name]).split(' ');
        toolchain.set(name, { name, version: toolVersion, arch });
    }
    for (const program of programs) {
        const location = `${width.folder}/${program.file}`;
        const ref = `${program.file}@${width.name}`;
        shipped.push(ref);
        components.push({
            type: program.type,
            'bom-ref': ref,
            name: program.file,
            version,
            description: `${program.what}, ${width.machine} (${location})`,
            hashes: [{ alg: 'SHA-256', content: sha256(path.join(root, location)) }],
            licenses: [{ license: { id: 'MIT' } }],
            evidence: { occurrences: [{ location }] },
        });
        dependencies.push({ ref, dependsOn: partRefs });
    }
}
for (const part of components.filter(c => !shipped.includes(c['bom-ref'])))
    dependencies.push({ ref: part['bom-ref'], dependsOn: [] });
dependencies.unshift({ ref: 'QRIPLUGN', dependsOn: shipped });

// Name-based (version 5) UUID over everything the SBOM states.
const content = JSON.stringify({ version, components, dependencies });
const digest = crypto.createHash('sha1')
    .update(Buffer.from('6ba7b8119dad11d180b400c04fd430c8', 'hex')) // the URL namespace
    .update(`QRIPLUGN-${version}:${content}`)
    .digest();
digest[6] = (digest[6] & 0x0f) | 0x50;
digest[8] = (digest[8] & 0x3f) | 0x80;
const hex = digest.subarray(0, 16).toString('hex');
const serial = `${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}`;

const bom = {
    $schema: 'http://cyclonedx.org/schema/bom-1.6.schema.json',
    bomFormat: 'CycloneDX',
    specVersion: '1.6',
    serialNumber: `urn:uuid:${serial}`,
    version: 1,
    metadata: {
        timestamp: new Date(Number(epoch) * 1000).toISOString().replace(/\.000Z$/, 'Z'),
        tools: {
            components: [...toolchain.values()].map(pkg => ({
                type: 'application',
                name: pkg.name,
                version: pkg.version,
                purl: purl(pkg, distro),
            })),
        },
        component: {
            type: 'library',
            'bom-ref': 'QRIPLUGN',
            name: 'QRIPLUGN',
            version,
            description: 'Installer plug-in of the management agent: release package for 32-bit and 64-bit agents',
            supplier: { name: 'Quorvane' },
            licenses: [{ license: { id: 'MIT' } }],
        },
    },
    components,
    dependencies,
};
process.stdout.write(`${JSON.stringify(bom, null, 2)}\n`);

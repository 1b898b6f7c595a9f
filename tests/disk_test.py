"""Host-side checks of the driver disk and its DLLs, without Wine.
Usage: disk_test.py CHECK DISK BIN VERSION, where DISK is the disk's path
without .img/.zip, BIN holds the built DLLs and VERSION is CMake's.
CHECK: disk (the image through mtools), exports, versions, imports (against
nt4_exports.txt), tls (nothing depends on the runtime's thread-local storage)."""
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from pe_image import PeImage

# Built name, name on the disk, exports.
DLLS = [('zentacap.dll', 'ZENTACAP.DLL', ['DriverProc']),
        ('qordexa.dll', 'QORDEXA.DLL', ['DllCanUnloadNow', 'DllGetClassObject'])]
TEXTS = ['OEMSETUP.INF', 'QORDEXA.INF', 'README.TXT']
failures = 0


def check(what, expected, actual):
    global failures
    if expected == actual:
        print(f'ok: {what} = {actual}')
    else:
        print(f'FAILED: {what}: expected {expected}, got {actual}')
        failures += 1


def run(*command):
    return subprocess.run(command, check=True, capture_output=True).stdout


def check_disk(disk, _):
    image = disk + '.img'
    check('image size', 1474560, os.path.getsize(image))
    info = run('minfo', '-i', image, '::').decode()
    check('file system', 'FAT12', re.search(r'disk type="(\S*)', info).group(1))
    check('volume label', 'BV7K42Q', re.search(r'disk label="(\S*)', info).group(1))
    # mdir shows a long name, where a file has one, after the time.
    names = [' '.join(line.split()[:2]) + (' +long name' if len(line.split()) > 5 else '')
             for line in run('mdir', '-i', image, '::').decode().splitlines() if re.search(r' \d{4}-\d\d-\d\d ', line)]
    check('files on the image', ['OEMSETUP INF', 'QORDEXA DLL', 'QORDEXA INF', 'README TXT', 'ZENTACAP DLL'], names)
    shipped = zipfile.ZipFile(disk + '.zip')
    check('files in the zip', sorted(TEXTS + [name for _, name, _ in DLLS]), sorted(shipped.namelist()))
    for name in shipped.namelist():
        data = run('mcopy', '-n', '-i', image, '::' + name, '-')
        check(f'{name} on the image is the one in the zip', True, data == shipped.read(name))
        if name in TEXTS:
            check(f'{name} line ends', 'CR-LF', 'CR-LF' if data.count(b'\n') == data.count(b'\r\n') > 0 else 'LF')


def check_exports(disk, bin):
    shipped = zipfile.ZipFile(disk + '.zip')
    for built_name, name, exports in DLLS:
        built, stripped = PeImage(open(os.path.join(bin, built_name), 'rb').read()), PeImage(shipped.read(name))
        check(f'{built_name} exports', exports, built.exports())
        check(f'{name} (stripped) exports', exports, stripped.exports())
        check(f'{built_name} has a symbol table', True, built.symbol_count > 0)
        check(f'{name} symbols', 0, stripped.symbol_count)
        check(f'{name} sections as loaded are the built ones', True, stripped.section_data() == built.section_data())


def check_versions(disk, _, cmake_version):
    check("CMake's version", '1.0.0', cmake_version)
    shipped = zipfile.ZipFile(disk + '.zip')
    for _, name, _ in DLLS:
        with tempfile.NamedTemporaryFile(suffix='.dll') as dll:
            dll.write(shipped.read(name))
            dll.flush()
            rc = run('i686-w64-mingw32-windres', '-i', dll.name, '-J', 'coff', '-O', 'rc').decode()
        for field, expected in [('FILEVERSION', '1, 0, 0, 0'), ('PRODUCTVERSION', '1, 0, 0, 0')]:
            check(f'{name} {field}', expected, re.search(rf'^ *{field} (.*)$', rc, re.M).group(1))
        for value, expected in [('FileVersion', '1.0.0'), ('ProductVersion', '1.0.0')]:
            check(f'{name} {value}', expected, re.search(rf'VALUE "{value}", L?"([^"]*)"', rc).group(1))


def check_imports(disk, _):
    listed = set()
    for line in open(os.path.join(os.path.dirname(__file__), 'nt4_exports.txt')):
        if line.strip() and not line.startswith('#'):
            dll, function = line.split()
            listed.add((dll.upper(), function))
    shipped = zipfile.ZipFile(disk + '.zip')
    for _, name, _ in DLLS:
        imports = PeImage(shipped.read(name)).imports()
        check(f'{name} imports something', True, len(imports) > 0)
        check(f'{name} imports that NT 4.0 SP6a does not export', [],
              sorted(f'{dll} {function}' for dll, function in imports - listed))


def check_tls(_, bin):
    for built_name, _, _ in DLLS:
        path = os.path.join(bin, built_name)
        image = PeImage(open(path, 'rb').read())
        symbols = image.symbols()
        functions = sorted((rva, name) for name, (rva, function) in symbols.items() if function)

        def within(rva):
            return max((f for f in functions if f[0] <= rva), default=(0, '?'))[1]

        directory = image.directories[9][0]
        start, end, index, callbacks = (image.u32(directory + 4 * i) - image.base for i in range(4))
        # The template holds only the runtime's markers _tls_start and _tls_end.
        template = image.data[image.offset(start):image.offset(start) + end - start]
        check(f'{built_name} TLS template (bytes, zero fill)', (b'\0' * 4, 0), (template, image.u32(directory + 16)))
        names = []
        while callback := image.u32(callbacks + 4 * len(names)):
            names.append(within(callback - image.base))
        check(f'{built_name} TLS callbacks', ['___dyn_tls_init@12', '___dyn_tls_dtor@12'], names)
        fixups = image.relocations()
        check(f'{built_name} fixups pointing at the TLS index', [directory + 8],
              [site for site, target in fixups.items() if target == index])
        check(f'{built_name} fixups pointing into the TLS template', [directory, directory + 4],
              sorted(site for site, target in fixups.items() if start <= target <= end))
        # What the callbacks do beyond the index: run the per-thread destructors
        # registered with ___w64_mingwthr_add_key_dtor, the thread-local
        # initialisers between ___xd_a and ___xd_z, set _CRT_MT, reset the FPU.
        code = run('i686-w64-mingw32-objdump', '-d', '--no-show-raw-insn', path).decode()
        check(f'{built_name} instructions reading the thread TLS array (fs:0x2c)', 0, code.count('%fs:0x2c'))
        adder = symbols['____w64_mingwthr_add_key_dtor'][0]
        check(f'{built_name} references to ___w64_mingwthr_add_key_dtor', 0,
              len(re.findall(r'\s(call|jmp) +[0-9a-f]+ <____w64_mingwthr_add_key_dtor>', code))
              + list(fixups.values()).count(adder))
        check(f'{built_name} bytes from ___xd_a to ___xd_z (4: no initialiser)', 4,
              symbols['___xd_z'][0] - symbols['___xd_a'][0])
        check(f'{built_name} functions referring to _CRT_MT', {'___dyn_tls_init@12'},
              {within(site) for site, target in fixups.items() if target == symbols['__CRT_MT'][0]})
        check(f'{built_name} functions with x87 instructions', {'__fpreset'}, x87_functions(code))


def x87_functions(code):
    found, function = set(), None
    for line in code.splitlines():
        if header := re.match(r'^[0-9a-f]+ <(.*)>:$', line):
            function = header.group(1)
        elif re.match(r'^ *[0-9a-f]+:\tf[a-z]+', line):
            found.add(function)
    return found


if __name__ == '__main__':
    name, disk, bin, version = sys.argv[1:5]
    arguments = (disk, bin, version) if name == 'versions' else (disk, bin)
    globals()['check_' + name](*arguments)
    print(f'{"1 passed, 0" if failures == 0 else "0 passed, 1"} failed')
    sys.exit(1 if failures else 0)

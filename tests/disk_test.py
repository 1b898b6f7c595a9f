"""Host-side checks of the driver disk and its DLLs and programs, without
Wine. Usage: disk_test.py CHECK DISK BIN VERSION, where DISK is the disk's
path without .img/.zip, BIN holds the built DLLs and programs and VERSION is
CMake's. CHECK: disk (the image through mtools), exports, versions (of the
DLLs), imports (against nt4_exports.txt and the C-runtime rule), startup (no
start-up code of the compiler's runtime), instructions (only the i486's)."""
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from pe_image import PeImage, u32

# Built name, name on the disk, exports, entry point: a DLL's DllMain, the
# programs' start-up in tools/nt4.
IMAGES = [('zentacap.dll', 'ZENTACAP.DLL', ['DriverProc'], '_DllMain@12'),
          ('qordexa.dll', 'QORDEXA.DLL', ['DllCanUnloadNow', 'DllGetClassObject'], '_DllMain@12'),
          ('capture.exe', 'CAPTURE.EXE', [], '_ProgramStart'),
          ('vfwcheck.exe', 'VFWCHECK.EXE', [], '_ProgramStart')]
DLLS = [image for image in IMAGES if image[1].endswith('.DLL')]
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
    files = sorted(TEXTS + [name for _, name, *_ in IMAGES])
    check('files on the image', [name.replace('.', ' ') for name in files], names)
    shipped = zipfile.ZipFile(disk + '.zip')
    check('files in the zip', files, sorted(shipped.namelist()))
    for name in shipped.namelist():
        data = run('mcopy', '-n', '-i', image, '::' + name, '-')
        check(f'{name} on the image is the one in the zip', True, data == shipped.read(name))
        if name in TEXTS:
            check(f'{name} line ends', 'CR-LF', 'CR-LF' if data.count(b'\n') == data.count(b'\r\n') > 0 else 'LF')


def check_exports(disk, bin):
    shipped = zipfile.ZipFile(disk + '.zip')
    for built_name, name, exports, _ in IMAGES:
        built, stripped = PeImage(open(os.path.join(bin, built_name), 'rb').read()), PeImage(shipped.read(name))
        check(f'{built_name} exports', exports, built.exports())
        check(f'{name} (stripped) exports', exports, stripped.exports())
        check(f'{built_name} has a symbol table', True, built.symbol_count > 0)
        check(f'{name} symbols', 0, stripped.symbol_count)
        check(f'{name} sections as loaded are the built ones', True, stripped.section_data() == built.section_data())


def check_versions(disk, _, cmake_version):
    check("CMake's version", '1.0.0', cmake_version)
    shipped = zipfile.ZipFile(disk + '.zip')
    for _, name, *_ in DLLS:
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
    for _, name, *_ in IMAGES:
        imports = PeImage(shipped.read(name)).imports()
        check(f'{name} imports something', True, len(imports) > 0)
        check(f'{name} imports that NT 4.0 SP6a does not export', [],
              sorted(f'{dll} {function}' for dll, function in imports - listed))
        check(f'{name} imports from the C runtime beyond its rule', [],
              sorted(function for dll, function in imports if dll.upper() == 'MSVCRT.DLL'
                     and function not in CRT_ALLOWED[name]))


# What each image may take from MSVCRT.DLL: nothing for the capture driver;
# for the page, its formatting and conversions and what the compiler itself
# calls; for the programs, the start-up of a console program (the command
# line, the runtime's own messages on the console, exit and atexit), the
# standard streams and files, strings, memory, conversions, floor, sqrt and
# abort. Not the printf family: NT 4.0's knows no ll or z, and tools/nt4
# formats instead.
PROGRAM_CRT = {'__getmainargs', '__set_app_type', '_iob', '_onexit', 'exit', 'abort',
               'fwrite', 'fflush', 'getchar', 'fopen', 'fclose', 'sscanf',
               'malloc', 'free', 'memchr', 'memcmp', 'memcpy', 'memmove',
               'strcmp', 'strncmp', 'strcspn', 'strlen', 'atof', 'atoi', 'strtoul', 'floor', 'sqrt'}
CRT_ALLOWED = {'ZENTACAP.DLL': set(),
               'QORDEXA.DLL': {'_snprintf', '_vsnprintf', 'sprintf', 'atoi', '_itoa', 'getenv',
                               'memset', 'memcpy', 'memmove', 'memcmp', 'strlen'},
               'CAPTURE.EXE': PROGRAM_CRT, 'VFWCHECK.EXE': PROGRAM_CRT}


# The compiler runtime's start-up code: an image's own entry point replaces it.
RUNTIME_STARTUP = ['_mainCRTStartup', '___tmainCRTStartup', '__pei386_runtime_relocator', '___mingw_TLScallback']


def check_startup(_, bin):
    for built_name, _, _, entry_symbol in IMAGES:
        image = PeImage(open(os.path.join(bin, built_name), 'rb').read())
        symbols = image.symbols()
        entry = u32(image.data, u32(image.data, 0x3C) + 24 + 16)
        check(f'{built_name} entry point', entry_symbol,
              entry_symbol if entry == symbols[entry_symbol][0] else hex(entry))
        check(f'{built_name} start-up code of the runtime', [], [name for name in RUNTIME_STARTUP if name in symbols])
        check(f'{built_name} TLS directory (RVA, size)', (0, 0), image.directories[9])
        check(f'{built_name} runtime sections', [], [name for name, *_ in image.sections if name in ('.CRT', '.tls')])
        if entry_symbol == '_DllMain@12':
            # Nothing would run a static constructor: the list holds only its -1 and 0 ends.
            check(f'{built_name} static constructors', 0, image.u32(symbols['___CTOR_LIST__'][0] + 4))
        else:
            # __main runs the constructors; nothing would run a destructor of the .dtors list
            # (static objects' destructors are atexit functions).
            check(f'{built_name} .dtors destructors', 0, image.u32(symbols['___DTOR_LIST__'][0] + 4))
        check(f'{built_name} bytes of pseudo-relocations', 0,
              symbols['___RUNTIME_PSEUDO_RELOC_LIST_END__'][0] - symbols['___RUNTIME_PSEUDO_RELOC_LIST__'][0])


# Instructions of the Pentium and later, and any on MMX or SSE registers: the
# i486 faults on them.
NEWER = re.compile(r'^(cmov|fcmov|fcomip?|fucomip?|cmpxchg8b|cmpxchg16b|rdtscp?|rdpmc|cpuid|sysenter|sysexit)')
VECTOR = re.compile(r'%x?mm\d')


def check_instructions(disk, bin):
    shipped = zipfile.ZipFile(disk + '.zip')
    for built_name, name, *_ in IMAGES:
        # Names from the built image's symbols: the disk's is the same image stripped.
        symbols = PeImage(open(os.path.join(bin, built_name), 'rb').read()).symbols()
        functions = sorted((rva, n) for n, (rva, function) in symbols.items() if function)
        data = shipped.read(name)
        with tempfile.NamedTemporaryFile(suffix=os.path.splitext(name)[1]) as image:
            image.write(data)
            image.flush()
            code = run('i686-w64-mingw32-objdump', '-d', '--no-show-raw-insn', image.name).decode()
        base = PeImage(data).base
        found = set()
        for address, text in re.findall(r'^ *([0-9a-f]+):\t(.*)$', code, re.M):
            if NEWER.match(text) or VECTOR.search(text):
                rva = int(address, 16) - base
                function = max((f for f in functions if f[0] <= rva), default=(0, '?'))[1]
                found.add(f'{function}: {text.split()[0]}')
        check(f'{name} instructions the i486 lacks', [], sorted(found))


if __name__ == '__main__':
    name, disk, bin, version = sys.argv[1:5]
    arguments = (disk, bin, version) if name == 'versions' else (disk, bin)
    globals()['check_' + name](*arguments)
    print(f'{"1 passed, 0" if failures == 0 else "0 passed, 1"} failed')
    sys.exit(1 if failures else 0)

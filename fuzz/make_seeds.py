#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the seed corpus of each fuzz target into fuzz/corpus/<target>/ (run once; the seeds are
kept in the repository). Targets that split their input with FuzzedDataProvider take a file's
bytes as a string first (a backslash doubled, ended by a backslash and one more byte), and draw
their operations from the end of the input."""
import os, random, subprocess, sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
rng = random.Random(13)


def provider_string(data):
    return data.replace(b'\\', b'\\\\') + b'\\\n'


def ops(n):
    return bytes(rng.randrange(256) for _ in range(n))


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


DEFAULT_DNT = b''.join(line + b'\r\n' for line in [
    b';DO NOT CHANGE MANUALLY!', b'', b'[ThisFolder]', b'Text0=Please test the software',
    b'Text1=\xA0', b'Text2=\xA0\x09Administrator', b'', b'[Folders]', b'', b'[Files]', b''])
PROFILES = {
    'default': DEFAULT_DNT,
    'described': b'[Folders]\nPhotos=Holiday 2019\nsrc = the sources ; not a comment\n\n'
                 b'[Files]\nreadme.txt=\xC3\xA4rger \xE4\nREADME.TXT=duplicate\n"q.txt"="quoted"\n',
    'odd': b'\xEF\xBB\xBF[files]\r\na=1\rb=2\n[FILES]\n;c=3\n  x  =  y  \n[Files\n=none\nlast=no end',
    'empty': b'',
}
for name, content in PROFILES.items():
    for target in ('profile_document', 'profile_file'):
        write(target, name, provider_string(content) + ops(48))

REGISTRY = {
    'store': b'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\n"Width"=dword:00000320\n'
             b'"LastFolder"="/home/user/docs"\n"Splash"=hex:01\n\n'
             b'[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote\\Columns]\n@="default"\n'
             b'"Multi"=hex(7):61,00,62,00,00,00\n',
    'crlf': b'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n"A"="b \\"q\\" \\\\"\r\n'
            b'"Long"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,5c,00,61,00,62,00,63,00,64,00,\\\r\n'
            b'  65,00,66,00,00,00\r\n; a comment\r\n[-HKEY_CURRENT_USER\\Gone]\r\n',
    'other': b'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\X]\n"Y"="z"\n'
             b'[HKEY_CURRENT_USER]\n"Q"=hex(b):01,02,03,04,05,06,07,08\n"bad"=nonsense\n',
    'blank': b'\n\n',
}
for name, content in REGISTRY.items():
    write('registry_file', name, provider_string(content) + ops(64))

VERSION = os.path.join(REPO, 'tests', 'data', 'version')
for name in ('standard.bin', 'dupkeys.bin', 'varfirst.bin'):
    write('version_block', name, open(os.path.join(VERSION, name), 'rb').read())
write('module_resource', 'with-version.exe', open(os.path.join(VERSION, 'tiny-with-version.exe'), 'rb').read())
# An object file carrying the version section, stripped to its sections (argument: the object
# dn_versionres built).
if len(sys.argv) > 1:
    out = os.path.join(HERE, 'corpus', 'module_resource', 'with-section.o')
    subprocess.run(['objcopy', '--strip-all', '--keep-section=.dirnote.version', sys.argv[1], out], check=True)

REQUESTS = {
    'getid': b'wm_QorAppGetID\n',
    'handoff': b'wm_QorAppGetID\nwm_QorAppRestore\nwm_QorAppPrevInstParm 22\n/home/user/docs/Folder.dnt',
    'utf8': 'wm_QorAppPrevInstParm 12\n/tmp/\u00e4\u00f6\u00fc\u00df'.encode() + b'wm_QorAppRestore\n',
    'partial': b'wm_QorAppPrevInstParm 0010\nabc',
}
for name, content in REQUESTS.items():
    # The chunk sizes are drawn from the end: a few small ones, then the rest at once.
    write('previnst_request', name, content + bytes([5, 1, 9, 1, 3, 1]))

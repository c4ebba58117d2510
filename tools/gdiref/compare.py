#!/usr/bin/env python3
"""Runs one gdiref script under real GDI (Wine) and under the stand-in and compares the reports.

Usage: compare.py SCRIPT WINE_EXE NATIVE_EXE [--show N]
Each 'dump' of the script is one case; the cases that differ are listed with the pixels that
only one side drew. Exits 1 when any case differs."""
import os
import subprocess
import sys
import tempfile


def run(command, script):
    out = subprocess.run(command, input=script, capture_output=True, text=True, check=True).stdout
    return out.replace('\r', '')


def dumps(report):
    cases, current = [], None
    for line in report.splitlines():
        if line == 'dump':
            current = set()
        elif line == 'end':
            cases.append(current)
            current = None
        elif current is not None:
            current.add(line)
    return cases


def main():
    script_path, wine_exe, native_exe = sys.argv[1:4]
    show = int(sys.argv[sys.argv.index('--show') + 1]) if '--show' in sys.argv else 10
    script = open(script_path).read()
    labels = [line for line in script.splitlines() if line.startswith(('ellipse', 'polyline', 'fillrect'))]
    prefix = os.environ.get('WINEPREFIX') or tempfile.mkdtemp(prefix='gdiref-')
    env_cmd = ['env', 'WINEPREFIX=' + prefix, 'WINEDEBUG=-all', '/usr/lib/wine/wine64', wine_exe]
    truth = dumps(run(env_cmd, script))
    ours = dumps(run([native_exe], script))
    assert len(truth) == len(ours), (len(truth), len(ours))
    bad = [i for i in range(len(truth)) if truth[i] != ours[i]]
    for i in bad[:show]:
        label = labels[i] if i < len(labels) else '?'
        print(f'case {i}: {label}')
        print('  only real GDI:', sorted(truth[i] - ours[i]))
        print('  only stand-in:', sorted(ours[i] - truth[i]))
    print(f'{len(truth) - len(bad)} of {len(truth)} cases identical')
    sys.exit(1 if bad else 0)


if __name__ == '__main__':
    main()

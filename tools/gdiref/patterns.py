#!/usr/bin/env python3
"""Prints the expected-pattern tables of tests/win32/RasterTest.cpp (EllipseCases, then
LineCases) from real GDI.

Usage: patterns.py WINE_EXE
Every case is drawn by gdiref under Wine on a small canvas with a one-pixel margin; the pattern
is the canvas as text: '.' untouched, '#' pen colour, 'o' brush colour, 'x' anything else."""
import os
import subprocess
import sys
import tempfile

PEN, BRUSH = '0000ff', '00ff00'  # COLORREFs: red pen, green brush

# (name, pen style, brush style, rop, width, height of the box)
ELLIPSES = [
    ('r0', 0, 0, 13, 0, 0), ('r1', 0, 0, 13, 2, 2), ('r2', 0, 0, 13, 4, 4), ('r3', 0, 0, 13, 6, 6),
    ('r4', 0, 0, 13, 8, 8), ('r5', 0, 0, 13, 10, 10), ('odd3', 0, 0, 13, 3, 3), ('odd9', 0, 0, 13, 9, 9),
    ('wide5x3', 0, 0, 13, 5, 3), ('tall3x5', 0, 0, 13, 3, 5), ('wide7x4', 0, 0, 13, 7, 4),
    ('wide12x5', 0, 0, 13, 12, 5), ('single1x1', 0, 0, 13, 1, 1), ('row5x1', 0, 0, 13, 5, 1),
    ('column2x5', 0, 0, 13, 2, 5), ('nullpen2x2', 5, 0, 13, 2, 2), ('nullpen3x3', 5, 0, 13, 3, 3),
    ('nullpen6x6', 5, 0, 13, 6, 6), ('nullbrush6x6', 0, 1, 13, 6, 6), ('xor6x6', 0, 0, 7, 6, 6),
    ('xorrow5x1', 0, 0, 7, 5, 1), ('tall4x7', 0, 0, 13, 4, 7), ('tall10x19', 0, 0, 13, 10, 19),
]

# (name, dx, dy) of a line from the canvas's centre
LINES = [(f'line{dx:+d}{dy:+d}', dx, dy) for dx, dy in
         [(4, 2), (2, 4), (-2, 4), (-4, 2), (-4, -2), (-2, -4), (2, -4), (4, -2), (5, 0), (0, -5), (3, 3), (-3, 3)]]


def main():
    wine_exe = sys.argv[1]
    script, names = [], []
    for name, pen, brush, rop, w, h in ELLIPSES:
        script += [f'canvas {w + 2} {-(h + 2)}', f'pen {pen} 1 {PEN}', f'brush {brush} {BRUSH}', f'rop {rop}',
                   'clear 0', f'ellipse 1 1 {1 + w} {1 + h}', 'show']
        names.append(name)
    for name, dx, dy in LINES:
        script += ['canvas 11 -11', f'pen 0 1 {PEN}', 'clear 0', f'polyline 2 5 5 {5 + dx} {5 + dy}', 'show']
        names.append(name)
    prefix = os.environ.get('WINEPREFIX') or tempfile.mkdtemp(prefix='gdiref-')
    out = subprocess.run(['env', 'WINEPREFIX=' + prefix, 'WINEDEBUG=-all', '/usr/lib/wine/wine64', wine_exe],
                         input='\n'.join(script) + '\n', capture_output=True, text=True, check=True).stdout
    blocks = out.replace('\r', '').split('show\n')[1:]
    kinds = {case[0]: case[1:] for case in ELLIPSES}
    for name, block in zip(names, blocks):
        rows = ', '.join(f'"{r.replace("?", "x")}"' for r in block.split('end')[0].split())
        if name in kinds:
            pen, brush, rop, w, h = kinds[name]
            print(f'    {{"{name}", {pen}, {brush}, {rop}, {w}, {h}, {{{rows}}}}},')
        else:
            dx, dy = next((dx, dy) for line, dx, dy in LINES if line == name)
            print(f'    {{{dx}, {dy}, {{{rows}}}}},')


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Prints the sine and cosine table of the 64 ring angles as C++ hexadecimal literals.

Each angle is the double k * 6.283185307179586 / 64.0, formed exactly as the capture forms it,
and each value is the correctly rounded double of its sine or cosine, computed with 200-bit
precision. Fixing the table once keeps rings bit-identical on every platform, whatever its
maths library does in the last bit. Needs mpmath.
"""
import mpmath

mpmath.mp.prec = 200
for k in range(64):
    theta = (k * 6.283185307179586) / 64.0
    s = float(mpmath.sin(mpmath.mpf(theta)))
    c = float(mpmath.cos(mpmath.mpf(theta)))
    print(f"    {{{s.hex()}, {c.hex()}}}, // {k}")

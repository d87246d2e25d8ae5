#!/usr/bin/env bash
# Prints the Wine architecture this machine can run: win32 where 32-bit Linux programs execute
# (the product's own target), else win64 (some virtual machines cannot execute i386 code at all).
if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo win32; else echo win64; fi

#!/usr/bin/env python3
"""Prints a C++ string literal holding the GBK bytes of each argument.

The shipped code keeps its Chinese texts as GBK byte strings so that they are searched and
compared byte for byte with the ANSI window functions; this writes such literals, splitting
the literal where a hex escape would otherwise swallow a following hex digit.
"""
import string
import sys


def gbk_literal(text: str) -> str:
    out, after_escape = [], False
    for byte in text.encode("gbk"):
        ch = chr(byte)
        if 32 <= byte < 127 and ch not in '"\\':
            if after_escape and ch in string.hexdigits:
                out.append('" "')
            out.append(ch)
            after_escape = False
        else:
            out.append("\\x%02X" % byte)
            after_escape = True
    return '"' + "".join(out) + '"'


if __name__ == "__main__":
    for arg in sys.argv[1:]:
        print(f"{gbk_literal(arg)} // {arg}")

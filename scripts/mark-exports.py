#!/usr/bin/env python3
"""Marks the public classes and namespace-scope functions of the given headers with ZEPH_API
and includes ZephExport/Export.h. Idempotent: run it on a new public header."""
import re
import sys

CLASS = re.compile(r'^(\s*)(class|struct) (?!ZEPH_API)([A-Za-z_]\w*)(\s*(:|\{|$).*)$')
FUNC = re.compile(r'^(?!ZEPH_API|inline |static |template|typedef|using|return|class|struct|namespace|#|//|\s)'
                  r'([A-Za-z_][\w:<>,\s\*&]*?[\s\*&])([A-Za-z_]\w*)\s*\((.*)$')

for path in sys.argv[1:]:
    lines = open(path).read().split('\n')
    out, changed = [], False
    for line in lines:
        m = CLASS.match(line)
        if m and not line.rstrip().endswith(';'):
            line = f'{m.group(1)}{m.group(2)} ZEPH_API {m.group(3)}{m.group(4)}'
            changed = True
        elif FUNC.match(line):
            line = 'ZEPH_API ' + line
            changed = True
        out.append(line)
    if changed and not any('ZephExport/Export.h' in l for l in out):
        i = out.index('#pragma once') + 1
        # after the header's opening comment, before its first include or code line
        while i < len(out) and out[i].startswith('//'):
            i += 1
        out.insert(i, '#include "ZephExport/Export.h"')
    if changed:
        open(path, 'w').write('\n'.join(out))
        print('marked', path)

#!/usr/bin/env python3
"""Runs the README's examples through the driver library and compares their results.

Each example in the README is a request block and the result block after it, each preceded by
a marker comment:

    <!-- request: PAY -->
    ```xml
    <Request>...</Request>
    ```
    <!-- result: 0 -->
    ```xml
    <Error>False</Error>...
    ```

The examples run in their order on one loaded library, as one host session, against the
local service that tools/with-sim.sh started. A result must equal the one shown once
identifiers, codes, dates, times and log paths are masked on both sides. Values that differ
from run to run (the key id, payment ids, handles) are learned from each result: where the
README shows one, later requests get the value of this run instead.

Usage: readme_examples.py <library> <README.md>            check
       readme_examples.py <library> <README.md> --update   write this run's requests and
                                                           results into the README
In --update mode a request may also say ${Name}: the element Name of the latest result that
had it filled (${Output}: the latest key id, ${FirstOutput}: the first one).

A file shown verbatim is marked <!-- file: path --> before its block; it must equal the file
(path relative to the README's folder).
"""
import ctypes
import os
import re
import sys

MARKER = re.compile(r'<!-- (request|result): ([A-Z_]+|-?\d+) -->\n```[a-z]*\n(.*?)```', re.S)
ELEMENT = re.compile(r'<([A-Za-z]+)>([^<]*)</\1>')
MASKS = [
    (re.compile(r'<LogFileName>[^<]+</LogFileName>'), '<LogFileName>(log)</LogFileName>'),
    (re.compile(r'[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}'),
     '(id)'),
    (re.compile(r'\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}'), '(datetime)'),
    (re.compile(r'\d{2}/\d{2}/\d{4}'), '(date)'),
    (re.compile(r'\d{2}:\d{2}:\d{2}'), '(time)'),
    (re.compile(r'\b20\d{6}(?=_)'), '(yyyymmdd)'),
]


class Library:
    """The driver library's exports and string functions through ctypes."""

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        self.lib.SysAllocStringLen.restype = ctypes.c_void_p
        self.lib.SysAllocStringLen.argtypes = [ctypes.c_void_p, ctypes.c_uint]
        self.lib.SysStringLen.restype = ctypes.c_uint
        self.lib.SysStringLen.argtypes = [ctypes.c_void_p]
        self.lib.SysFreeString.argtypes = [ctypes.c_void_p]

    def _bstr(self, text):
        data = text.encode('utf-16-le')
        units = len(data) // 2
        if units == 0:
            return None
        s = self.lib.SysAllocStringLen(None, units)
        ctypes.memmove(s, data, len(data))
        return s

    def _text(self, bstr):
        if not bstr:
            return ''
        text = ctypes.string_at(bstr, self.lib.SysStringLen(bstr) * 2).decode('utf-16-le')
        self.lib.SysFreeString(bstr)
        return text

    def call(self, name, request):
        export = getattr(self.lib, name)
        export.restype = ctypes.c_int16
        export.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p),
                           ctypes.POINTER(ctypes.c_void_p)]
        xml = self._bstr(request)
        out = ctypes.c_void_p()
        err = ctypes.c_void_p()
        code = export(xml, ctypes.byref(out), ctypes.byref(err))
        if xml:
            self.lib.SysFreeString(xml)
        return code, self._text(out.value).replace('\r\n', '\n'), self._text(err.value)


def masked(name, text):
    if name == 'GENERATE_KEYID':
        return '(key id)' if text.strip() else ''
    for pattern, replacement in MASKS:
        text = pattern.sub(replacement, text)
    return text


def examples(readme):
    """(export, request, request span, code, result, result span) in README order."""
    found = []
    pending = None
    for m in MARKER.finditer(readme):
        kind, value, body = m.group(1), m.group(2), m.group(3)
        if kind == 'request':
            if pending:
                raise SystemExit(f'request for {pending[0]} has no result shown')
            pending = (value, body, m.span(3))
        else:
            if not pending:
                raise SystemExit(f'a result ({value}) with no request before it')
            found.append(pending + (int(value), body, m.span(3), m.span(2)))
            pending = None
    if pending:
        raise SystemExit(f'request for {pending[0]} has no result shown')
    return found


# The request elements that carry a value of an earlier result.
CARRIED = {'Handle', 'KeyID', 'Attributes', 'PaymentId'}


def substitute(request, learned, latest):
    def element(m):
        value = learned.get(m.group(2), m.group(2)) if m.group(1) in CARRIED else m.group(2)
        return f'<{m.group(1)}>{value}</{m.group(1)}>'
    request = ELEMENT.sub(element, request)
    return re.sub(r'\$\{([A-Za-z]+)\}', lambda m: latest.get(m.group(1), m.group(0)), request)


def learn(name, shown, actual, learned, latest):
    """Remembers this run's value for each value the README shows in its place."""
    if name == 'GENERATE_KEYID':
        if shown.strip() and actual.strip():
            learned[shown.strip()] = actual.strip()
        latest['Output'] = actual.strip()
        latest.setdefault('FirstOutput', actual.strip())
        return
    actual_elements = ELEMENT.findall(actual)
    for element, value in actual_elements:
        if value:
            latest[element] = value
    for (shown_name, shown_value), (actual_name, actual_value) in zip(ELEMENT.findall(shown),
                                                                        actual_elements):
        if shown_name == actual_name and shown_value and shown_value != actual_value:
            learned[shown_value] = actual_value


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    library = Library(sys.argv[1])
    path = sys.argv[2]
    update = '--update' in sys.argv[3:]
    readme = open(path, encoding='utf-8').read()
    cases = examples(readme)
    if not cases:
        raise SystemExit('no examples found')
    learned, latest = {}, {}
    failures = []
    for m in re.finditer(r'<!-- file: (\S+) -->\n```[a-z]*\n(.*?)```', readme, re.S):
        shown_path = os.path.join(os.path.dirname(os.path.abspath(path)), m.group(1))
        if open(shown_path, encoding='utf-8').read() != m.group(2):
            failures.append(f"the README's copy of {m.group(1)} differs from the file")
    edits = []
    for n, (name, request, request_span, code, shown, shown_span, code_span) in enumerate(cases, 1):
        sent = substitute(request, learned, latest)
        actual_code, output, _ = library.call(name, sent.rstrip('\n'))
        actual = output + '\n' if output else ''
        if update:
            edits += [(request_span, sent), (code_span, str(actual_code)), (shown_span, actual)]
        elif actual_code != code or masked(name, actual) != masked(name, shown):
            failures.append(f'example {n} ({name}):\n--- request\n{sent}--- shown ({code})\n'
                            f'{masked(name, shown)}--- got ({actual_code})\n{masked(name, actual)}')
        learn(name, shown, actual, learned, latest)
    if update:
        for (start, end), text in sorted(edits, reverse=True):
            readme = readme[:start] + text + readme[end:]
        open(path, 'w', encoding='utf-8').write(readme)
        print(f'{len(cases)} examples written')
        return 0
    for failure in failures:
        print(failure)
    print(f'{len(cases) - len(failures)} of {len(cases)} examples give the result shown')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

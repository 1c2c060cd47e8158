#!/usr/bin/env python3
"""Tells why a Wine process that should have ended is still there.

Usage: exit_hang_probe.py <pid>

Attaches gdb to the process, reads each remaining thread's program counter and the words of
its stack, and names those that fall in Wine's ntdll after the nearest preceding export
(Wine ships its PE DLLs without symbols). Prints one block per thread, then a verdict line:

  wine-wake-address-spin  one thread is left, it spins in ntdll's wait-on-address code
                          (RtlWakeAddressSingle/All, RtlWaitOnAddress) under
                          LdrShutdownProcess: a thread that ExitProcess ended held the
                          spin lock of that code's hash bucket, and Wine 8 spins on it for
                          ever. Any multi-threaded host can hit it; it is not the library.
  unclassified            anything else (or the process could not be read).
"""
import bisect
import os
import re
import subprocess
import sys

SPIN_FUNCTIONS = {"RtlWakeAddressSingle", "RtlWakeAddressAll", "RtlWaitOnAddress"}
# How far past an export's address an instruction is still counted as that function's.
MAX_DISTANCE = 0x800


def ntdll_of(pid):
    """(load address, path) of the PE ntdll.dll mapped into pid."""
    with open(f"/proc/{pid}/maps") as maps:
        for line in maps:
            fields = line.split()
            if len(fields) >= 6 and fields[5].endswith("-windows/ntdll.dll") and int(fields[2], 16) == 0:
                return int(fields[0].split("-")[0], 16), fields[5]
    return None, None


def exports_of(path, base):
    """Sorted (address, name) of a PE file's exports, relocated to base."""
    dump = subprocess.run(["objdump", "-p", path], capture_output=True, text=True, check=True).stdout
    addresses, names, section = {}, {}, None
    for line in dump.splitlines():
        if line.startswith("Export Address Table --"):
            section = "addresses"
        elif line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
        elif section == "addresses":
            match = re.match(r"\s*\[\s*(\d+)\]\s+\+base\[\s*\d+\]\s+([0-9a-f]+)\s+Export RVA", line)
            if match:
                addresses[int(match.group(1))] = int(match.group(2), 16)
        elif section == "names":
            match = re.match(r"\s*\[\s*(\d+)\]\s+(\S+)", line)
            if match:
                names[int(match.group(1))] = match.group(2)
            elif not line.strip():
                section = None
    return sorted((base + rva, names.get(index, f"#{index}")) for index, rva in addresses.items())


def name_of(address, exports, base):
    starts = [start for start, _ in exports]
    index = bisect.bisect_right(starts, address) - 1
    if index < 0 or address - starts[index] > MAX_DISTANCE or address < base:
        return None
    return exports[index][1], address - starts[index]


def threads_of(pid, pointer_bytes):
    """{thread number: (pc, [stack words])} read by gdb."""
    unit = "g" if pointer_bytes == 8 else "w"
    gdb = subprocess.run(
        ["gdb", "-p", str(pid), "-batch", "-nx",
         "-ex", f"thread apply all printf \"THREAD %d PC %#lx\\n\", $_thread, (unsigned long) $pc",
         "-ex", f"thread apply all x/768x{unit} $sp"],
        capture_output=True, text=True, timeout=120)
    threads, current, pcs = {}, None, {}
    for line in gdb.stdout.splitlines():
        match = re.match(r"THREAD (\d+) PC (0x[0-9a-f]+)", line)
        if match:
            pcs[int(match.group(1))] = int(match.group(2), 16)
            continue
        match = re.match(r"Thread (\d+) ", line)
        if match:
            current = int(match.group(1))
            threads.setdefault(current, [])
            continue
        match = re.match(r"(0x[0-9a-f]+)(?: <[^>]*>)?:\s+(.*)", line)
        if match and current is not None:
            threads[current].extend(int(word, 16) for word in match.group(2).split())
    return {number: (pcs.get(number), threads.get(number, [])) for number in pcs}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: exit_hang_probe.py <pid>")
    pid = int(sys.argv[1])
    base, path = ntdll_of(pid)
    if base is None:
        print("no PE ntdll.dll in the process's mappings")
        print("unclassified")
        return
    pointer_bytes = 4 if "/i386-windows/" in path else 8
    exports = exports_of(path, base)
    threads = threads_of(pid, pointer_bytes)
    spinning = 0
    for number, (pc, stack) in sorted(threads.items()):
        where = name_of(pc, exports, base) if pc is not None else None
        print(f"thread {number}: pc {pc:#x}" + (f" ntdll!{where[0]}+{where[1]:#x}" if where else "")
              if pc is not None else f"thread {number}: pc unknown")
        frames = [name_of(word, exports, base) for word in stack]
        frames = [frame for frame in frames if frame]
        for name, offset in frames[:40]:
            print(f"  ntdll!{name}+{offset:#x}")
        if where and where[0] in SPIN_FUNCTIONS and any(name == "LdrShutdownProcess" for name, _ in frames):
            spinning += 1
    print(f"{len(threads)} thread(s) left in process {pid}")
    print("wine-wake-address-spin" if len(threads) == 1 and spinning == 1 else "unclassified")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Fails when a per-level object defines a global or weak symbol outside its
own level namespace.

Every level copy of engine/, kernels/ and parallel/ is compiled with its own
instruction set. A global or weak definition outside tqs::l<N> (an inline
function or template instantiation from a shared header, say) could be merged
by the linker with the copy of another level, and an older processor would
then execute AVX2 code. Usage: check_level_purity.py BUILD_DIR
"""
import pathlib
import re
import subprocess
import sys



def owned(level: int):
    """Mangled names that live in tqs::l<level>: functions, data, templates
    (whose demangled form starts with a return type), vtables, typeinfo and
    guard variables."""
    return re.compile(r"^_Z(?:T[VISTh]|GV|Tv|Tc)?N[KVr]*3tqs2l%d" % level)


def main() -> int:
    build = pathlib.Path(sys.argv[1])
    bad = []
    levels = 0
    for level in range(6):
        objdir = build / "CMakeFiles" / f"tqs_level{level}.dir"
        objects = sorted(str(p) for p in objdir.rglob("*.o"))
        if not objects:
            continue
        levels += 1
        own = owned(level)
        out = subprocess.run(["nm", "--defined-only", *objects], check=True,
                             capture_output=True, text=True).stdout
        current = ""
        for line in out.splitlines():
            if line.endswith(":") and not line.startswith(" "):
                current = line[:-1]
                continue
            parts = line.split(" ", 2)
            if len(parts) < 3:
                continue
            kind, name = parts[1], parts[2]
            if kind.islower() and kind not in ("u", "v", "w"):
                continue  # local to its object: cannot be merged across levels
            if own.match(name):
                continue
            if name.startswith("DW.ref.__gxx_personality") or name.startswith("__odr_asan"):
                continue  # personality pointer and sanitizer markers: data, no code
            if name.startswith(("_ZTI", "_ZTS")):
                continue  # type descriptions (clang's function-type checks): data, the same at every level
            if name == "__clang_call_terminate":
                continue  # clang's two-call landing-pad helper: no vector code to leak
            pretty = subprocess.run(["c++filt", name], capture_output=True, text=True).stdout.strip()
            bad.append(f"level {level}: {kind} {pretty}  ({pathlib.Path(current).name})")
    if levels == 0:
        print("no level objects found under", build)
        return 1
    if bad:
        print("symbols outside their level namespace:")
        print("\n".join(bad))
        return 1
    print(f"level purity: {levels} levels clean")
    return 0


if __name__ == "__main__":
    sys.exit(main())

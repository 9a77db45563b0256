#!/usr/bin/env python3
"""Checks that the stand-in headers declare nothing the platform's lack.

Every name the stand-ins declare (functions, variables, typedefs, struct and
enum tags, fields, enumerators, macros) must exist in the platform's headers
as the same kind of declaration with the same type. The names are read from
clang's syntax tree of the stand-in headers, less what the system headers
they include declare; a probe file that asserts each one is then compiled
against the platform's headers.

    stand_in_names.py STAND_IN_INCLUDE PLATFORM_INCLUDE [CXX]

Prints one line and exits 0 when everything matches; otherwise prints the
compiler's complaints, one static assertion per difference, and exits 1.
"""
import json
import os
import re
import subprocess
import sys
import tempfile

HEADERS = [
    "napi/native_api.h",
    "ace/xcomponent/native_interface_xcomponent.h",
    "hilog/log.h",
    "native_window/external_window.h",
]


def run(cmd, stdin=None):
    proc = subprocess.run(cmd, input=stdin, capture_output=True, text=True)
    if proc.returncode != 0:
        sys.stderr.write(proc.stderr)
        raise SystemExit(f"failed: {' '.join(cmd)}")
    return proc.stdout


def source_of(headers):
    return "".join(f"#include {h}\n" for h in headers)


def system_includes(include_dir):
    """The <...> headers the stand-ins include: the baseline to subtract."""
    found = set()
    for header in HEADERS:
        with open(os.path.join(include_dir, header)) as f:
            found.update(re.findall(r"^\s*#\s*include\s*(<[^>]+>)", f.read(), re.M))
    return sorted(found)


def ast(cxx, include_dir, source):
    out = run([cxx, "-x", "c++", "-std=c++17", "-fsyntax-only", "-Xclang", "-ast-dump=json",
               "-I", include_dir, "-"], stdin=source)
    return json.loads(out)


def macros(cxx, flags, source):
    """name -> whether the macro takes arguments."""
    out = run([cxx, "-x", "c++", "-std=c++17", "-E", "-dM"] + flags + ["-"], stdin=source)
    found = {}
    for line in out.splitlines():
        m = re.match(r"#define (\w+)(\()?(.*)", line)
        if m:
            found[m.group(1)] = (bool(m.group(2)), m.group(3).strip())
    return found


def top_level(node):
    for child in node.get("inner", []):
        if child.get("isImplicit"):
            continue
        if child["kind"] == "LinkageSpecDecl":
            yield from top_level(child)
        else:
            yield child


def unnamed(qual_type):
    return "unnamed" in qual_type or "anonymous" in qual_type


def field_probes(name, record):
    for field in record.get("inner", []):
        if field["kind"] == "FieldDecl":
            yield (f"static_assert(std::is_same<decltype(::{name}::{field['name']}), "
                   f"{field['type']['qualType']}>::value, "
                   f'"stand-in {name}::{field["name"]}: not declared alike by the platform");')


def probes(decls):
    """One static assertion (or use) per declaration the stand-ins add."""
    lines, names, previous = [], set(), None
    for d in decls:
        kind, name = d["kind"], d.get("name")
        qual = d.get("type", {}).get("qualType", "")
        what = f"stand-in {name}: not declared alike by the platform"
        if kind == "FunctionDecl" or kind == "VarDecl":
            lines.append(f'static_assert(std::is_same<decltype(::{name}), {qual}>::value, "{what}");')
            names.add(name)
        elif kind == "TypedefDecl":
            tag = previous if previous and previous["kind"] in ("EnumDecl", "CXXRecordDecl") else None
            if tag and not tag.get("name"):
                trait = "is_enum" if tag["kind"] == "EnumDecl" else "is_class"
                lines.append(f'static_assert(std::{trait}<::{name}>::value, "{what}");')
                if tag["kind"] == "CXXRecordDecl":
                    lines.extend(field_probes(name, tag))
            else:
                lines.append(f'static_assert(std::is_same<::{name}, {qual}>::value, "{what}");')
            names.add(name)
        elif kind == "CXXRecordDecl":
            if name:
                lines.append(f"using probe_{name} = {d['tagUsed']} ::{name};")
                names.add(name)
                lines.extend(field_probes(name, d))
        elif kind == "EnumDecl":
            if name:
                lines.append(f"using probe_{name} = enum ::{name};")
                names.add(name)
            for e in d.get("inner", []):
                if e["kind"] != "EnumConstantDecl":
                    continue
                ename, etype = e["name"], e["type"]["qualType"]
                if unnamed(etype):
                    lines.append(f'static_assert(std::is_enum<decltype(::{ename})>::value, '
                                 f'"stand-in {ename}: not declared alike by the platform");')
                else:
                    lines.append(f"static_assert(std::is_same<decltype(::{ename}), {etype}>::value, "
                                 f'"stand-in {ename}: not declared alike by the platform");')
                names.add(ename)
        else:
            raise SystemExit(f"stand-in headers: {kind} {name}: this check does not know that kind")
        previous = d
    return lines, names


def main():
    if len(sys.argv) not in (3, 4):
        raise SystemExit(__doc__)
    stand_ins, platform = sys.argv[1], sys.argv[2]
    cxx = sys.argv[3] if len(sys.argv) == 4 else "clang++"
    headers = [f'"{h}"' for h in HEADERS]
    baseline = source_of(system_includes(stand_ins))

    # The system headers come first, so the stand-ins' own declarations are
    # what follows the baseline's.
    base_decls = list(top_level(ast(cxx, stand_ins, baseline)))
    decls = list(top_level(ast(cxx, stand_ins, baseline + source_of(headers))))
    if [d.get("name") for d in decls[:len(base_decls)]] != [d.get("name") for d in base_decls]:
        raise SystemExit("stand-in headers: the system headers' declarations did not come first")
    lines, names = probes(decls[len(base_decls):])

    platform_macros = macros(cxx, ["-isystem", platform], source_of(headers))
    baseline_macros = macros(cxx, ["-I", stand_ins], baseline)
    problems = []
    stand_in_macros = {n: v for n, v in macros(cxx, ["-I", stand_ins], source_of(headers)).items()
                       if n not in baseline_macros}
    # Include guards are each header's own business.
    stand_in_macros = {n: v for n, v in stand_in_macros.items()
                       if v[1] or not re.search(r"_H_?$", n)}
    for name, (takes_args, body) in sorted(stand_in_macros.items()):
        if name not in platform_macros:
            problems.append(f"stand-in macro {name}: the platform has no such macro")
        elif platform_macros[name][0] != takes_args:
            problems.append(f"stand-in macro {name}: the platform's takes {'no ' if takes_args else ''}arguments")
    for name in sorted(names):
        if name in platform_macros:
            problems.append(f"stand-in {name}: the platform's is a macro")

    probe = "#include <type_traits>\n" + source_of(headers) + "\n".join(lines) + "\n"
    with tempfile.NamedTemporaryFile("w", suffix=".cpp") as f:
        f.write(probe)
        f.flush()
        proc = subprocess.run([cxx, "-std=c++17", "-fsyntax-only", "-ferror-limit=0",
                               "-isystem", platform, f.name], capture_output=True, text=True)
    if proc.returncode != 0:
        problems.extend(re.findall(r"error: (.*)", proc.stderr))
    if problems:
        for p in problems:
            print(f"  {p}")
        print(f"stand-in names: {len(problems)} differences from the platform's headers")
        return 1
    print(f"stand-in names: {len(names)} declarations and {len(stand_in_macros)} macros, "
          f"all declared alike by the platform")
    return 0


if __name__ == "__main__":
    sys.exit(main())

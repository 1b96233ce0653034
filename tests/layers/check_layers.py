#!/usr/bin/env python3
"""The layering of docs/ARCHITECTURE.md, checked: prints one line per violation and fails.

- Includes point down: a file of a layer includes headers of its own layer and the layers below
  it only (shell -> settings -> framework -> platform, shell -> widgets -> framework,
  shell -> net -> framework, shell -> sound -> framework). Nothing outside tests/ includes shell/ but shell/ and the tools.
- A folder of tools/ or bench/ includes what its targets link: the layers of the libraries they
  link, and those libraries' own.
- Qt headers come from the Qt modules the folder's targets link, and below the widgets layer
  (platform, framework, net, sound) from QtCore only; the audio module (sound/output) is the one
  part that may use Qt Multimedia. Qt D-Bus is the shell's alone (its library that talks to the
  desktop's services).
- Links, as CMake knows them (--links): no library below the widgets layer links, directly or
  through our libraries, Qt Widgets, Qt Gui, Qt Network, Qt Multimedia or Qt D-Bus (the audio
  module may link Qt Multimedia), and no library links a library of a layer above its own.
- Per library, where a folder holds more than one: shell/'s QtCore-only core (drovanel_shell_core,
  RESTRICTED_LIBRARIES) includes only its own files, the framework and the platform, and Qt
  headers of QtCore, and links only those; and no header of any library declares a function that
  only a library it does not link defines (a source above or beside that includes the header and
  defines what it declares), as the library's sources list them (the fourth field of --links).
- Links, as built (--elf NAME=FILE, read with readelf -d): the command-line tools and the socket
  library need none of Qt Widgets, Gui, Network, Multimedia or D-Bus; the program needs neither Qt
  Network nor Qt Multimedia; the audio module needs no Qt Widgets.

Standard library only.
"""
import argparse
import os
import re
import subprocess
import sys

# The layers each layer may include and link (its own included): the closure of the arrows.
LAYER_BELOW = {
    "platform": set(),
    "framework": {"platform"},
    "widgets": {"framework"},
    "settings": {"framework"},  # the form as a QWidget, the controls by name: no header of widgets
    "net": {"framework"},
    "sound": {"framework"},
    "shell": {"settings", "widgets", "net", "sound"},
}
LOW_LAYERS = {"platform", "framework", "net", "sound"}  # below the widgets layer: QtCore only
TOOL_FOLDERS = {"tools", "bench"}  # their folders include what they link
SCANNED = sorted(LAYER_BELOW) + sorted(TOOL_FOLDERS)

# Qt modules a folder may not reach below the widgets layer, and the one exception.
LOW_FORBIDDEN_QT = {"Widgets", "Gui", "Network", "Multimedia", "DBus"}
AUDIO_MODULE_FOLDER = "sound/output"
AUDIO_MODULE_QT = {"Multimedia", "Gui", "Network"}  # Qt Multimedia and what it brings along

# Qt's own module dependencies, for what linking one module makes available.
QT_BRINGS = {
    "Widgets": {"Gui"},
    "Gui": set(),
    "Multimedia": {"Gui", "Network"},
    "OpenGL": {"Gui"},
    "OpenGLWidgets": {"OpenGL", "Widgets"},
}

# Libraries kept below the layer of their folder: the layer whose links they keep to, QtCore only.
RESTRICTED_LIBRARIES = {"drovanel_shell_core": "framework"}

# What the built files may not need, by target (sonames start with these).
ELF_FORBIDDEN = {
    "drovanel": {"Network", "Multimedia"},
    "drovanel-convert": {"Widgets", "Gui", "Network", "Multimedia", "DBus"},
    "drovanel-ftpget": {"Widgets", "Gui", "Network", "Multimedia", "DBus"},
    "wsock32": {"Widgets", "Gui", "Network", "Multimedia", "DBus"},
    "drovanel-audio": {"Widgets"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_TARGET = re.compile(r"^Qt6?::(\w+)$")
GENEX_WRAPPER = re.compile(r"^\$<(?:LINK_ONLY|BUILD_INTERFACE):(.*)>$")


def closure(layer):
    """The layers a layer may use, its own included."""
    seen, todo = set(), [layer]
    while todo:
        current = todo.pop()
        if current not in seen:
            seen.add(current)
            todo.extend(LAYER_BELOW.get(current, ()))
    return seen


def layer_of(folder):
    """The layer of a folder relative to the source root ('sound/output' -> 'sound')."""
    return folder.split("/", 1)[0]


class Targets:
    """The targets of the program's folders as CMake knows them, a line each:
    name|folder|lib;lib;...|source;source;... (the sources relative to the source root; the last
    field may be missing)."""

    def __init__(self, path):
        self.folder = {}
        self.links = {}
        self.sources = {}
        self.owners = {}  # source file -> the targets that build it
        with open(path, encoding="utf-8") as lines:
            for line in lines:
                line = line.rstrip("\n")
                if not line:
                    continue
                name, folder, libs, *rest = line.split("|", 3)
                self.folder[name] = folder
                self.links[name] = [unwrap(lib) for lib in libs.split(";") if lib]
                self.sources[name] = [source for source in (rest[0] if rest else "").split(";") if source]
                for source in self.sources[name]:
                    self.owners.setdefault(source, set()).add(name)

    def reach_of(self, names):
        """Our targets the named ones are or link, and the Qt modules they link (QtCore always)."""
        ours, qt = set(names), {"Core"}
        for name in names:
            linked, modules = self.reach(name)
            ours |= set(linked)
            qt |= set(modules)
        return ours, qt

    def in_folder(self, folder):
        """The targets defined in the folder, or else in its nearest parent that has some."""
        while folder:
            found = [name for name, where in self.folder.items() if where == folder]
            if found:
                return found
            folder = folder.rpartition("/")[0]
        return []

    def reach(self, name):
        """Our targets and Qt modules a target links, directly or through our targets, each with
        the chain of our targets it came through."""
        ours, qt = {}, {}
        todo = [(name, [name])]
        while todo:
            current, chain = todo.pop()
            for lib in self.links.get(current, ()):
                module = QT_TARGET.match(lib)
                if module:
                    for reached in {module.group(1)} | qt_brings(module.group(1)):
                        qt.setdefault(reached, chain + [lib])
                elif lib in self.folder and lib not in ours:
                    ours[lib] = chain + [lib]
                    todo.append((lib, chain + [lib]))
        return ours, qt


def unwrap(lib):
    match = GENEX_WRAPPER.match(lib)
    return match.group(1) if match else lib


def qt_brings(module):
    brought, todo = set(), [module]
    while todo:
        for dep in QT_BRINGS.get(todo.pop(), ()):
            if dep not in brought:
                brought.add(dep)
                todo.append(dep)
    return brought


class QtHeaders:
    """Which Qt module a header of an angle-bracket include belongs to."""

    def __init__(self, root):
        self.modules = {}
        if root and os.path.isdir(root):
            for entry in os.listdir(root):
                if entry.startswith("Qt") and os.path.isdir(os.path.join(root, entry)):
                    self.modules[entry[2:]] = os.path.join(root, entry)
        self.cache = {}

    def module_of(self, header):
        first, _, rest = header.partition("/")
        if rest:
            return first[2:] if first.startswith("Qt") and first[2:] in self.modules else None
        if header.startswith("Qt") and header[2:] in self.modules:  # a module's own header
            return header[2:]
        if header not in self.cache:
            self.cache[header] = next(
                (module for module, folder in sorted(self.modules.items())
                 if os.path.isfile(os.path.join(folder, header))),
                None,
            )
        return self.cache[header]


def source_files(root):
    for top in SCANNED:
        base = os.path.join(root, top)
        for folder, dirs, files in os.walk(base):
            dirs.sort()
            for name in sorted(files):
                if name.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def allowed_for(folder, targets):
    """(our layers or folders a folder may include, Qt modules it may include)."""
    top = layer_of(folder)
    names = targets.in_folder(folder)
    linked_qt = {"Core"}
    linked_ours = set()
    for name in names:
        ours, qt = targets.reach(name)
        linked_qt |= set(qt)
        linked_ours |= {layer_of(targets.folder[lib]) for lib in ours}
    if top in TOOL_FOLDERS:
        layers = {folder}
        for layer in linked_ours:
            layers |= closure(layer)
        return layers, linked_qt
    if folder == AUDIO_MODULE_FOLDER or folder.startswith(AUDIO_MODULE_FOLDER + "/"):
        qt_allowed = {"Core"} | AUDIO_MODULE_QT
    elif top in LOW_LAYERS:
        qt_allowed = {"Core"}
    else:
        qt_allowed = linked_qt - {"Network", "Multimedia"}
    return closure(top), qt_allowed


def describe(layers):
    return ", ".join(sorted(layers)) or "nothing of ours"


def check_includes(root, targets, qt_headers):
    problems = []
    rules = {}
    for path in source_files(root):
        folder = path.rpartition("/")[0]
        if folder not in rules:
            rules[folder] = allowed_for(folder, targets)
        layers, qt_allowed = rules[folder]
        # A file of a library kept below its folder's layer keeps to that library's rules.
        restricted = sorted(targets.owners.get(path, set()) & set(RESTRICTED_LIBRARIES))
        if restricted:
            layers = set.intersection(*(closure(RESTRICTED_LIBRARIES[name]) for name in restricted))
            qt_allowed = {"Core"}
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                kind, header = match.groups()
                where = f"{path}:{number}"
                if kind == '"':
                    included = resolve(root, folder, header)
                    if included is None:
                        continue  # generated by the build (moc files)
                    included_top = layer_of(included)
                    fine = included_top in layers or any(
                        included == layer or included.startswith(layer + "/") for layer in layers
                    )
                    if restricted:
                        fine = fine or set(restricted) <= targets.owners.get(included, set())
                        if not fine:
                            problems.append(
                                f"{where}: includes {included}: {', '.join(restricted)} may include only its own"
                                f" files and {describe(layers)}"
                            )
                    elif not fine:
                        problems.append(
                            f"{where}: includes {included}: {folder}/ may include only {describe(layers)}"
                        )
                else:
                    module = qt_headers.module_of(header)
                    if module is not None and module not in qt_allowed:
                        user = ", ".join(restricted) if restricted else f"{folder}/"
                        problems.append(
                            f"{where}: includes <{header}> of Qt{module}: {user} may use only "
                            + ", ".join("Qt" + m for m in sorted(qt_allowed))
                        )
    return problems


def resolve(root, folder, header):
    """The included file relative to the source root, or None when it is not in the sources."""
    for base in (folder, ""):
        candidate = os.path.normpath(os.path.join(base, header)).replace(os.sep, "/")
        if not candidate.startswith("..") and os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def check_links(targets):
    """Each library's own links, so that a fault is named once, where it is made: a link to a
    library of a layer above, and a Qt module below the widgets layer that comes straight from Qt
    or through one of our libraries above the low layers (one of ours inside them gets its own line)."""
    problems = []
    for name in sorted(targets.folder):
        folder = targets.folder[name]
        top = layer_of(folder)
        if top not in LAYER_BELOW:
            continue  # tools and benchmarks link what they need
        reached_qt = {}
        for lib in targets.links[name]:
            module = QT_TARGET.match(lib)
            if module:
                for reached in {module.group(1)} | qt_brings(module.group(1)):
                    reached_qt.setdefault(reached, [name, lib])
                continue
            if lib not in targets.folder:
                continue  # a system library
            lib_layer = layer_of(targets.folder[lib])
            if lib_layer in LAYER_BELOW and lib_layer not in closure(top):
                problems.append(f"{name} ({folder}/) links {lib} of {lib_layer}/, a layer above or beside it")
            if lib_layer not in LOW_LAYERS:
                for reached, chain in targets.reach(lib)[1].items():
                    reached_qt.setdefault(reached, [name] + chain)
        if name in RESTRICTED_LIBRARIES:
            allowed = closure(RESTRICTED_LIBRARIES[name])
            for lib in targets.links[name]:
                if lib in targets.folder and layer_of(targets.folder[lib]) not in allowed:
                    problems.append(f"{name} ({folder}/) links {lib}: it may link only {describe(allowed)} and QtCore")
            for module in sorted(set(reached_qt) - {"Core"}):
                problems.append(
                    f"{name} ({folder}/) links Qt{module} (through {' -> '.join(reached_qt[module])}):"
                    f" it may link only QtCore"
                )
        if top in LOW_LAYERS:
            exempt = AUDIO_MODULE_QT if folder.startswith(AUDIO_MODULE_FOLDER) else set()
            for module in sorted((set(reached_qt) & LOW_FORBIDDEN_QT) - exempt):
                problems.append(
                    f"{name} ({folder}/) links Qt{module} (through {' -> '.join(reached_qt[module])}):"
                    f" below the widgets layer only QtCore"
                )
    return problems


# What a light reading of C++ needs: comments, literals and preprocessor lines out of the way.
CPP_NOISE = re.compile(
    r'//[^\n]*|/\*.*?\*/|R"(?P<delim>[^(\s]*)\(.*?\)(?P=delim)"|"(?:\\.|[^"\\\n])*"'
    r"|'(?:\\.|[^'\\\n])*'|^[ \t]*#[^\n]*(?:\\\n[^\n]*)*",
    re.S | re.M)
FUNCTION_HEAD = re.compile(r"((?:[A-Za-z_]\w*\s*::\s*)*~?[A-Za-z_]\w*)\s*$")
NOT_A_FUNCTION = re.compile(r"^\s*(?:using|typedef|friend|static_assert|return|template\s*<[^>]*>\s*(?:class|struct))\b")


def function_name(head):
    """The (possibly qualified) name of the function a declaration or definition head names, or
    None for a variable, a type or anything else."""
    while True:  # template arguments out of the way: the name stands before the first "(" left
        stripped = re.sub(r"<[^<>;{}]*>", " ", head)
        if stripped == head:
            break
        head = stripped
    before, paren, _ = head.partition("(")
    if not paren or "=" in before or NOT_A_FUNCTION.match(before):
        return None
    match = FUNCTION_HEAD.search(before)
    return re.sub(r"\s+", "", match.group(1)) if match else None


def functions(text):
    """(declared, defined, namespaces) of a C++ file: the functions it declares without a body and
    those it defines, as (class, name) with class "" for a free function (a definition by a
    qualified name keeps its qualifier as written), and the namespaces it opens."""
    text = CPP_NOISE.sub(" ", text)
    declared, defined, namespaces = set(), set(), set()
    scopes = []  # per open brace: ("namespace", name), ("class", name) or ("body", "")
    start = 0
    for mark in re.finditer(r"[{};]", text):
        head, start = text[start:mark.start()], mark.end()
        in_body = any(kind == "body" for kind, _ in scopes)
        owner = scopes[-1][1] if scopes and scopes[-1][0] == "class" else ""
        if mark.group() == "}":
            if scopes:
                scopes.pop()
            continue
        if in_body:
            if mark.group() == "{":
                scopes.append(("body", ""))
            continue
        if mark.group() == "{":
            space = re.match(r"\s*(?:inline\s+)?namespace\s*([\w:]*)\s*$", head)
            kind = re.search(r"\b(?:class|struct|union)\s+(?:\[\[[^\]]*\]\]\s*)?(\w+)[^()]*$", head)
            if space:
                namespaces.update(part for part in space.group(1).split("::") if part)
                scopes.append(("namespace", space.group(1)))
            elif re.match(r'\s*extern\s*"?\s*$', head) or re.match(r"\s*extern\s+$", head):
                scopes.append(("namespace", ""))
            elif kind and not re.search(r"\benum\b", head):
                scopes.append(("class", kind.group(1)))
            else:
                name = None if re.search(r"\benum\b", head) else function_name(head)
                if name:
                    defined.add((owner, name))
                scopes.append(("body", ""))
            continue
        name = function_name(head)
        if name and not re.match(r"\s*inline\b", head) and not re.search(r"\)\s*[^()]*=\s*(?:0|default|delete)\s*$", head):
            declared.add((owner, name))
    return declared, defined, namespaces


def defines(defined, declared, namespaces):
    """Which of the declared functions a file's definitions define."""
    found = set()
    for owner, name in defined:
        parts = name.split("::")
        keys = {(owner, parts[-1])} if len(parts) == 1 else {("::".join(parts[:-1]), parts[-1])}
        if len(parts) > 1 and all(part in namespaces for part in parts[:-1]):
            keys.add(("", parts[-1]))
        if len(parts) > 1:
            keys.add((parts[-2], parts[-1]))
        found |= keys & declared
    return found


def check_declarations(root, targets):
    """A header of a library declares what that library, or one it links, defines: a function that
    only a library above defines (a source there includes the header and defines what it declares)
    would be missing from every user of the library below, and would tie it to what lies above."""
    problems = []
    read = {}

    def parsed(path):
        if path not in read:
            full = os.path.join(root, path)
            if not os.path.isfile(full):
                read[path] = (set(), set(), set(), set())
            else:
                with open(full, encoding="utf-8", errors="replace") as source:
                    text = source.read()
                includes = {resolve(root, path.rpartition("/")[0], m.group(2))
                            for m in (INCLUDE.match(line) for line in text.splitlines()) if m and m.group(1) == '"'}
                read[path] = (*functions(text), includes)
        return read[path]

    namespaces = set()
    for sources in targets.sources.values():
        for path in sources:
            namespaces |= parsed(path)[2]
    for name in sorted(targets.sources):
        headers = [path for path in targets.sources[name] if path.endswith(".h")]
        if not headers:
            continue
        reached = targets.reach_of([name])[0]
        below = {path for lib in reached for path in targets.sources.get(lib, ())}
        defined_below = set()
        for path in below:
            defined_below |= parsed(path)[1]
        for header in headers:
            declared = parsed(header)[0]
            if not declared:
                continue
            kept = defines(defined_below, declared, namespaces)
            for other in sorted(set(targets.sources) - reached):
                for path in targets.sources[other]:
                    if path in below or header not in parsed(path)[3]:
                        continue
                    for owner, function in sorted(defines(parsed(path)[1], declared, namespaces) - kept):
                        qualified = f"{owner}::{function}" if owner else function
                        problems.append(
                            f"{header}: {name} declares {qualified}, defined only in {path} of {other},"
                            f" which {name} does not link"
                        )
    return problems


def needed_libraries(readelf, path):
    run = subprocess.run([readelf, "-d", "--wide", path], capture_output=True, text=True, check=False)
    if run.returncode != 0:
        raise RuntimeError(f"{readelf} -d {path}: {run.stderr.strip()}")
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run.stdout)


def check_elf(readelf, elves):
    problems = []
    for name, path in elves:
        forbidden = ELF_FORBIDDEN.get(name)
        if forbidden is None:
            problems.append(f"{path}: no rule for the built target {name}")
            continue
        if not os.path.isfile(path):
            problems.append(f"{path}: not built")
            continue
        for soname in needed_libraries(readelf, path):
            module = re.match(r"libQt6(\w+?)\.so", soname)
            if module and module.group(1) in forbidden:
                problems.append(
                    f"{path}: {name} needs {soname}; it may need none of "
                    + ", ".join("Qt" + m for m in sorted(forbidden))
                )
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--links", required=True,
                        help="the targets and their links, as written by tests/layers/CMakeLists.txt")
    parser.add_argument("--qt-include", help="Qt's include folder (the one holding QtCore/)")
    parser.add_argument("--readelf", default="readelf")
    parser.add_argument("--elf", action="append", default=[], metavar="TARGET=FILE")
    args = parser.parse_args()

    targets = Targets(args.links)
    problems = check_includes(args.source_dir, targets, QtHeaders(args.qt_include))
    problems += check_declarations(args.source_dir, targets)
    problems += check_links(targets)
    problems += check_elf(args.readelf, [tuple(item.split("=", 1)) for item in args.elf])
    for problem in problems:
        print(problem)
    if problems:
        print(f"Layering check failed: {len(problems)} violation(s); docs/ARCHITECTURE.md has the layers.")
        return 1
    print("Layering check passed.")
    return 0


if __name__ == "__main__":
    sys.exit(main())

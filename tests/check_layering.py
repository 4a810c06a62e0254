#!/usr/bin/env python3
"""Keeps the client portable and its layers pointing one way.

  check_layering.py SOURCE_DIR     check the tree; exit 1 and list every offence
  check_layering.py --self-test    check a made-up tree with one offence of each kind

Rules:
- Shared/, Olvarra/ and Vesk_Client.cpp include no header that exists only on POSIX
  systems, X11 or Windows, and call no POSIX-only function: such code belongs in Platform/,
  behind a Qt facility or an #ifdef of its own.
- Platform/ includes nothing of Shared/ or Olvarra/; Shared/ includes nothing of Olvarra/.
"""

import os
import re
import sys
import tempfile

PORTABLE_SCOPES = ["Shared", "Olvarra", "Vesk_Client.cpp"]
LAYER_RANK = {"Platform": 0, "Shared": 1, "Olvarra": 2}

SYSTEM_ONLY_HEADER = re.compile(
    r"^(unistd\.h|fcntl\.h|sys/.*|pthread\.h|dlfcn\.h|poll\.h|pwd\.h|grp\.h|termios\.h|"
    r"netdb\.h|netinet/.*|arpa/.*|dirent\.h|spawn\.h|syslog\.h|semaphore\.h|signal\.h|"
    r"X11/.*|xcb/.*|windows\.h|winsock2?\.h|ws2tcpip\.h|io\.h|direct\.h)$",
    re.IGNORECASE)

POSIX_CALLS = [
    "getuid", "geteuid", "getgid", "getegid", "getpid", "getppid", "getpwuid", "getpwnam",
    "fork", "vfork", "execv", "execvp", "execl", "execlp", "waitpid", "setsid", "kill",
    "fcntl", "ioctl", "pipe", "pipe2", "dup", "dup2", "mkfifo", "socketpair", "getsockopt",
    "setsockopt", "usleep", "nanosleep", "sysconf", "mmap", "munmap", "readlink", "symlink",
    "chown", "umask", "isatty", "ttyname", "XOpenDisplay", "XSendEvent", "XFlush",
]
CALL = re.compile(r"\b(" + "|".join(POSIX_CALLS) + r")\s*\(")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


def without_comments_and_strings(text):
    """Blanks comments, string and character literals, keeping line breaks for line numbers."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.DOTALL)
    return pattern.sub(lambda match: re.sub(r"[^\n]", " ", match.group(0)), text)


def is_global_call(code, start):
    """A call of the system function itself: not a member, not a name in a namespace or class
    of ours, not a declaration of a function of that name."""
    keywords = ("return", "throw", "case", "else", "do", "co_return", "co_await")
    before = code[:start].rstrip()
    if before.endswith((".", "->")):
        return False
    if before.endswith("::"):
        before = before[:-2].rstrip()
        word = re.search(r"(\w+)$", before)
        return not word or word.group(1) in keywords
    if before.endswith(("&&", "||")):
        return True
    if before and (before[-1].isalnum() or before[-1] in "_*&>"):
        word = re.search(r"(\w+)\W*$", before)
        return bool(word) and word.group(1) in keywords
    return True


def layer_of(relpath):
    top = relpath.split("/", 1)[0]
    return top if top in LAYER_RANK else None


def check(root):
    offences = []
    files = []
    for scope in ["Platform", "Shared", "Olvarra", "Vesk_Client.cpp"]:
        path = os.path.join(root, scope)
        if os.path.isfile(path):
            files.append(scope)
        elif os.path.isdir(path):
            for name in sorted(os.listdir(path)):
                if name.endswith((".cpp", ".h")):
                    files.append(scope + "/" + name)

    by_folder = {}
    for f in files:
        if "/" in f:
            folder, name = f.split("/", 1)
            by_folder.setdefault(name, set()).add(folder)

    for rel in files:
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as handle:
            text = handle.read()
        code = without_comments_and_strings(text)
        portable = rel.split("/", 1)[0] in PORTABLE_SCOPES
        own_layer = layer_of(rel)

        for match in INCLUDE.finditer(text):
            line = text.count("\n", 0, match.start()) + 1
            # An include inside a comment does not count.
            if not code[match.start():match.end()].lstrip().startswith("#"):
                continue
            header = match.group(1)
            if portable and SYSTEM_ONLY_HEADER.match(header):
                offences.append(f"{rel}:{line}: includes <{header}>, which exists only on some systems")
            if own_layer is None:
                continue
            target = layer_of(header)
            if target is None and "/" not in header and header in by_folder:
                folders = by_folder[header]
                if own_layer not in folders:
                    target = sorted(folders, key=lambda f: LAYER_RANK[f])[-1]
            if target is not None and LAYER_RANK[target] > LAYER_RANK[own_layer]:
                offences.append(f"{rel}:{line}: {own_layer}/ includes {header} of the higher layer {target}/")

        if portable:
            for match in CALL.finditer(code):
                if is_global_call(code, match.start()):
                    line = code.count("\n", 0, match.start()) + 1
                    offences.append(f"{rel}:{line}: calls {match.group(1)}(), which exists only on POSIX or X11 systems")
    return offences


def self_test():
    cases = {
        "Shared/A.cpp": '#include <unistd.h>\n',
        "Shared/B.cpp": '#include "Olvarra/MainWindow.h"\n',
        "Shared/C.cpp": '#include "MainWindow.h"\n',
        "Platform/D.cpp": '#include "Shared/P64.h"\n',
        "Olvarra/MainWindow.h": '#include <X11/Xlib.h>\n',
        "Olvarra/E.cpp": 'int f() { return ::getuid() + 1; }\n',
        "Vesk_Client.cpp": 'void g() { if (fork() == 0) {} }\n',
        # Fine: a member of ours, a call in a comment, a string, Platform's own system header.
        "Olvarra/Fine.cpp": ('#include "Shared/P64.h"\n// fork() here would be wrong\n'
                             'void h(T& t) { t.kill(1); p->pipe(2); Our::getpid(); auto s = "usleep(1)"; }\n'),
        "Platform/Fine.cpp": '#include <sys/socket.h>\nint u() { return ::getuid(); }\n',
    }
    expected = {"Shared/A.cpp", "Shared/B.cpp", "Shared/C.cpp", "Platform/D.cpp",
                "Olvarra/MainWindow.h", "Olvarra/E.cpp", "Vesk_Client.cpp"}
    with tempfile.TemporaryDirectory() as root:
        for rel, content in cases.items():
            os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w") as handle:
                handle.write(content)
        offences = check(root)
    found = {o.split(":", 1)[0] for o in offences}
    for o in offences:
        print("  found: " + o)
    if found != expected:
        print(f"self-test: missed {sorted(expected - found)}, wrongly flagged {sorted(found - expected)}")
        return 1
    print(f"self-test: all {len(expected)} offences found, nothing else")
    return 0


def main(argv):
    if len(argv) == 2 and argv[1] == "--self-test":
        return self_test()
    if len(argv) != 2:
        print(__doc__)
        return 2
    offences = check(argv[1])
    for o in offences:
        print(o)
    if offences:
        print(f"layering: {len(offences)} offence(s)")
        return 1
    print("layering: Shared/, Olvarra/ and Vesk_Client.cpp are portable; layers point one way")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

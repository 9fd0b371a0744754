#!/usr/bin/env python3
"""Prints which folders of the tree include which, and fails on a cycle or an include that points up.

The nodes are the families of runtime/ (the folders runtime/<family>/; a header at the top of
runtime/, unveilo.h, is a node of its own) and the programs' folders at the top of the tree
(PROGRAMS; one that does not exist is skipped). Each line is `node -> node, node, ...` over the
includes "runtime/<family>/..." and "<program>/..." of every .h and .cpp in the node's folder.

The exit status is 1 when the graph has a cycle (the cycle is printed), when a family includes
one at its own level or above it in LAYERS, when a family includes a program, or when a program
includes another program's folder; 0 otherwise. Programs stand above every family: a program may
include any family and its own folder.
"""
import pathlib
import re
import sys

# The first path component after runtime/: a family folder, or a header at the top (unveilo.h).
RUNTIME_INCLUDE = re.compile(r'^\s*#\s*include\s+"runtime/([^/"]+)', re.MULTILINE)
# The first path component of any quoted include: a program's folder when it is one of PROGRAMS.
TOP_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/', re.MULTILINE)

# Lowest first. Families on one level (os, io, net) stand side by side and include none of each
# other; a family may include only families on lower levels.
LAYERS = [["platform"], ["base"], ["memory"], ["strings"], ["os", "io", "net"], ["screen"],
          ["input"], ["display"], ["core"], ["unveilo.h"]]
LEVEL = {family: level for level, families in enumerate(LAYERS) for family in families}

# The programs, each a folder at the top of the tree: the tool, the stand-in for cmd, and the
# clean-up program.
PROGRAMS = ["app", "cmd", "clean"]


def sources(folder):
    return [path for path in sorted(folder.rglob("*"))
            if path.suffix in (".h", ".cpp") and path.is_file()]


def includes(path, own):
    """The nodes a file includes, its own node `own` left out."""
    text = path.read_text(encoding="utf-8", errors="replace")
    found = set(RUNTIME_INCLUDE.findall(text))
    found |= {top for top in TOP_INCLUDE.findall(text) if top in PROGRAMS}
    found.discard(own)
    return found


def include_graph(root):
    graph = {}
    runtime = root / "runtime"
    for path in sources(runtime):
        family = path.relative_to(runtime).parts[0]
        graph.setdefault(family, set()).update(includes(path, family))
    for program in PROGRAMS:
        folder = root / program
        if not folder.is_dir():
            continue
        targets = graph.setdefault(program, set())
        for path in sources(folder):
            targets.update(includes(path, program))
    for targets in list(graph.values()):
        for target in targets:
            graph.setdefault(target, set())
    return graph


def wrong_edges(graph):
    """Every include against the layers, with what is wrong with it."""
    wrong = []
    for node in sorted(graph):
        for target in sorted(graph[node]):
            if node in PROGRAMS and target in PROGRAMS:
                wrong.append((node, target, "a program includes another program's folder"))
            elif node in PROGRAMS:
                if target not in LEVEL:
                    wrong.append((node, target, "not a family of runtime/"))
            elif target in PROGRAMS:
                wrong.append((node, target, "the run-time includes a program"))
            elif node not in LEVEL or target not in LEVEL:
                wrong.append((node, target, "a family missing from the layers"))
            elif LEVEL[target] >= LEVEL[node]:
                wrong.append((node, target, "include against the layers"))
    return wrong


def find_cycle(graph):
    state = {}  # 1: on the current path, 2: finished
    path = []

    def visit(node):
        state[node] = 1
        path.append(node)
        for target in sorted(graph[node]):
            if state.get(target) == 1:
                return path[path.index(target):] + [target]
            if target not in state:
                cycle = visit(target)
                if cycle:
                    return cycle
        path.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def main():
    root = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent
    graph = include_graph(root)
    # The families first, lowest first, then the programs.
    order = sorted(graph, key=lambda node: (node in PROGRAMS, LEVEL.get(node, len(LAYERS)), node))
    for node in order:
        print(f"{node} -> {', '.join(sorted(graph[node])) or '(nothing)'}")
    cycle = find_cycle(graph)
    if cycle:
        print("include cycle: " + " -> ".join(cycle), file=sys.stderr)
        return 1
    wrong = wrong_edges(graph)
    for node, target, why in wrong:
        print(f"{why}: {node} -> {target}", file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())

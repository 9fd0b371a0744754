#!/usr/bin/env python3
"""Prints which folders of runtime/ include which, and fails on a cycle.

Each line is `family -> family, family, ...` over the includes "runtime/<family>/..." of every .h
and .cpp under runtime/<family>/; a header at the top of runtime/ (unveilo.h) is a node of its own. The exit status is 1 when the graph has a cycle (the cycle is
printed), 0 otherwise.
"""
import pathlib
import re
import sys

# The first path component after runtime/: a family folder, or a header at the top (unveilo.h).
INCLUDE = re.compile(r'^\s*#\s*include\s+"runtime/([^/"]+)', re.MULTILINE)


def include_graph(runtime):
    graph = {}
    for path in sorted(runtime.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        family = path.relative_to(runtime).parts[0]
        targets = graph.setdefault(family, set())
        for included in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            if included != family:
                targets.add(included)
                graph.setdefault(included, set())
    return graph


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
    graph = include_graph(root / "runtime")
    for family in sorted(graph):
        print(f"{family} -> {', '.join(sorted(graph[family])) or '(nothing)'}")
    cycle = find_cycle(graph)
    if cycle:
        print("include cycle: " + " -> ".join(cycle), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Fails when two units of a static library need each other, directly or
through others: each unit's undefined symbols are matched with the units
that define them (nm), and the graph they make must have no cycle."""
import collections
import subprocess
import sys


def symbols(library, which):
    out = subprocess.run(['nm', '-A', which, library], check=True, capture_output=True,
                         text=True).stdout
    for line in out.splitlines():
        fields = line.split(':', 2)
        if len(fields) < 3:
            continue
        unit, entry = fields[1], fields[2].split()
        yield unit, entry


def needs(library):
    defined = {}
    for unit, entry in symbols(library, '--defined-only'):
        # Only symbols other units can link to; weak ones (inline functions,
        # templates) are everybody's.
        if len(entry) == 3 and entry[1] in 'TDRBV':
            defined[entry[2]] = unit
    graph = collections.defaultdict(set)
    for unit, entry in symbols(library, '--undefined-only'):
        other = defined.get(entry[-1])
        if other is not None and other != unit:
            graph[unit].add(other)
    return graph


def cycle(graph):
    state = {}

    def visit(unit, path):
        state[unit] = 'open'
        for other in sorted(graph.get(unit, ())):
            if state.get(other) == 'open':
                return path[path.index(other):] + [other]
            if other not in state:
                found = visit(other, path + [other])
                if found:
                    return found
        state[unit] = 'done'
        return None

    for unit in sorted(graph):
        if unit not in state:
            found = visit(unit, [unit])
            if found:
                return found
    return None


def main():
    graph = needs(sys.argv[1])
    found = cycle(graph)
    if found:
        print('units that need each other: ' + ' -> '.join(found))
        return 1
    print(f'{len(graph)} units, no two that need each other')
    return 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""The rules of include_graph.py, each on a small tree of its own: what passes, what fails, and why."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

SCRIPT = pathlib.Path(__file__).with_name("include_graph.py")


def run(files):
    """Runs the check over a tree of {path: text}; its status, standard output and error."""
    with tempfile.TemporaryDirectory() as root:
        for name, text in files.items():
            path = pathlib.Path(root, name)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        done = subprocess.run([sys.executable, str(SCRIPT), root], capture_output=True, text=True)
        return done.returncode, done.stdout, done.stderr


def include(*targets):
    return "".join(f'#include "{target}"\n' for target in targets)


BASE = {
    "runtime/platform/platform.h": "",
    "runtime/base/error.h": include("runtime/platform/platform.h"),
    "runtime/core/runtime_main.h": include("runtime/base/error.h"),
    "runtime/unveilo.h": include("runtime/core/runtime_main.h"),
}


class IncludeGraph(unittest.TestCase):
    def test_rules(self):
        cases = [
            # (what, extra files, expected status, text expected in the output or errors)
            ("programs above every family, their own folder free",
             {"app/main.cpp": include("runtime/unveilo.h"),
              "cmd/main.cpp": include("cmd/cmd_run.h", "runtime/platform/platform.h"),
              "cmd/cmd_run.h": ""},
             0, "cmd -> platform\n"),
            ("a listed program without a folder is skipped", {}, 0, "unveilo.h -> core\n"),
            ("a program reaching into another program's folder",
             {"cmd/main.cpp": "", "clean/main.cpp": include("cmd/cmd_run.h")},
             1, "a program includes another program's folder: clean -> cmd"),
            ("the run-time reaching up into a program",
             {"cmd/cmd_run.h": "", "runtime/platform/posix/fs.cpp": include("cmd/cmd_run.h")},
             1, "the run-time includes a program: platform -> cmd"),
            ("a family reaching up",
             {"runtime/base/dialog.cpp": include("runtime/core/runtime_main.h")},
             1, "include cycle"),
            ("a family on the same level",
             {"runtime/os/shell.cpp": include("runtime/io/file.h"), "runtime/io/file.h": ""},
             1, "include against the layers: os -> io"),
            ("a family the layers do not know",
             {"runtime/extra/x.cpp": include("runtime/base/error.h")},
             1, "a family missing from the layers: extra -> base"),
        ]
        for what, extra, status, expected in cases:
            with self.subTest(what):
                code, out, err = run({**BASE, **extra})
                self.assertEqual(code, status, out + err)
                self.assertIn(expected, out + err)

    def test_absent_program_prints_no_node(self):
        code, out, _ = run({**BASE, "app/main.cpp": include("runtime/unveilo.h")})
        self.assertEqual(code, 0)
        self.assertIn("app -> unveilo.h", out)
        self.assertNotIn("cmd", out)
        self.assertNotIn("clean", out)


if __name__ == "__main__":
    unittest.main()

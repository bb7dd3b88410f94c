#!/usr/bin/env python3
"""The source-rule checker against small source trees, each breaking one rule (or none)."""
import importlib.machinery
import importlib.util
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKER = os.path.join(HERE, "..", "..", "scripts", "check-sources")
loader = importlib.machinery.SourceFileLoader("check_sources", CHECKER)
spec = importlib.util.spec_from_loader("check_sources", loader)
check_sources = importlib.util.module_from_spec(spec)
loader.exec_module(check_sources)

CMAKE = """target_sources(updatercore PRIVATE text.cpp)
if(WIN32)
  target_sources(updaterwin PRIVATE window.cpp)
endif()
"""
ROOT_CMAKE = "add_executable(updater WIN32 part/main.cpp $<TARGET_OBJECTS:updater_resources>)\n"

# A tree that keeps every rule: the mutations below each break one.
SOUND = {
    "CMakeLists.txt": ROOT_CMAKE,
    "part/CMakeLists.txt": CMAKE,
    "part/text.h": "// Core. Text.\n#include <string.h>\nint Measure(const char* text);\n",
    "part/text.cpp": '// Core. Text.\n#include "part/text.h"\n'
                     '// 日本語 in a comment is fine.\n'
                     'static const char kMark[] = "\\x95\\x5c";\n'
                     'int Measure(const char* text)\n{\n    return (int)strlen(text);\n}\n',
    "part/window.h": "// Win32. A window.\n#include <windows.h>\nHWND OpenWindow(void);\n",
    "part/window.cpp": '// Win32. A window.\n#include "part/window.h"\n'
                       'static const char kCaption[] = "更新";\n'
                       'HWND OpenWindow(void)\n{\n    return NULL;\n}\n',
    "part/main.cpp": "// Win32. The entry point.\nint main(void)\n{\n    return 0;\n}\n",
    "part/sizes.h": "// Core. Sizes, no functions.\n#define SIZE 260\n",
}


def run(changes):
    files = dict(SOUND)
    files.update(changes)
    with tempfile.TemporaryDirectory() as root:
        for rel, text in files.items():
            if text is None:
                continue
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        return check_sources.check(root)


class CheckSources(unittest.TestCase):
    def test_sound_tree_passes(self):
        self.assertEqual(run({}), [])

    def test_each_broken_rule_is_found(self):
        cases = [
            ("no label", {"part/sizes.h": "// Sizes.\n#define SIZE 260\n"},
             "part/sizes.h: the first comment line"),
            ("label against CMake", {"part/text.cpp": SOUND["part/text.cpp"].replace("// Core.", "// Win32.", 1)},
             "part/text.cpp: labelled Win32 but built into the Core library"),
            ("header against its source", {"part/window.h": "// Core. A window.\nvoid* OpenWindow(void);\n"},
             "part/window.h: labelled Core but part/window.cpp is Win32"),
            ("source in no library", {"part/extra.cpp": "// Core. Extra.\n"},
             "part/extra.cpp: not in updatercore or updaterwin"),
            ("windows.h in core", {"part/text.h": SOUND["part/text.h"].replace("<string.h>", "<Windows.h>")},
             "part/text.h: a core file includes <Windows.h>"),
            ("Win32 header in core", {"part/text.cpp": SOUND["part/text.cpp"].replace(
                '#include "part/text.h"', '#include "part/text.h"\n#include "part/window.h"')},
             "part/text.cpp: a core file includes the Win32 header part/window.h"),
            ("Japanese literal in core", {"part/text.cpp": SOUND["part/text.cpp"].replace('"\\x95\\x5c"', '"表"')},
             "part/text.cpp: a byte above 0x7F outside comments"),
            ("declared, defined elsewhere", {"part/text.h": SOUND["part/text.h"] + "int Count(void);\n"},
             "part/text.h: declares Count() which part/text.cpp does not define"),
            ("functions in a header without source", {"part/sizes.h": SOUND["part/sizes.h"] + "int Size(void);\n"},
             "part/sizes.h: declares Size() but there is no part/sizes.cpp"),
        ]
        for name, changes, expected in cases:
            with self.subTest(name):
                faults = run(changes)
                self.assertTrue(any(f.startswith(expected) for f in faults), faults)
                self.assertEqual(len(faults), 1, faults)

    def test_project_sources_keep_the_rules(self):
        src = os.path.join(HERE, "..", "..", "src")
        self.assertEqual(check_sources.check(src), [])


if __name__ == "__main__":
    sys.exit(unittest.main())

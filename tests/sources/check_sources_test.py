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

CORE_CMAKE = "add_library(updatercore STATIC text/text.cpp names/names.cpp)\n"
WIN32_CMAKE = ("add_library(updaterwin STATIC base/window.cpp)\n"
               "add_executable(updater WIN32 main.cpp $<TARGET_OBJECTS:updater_resources>)\n")

# A tree that keeps every rule: the mutations below each break one.
SOUND = {
    "core/CMakeLists.txt": CORE_CMAKE,
    "win32/CMakeLists.txt": WIN32_CMAKE,
    "core/text/text.h": "// Text.\n#include <string.h>\nint Measure(const char* text);\n",
    "core/text/text.cpp": '// Text.\n#include "text/text.h"\n'
                          '// 日本語 in a comment is fine.\n'
                          'static const char kMark[] = "\\x95\\x5c";\n'
                          'int Measure(const char* text)\n{\n    return (int)strlen(text);\n}\n',
    "core/text/sizes.h": "// Sizes, no functions.\n#define SIZE 260\n",
    "core/names/names.h": "// Names.\nint Count(const char* name);\n",
    "core/names/names.cpp": '// Names.\n#include "names/names.h"\n#include "text/text.h"\n'
                            'int Count(const char* name)\n{\n    return Measure(name);\n}\n',
    "win32/base/window.h": "// A window.\n#include <windows.h>\nHWND OpenWindow(void);\n",
    "win32/base/window.cpp": '// A window.\n#include "base/window.h"\n#include "text/text.h"\n'
                             'static const char kCaption[] = "更新";\n'
                             'HWND OpenWindow(void)\n{\n    return NULL;\n}\n',
    "win32/main.cpp": '// The entry point.\n#include "base/window.h"\nint main(void)\n{\n    return 0;\n}\n',
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
            ("source outside both sides", {"extra/extra.cpp": "// Extra.\n"},
             "extra/extra.cpp: not in a folder of src/core or in src/win32"),
            ("core source outside a folder", {"core/loose.h": "// Loose.\n#define LOOSE 1\n"},
             "core/loose.h: not in a folder of src/core"),
            ("source in no library", {"core/text/extra.cpp": "// Extra.\n"},
             "core/text/extra.cpp: not built by src/core/CMakeLists.txt"),
            ("core source in the Win32 list", {"win32/base/more.cpp": "// More.\n",
                                               "core/CMakeLists.txt": CORE_CMAKE.replace("names/names.cpp", "names/names.cpp base/more.cpp")},
             "win32/base/more.cpp: not built by src/win32/CMakeLists.txt"),
            ("include climbing out", {"core/text/text.cpp": SOUND["core/text/text.cpp"].replace(
                '#include "text/text.h"', '#include "text/text.h"\n#include "../../win32/base/window.h"')},
             "core/text/text.cpp: includes ../../win32/base/window.h past the include path"),
            ("folders in a circle", {"core/text/text.cpp": SOUND["core/text/text.cpp"].replace(
                '#include "text/text.h"', '#include "text/text.h"\n#include "names/names.h"')},
             "folders include each other in a circle: core/names -> core/text -> core/names"),
            ("windows.h in core", {"core/text/text.h": SOUND["core/text/text.h"].replace("<string.h>", "<Windows.h>")},
             "core/text/text.h: a core file includes <Windows.h>"),
            ("Japanese literal in core", {"core/text/text.cpp": SOUND["core/text/text.cpp"].replace('"\\x95\\x5c"', '"表"')},
             "core/text/text.cpp: a byte above 0x7F outside comments"),
            ("declared, defined elsewhere", {"core/text/text.h": SOUND["core/text/text.h"] + "int Other(void);\n"},
             "core/text/text.h: declares Other() which core/text/text.cpp does not define"),
            ("functions in a header without source", {"core/text/sizes.h": SOUND["core/text/sizes.h"] + "int Size(void);\n"},
             "core/text/sizes.h: declares Size() but there is no core/text/sizes.cpp"),
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

#!/usr/bin/env python3
"""The layering checker (check_layers.py) on a small source tree of its own: silent on a tree that
keeps the layers, one line per planted violation otherwise. Standard library only."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_layers.py")

# A tree that keeps the layers: every layer includes the one below it, the tools what they link.
CLEAN_FILES = {
    "platform/P.h": "#include <QString>\n",
    "platform/winsock/Api.h": "",
    "framework/F.h": '#include "platform/P.h"\n',
    "widgets/W.h": '#include "framework/F.h"\n#include <QWidget>\n',
    "settings/S.h": '#include "framework/F.h"\n#include <QWidget>\n',
    "net/N.cpp": '#include "framework/F.h"\n#include "platform/winsock/Api.h"\n#include "N.moc"\n',
    "sound/B.cpp": '#include "framework/F.h"\n',
    "sound/output/Out.cpp": "#include <QAudioSink>\n",
    "shell/Main.cpp": '#include "settings/S.h"\n#include "widgets/W.h"\n#include "net/N.cpp"\n#include "sound/B.cpp"\n'
                      '#include "shell/Rules.h"\n',
    # The shell's QtCore-only core: what its header declares, its own source defines.
    "shell/Rules.h": '#include "framework/F.h"\n#include <QString>\nnamespace shell {\nbool IsNewer(int a, int b);\n'
                     "class TRules {\npublic:\n    int Count() const;\n    virtual void Drop() = 0;\n};\n}\n",
    "shell/Rules.cpp": '#include "shell/Rules.h"\nnamespace shell {\nbool IsNewer(int a, int b) { return a > b; }\n'
                       "int TRules::Count() const { return 0; }\n}\n",
    "tools/convert/Convert.cpp": '#include "shell/Main.cpp"\n',
    "tools/ftpget/Get.cpp": '#include "net/N.cpp"\n',
}
CLEAN_LINKS = {
    "drovanel_platform": ("platform", ["Qt6::Core"]),
    "wsock32": ("platform/winsock", ["Qt6::Core"]),
    "drovanel_framework": ("framework", ["drovanel_platform", "Qt6::Core"]),
    "drovanel_widgets": ("widgets", ["drovanel_framework", "Qt6::Widgets"]),
    "drovanel_settings": ("settings", ["drovanel_framework", "Qt6::Widgets"]),
    "drovanel_net": ("net", ["drovanel_framework", "Qt6::Core"]),
    "drovanel_sound": ("sound", ["drovanel_framework", "$<LINK_ONLY:dl>"]),
    "drovanel-audio": ("sound/output", ["Qt6::Multimedia"]),
    "drovanel_shell_core": ("shell", ["drovanel_framework", "Qt6::Core"]),
    "drovanel_shell": ("shell", ["drovanel_shell_core", "drovanel_settings", "drovanel_widgets", "drovanel_net",
                                 "drovanel_sound"]),
    "drovanel": ("shell", ["drovanel_shell"]),
    "drovanel-convert": ("tools/convert", ["drovanel_shell"]),
    "drovanel-ftpget": ("tools/ftpget", ["drovanel_net"]),
}
# The sources of the two libraries that share shell/, as CMake lists them.
SOURCES = {
    "drovanel_shell_core": ["shell/Rules.h", "shell/Rules.cpp"],
    "drovanel_shell": ["shell/Main.cpp", "shell/Desktop.cpp"],
}
QT_HEADERS = ["QtCore/QString", "QtWidgets/QWidget", "QtGui/QImage", "QtMultimedia/QAudioSink"]


class LayerCheckerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = os.path.join(self.dir.name, "src")
        self.qt = os.path.join(self.dir.name, "qt")
        for name, text in CLEAN_FILES.items():
            self.write(os.path.join(self.root, name), text)
        for header in QT_HEADERS:
            self.write(os.path.join(self.qt, header), "")
        self.links = dict(CLEAN_LINKS)

    def tearDown(self):
        self.dir.cleanup()

    @staticmethod
    def write(path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)

    def check(self, *extra):
        links = os.path.join(self.dir.name, "links.txt")
        with open(links, "w", encoding="utf-8") as out:
            for name, (folder, libs) in self.links.items():
                out.write(f"{name}|{folder}|{';'.join(libs)}|{';'.join(SOURCES.get(name, []))}\n")
        run = subprocess.run(
            [sys.executable, CHECKER, "--source-dir", self.root, "--links", links, "--qt-include", self.qt, *extra],
            capture_output=True, text=True, check=False)
        lines = run.stdout.splitlines()
        return run.returncode, [line for line in lines if not line.startswith("Layering check")]

    def test_a_tree_that_keeps_the_layers_passes(self):
        self.assertEqual(self.check(), (0, []))

    def test_each_planted_include_is_named_on_a_line_of_its_own(self):
        cases = [
            ("net/Up.cpp", '#include "widgets/W.h"\n',
             "net/Up.cpp:1: includes widgets/W.h: net/ may include only framework, net, platform"),
            ("platform/Up.h", '\n#include "shell/Main.cpp"\n',
             "platform/Up.h:2: includes shell/Main.cpp: platform/ may include only platform"),
            ("settings/Controls.cpp", '#include "widgets/W.h"\n',
             "settings/Controls.cpp:1: includes widgets/W.h: settings/ may include only framework, platform, settings"),
            ("sound/Beside.cpp", '#include "net/N.cpp"\n',
             "sound/Beside.cpp:1: includes net/N.cpp: sound/ may include only framework, platform, sound"),
            ("framework/Gui.cpp", "#  include <QWidget>\n",
             "framework/Gui.cpp:1: includes <QWidget> of QtWidgets: framework/ may use only QtCore"),
            ("net/Image.cpp", "#include <QtGui/QImage>\n",
             "net/Image.cpp:1: includes <QtGui/QImage> of QtGui: net/ may use only QtCore"),
            ("tools/ftpget/Shell.cpp", '#include "shell/Main.cpp"\n',
             "tools/ftpget/Shell.cpp:1: includes shell/Main.cpp: tools/ftpget/ may include only framework, net,"
             " platform, tools/ftpget"),
            ("framework/Test.cpp", '#include "tools/ftpget/Get.cpp"\n',
             "framework/Test.cpp:1: includes tools/ftpget/Get.cpp: framework/ may include only framework, platform"),
        ]
        for path, text, expected in cases:
            with self.subTest(path=path):
                self.write(os.path.join(self.root, path), text)
                self.assertEqual(self.check(), (1, [expected]))
                os.remove(os.path.join(self.root, path))

    def test_links_above_the_layer_or_to_qt_gui_modules_are_named(self):
        cases = [
            ("drovanel_framework", ("framework", ["drovanel_platform", "Qt6::Gui"]),
             ["drovanel_framework (framework/) links QtGui (through drovanel_framework -> Qt6::Gui):"
              " below the widgets layer only QtCore"]),
            ("drovanel_net", ("net", ["drovanel_framework", "drovanel_widgets"]),
             ["drovanel_net (net/) links drovanel_widgets of widgets/, a layer above or beside it",
              "drovanel_net (net/) links QtGui (through drovanel_net -> drovanel_widgets -> Qt6::Widgets):"
              " below the widgets layer only QtCore",
              "drovanel_net (net/) links QtWidgets (through drovanel_net -> drovanel_widgets -> Qt6::Widgets):"
              " below the widgets layer only QtCore"]),
            ("drovanel_sound", ("sound", ["drovanel_framework", "$<LINK_ONLY:Qt6::Network>"]),
             ["drovanel_sound (sound/) links QtNetwork (through drovanel_sound -> Qt6::Network):"
              " below the widgets layer only QtCore"]),
            ("drovanel_net", ("net", ["drovanel_framework", "Qt6::DBus"]),
             ["drovanel_net (net/) links QtDBus (through drovanel_net -> Qt6::DBus):"
              " below the widgets layer only QtCore"]),
        ]
        for name, planted, expected in cases:
            with self.subTest(target=name):
                self.links[name] = planted
                self.assertEqual(self.check(), (1, expected))
                self.links[name] = CLEAN_LINKS[name]

    def test_the_shell_core_keeps_to_qtcore_and_the_framework(self):
        cases = [
            ("a declaration defined only above",
             {"shell/Rules.h": CLEAN_FILES["shell/Rules.h"] + "namespace shell {\nbool OpenDocument(const char *p);\n}\n",
              "shell/Desktop.cpp": '#include "shell/Rules.h"\n#include "widgets/W.h"\n'
                                   "bool shell::OpenDocument(const char *p) { return p; }\n"},
             None, ["shell/Rules.h: drovanel_shell_core declares OpenDocument, defined only in shell/Desktop.cpp of"
                    " drovanel_shell, which drovanel_shell_core does not link"]),
            ("a member declared in the core, defined above",
             {"shell/Desktop.cpp": '#include "shell/Rules.h"\nnamespace shell {\nvoid TRules::Drop() {}\n'
                                   "int TRules::Count() const { return 1; }\n}\n",
              "shell/Rules.h": CLEAN_FILES["shell/Rules.h"].replace("virtual void Drop() = 0;", "void Drop();")},
             None, ["shell/Rules.h: drovanel_shell_core declares TRules::Drop, defined only in shell/Desktop.cpp of"
                    " drovanel_shell, which drovanel_shell_core does not link"]),
            ("an include of the form's library",
             {"shell/Rules.cpp": CLEAN_FILES["shell/Rules.cpp"] + '#include "shell/Main.cpp"\n'},
             None, ["shell/Rules.cpp:6: includes shell/Main.cpp: drovanel_shell_core may include only its own files"
                    " and framework, platform"]),
            ("an include of the widgets",
             {"shell/Rules.h": '#include "widgets/W.h"\n' + CLEAN_FILES["shell/Rules.h"]},
             None, ["shell/Rules.h:1: includes widgets/W.h: drovanel_shell_core may include only its own files and"
                    " framework, platform"]),
            ("a Qt GUI header",
             {"shell/Rules.cpp": "#include <QtGui/QImage>\n" + CLEAN_FILES["shell/Rules.cpp"]},
             None, ["shell/Rules.cpp:1: includes <QtGui/QImage> of QtGui: drovanel_shell_core may use only QtCore"]),
            ("a link to the widgets", {}, ("shell", ["drovanel_framework", "drovanel_widgets"]),
             ["drovanel_shell_core (shell/) links drovanel_widgets: it may link only framework, platform and QtCore",
              "drovanel_shell_core (shell/) links QtGui (through drovanel_shell_core -> drovanel_widgets ->"
              " Qt6::Widgets): it may link only QtCore",
              "drovanel_shell_core (shell/) links QtWidgets (through drovanel_shell_core -> drovanel_widgets ->"
              " Qt6::Widgets): it may link only QtCore"]),
        ]
        for what, files, links, expected in cases:
            with self.subTest(what):
                for path, text in files.items():
                    self.write(os.path.join(self.root, path), text)
                if links:
                    self.links["drovanel_shell_core"] = links
                self.assertEqual(self.check(), (1, expected))
                for path in files:
                    if path in CLEAN_FILES:
                        self.write(os.path.join(self.root, path), CLEAN_FILES[path])
                    else:
                        os.remove(os.path.join(self.root, path))
                self.links["drovanel_shell_core"] = CLEAN_LINKS["drovanel_shell_core"]
                self.assertEqual(self.check(), (0, []))

    @unittest.skipUnless(os.environ.get("DROVANEL_QT_WIDGETS_LIBRARY"), "no Qt Widgets library given")
    def test_a_built_file_that_needs_a_forbidden_qt_library_is_named(self):
        # A real shared object read with the real readelf: Qt Widgets needs Qt Gui, which a
        # command-line tool may not need and the audio module may.
        library = os.environ["DROVANEL_QT_WIDGETS_LIBRARY"]
        readelf = os.environ.get("DROVANEL_READELF", "readelf")
        status, lines = self.check("--readelf", readelf, "--elf", f"drovanel-ftpget={library}")
        self.assertEqual(status, 1)
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r": drovanel-ftpget needs libQt6Gui\.so\.6; it may need none of QtDBus, QtGui, "
                                   r"QtMultimedia, QtNetwork, QtWidgets$")
        self.assertEqual(self.check("--readelf", readelf, "--elf", f"drovanel-audio={library}"), (0, []))


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""The version is written once, in CMakeLists.txt; everything else that states it must agree. The
longest reply is stated in quillon.h and repeated, with the same figure, where integrators read."""
import json
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from common import ROOT, cmake_version, header_macros, read


class OneVersion(unittest.TestCase):
    def test_the_changelog_has_an_unreleased_section_and_one_for_the_cmake_version(self):
        headings = re.findall(r"^## (.+)$", read("CHANGELOG.md"), re.M)
        self.assertEqual(headings[0], "Unreleased")
        self.assertIn(cmake_version(), headings)

    def test_the_javascript_client_and_the_browser_extension_have_the_cmake_version(self):
        for path in (("clients", "js", "package.json"), ("clients", "extension", "manifest.json")):
            with open(os.path.join(ROOT, *path), encoding="utf-8") as f:
                self.assertEqual(json.load(f)["version"], cmake_version(), "/".join(path))


class OneLongestReply(unittest.TestCase):
    def test_the_docs_and_the_dotnet_sample_state_the_figure_of_quillon_h(self):
        figure = header_macros()["QUILLON_REPLY_MAX"]
        written = "{:,}".format(figure)
        for path in (("docs", "commands.md"), ("docs", "bridge.md"),
                     ("samples", "dotnet", "README.md")):
            self.assertIn(written, read(*path), "/".join(path))
        self.assertIn("public const int ReplyMax = %d;" % figure,
                      read("samples", "dotnet", "QuillonSample.cs"))

    def test_no_document_still_states_an_older_size(self):
        for name in os.listdir(os.path.join(ROOT, "docs")):
            if name.endswith(".md"):
                text = read("docs", name)
                for old in (r"\b8,?192\b", r"(?<![\d.])[12] MiB", r"\b524,?28[78]\b"):
                    self.assertNotRegex(text, old, "docs/%s" % name)


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""What a release states in more than one place must agree: the version, written once in
CMakeLists.txt; the longest reply, stated in quillon.h; and the .NET sample, which compiles with
Mono's C# compiler (no .NET runtime here loads a Windows DLL), its result enum quillon.h's."""
import json
import os
import re
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SAMPLE = ("samples", "dotnet", "QuillonSample.cs")


def read(*parts):
    with open(os.path.join(ROOT, *parts), encoding="utf-8") as f:
        return f.read()


def cmake_version():
    return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9]+\.[0-9]+\.[0-9]+)",
                     read("CMakeLists.txt"))[1]


def header_macros():
    """The numeric #defines of quillon.h: name -> value."""
    return {m[1]: int(m[2]) for m in re.finditer(r"#define (QUILLON_\w+) \(?(-?\d+)\)?",
                                                 read("include", "quillon.h"))}


class OneVersion(unittest.TestCase):
    def test_the_changelog_has_an_unreleased_section_and_one_for_the_cmake_version(self):
        headings = re.findall(r"^## (.+)$", read("CHANGELOG.md"), re.M)
        self.assertEqual(headings[0], "Unreleased")
        self.assertIn(cmake_version(), headings)

    def test_the_javascript_client_and_the_browser_extension_have_the_cmake_version(self):
        for path in (("clients", "js", "package.json"), ("clients", "extension", "manifest.json")):
            self.assertEqual(json.loads(read(*path))["version"], cmake_version(), "/".join(path))


class OneLongestReply(unittest.TestCase):
    def test_the_docs_and_the_dotnet_sample_state_the_figure_of_quillon_h(self):
        figure = header_macros()["QUILLON_REPLY_MAX"]
        for path in (("docs", "commands.md"), ("docs", "bridge.md"),
                     ("samples", "dotnet", "README.md")):
            self.assertIn("{:,}".format(figure), read(*path), "/".join(path))
        self.assertIn("public const int ReplyMax = %d;" % figure, read(*SAMPLE))

    def test_no_document_still_states_an_older_size(self):
        for name in os.listdir(os.path.join(ROOT, "docs")):
            if name.endswith(".md"):
                text = read("docs", name)
                for old in (r"\b8,?192\b", r"(?<![\d.])[12] MiB", r"\b524,?28[78]\b"):
                    self.assertNotRegex(text, old, "docs/%s" % name)


class DotnetSample(unittest.TestCase):
    def test_it_compiles_as_an_x86_program_without_warnings(self):
        with tempfile.TemporaryDirectory() as folder:
            out = "-out:" + os.path.join(folder, "QuillonSample.exe")
            r = subprocess.run(["mcs", "-platform:x86", "-warnaserror", out,
                                os.path.join(ROOT, *SAMPLE)], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_its_result_enum_is_the_result_codes_of_quillon_h(self):
        squeeze = lambda name: name.replace("_", "").upper()
        enum = re.search(r"enum QuillonResult\s*\{(.*?)\}", read(*SAMPLE), re.S)[1]
        members = {squeeze(m[1]): int(m[2]) for m in re.finditer(r"(\w+) = (-?\d+)", enum)}
        codes = {squeeze(k[len("QUILLON_RESULT_"):]): v for k, v in header_macros().items()
                 if k.startswith("QUILLON_RESULT_")}
        self.assertEqual(members, codes)


if __name__ == "__main__":
    unittest.main(verbosity=2)

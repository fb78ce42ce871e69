"""Languages, country code and locales, each under its own locale settings."""
import os
import shutil
import tempfile
import unittest

from device_support import run_python, text_type

LOCALE_VARIABLES = ("LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_ADDRESS", "W32_SYSROOT")


def answers(settings, code):
    """The repr the code prints in a fresh interpreter with only `settings` for locale."""
    env = dict((name, "") for name in LOCALE_VARIABLES)
    env.update(settings)
    status, out, err = run_python("import _Device\nprint(repr(%s))" % code, env)
    if status != 0:
        raise AssertionError(err)
    return eval(out)


class UserLanguageAndCountry(unittest.TestCase):
    def test_user_language_and_country_code_follow_the_settings(self):
        cases = [
            ({"LANG": "de_DE.UTF-8"}, u"DEU", u"49"),
            ({"LANG": "en_US.UTF-8"}, u"ENU", u"1"),
            ({"LANG": "en_GB.ISO-8859-1"}, u"ENG", u"44"),
            ({"LANG": "fr_CA.UTF-8"}, u"FRC", u"2"),
            ({"LANG": "de_AT.UTF-8@euro"}, u"DEA", u"43"),
            ({"LANG": "ja_JP.UTF-8"}, u"JPN", u"81"),
            ({"LANG": "sr_RS@latin"}, u"SRP", u"381"),
            # LC_ALL wins; LC_MESSAGES names the language, LC_ADDRESS the location.
            ({"LANG": "de_DE.UTF-8", "LC_ALL": "it_IT.UTF-8"}, u"ITA", u"39"),
            ({"LANG": "en_US.UTF-8", "LC_MESSAGES": "nl_NL.UTF-8", "LC_ADDRESS": "fr_CH.UTF-8"}, u"NLD", u"41"),
            # No location: the user default locale's code.
            ({"LANG": "C.UTF-8"}, u"ENU", u"1"),
            ({"LANG": "de"}, u"DEU", u"49"),
            ({}, u"ENU", u"1"),
            # Garbage and unknown names count as no locale.
            ({"LANG": "!!no such locale"}, u"ENU", u"1"),
            ({"LANG": "xx_YY.UTF-8"}, u"ENU", u"1"),
            ({"LANG": "../../etc/passwd"}, u"ENU", u"1"),
            # A location whose three-letter code no locale carries: the user default's code.
            ({"LANG": "de_DE.UTF-8", "LC_ADDRESS": "en_AQ"}, u"DEU", u"49"),
        ]
        for settings, language, country in cases:
            got = answers(settings, "(_Device.GetUserLang(), _Device.GetSystemCountryCode())")
            self.assertEqual(got, (language, country), settings)
            self.assertTrue(all(isinstance(text, text_type) for text in got))


class SystemLanguage(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="w32-sysroot-")
        os.makedirs(os.path.join(self.root, "etc", "default"))

    def tearDown(self):
        shutil.rmtree(self.root)

    def write(self, name, text):
        with open(os.path.join(self.root, "etc", name), "w") as f:
            f.write(text)

    def test_system_language_from_the_machines_locale_configuration(self):
        cases = [
            ("default/locale", 'LANG="fr_FR.UTF-8"\n', u"FRA"),
            ("default/locale", "# comment\nLANG=es_ES.UTF-8\nLANGUAGE=es\n", u"ESN"),
            ("default/locale", "LANG=en_US.UTF-8\nLC_MESSAGES=pl_PL.UTF-8\n", u"PLK"),
            ("locale.conf", "LANG='sv_SE.UTF-8'\n", u"SVE"),
            ("default/locale", "export LANG=it_IT.UTF-8\n", u"ITA"),
            ("locale.conf", "LANG=\x00\xff garbage\n", u"ENU"),
            ("locale.conf", "", u"ENU"),
        ]
        for name, text, expected in cases:
            for old in ("default/locale", "locale.conf"):
                path = os.path.join(self.root, "etc", old)
                if os.path.isfile(path):
                    os.remove(path)
            self.write(name, text)
            got = answers({"W32_SYSROOT": self.root, "LANG": "de_DE.UTF-8"}, "_Device.GetSystemLang()")
            self.assertEqual(got, expected, (name, text))

    def test_unreadable_configuration_gives_american_english(self):
        os.makedirs(os.path.join(self.root, "etc", "default", "locale"))  # a folder, not a file
        self.assertEqual(answers({"W32_SYSROOT": self.root}, "_Device.GetSystemLang()"), u"ENU")


class SystemLocales(unittest.TestCase):
    def test_pairs_are_lists_of_identifier_and_interface_language_name(self):
        english = answers({"LANG": "en_US.UTF-8"}, "_Device.getSystemLocales()")
        german = answers({"LANG": "de_DE.UTF-8"}, "_Device.getSystemLocales()")
        self.assertGreater(len(english), 250)
        self.assertEqual([pair[0] for pair in english], [pair[0] for pair in german])
        names = dict((lcid, name) for lcid, name in english)
        self.assertEqual(names[0x0409], u"English (United States)")
        self.assertEqual(names[0x0407], u"German (Germany)")
        self.assertEqual(dict(german)[0x0407], u"Deutsch (Deutschland)")
        for neutral in (0x0001, 0x0009, 0x007f):  # a language or the invariant, no actual locale
            self.assertNotIn(neutral, names)
        for pair in english:
            self.assertEqual(type(pair), list)
            self.assertEqual(len(pair), 2)
            self.assertEqual(type(pair[0]), int)
            self.assertEqual(type(pair[1]), text_type)
            self.assertTrue(pair[1])

    def test_twice_the_same_list(self):
        self.assertEqual(*answers({"LANG": "fr_FR.UTF-8"}, "(_Device.getSystemLocales(), _Device.getSystemLocales())"))


if __name__ == "__main__":
    unittest.main()

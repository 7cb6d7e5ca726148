"""Reads semsignal.exe, semwait.exe or semhold.exe from outside, with pefile: the image's
properties, its imports and the resources it carries, field by field; all three carry the same,
in both builds. ARCH is the build's: x86, a 32-bit image that is not large-address aware, or x64, a
64-bit one with the 64-bit norm, large-address aware and with high-entropy addresses.

usage: pe_image_test.py EXE MANIFEST_FILE ARCH
"""

import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

EXE, MANIFEST, ARCH = sys.argv[1], sys.argv[2], sys.argv[3]
IS_64_BIT = {"x86": False, "x64": True}[ARCH]

RT_VERSION, RT_MANIFEST = 16, 24
EN_US = 0x0409
STRINGS = [
    ("CompanyName", "Kelvaro, Inc."),
    ("FileDescription", "Dorvanel"),
    ("FileVersion", "1.264.0000.0"),
    ("LegalCopyright", None),  # the maker's notice: checked for shape only
    ("ProductName", "Dorvanel"),
    ("ProductVersion", "1.264.0000"),
]


def version_nodes(data, offset=0):
    """Walks one VS_VERSIONINFO-style node: (key, value type, value length, value bytes, children)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[position:position + value_bytes]
    position = (position + value_bytes + 3) & ~3
    children = []
    while position < end:
        child = version_nodes(data, position)
        children.append(child)
        position = (position + child["length"] + 3) & ~3
    return {"key": key, "type": value_type, "value_length": value_length, "value": value,
            "children": children, "length": length}


class Image(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def resource(self, type_id):
        entries = {entry.id: entry for entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries}
        data = entries[type_id].directory.entries[0].directory.entries[0].data.struct
        return self.pe.get_data(data.OffsetToData, data.Size)

    def test_a_console_program_of_its_build_for_windows_6(self):
        header, optional = self.pe.FILE_HEADER, self.pe.OPTIONAL_HEADER
        machine = "IMAGE_FILE_MACHINE_AMD64" if IS_64_BIT else "IMAGE_FILE_MACHINE_I386"
        self.assertEqual(header.Machine, pefile.MACHINE_TYPE[machine])
        magic = pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS if IS_64_BIT else pefile.OPTIONAL_HEADER_MAGIC_PE
        self.assertEqual(optional.Magic, magic)
        self.assertEqual(optional.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), (6, 0))
        self.assertEqual((optional.MajorOperatingSystemVersion,
                          optional.MinorOperatingSystemVersion), (6, 0))

    def test_relocatable_nx_compatible_terminal_server_aware_and_large_address_aware_if_64_bit(self):
        characteristics = self.pe.OPTIONAL_HEADER.DllCharacteristics
        for flag, expected in (("DYNAMIC_BASE", True), ("NX_COMPAT", True),
                               ("TERMINAL_SERVER_AWARE", True), ("HIGH_ENTROPY_VA", IS_64_BIT)):
            mask = pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_" + flag]
            self.assertEqual(bool(characteristics & mask), expected, flag)
        header = self.pe.FILE_HEADER.Characteristics
        self.assertEqual(
            bool(header & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_LARGE_ADDRESS_AWARE"]), IS_64_BIT)
        self.assertFalse(header & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"])
        relocations = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
        self.assertGreater(relocations.Size, 0)

    def test_imports_only_the_system_dlls(self):
        imported = sorted(entry.dll.decode() for entry in self.pe.DIRECTORY_ENTRY_IMPORT)
        self.assertEqual(imported, ["KERNEL32.dll", "msvcrt.dll"])

    def test_has_no_link_timestamp(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)

    def test_carries_exactly_the_version_record_and_the_manifest(self):
        found = []
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    found.append((kind.id, name.id, language.id))
        self.assertEqual(found, [(RT_VERSION, 1, EN_US), (RT_MANIFEST, 1, EN_US)])

    def test_the_fixed_part_of_the_version_record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual(fixed.Signature, 0xFEEF04BD)
        self.assertEqual(fixed.StrucVersion, 0x00010000)
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010108, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010108, 0))
        for field in ("FileFlagsMask", "FileFlags", "FileOS", "FileType", "FileSubtype",
                      "FileDateMS", "FileDateLS"):
            self.assertEqual(getattr(fixed, field), 0, field)

    def test_the_string_table_and_the_translation(self):
        root = version_nodes(self.resource(RT_VERSION))
        self.assertEqual(root["key"], "VS_VERSION_INFO")
        self.assertEqual([child["key"] for child in root["children"]],
                         ["StringFileInfo", "VarFileInfo"])
        string_file_info, var_file_info = root["children"]
        self.assertEqual([table["key"] for table in string_file_info["children"]], ["040904E4"])
        strings = string_file_info["children"][0]["children"]
        self.assertEqual([s["key"] for s in strings], [key for key, _ in STRINGS])
        for string, (key, expected) in zip(strings, STRINGS):
            self.assertEqual(string["type"], 1, key)
            text = string["value"].decode("utf-16-le")
            self.assertTrue(text.endswith("\0"), key + " is not zero-terminated")
            self.assertEqual(text.count("\0"), 1, key)
            if expected is not None:
                self.assertEqual(text[:-1], expected)
        notice = strings[3]["value"].decode("utf-16-le")
        self.assertIn("Copyright", notice)
        self.assertIn("Kelvaro, Inc.", notice)

        translation = var_file_info["children"]
        self.assertEqual([variable["key"] for variable in translation], ["Translation"])
        self.assertEqual(struct.unpack("<HH", translation[0]["value"]), (0x0409, 1252))

    def test_the_manifest_is_the_document_byte_for_byte(self):
        manifest = self.resource(RT_MANIFEST)
        with open(MANIFEST, "rb") as file:
            self.assertEqual(manifest, file.read())
        self.assertEqual(len(manifest), 381)
        self.assertFalse(manifest.startswith(b"\xef\xbb\xbf"))
        lines = manifest.split(b"\r\n")
        self.assertEqual(lines[-1], b"", "the last line must end in CR LF")
        self.assertFalse(any(b"\n" in line or b"\r" in line for line in lines))

    def test_the_manifest_asks_to_run_as_the_invoker_without_ui_access(self):
        root = ElementTree.fromstring(self.resource(RT_MANIFEST))
        self.assertEqual(root.tag, "{urn:schemas-microsoft-com:asm.v1}assembly")
        self.assertEqual(root.get("manifestVersion"), "1.0")
        v3 = "{urn:schemas-microsoft-com:asm.v3}"
        levels = root.findall(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/"
                              f"{v3}requestedExecutionLevel")
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].attrib, {"level": "asInvoker", "uiAccess": "false"})


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

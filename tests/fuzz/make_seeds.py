#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora: small files shaped like the real
ones (Live sets, Preferences.cfg and Library.cfg in both layouts, theme files,
Windows paths, helper datagrams), one folder per target under corpus/.

Deterministic: running it again rewrites the same bytes, so the committed
corpus can be checked against it. Usage: make_seeds.py [OUTPUT_FOLDER]
"""
import gzip
import io
import json
import os
import struct
import sys


def live_set(locators, signatures, current="0"):
    xml = ['<?xml version="1.0" encoding="UTF-8"?>\n<Ableton MajorVersion="5" MinorVersion="12.0_12049" Creator="Ableton Live 12.1.5">\n<LiveSet>\n',
           '<MasterTrack>\n<AutomationEnvelopes><Envelopes /></AutomationEnvelopes>\n<TimeSignature>\n<TimeSignatures>\n']
    for i, (numerator, time) in enumerate(signatures):
        xml.append('<RemoteableTimeSignature Id="%d">\n<Numerator Value="%s" />\n<Denominator Value="4" />\n'
                   '<Time Value="%s" />\n</RemoteableTimeSignature>\n' % (i, numerator, time))
    xml.append('</TimeSignatures>\n</TimeSignature>\n</MasterTrack>\n<Locators>\n<Locators>\n')
    for i, (time, name) in enumerate(locators):
        xml.append('<Locator Id="%d">\n<LomId Value="0" />\n<Time Value="%s" />\n<Name Value="%s" />\n'
                   '<Annotation Value="" />\n<IsSongStart Value="false" />\n</Locator>\n' % (i, time, name))
    xml.append('</Locators>\n</Locators>\n<CurrentTime Value="%s" />\n</LiveSet>\n</Ableton>\n' % current)
    return "".join(xml).encode()


def gzipped(data, name=None):
    out = io.BytesIO()
    with gzip.GzipFile(filename=name or "", mode="wb", fileobj=out, mtime=0) as member:
        member.write(data)
    return out.getvalue()


def record(text):
    units = text.encode("utf-16-le")
    return struct.pack("<I", len(units) // 2) + units


def preferences(scripts, theme="", noise=b""):
    out = b"\xab\x01\x00\x00\x05\xff\xff\x00" + noise
    if theme:
        out += record(theme)
    out += b"\x00\x00\x7f\x00"
    for slot in range(6):
        name = scripts[slot] if slot < len(scripts) else "None"
        out += record(name) + record("None") + record("None")
    return out + record("Push2") + record("FromPush") + record("ToPush") + b"\x02\x00\x00\x00\x10\x20"


def library(project_path):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<Ableton MajorVersion="5">\n\t<ContentLibrary>\n'
            '\t\t<LibraryProject>\n\t\t\t<ProjectPath Value="C:\\ProgramData\\Ableton\\Live 12 Suite\\Resources" />\n'
            '\t\t</LibraryProject>\n\t</ContentLibrary>\n\t<UserLibrary>\n\t\t<LibraryProject>\n'
            '\t\t\t<ProjectName Value="User Library" />\n\t\t\t<ProjectPath Value="%s" />\n'
            '\t\t</LibraryProject>\n\t</UserLibrary>\n</Ableton>\n' % project_path).encode()


def theme(entries):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>\n<Ableton MajorVersion="5" MinorVersion="12.0_12049">\n\t<Theme>\n']
    lines += ['\t\t<%s Value="#%s" />\n' % entry for entry in entries]
    return ("".join(lines) + "\t</Theme>\n</Ableton>\n").encode()


def seeds():
    noise = bytes((i * 37 + 11) % 256 for i in range(96))
    return {
        "live_set_gzip": {
            "song.als": gzipped(live_set([("0", "Intro"), ("32", "Drop &amp; Roll"), ("64", "Outro")],
                                         [("4", "0"), ("7", "32")], "12.5")),
            "named.als": gzipped(live_set([("16.25", "A")], [("6", "0")]), name="named.xml"),
            "bare.als": gzipped(live_set([], [])),
            "song.xml": live_set([("8", "&lt;tag&gt;"), ("8", "same beat")], [("3", "0"), ("0", "4")], "1e3"),
        },
        "control_surface": {
            "mac.cfg": preferences(["APC40"], "Dusk Blue", noise),
            "windows.cfg": preferences(["Push2", "None", "Crestline"], "Default Dark Neutral Medium", noise[:33]),
            "full.cfg": preferences(["A", "B", "C", "D", "E", "F"]),
            "twice.cfg": preferences([]) + preferences([]),
        },
        "theme_ask": {
            "dark.ask": theme([("SurfaceArea", "1A1A1A"), ("SurfaceBackground", "2B2B2B"), ("ControlBackground", "3C3C3C"),
                               ("SelectionBackground", "FFB53280"), ("SelectionBackground", "000000")]),
            "light.ask": theme([("SurfaceArea", "DADADA"), ("SurfaceBackground", "C8C8C8"), ("ControlBackground", "b0b0b0"),
                                ("Bad", "12345"), ("Accent_2", "0A0B0C0D")]),
        },
        "library_cfg": {
            "windows.cfg": library("C:\\Users\\me\\Documents\\Ableton"),
            "z-drive.cfg": library("Z:\\home\\me\\Music\\Ableton"),
            "mac.cfg": library("/Users/me/Music/Ableton"),
            "entities.cfg": library("C:\\Users\\me &amp; you\\Documents\\&quot;Ableton&quot;"),
        },
        "windows_path": {
            "documents": b"C:\\users\\me\\Documents\\Ableton\\User Library",
            "other-case": b"c:\\USERS\\ME\\documents\\ableton",
            "z-drive": b"Z:\\home\\me\\Music\\Ableton",
            "long": b"\\\\?\\C:\\users\\me\\.\\x\\..\\AppData\\Roaming\\Ableton\\Live 12.1.5\\Preferences",
            "network": b"\\\\studio\\share\\Ableton",
            "slashes": b"C:/users/me//Documents/",
        },
        "helper_datagram": {
            "position": json.dumps({"type": "position", "beat": 17.25, "playing": True}, separators=(",", ":")).encode(),
            "stopped": json.dumps({"type": "position", "beat": 0, "playing": False}, separators=(",", ":")).encode(),
            "locators": json.dumps({"type": "locators", "locators": [[0.0, "Intro"], [32.0, "Drop"], [32.0, "Drop \u00e9"]],
                                    "numerator": 7, "denominator": 8}, separators=(",", ":")).encode(),
            "empty-locators": b'{"type":"locators","locators":[],"numerator":4,"denominator":4}',
        },
    }


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "corpus")
    for target, files in seeds().items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()

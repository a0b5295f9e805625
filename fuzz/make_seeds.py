#!/usr/bin/env python3
"""Writes the generated seed files of fuzz/corpus/ (the copies of examples/ and tests/data/
files too). Run from anywhere; regression-* files found by fuzzing are never touched."""
import os
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def read(*parts):
    with open(os.path.join(ROOT, *parts), "rb") as f:
        return f.read()


def put(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(data)


def records(raw, count):
    out, at = [], 0
    while at + 5 <= len(raw) and len(out) < count:
        n = 5 + raw[at + 4]
        out.append(raw[at:at + n])
        at += n
    return out


def checksum(data):
    return (-sum(data)) & 0xFF


def sdr_text(recs, name):
    lines = ["_LF_NAME '%s'" % name, "_LF_VERSION '1.0'", "_LF_FMT_VER '1.5'", "_SDR_VERSION '1.50'", "_SDR", "(",
             "_START_ADDR 0000", "_DATA_LEN 1000", "_NVS_TYPE 'IMBDEVICE'", "_DEV_BUS 00", "_DEV_ADDRESS 20"]
    for r in recs:
        lines.append("_SDR_TYPE %02X" % r[3])
        lines.append("  _REC_LEN %02X" % len(r))
        lines.append("  00 00 " + " ".join("%02X" % b for b in r[2:]))
    lines.append(")")
    return "\n".join(lines) + "\n"


def backup_image(recs, count_field=None):
    area = b"".join(recs)
    header = bytearray(64)
    header[0:8] = b"QYX IPMI"
    header[8:12] = bytes([4, 2, 9, 0])
    struct.pack_into("<IIII", header, 12, 1275441273, 64, 96, 0)
    header[63] = checksum(header[:63])
    bmc = bytearray(32)
    bmc[0:15] = bytes([0x00, 0x20, 0x01, 0x02, 0x20, 0x51, 0xDF, 0xA2, 0x02, 0x00, 0x00, 0x01, 0, 0, 0])
    bmc[31] = checksum(bmc[:31])
    control = bytearray(32)
    control[0:15] = bytes([0x00, 0x51]) + struct.pack("<HH", len(recs) if count_field is None else count_field,
                                                       0x1000) + struct.pack("<II", 0x1234, 0x1200) + b"\x00"
    struct.pack_into("<II", control, 16, 32, len(area))
    control[30] = checksum(area)
    control[31] = checksum(control[:31])
    return bytes(header + bmc + control) + area


def main():
    # SDR text files.
    for name in ("bmcsdr_v1.sdr", "bmcsdr_v2.sdr", "bmcsdr_tagged.sdr"):
        put("sdr_text", name, read("examples", name))
    for name in ("board_a.sdr", "board_b.sdr"):
        put("sdr_text", name, read("tests", "data", "cfg", name))
    put("sdr_text", "tagged-with-names.sdr", read("examples", "bmcsdr_tagged.sdr") + b"\0CPU2\nFAN1\nHDD8")
    put("sdr_text", "server07-head.sdr", sdr_text(records(read("tests", "data", "real-sdr", "server07.bin"), 24), "s7"))
    put("sdr_text", "minimal.sdr", "_SDR\n(\n_SDR_TYPE 12\n_REC_LEN 08\n00 00 51 12 03 20 00 00\n)\n")

    # Configuration scripts with the SDR files they name.
    tagged = read("examples", "bmcsdr_tagged.sdr")
    put("config_script", "SVR0100.CFG", read("examples", "SVR0100.CFG") + b"\0bmcsdr_tagged.sdr\n" + tagged)
    put("config_script", "program_and_check.cfg",
        read("examples", "program_and_check.cfg") + b"\0bmcsdr_tagged.sdr\n" + tagged)
    board_a = read("tests", "data", "cfg", "board_a.sdr")
    board_b = read("tests", "data", "cfg", "board_b.sdr")
    put("config_script", "two-boards.cfg",
        b"CONFIGURATION boards\nSET CPU1\nIFSET CPU#\n SET FAN1\nELSE\n CLEAR CPU1\nENDIF\n"
        b"DISPLAY \"two boards\"\nSDRNAME board_a.sdr FIRST\nSDRNAME board_b.sdr LAST COMPARE\n"
        b"\0board_a.sdr\n" + board_a + b"\0board_b.sdr\n" + board_b)
    put("config_script", "nested.cfg",
        "CONFIGURATION n\nSET A1\nIFSET A#\n IFSET B1\n  SDRNAME x.sdr\n ELSE\n  SET B2\n ENDIF\nENDIF\n"
        "MENUTITLE \"t\"\n")

    # Backup images: flag byte (bit 0: checksums put right by the target), then the image.
    for server, count in (("server01.bin", 12), ("server07.bin", 30), ("server10.bin", 6)):
        image = backup_image(records(read("tests", "data", "real-sdr", server), count))
        put("backup_image", server.replace(".bin", ".img"), b"\x00" + image)
    put("backup_image", "empty-area.img", b"\x00" + backup_image([]))
    put("backup_image", "repair.img", b"\x01" + backup_image(records(read("tests", "data", "real-sdr", "server02.bin"), 4))[:-3])

    # ExUpInfo.xml.
    put("exupinfo", "plain.xml", "<ExUpInfo><package><version>01.10</version></package></ExUpInfo>\n")
    put("exupinfo", "pretty.xml", "<?xml version='1.0' encoding='UTF-8'?>\n<ExUpInfo>\n  <package>\n    <version>\n"
        "      02.05\n    </version>\n  </package>\n</ExUpInfo>\n")
    put("exupinfo", "namespaced.xml", "<a:ExUpInfo xmlns:a='urn:x'><a:version>1</a:version><version>9.9</version></a:ExUpInfo>")
    put("exupinfo", "cdata.xml", "<ExUpInfo><version><![CDATA[01]]>.<b>2</b>0</version></ExUpInfo>")
    put("exupinfo", "entity.xml", "<!DOCTYPE x [<!ENTITY v '03.00'>]><x><version>&v;</version></x>")
    put("exupinfo", "empty.xml", "<ExUpInfo><version/></ExUpInfo>")

    # Version caches; the target's repository stamps are 1234h and 5678h.
    put("version_cache", "match.txt", "1234\n5678\nS2025061800001.20\nSVR0100\n")
    put("version_cache", "crlf.txt", "00001234\r\n5678\r\nS2026120700002.00\r\n")
    put("version_cache", "mismatch.txt", "1235\n5678\nS2025061800001.20\n")
    put("version_cache", "cut.txt", "1234\n5678\nS2025")

    # mchk_fil.
    put("hardware_list", "listed.txt", "// supported boards\nBoard 0100 rev A\n")
    put("hardware_list", "upper.txt", "BOARD 3A2F\r\nboard 01\n00\n")
    put("hardware_list", "unlisted.txt", "nothing here\n")

    # Switches, NUL-separated.
    for i, line in enumerate((
            "-update\0-force\0-sdr\0bmcsdr_v2.sdr", "-version\0-sdr\0x.sdr", "-backup\0out.bak", "-ratio",
            "-direct\0-cfg", "-update\0-bin\0-ff_retry\0003\0-wait\0-5\0-lock_wait\0007", "-update\0-sdr\0-test\0-test2",
            "-update\0-cfg\0a.cfg\0-C_wait\0099999999999")):
        put("veltrop_switches", "args%d" % i, line)
    for i, line in enumerate(("-force", "-normal\0-both", "-version", "-ratio", "-force\0-16\0-boot",
                              "-wait\00012\0-force", "-wait\00012a", "-normal\0-wait\0004294967296")):
        put("korvane_switches", "args%d" % i, line)

    # Whole runs: mode byte, setup byte, reply rules (none: an honest BMC throughout).
    for mode in range(7):
        put("veltrop_bmc", "mode%d-honest" % mode, bytes([mode, 1]))
        put("veltrop_bmc", "mode%d-empty-repository" % mode, bytes([mode, 2]))
    put("veltrop_bmc", "cached-version", bytes([2, 5]))
    put("veltrop_bmc", "busy-then-honest", bytes([0, 1, 0x03, 0x83, 0xC5, 0x83, 0xFF, 0x80]))
    put("veltrop_bmc", "short-answers", bytes([1, 1, 0x05, 0x84, 0x02, 0x87, 0x03, 0x1C, 0x21, 0x00]))
    for mode in range(7):
        put("korvane_bmc", "mode%d-dual" % mode, bytes([mode, 0x08]))
        put("korvane_bmc", "mode%d-single" % mode, bytes([mode, 0x0A]))
    put("korvane_bmc", "chip4-large", bytes([0, 0x36]))
    put("korvane_bmc", "bank2-running", bytes([3, 0x48]))
    put("korvane_bmc", "no-chip", bytes([0, 0x02]))
    put("korvane_bmc", "write-busy", bytes([0, 0x08, 0x7F, 0x7F, 0x8B, 0x83, 0xC0]))
    # Chip 4 with 256-KiB sectors and boot block on a dual-bank device.
    put("korvane_bmc", "chip4-large-boot-block", bytes([0, 0xB4]))
    # Nine honest exchanges, then the answer giving the start address of the bank to program
    # with data byte 3 (answer byte 5, the address's low byte) flipped: bank 2, and bank 1 as the
    # first pass of -both with bank 2 running.
    put("korvane_bmc", "start-address-flipped", bytes([0, 0x08, 0x08, 0x88, 0x05, 0xFF]))
    put("korvane_bmc", "start-address-flipped-both", bytes([3, 0x48, 0x08, 0x88, 0x05, 0xFF]))
    # Seven honest exchanges, then the probe of the fitted chip 4 answered C0h without data, or
    # with its echo flipped.
    put("korvane_bmc", "chip4-probe-refused", bytes([0, 0xB4, 0x06, 0x86, 0x03, 0x24, 0x00, 0xC0]))
    put("korvane_bmc", "chip4-echo-flipped", bytes([0, 0xB4, 0x06, 0x88, 0x03, 0xFF]))


if __name__ == "__main__":
    main()

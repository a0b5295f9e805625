# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Every result code the two tools write, with the text their logs give it (user guide, "Result codes")."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

# The tables below are the user guide's, byte for byte (some texts end in a blank);
# ansible/tests/check_codes.py compares them with docs/user-guide.md.
VELTROP_MESSAGES = {
    'SDRC01': 'Illegal parameter format.',
    'SDRC02': 'SDRVersion unmatched.',
    'SDRC03': "Can't open IPMI driver.",
    'SDRC04': 'This SDR data is not supported.(Not Found HWID in mchk_fil)',
    'SDRC05': 'Get Device ID Command Error.',
    'SDRC06': 'mchk_fil is not opened.',
    'SDRC07': 'Not Found SDRVersion Record in input file.',
    'SDRC08': 'Timeout was generated.',
    'Duplex': 'The update/backup has already been being executed. ',
    'SDR001': 'invalid data found in record data portion',
    'SDR002': 'insufficient memory',
    'SDR003': 'invalid number of bytes used to indicate hex number',
    'SDR004': 'SDR record read error from BMC',
    'SDR005': 'wrong number of bytes read',
    'SDR006': 'argument follows a command in the configuration file when it should not',
    'SDR007': 'argument is too long that follows command in the configuration file',
    'SDR008': 'exceeded maximum argument length',
    'SDR009': 'invalid argument following SDR name in the configuration file',
    'SDR010': 'invalid argument found in configuration file',
    'SDR011': 'invalid command found in the configuration file ',
    'SDR012': 'invalid comment in configuration file on line %d',
    'SDR013': 'invalid configuration file string found',
    'SDR014': 'matching quote missing after command in the configuration file',
    'SDR015': 'no valid argument found after command in the configuration file',
    'SDR016': 'no conditional statement found after IFSET',
    'SDR017': 'an IFSET statement must precede the ELSE statement',
    'SDR018': 'an IFSET statement must precede the ENDIF statement',
    'SDR019': 'non-matching IfSet and Endif statements',
    'SDR020': 'non-matching quotes found on configuration line',
    'SDR021': 'parsing configuration information',
    'SDR022': 'parsing configuration line ',
    'SDR023': 'problem in reading configuration file',
    'SDR024': 'too many arguments found after command in the configuration file',
    'SDR025': 'failed to clear the SDR repository',
    'SDR026': 'failed to receive BMC response, bad completion code',
    'SDR027': 'IPMI command retry error',
    'SDR028': 'failed to open IPMI Driver',
    'SDR029': 'failed to send IPMI command',
    'SDR030': 'IPMI comand error for Backup/GetSdrVersion',
    'SDR031': 'Backup File I/O error',
    'SDR032': 'SDR file does not match with what was programmed into memory',
    'SDR033': 'SDR file unsuccessfully written',
    'SDR034': 'expected valid hexadecimal data after _DEV_ADDRESS',
    'SDR035': 'expected valid hexadecimal data after _DEV_BUS',
    'SDR036': 'expected valid hexadecimal data after _DATA_LEN',
    'SDR037': 'expected valid hexadecimal data after _REC_LEN',
    'SDR038': 'expected valid hexadecimal data after _SDR_TYPE',
    'SDR039': 'expected valid hexadecimal data after _START_ADDR',
    'SDR040': '_DATA_LEN should follow _START_ADDR',
    'SDR041': '_DEV_ADDRESS should follow _DEV_BUS',
    'SDR042': '_DEV_BUS should follow _NVS_TYPE',
    'SDR043': 'expected _SDR tag',
    'SDR044': '_IPMI_VERSION should follow _LF_FMT_VER',
    'SDR045': "expected a left parenthesis '('",
    'SDR046': '_LF_FMT_VER should follow _LF_VERSION',
    'SDR047': '_LF_NAME should be the first tag in the file',
    'SDR048': '_LF_VERSION should follow _LF_NAME',
    'SDR049': '_NVS_TYPE should follow _DATA_LEN',
    'SDR050': '_REC_LEN should follow _SDR_TAG',
    'SDR051': '_START_ADDR should be first entry in SEL header info',
    'SDR052': 'expected ASCII text after _LF_FMT_VER',
    'SDR053': 'expected ASCII text after _LF_NAME',
    'SDR054': 'invalid or unsupported _NVS_TYPE',
    'SDR055': 'expected ASCII text after _IPMI_VERSION',
    'SDR056': 'expected ASCII text after _LF_VERSION',
    'SDR057': 'invalid Sensor Data Record found, number %d',
    'SDR058': 'invalid Sensor Data Record length found',
    'SDR059': 'this program only supports file format version %s',
    'SDR060': 'this program only supports SDR format version %s',
    'SDR061': 'this program only supports SDR format version %s or higher.',
    'SDR062': 'parsing SDR file',
    'SDR063': 'expected ASCII text after _SDR_TAG',
    'SDR064': 'failed to open CFG.TMP file',
    'SDR065': 'failed to open SDR.TMP file',
    'SDR066': 'failed to open the specified input file',
    'SDR067': 'failed to open the specified configuration file',
    'SDR068': 'failed to open the specified SDR file',
    'SDR069': 'an invalid character was found on line',
    'SDR070': 'an invalid character was found on line %d',
    'SDR071': 'invalid file size.  FRU, SDR and CFG files must be less than 512 KBytes',
    'SDR072': 'line %d is too long.  Lines lengths must be 255 characters or less',
    'SDR073': 'failed when writing to temporary file',
    'SDR074': 'Not Found CFG filename in Repository or -cfg',
    'SDR075': 'BIN file not Backup file',
    'SDR076': 'BIN file Checksum error',
    'SDR077': 'unsupported SparedSDR command on BMC.Or, the time-out is generated by a system high load',
    'SDR078': 'failed to open output bin file',
    'SDR079': 'It failed in retrying of MSDriver. A high load of the system is thought as a cause',
}

KORVANE_MESSAGES = {
    'C1': 'Illegal parameter format.',
    'C2': "Can't open IPMI driver.",
    'C3': 'It is not a target system.(HWID)',
    'C4': 'It is not a target system.(Update BOOT BLOCK)',
    'C5': 'It is not a target system.(BMC Device ID)',
    'C6': 'File open error.(mchk_fil)',
    'C7': 'File open error.(bmcfw.bin)',
    'C8': 'Erase error.',
    'C9': 'Update error.',
    'C10': 'Verify error.',
    'C11': 'IPMI command error.(Get Firmware Image Selector)',
    'C12': 'IPMI command error.(Set Firmware Image Selector)',
    'C13': 'IPMI command error.(Get Firmware Image Downloader Selector)',
    'C14': 'IPMI command error.(Set Firmware Image Downloader Selector)',
    'C15': 'IPMI command error.(Get Device ID)',
    'C16': 'IPMI command error.(FW ID Chip)',
    'C17': 'IPMI command error.(Get Channel Access)',
    'C18': 'IPMI command error.(Set Channel Access)',
    'C19': 'Timeout was generated.',
    'C20': 'File open error.(ExUpInfo.xml)',
    'C21': 'Version info. not exist.(ExUpInfo.xml : <version>)',
    'C22': 'Version info. error.(ExUpInfo.xml : <version>)',
    'Duplex': 'The update has already been being executed. ',
    'Complete': 'BMCFW update was completed.',
}

# Codes both tools write outside the tables: what they mean to the manager.
COMMON_MESSAGES = {
    'OK': 'The version query answered, or the update has started.',
    'Complete': 'The update is complete.',
    'Down Grade': 'The package is not newer than the BMC: nothing was written.',
    'Busy': 'An update runs on this BMC: the version query was refused.',
    'No-Command': 'No update runs.',
    'SDR081': 'Error, ',
}


def message(tool, code):
    """The text of a result code of tool ('veltrop' or 'Korvane'); an unknown code is named as such."""
    table = VELTROP_MESSAGES if tool == 'veltrop' else KORVANE_MESSAGES
    if code in table:
        return table[code]
    if code in COMMON_MESSAGES:
        return COMMON_MESSAGES[code]
    return 'Unknown result code %r.' % code

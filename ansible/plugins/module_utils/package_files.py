# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The package directory as root uses it: who may write there, the tool's copy, ExUpInfo.xml, the pending record.

The tools run as root and read what lies in the package directory between the version query and the update, so
anyone else who could write there could swap the image or the program itself: such a directory is refused, as
the tools refuse such a lock directory.
"""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import binascii
import hashlib
import json
import os
import stat
import time
from xml.etree import ElementTree

PENDING_NAME = 'pending_activation.json'
PENDING_KEYS = ('package_version', 'image_sha256', 'bmc_before', 'flashed_at')


class SetupError(Exception):
    """Options or package files the module refuses before it runs a tool."""


def _owners():
    return (0, os.geteuid())


def _refusal(path, st, kind):
    """Why a directory or file of the package is unsafe for root to use; '' when it is not."""
    if stat.S_ISLNK(st.st_mode):
        return 'it is a symbolic link'
    if kind == 'directory' and not stat.S_ISDIR(st.st_mode):
        return 'it is not a directory'
    if kind == 'file' and not stat.S_ISREG(st.st_mode):
        return 'it is not a regular file'
    if st.st_uid not in _owners():
        return 'it is owned by uid %d, not root' % st.st_uid
    if st.st_mode & (stat.S_IWGRP | stat.S_IWOTH):
        return 'group or others may write to it (mode %04o)' % stat.S_IMODE(st.st_mode)
    return ''


def check_directory(path, what='package_dir'):
    """path made absolute, once it is a directory that only root (or this user) may write to."""
    path = os.path.abspath(path)
    try:
        st = os.lstat(path)
    except OSError as e:
        raise SetupError('%s %s is not a directory: %s' % (what, path, e.strerror))
    why = _refusal(path, st, 'directory')
    if why:
        raise SetupError('%s %s is refused: %s' % (what, path, why))
    return path


def check_file(path, required=False):
    """Refuses a file the tools read that is a link or writable by others; a missing one is the tool's to report."""
    try:
        st = os.lstat(path)
    except FileNotFoundError:
        if required:
            raise SetupError('%s does not exist' % path)
        return
    why = _refusal(path, st, 'file')
    if why:
        raise SetupError('%s is refused: %s' % (path, why))


def _write_new(directory, name, data, mode):
    """data into directory/name through a fresh temporary name (no link followed, nothing overwritten), then renamed."""
    temporary = os.path.join(directory, '.%s.%s.tmp' % (name, binascii.hexlify(os.urandom(8)).decode('ascii')))
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | getattr(os, 'O_CLOEXEC', 0), mode)
    try:
        try:
            for chunk in data:
                view = memoryview(chunk)
                while view:
                    view = view[os.write(fd, view):]
            os.fchmod(fd, mode)
            os.fsync(fd)
        finally:
            os.close(fd)
        os.rename(temporary, os.path.join(directory, name))
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def _chunks(path):
    with open(path, 'rb') as handle:
        while True:
            chunk = handle.read(1 << 20)
            if not chunk:
                return
            yield chunk


def same_content(first, second):
    digests = []
    for path in (first, second):
        digest = hashlib.sha256()
        for chunk in _chunks(path):
            digest.update(chunk)
        digests.append(digest.digest())
    return digests[0] == digests[1]


def place_program(source, directory, name):
    """The program at source as directory/name, copied when it is not there already: (path, copied)."""
    source = os.path.realpath(source)
    if not (os.path.isfile(source) and os.access(source, os.X_OK)):
        raise SetupError('tool %s is not an executable file' % source)
    check_file(source)
    target = os.path.join(directory, name)
    if source == target:
        return target, False
    check_file(target)
    if os.path.exists(target) and same_content(source, target):
        return target, False
    _write_new(directory, name, _chunks(source), 0o755)
    return target, True


def image_digest(path):
    """SHA-256 of a file in hex; '' when it is missing."""
    digest = hashlib.sha256()
    try:
        for chunk in _chunks(path):
            digest.update(chunk)
    except FileNotFoundError:
        return ''
    return digest.hexdigest()


def parse_xml(path):
    """The document element of an XML file; a document type is refused, as the tools refuse it."""
    with open(path, 'rb') as handle:
        text = handle.read()
    if b'<!doctype' in text.lower():
        raise SetupError('%s declares a document type, which the tools refuse' % path)
    return ElementTree.fromstring(text)


def package_version(directory):
    """The first <version> below ExUpInfo.xml's document element, as the firmware tool reads it; '' if none."""
    try:
        root = parse_xml(os.path.join(directory, 'ExUpInfo.xml'))
    except (OSError, ElementTree.ParseError):
        return ''
    found = root.find('.//version')
    if found is None:
        return ''
    return ''.join(found.itertext()).strip()


def read_pending(directory):
    """The record of an image flashed but not yet activated, or None."""
    path = os.path.join(directory, PENDING_NAME)
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | getattr(os, 'O_CLOEXEC', 0))
    except FileNotFoundError:
        return None
    except OSError as e:
        raise SetupError('%s cannot be read: %s' % (path, e.strerror))
    with os.fdopen(fd, 'rb') as handle:
        st = os.fstat(handle.fileno())
        if not stat.S_ISREG(st.st_mode) or st.st_uid != os.geteuid() or st.st_mode & 0o077:
            raise SetupError('%s is refused: not a file of uid %d that only it may read (mode %04o)' % (
                path, os.geteuid(), stat.S_IMODE(st.st_mode)))
        text = handle.read(65536)
    try:
        record = json.loads(text.decode('utf-8'))
    except ValueError:
        record = None
    if not isinstance(record, dict) or not all(isinstance(record.get(key), str) for key in PENDING_KEYS) or \
            not isinstance(record.get('failed_activation', ''), str):
        raise SetupError('%s is damaged; remove it to flash again' % path)
    return dict((key, record[key]) for key in PENDING_KEYS + ('failed_activation',) if key in record)


def _now():
    return time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime())


def _save_pending(directory, record):
    _write_new(directory, PENDING_NAME, [json.dumps(record, sort_keys=True).encode('utf-8') + b'\n'], 0o600)
    return record


def write_pending(directory, package, digest, bmc_before):
    return _save_pending(directory, {'package_version': package, 'image_sha256': digest, 'bmc_before': bmc_before,
                                     'flashed_at': _now()})


def mark_failed_activation(directory, record, running):
    """The BMC came back on another version than the package's: no reset is tried again without force."""
    return _save_pending(directory, dict(record, failed_activation='the BMC ran %s after its reset at %s' % (
        running, _now())))


def clear_pending(directory):
    try:
        os.remove(os.path.join(directory, PENDING_NAME))
    except FileNotFoundError:
        pass

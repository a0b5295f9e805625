# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The two tools as the modules' options describe them: paths checked, switches and file places derived."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import filecmp
import os
import shutil
import stat

from ansible_collections.bmc.online_update.plugins.module_utils.update_manager import Tool, exupinfo_dir

SDR_OPTIONS = dict(
    tool=dict(type='path', required=True),
    package_dir=dict(type='path', required=True),
    input=dict(type='str', required=True),
    input_type=dict(type='str', choices=['sdr', 'cfg', 'bin']),
    timeout=dict(type='int', default=1800),
)

FIRMWARE_OPTIONS = dict(
    tool=dict(type='path', required=True),
    package_dir=dict(type='path', required=True),
    both=dict(type='bool', default=False),
    boot=dict(type='bool', default=False),
    timeout=dict(type='int', default=3600),
)


class SetupError(Exception):
    pass


def _directory(path):
    path = os.path.abspath(path)
    if not os.path.isdir(path):
        raise SetupError('package_dir %s is not a directory' % path)
    return path


def _executable(path):
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        raise SetupError('tool %s is not an executable file' % path)
    return os.path.abspath(path)


def input_switch(name, input_type):
    if input_type:
        return '-' + input_type
    extension = os.path.splitext(name)[1].lower()
    return {'.sdr': '-sdr', '.cfg': '-cfg'}.get(extension, '-bin')


def sdr_tool(params, force=False):
    package_dir = _directory(params['package_dir'])
    name = params['input']
    # The tool takes the name as a switch argument and opens it in its current directory.
    if not name or name.startswith('-') or os.path.basename(name) != name or name in ('.', '..'):
        raise SetupError('input must be a file name in package_dir, not %r' % name)
    if not os.path.isfile(os.path.join(package_dir, name)):
        raise SetupError('input %s is not a file in %s' % (name, package_dir))
    if params['timeout'] <= 0:
        raise SetupError('timeout must be positive')
    source = [input_switch(name, params.get('input_type')), name]
    return Tool(
        name='veltrop',
        path=_executable(params['tool']),
        cwd=package_dir,
        result_dir=exupinfo_dir(package_dir),
        version_args=['-version'] + source,
        update_args=['-update'] + (['-force'] if force else []) + source,
        update_file='Update_force.xml' if force else 'Update_normal.xml',
        update_log=os.path.join(package_dir, 'veltrop.log'),
        version_log=os.path.join(package_dir, 'veltrop_version.log'),
    )


def place_korvane(source, package_dir):
    """Korvane beside its package files (it reads mchk_fil and bmcfw.bin beside itself); its path there."""
    source = _executable(source)
    target = os.path.join(package_dir, 'Korvane')
    if os.path.abspath(source) == target:
        return target
    if not (os.path.isfile(target) and filecmp.cmp(source, target, shallow=False)):
        shutil.copyfile(source, target + '.part')
        os.chmod(target + '.part', stat.S_IRWXU | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH | stat.S_IXOTH)
        os.replace(target + '.part', target)
    return target


def firmware_tool(params, force=False):
    package_dir = _directory(params['package_dir'])
    if params['timeout'] <= 0:
        raise SetupError('timeout must be positive')
    path = place_korvane(params['tool'], package_dir)
    switches = (['-both'] if params.get('both') else []) + (['-boot'] if params.get('boot') else [])
    return Tool(
        name='Korvane',
        path=path,
        cwd=package_dir,
        result_dir=package_dir,
        version_args=['-version'],
        update_args=['-force' if force else '-normal'] + switches,
        update_file='Update_force.xml' if force else 'Update_normal.xml',
        update_log=os.path.join(package_dir, 'Korvane_log.txt'),
        version_log=os.path.join(package_dir, 'Korvane_log1.txt'),
    )

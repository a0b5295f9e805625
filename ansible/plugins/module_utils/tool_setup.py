# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The two tools as the modules' options describe them: paths checked, switches and file places derived."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os
import shlex
import shutil

from ansible_collections.bmc.online_update.plugins.module_utils.package_files import (
    SetupError, check_directory, check_file, place_program)
from ansible_collections.bmc.online_update.plugins.module_utils.update_manager import Tool, exupinfo_dir

# What bmc_facts asks of each tool (the queries use nothing else).
SDR_QUERY_OPTIONS = dict(
    tool=dict(type='path', required=True),
    package_dir=dict(type='path', required=True),
    input=dict(type='str', required=True),
    input_type=dict(type='str', choices=['sdr', 'cfg', 'bin']),
)

FIRMWARE_QUERY_OPTIONS = dict(
    tool=dict(type='path', required=True),
    package_dir=dict(type='path', required=True),
)

SDR_OPTIONS = dict(SDR_QUERY_OPTIONS, timeout=dict(type='int', default=1800))

FIRMWARE_OPTIONS = dict(
    FIRMWARE_QUERY_OPTIONS,
    both=dict(type='bool', default=False),
    boot=dict(type='bool', default=False),
    timeout=dict(type='int', default=3600),
    activate=dict(type='bool', default=True),
    reset_command=dict(type='str', default='ipmitool mc reset cold'),
    activation_timeout=dict(type='int', default=900),
)

# The files each tool reads from its package; the tools report a missing one themselves.
FIRMWARE_FILES = ('bmcfw.bin', 'mchk_fil', 'ExUpInfo.xml')


def _positive(params, name):
    if name in params and params[name] <= 0:
        raise SetupError('%s must be positive' % name)


def _executable(path):
    path = os.path.realpath(path)
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        raise SetupError('tool %s is not an executable file' % path)
    check_file(path)
    return path


def input_switch(name, input_type):
    if input_type:
        return '-' + input_type
    extension = os.path.splitext(name)[1].lower()
    return {'.sdr': '-sdr', '.cfg': '-cfg'}.get(extension, '-bin')


def sdr_tool(params, force=False):
    package_dir = check_directory(params['package_dir'])
    name = params['input']
    # The tool takes the name as a switch argument and opens it in its current directory.
    if not name or name.startswith('-') or os.path.basename(name) != name or name in ('.', '..'):
        raise SetupError('input must be a file name in package_dir, not %r' % name)
    check_file(os.path.join(package_dir, name), required=True)
    check_file(os.path.join(package_dir, 'mchk_fil'))
    _positive(params, 'timeout')
    result_dir = exupinfo_dir(package_dir)
    if result_dir != package_dir:
        check_directory(result_dir, 'the directory of ExUpInfo.xml')
    check_file(os.path.join(result_dir, 'ExUpInfo.xml'))
    source = [input_switch(name, params.get('input_type')), name]
    return Tool(
        name='veltrop',
        path=_executable(params['tool']),
        cwd=package_dir,
        result_dir=result_dir,
        version_args=['-version'] + source,
        update_args=['-update'] + (['-force'] if force else []) + source,
        update_file='Update_force.xml' if force else 'Update_normal.xml',
        update_log=os.path.join(package_dir, 'veltrop.log'),
        version_log=os.path.join(package_dir, 'veltrop_version.log'),
    )


def firmware_tool(params, force=False):
    """Korvane beside its package files (it reads mchk_fil and bmcfw.bin beside itself), copied there if needed."""
    package_dir = check_directory(params['package_dir'])
    for name in FIRMWARE_FILES:
        check_file(os.path.join(package_dir, name))
    _positive(params, 'timeout')
    _positive(params, 'activation_timeout')
    path, copied = place_program(params['tool'], package_dir, 'Korvane')
    switches = (['-both'] if params.get('both') else []) + (['-boot'] if params.get('boot') else [])
    tool = Tool(
        name='Korvane',
        path=path,
        cwd=package_dir,
        result_dir=package_dir,
        version_args=['-version'],
        update_args=['-force' if force else '-normal'] + switches,
        update_file='Update_force.xml' if force else 'Update_normal.xml',
        update_log=os.path.join(package_dir, 'Korvane_log.txt'),
        version_log=os.path.join(package_dir, 'Korvane_log1.txt'),
        may_flash=True,
    )
    tool.copied = copied
    return tool


def reset_argv(command):
    """The reset command split as a shell would split it (it runs without one), its program found."""
    try:
        argv = shlex.split(command or '')
    except ValueError as e:
        raise SetupError('reset_command %r cannot be split: %s' % (command, e))
    if not argv:
        raise SetupError('reset_command is empty')
    program = argv[0] if os.sep in argv[0] else shutil.which(argv[0])
    if not program or not (os.path.isfile(program) and os.access(program, os.X_OK)):
        raise SetupError('reset_command: %s is not an executable program here (PATH=%s)' % (
            argv[0], os.environ.get('PATH', '')))
    return argv

#!/usr/bin/env python3
"""The manager's safety rules that a roll-out never meets: package directories others could write, a planted
link, a document type, the pending record's guard, and tools that hang or ignore their stop request (a fake
tool, with the module's waits shortened).

Usage: manager_test.py COLLECTIONS_DIR   (the installed collection's root, as ANSIBLE_COLLECTIONS_PATH)
"""
import os
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, sys.argv[1])
from ansible_collections.bmc.online_update.plugins.module_utils import package_files, tool_setup, update_manager  # noqa: E402
from ansible_collections.bmc.online_update.plugins.module_utils.package_files import SetupError  # noqa: E402

FAKE_TOOL = r'''#!/usr/bin/python3
import os, signal, sys, time
mode = os.environ.get('FAKE_MODE', '')
def answer(name, code, data=''):
    with open(name + '.part', 'w') as f:
        f.write('<Response><result_code>%s</result_code><data>%s</data></Response>' % (code, data))
    os.replace(name + '.part', name)
if 'deaf' in mode:
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
if sys.argv[1] == '-version':
    answer('Get_version.xml', 'OK', '<cmp>Upper</cmp><version>02.30</version>')
elif sys.argv[1] == '-ratio':
    time.sleep(30 if 'slow-ratio' in mode else 0)
    answer('Get_ratio.xml', 'OK', '50')
else:
    time.sleep(60 if 'hang' in mode else 1.5)
    answer('Update_normal.xml', 'Complete')
'''

problems = []


def check(condition, what):
    if not condition:
        problems.append(what)


def refusal(make):
    try:
        make()
    except SetupError as e:
        return str(e)
    return ''


class NoStop(object):
    signal = None


def package(root, name):
    directory = os.path.join(root, name)
    os.mkdir(directory, 0o755)
    for file_name in ('bmcfw.bin', 'mchk_fil'):
        with open(os.path.join(directory, file_name), 'w') as handle:
            handle.write('x')
    with open(os.path.join(directory, 'ExUpInfo.xml'), 'w') as handle:
        handle.write('<ExUpInfo><version>02.40</version></ExUpInfo>')
    return directory


def check_package_refusals(root, fake):
    """Each case spoils one thing of a good package; the tool may not run on it as root."""
    def spoil_dir(d):
        os.chmod(d, 0o777)

    def link_dir(d):
        os.symlink(d, d + '-link')
        return d + '-link'

    def spoil_image(d):
        os.chmod(os.path.join(d, 'bmcfw.bin'), 0o666)

    def link_image(d):
        os.remove(os.path.join(d, 'bmcfw.bin'))
        os.symlink('/etc/hostname', os.path.join(d, 'bmcfw.bin'))

    def plant_program(d):
        os.symlink('/etc/hostname', os.path.join(d, 'Korvane'))

    def foreign_file(d):
        os.chown(os.path.join(d, 'mchk_fil'), 65534, 65534)

    cases = [('group-writable package_dir', spoil_dir, 'group or others may write to it (mode 0777)'),
             ('package_dir a link', link_dir, 'it is a symbolic link'),
             ('image writable by others', spoil_image, 'bmcfw.bin is refused: group or others may write'),
             ('image a link', link_image, 'bmcfw.bin is refused: it is a symbolic link'),
             ('a link where Korvane goes', plant_program, 'Korvane is refused: it is a symbolic link')]
    if os.geteuid() == 0:
        cases.append(('a file of another user', foreign_file, 'mchk_fil is refused: it is owned by uid 65534'))
    for number, (what, spoil, expected) in enumerate(cases):
        directory = package(root, 'case%d' % number)
        directory = spoil(directory) or directory
        message = refusal(lambda: tool_setup.firmware_tool({'tool': fake, 'package_dir': directory}))
        check(expected in message, '%s: %r' % (what, message))
    directory = package(root, 'good')
    tool = tool_setup.firmware_tool({'tool': fake, 'package_dir': directory})
    mode = stat.S_IMODE(os.lstat(tool.path).st_mode)
    check(tool.copied and mode == 0o755 and sorted(os.listdir(directory)) == ['ExUpInfo.xml', 'Korvane', 'bmcfw.bin', 'mchk_fil'],
          'copy: %r, mode %o, %r' % (tool.copied, mode, os.listdir(directory)))
    check(not tool_setup.firmware_tool({'tool': fake, 'package_dir': directory}).copied, 'the same program copied again')
    with open(os.path.join(directory, 'ExUpInfo.xml'), 'w') as handle:
        handle.write('<!DOCTYPE x [<!ENTITY a "b">]><ExUpInfo><version>&a;</version></ExUpInfo>')
    check('declares a document type' in refusal(lambda: package_files.parse_xml(os.path.join(directory, 'ExUpInfo.xml'))),
          'a document type in ExUpInfo.xml was read')
    # The pending record: only the module's own 0600 file counts.
    record = package_files.write_pending(directory, '02.40', 'ab' * 32, '02.30')
    check(package_files.read_pending(directory) == record, 'the pending record does not read back')
    path = os.path.join(directory, package_files.PENDING_NAME)
    check(stat.S_IMODE(os.stat(path).st_mode) == 0o600, 'the pending record is not 0600')
    os.chmod(path, 0o644)
    check('is refused' in refusal(lambda: package_files.read_pending(directory)), 'a readable pending record was taken')
    with open(path, 'w') as handle:
        handle.write('{"package_version": 2}')
    os.chmod(path, 0o600)
    check('is damaged' in refusal(lambda: package_files.read_pending(directory)), 'a damaged pending record was taken')


def fake_tool(root, fake):
    directory = package(root, 'run')
    return update_manager.Tool(name='Korvane', path=fake, cwd=directory, result_dir=directory,
                               version_args=['-version'], update_args=['-normal'], update_file='Update_normal.xml',
                               update_log=os.path.join(directory, 'log'), version_log=os.path.join(directory, 'log1'),
                               may_flash=True)


def run_timed(action):
    started = time.time()
    try:
        return action(), time.time() - started
    except update_manager.ToolError as e:
        return 'ToolError: %s' % e, time.time() - started


def check_tools_that_hang(root, fake):
    """Every wait ends: a query that hangs is stopped, one that ignores that is killed; an update that ignores
    its stop request is killed, unless it may be writing the flash; a hanging -ratio poll holds nothing up."""
    update_manager.KILL_GRACE = 0.5
    update_manager.STOP_WAIT = 1
    tool = fake_tool(root, fake)

    class Stopped(object):
        """A stop request half a second in, once the tool runs."""
        def __init__(self):
            self.at = time.time() + 0.5

        @property
        def signal(self):
            return 15 if time.time() > self.at else None

    cases = [
        ('query that hangs', 'hang', lambda: update_manager.run_query(tool, ['-normal'], 'Get_version.xml', 1),
         'ToolError: Korvane -normal did not end in time and was stopped', 3),
        ('query deaf to SIGTERM', 'hang deaf', lambda: update_manager.run_query(tool, ['-normal'], 'x', 1),
         'ToolError: Korvane -normal ignored SIGTERM and was killed', 3),
        ('a -ratio poll that hangs', 'slow-ratio', lambda: update_manager.UpdateRun(tool, 60).run_once(NoStop()),
         'Complete', 4),
        ('update deaf to its stop request', 'hang deaf', lambda: update_manager.UpdateRun(tool, 60).run_once(Stopped()),
         'ToolError: Korvane did not end within 1 s of its stop request; it may be writing the flash, so it was left '
         'running', 4),
    ]
    for what, mode, action, expected, limit in cases:
        os.environ['FAKE_MODE'] = mode
        result, took = run_timed(action)
        check(str(result).startswith(expected) and took < limit, '%s: %r after %.1f s' % (what, result, took))
        left = subprocess.run(['pgrep', '-f', '%s -normal' % fake], stdout=subprocess.PIPE).stdout.split()
        check(bool(left) == ('left running' in expected), '%s: processes left: %r' % (what, left))
        if 'left running' in str(result):
            os.kill(int(str(result).rsplit('pid ', 1)[1].rstrip(')')), 9)
    tool.may_flash = False
    os.environ['FAKE_MODE'] = 'hang deaf'
    result, took = run_timed(lambda: update_manager.UpdateRun(tool, 60).run_once(Stopped()))
    check(str(result).startswith('ToolError: Korvane did not end within 1 s of its stop request and was killed'),
          'an update that cannot be writing flash was left running: %r' % result)


def main():
    # A wait that no longer ends fails the test instead of holding it.
    signal.alarm(120)
    with tempfile.TemporaryDirectory() as root:
        os.chmod(root, 0o755)
        fake = os.path.join(root, 'fake_tool')
        with open(fake, 'w') as handle:
            handle.write(FAKE_TOOL)
        os.chmod(fake, 0o755)
        check_package_refusals(root, fake)
        check_tools_that_hang(root, fake)
    if problems:
        print('\n'.join(problems), file=sys.stderr)
        sys.exit(1)
    print('manager: package refusals, pending record, hanging and deaf tools as expected')


if __name__ == '__main__':
    main()

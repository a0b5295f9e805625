# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The update manager's side of veltrop and Korvane: version query, update, progress polls, result files.

Runs on the managed host (Python 3.9 and later, standard library only).
"""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import ctypes
import os
import signal
import subprocess
import time
from xml.etree import ElementTree

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.bmc.online_update.plugins.module_utils.result_codes import message

# A result file is replaced whole, but it may vanish between our look and our read.
RESULT_READ_ATTEMPTS = 5
# How long a query (-version, -ratio) may take before it counts as hung.
QUERY_TIMEOUT = 300
# Busy and Duplex: another run holds the tool's lock; try again this often, this long.
LOCK_RETRY_PAUSE = 5
LOCK_WAIT = 600
# After the stop request a run releases the BMC's lock and writes its answer; the SDR tool
# holds that answer back to 30 seconds after its first "OK" and both pause 10 seconds more.
STOP_WAIT = 120
PR_SET_PDEATHSIG = 1


class ToolError(Exception):
    """The tool could not be run or left no answer; not a result code of its own."""


class Tool(object):
    """Where one tool runs, what it is started with and where its files are."""

    def __init__(self, name, path, cwd, result_dir, version_args, update_args, update_file, update_log, version_log):
        self.name = name
        self.path = path
        self.cwd = cwd
        self.result_dir = result_dir
        self.version_args = version_args
        self.update_args = update_args
        self.update_file = update_file
        self.update_log = update_log
        self.version_log = version_log

    def result_path(self, name):
        return os.path.join(self.result_dir, name)


def exupinfo_dir(start):
    """The directory holding ExUpInfo.xml, from start upwards (the SDR tool's own search); else start."""
    here = os.path.abspath(start)
    while True:
        if os.path.exists(os.path.join(here, 'ExUpInfo.xml')):
            return here
        parent = os.path.dirname(here)
        if parent == here:
            return os.path.abspath(start)
        here = parent


def package_version(directory):
    """The first <version> below ExUpInfo.xml's document element, as the firmware tool reads it; '' if none."""
    try:
        root = ElementTree.parse(os.path.join(directory, 'ExUpInfo.xml')).getroot()
    except (OSError, ElementTree.ParseError):
        return ''
    found = root.find('.//version')
    if found is None:
        return ''
    return ''.join(found.itertext()).strip()


def read_result(path):
    """(result_code, data) of a result file, data a dict for version answers and text otherwise; None if absent."""
    for attempt in range(RESULT_READ_ATTEMPTS):
        if not os.path.exists(path):
            return None
        try:
            root = ElementTree.parse(path).getroot()
        except (OSError, ElementTree.ParseError):
            # Replaced or removed while we read it: look again.
            time.sleep(0.2)
            continue
        code = (root.findtext('result_code') or '').strip()
        data = root.find('data')
        if data is not None and data.find('cmp') is not None:
            return code, {'cmp': (data.findtext('cmp') or '').strip(),
                          'version': (data.findtext('version') or '').strip()}
        return code, ('' if data is None else ''.join(data.itertext()).strip())
    raise ToolError('%s cannot be read as a result file' % path)


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def log_tail(path, lines=20):
    try:
        with open(path, 'rb') as handle:
            text = handle.read()[-16384:].decode('ascii', 'replace')
    except OSError:
        return []
    return [line.rstrip('\r') for line in text.split('\n') if line.strip()][-lines:]


def _die_with_parent():
    # Own session: a signal to the module's process group (Ctrl-C, a time-out's kill) does not cut
    # the tool off mid-flash. If the module dies all the same, the tool gets the stop request.
    os.setsid()
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    except (OSError, AttributeError):
        pass


def start(tool, args):
    try:
        return subprocess.Popen([tool.path] + args, cwd=tool.cwd, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                preexec_fn=_die_with_parent, close_fds=True)
    except OSError as e:
        raise ToolError('%s cannot be started: %s' % (tool.path, e))


def run_query(tool, args, result_name):
    """Run one query to its end and return its result file's (code, data)."""
    path = tool.result_path(result_name)
    remove(path)
    process = start(tool, args)
    try:
        process.wait(timeout=QUERY_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.terminate()
        process.wait()
        raise ToolError('%s %s did not end within %d s' % (tool.name, ' '.join(args), QUERY_TIMEOUT))
    result = read_result(path)
    if result is None:
        raise ToolError('%s %s left no %s' % (tool.name, ' '.join(args), result_name))
    return result


def query_version(tool, deadline, stop=None):
    """The -version answer: a dict with result_code, message, comparison and bmc_version; Busy waited out."""
    while True:
        code, data = run_query(tool, tool.version_args, 'Get_version.xml')
        if code != 'Busy' or time.time() + LOCK_RETRY_PAUSE > deadline or (stop and stop.signal is not None):
            break
        time.sleep(LOCK_RETRY_PAUSE)
    answer = {'result_code': code, 'message': message(tool.name, code), 'comparison': '', 'bmc_version': ''}
    if isinstance(data, dict):
        answer['comparison'] = data['cmp']
        answer['bmc_version'] = data['version']
    return answer


class StopRequest(object):
    """Turns the signals a dying task gets into a flag, so that the run can be stopped safely."""

    SIGNALS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)

    def __init__(self):
        self.signal = None
        self._old = {}

    def __enter__(self):
        for number in self.SIGNALS:
            self._old[number] = signal.signal(number, self._note)
        return self

    def __exit__(self, *exc):
        for number, handler in self._old.items():
            signal.signal(number, handler)
        return False

    def _note(self, number, frame):
        self.signal = number


class UpdateRun(object):
    """One update, driven the way the tools expect their manager to drive them."""

    def __init__(self, tool, timeout, poll_interval=3.0):
        self.tool = tool
        self.timeout = timeout
        self.poll_interval = poll_interval
        self.ratios = []
        self.first_ok_taken = False
        self.stopped_by = None

    def _poll_ratio(self):
        try:
            code, data = run_query(self.tool, ['-ratio'], 'Get_ratio.xml')
        except ToolError:
            return
        if code == 'OK' and data.isdigit():
            ratio = int(data)
            if not self.ratios or self.ratios[-1] != ratio:
                self.ratios.append(ratio)

    def _look_at_result(self, path):
        """The final code once the tool has written one; the first "OK" is read and taken away."""
        result = read_result(path)
        if result is None:
            return None
        code = result[0]
        if code == 'OK' and not self.first_ok_taken:
            # Korvane holds its final answer until this file is gone.
            self.first_ok_taken = True
            remove(path)
            return None
        return None if code == 'OK' else code

    def run_once(self, stop):
        path = self.tool.result_path(self.tool.update_file)
        remove(path)
        self.first_ok_taken = False
        started = time.time()
        process = start(self.tool, self.tool.update_args)
        final = None
        stop_sent = None
        next_poll = started + 1.0
        while True:
            ended = process.poll() is not None
            code = self._look_at_result(path)
            if code is not None:
                final = code
            if ended:
                break
            now = time.time()
            if stop_sent is None and (stop.signal is not None or now - started > self.timeout):
                self.stopped_by = ('signal %d' % stop.signal) if stop.signal is not None else 'timeout'
                process.send_signal(signal.SIGTERM)
                stop_sent = now
            if stop_sent is not None and now - stop_sent > STOP_WAIT:
                # The stop request went unanswered: leave the tool running rather than kill it mid-write.
                raise ToolError('%s did not end within %d s of its stop request' % (self.tool.name, STOP_WAIT))
            if now >= next_poll:
                self._poll_ratio()
                next_poll = time.time() + self.poll_interval
            time.sleep(0.5)
        if final is None:
            final = self._look_at_result(path)
        if final is None:
            raise ToolError('%s ended without a final answer in %s' % (self.tool.name, self.tool.update_file))
        return final

    def run(self, stop):
        """The final result code; Duplex (another update of this tool runs) is waited out for a bounded time."""
        deadline = time.time() + LOCK_WAIT
        while True:
            code = self.run_once(stop)
            if code != 'Duplex' or self.stopped_by or stop.signal is not None:
                return code
            if time.time() + LOCK_RETRY_PAUSE > deadline:
                return code
            time.sleep(LOCK_RETRY_PAUSE)


def update(module, tool, force, timeout):
    """The whole manager's part: version query, then the update unless the BMC is not older, then a second query.

    Returns the module's result dict; failed is set for every outcome but "Complete" or an update not needed.
    """
    started = time.time()
    package = package_version(tool.result_dir if tool.name == 'veltrop' else tool.cwd)
    result = {'changed': False, 'failed': False, 'result_code': '', 'message': '', 'ratios': [],
              'versions': {'bmc_before': '', 'package': package, 'bmc_after': ''},
              'elapsed': 0.0, 'log_tail': []}

    def finish(log_path, **fields):
        result.update(fields)
        result['elapsed'] = round(time.time() - started, 1)
        result['log_tail'] = log_tail(log_path)
        return result

    with StopRequest() as stop:
        before = query_version(tool, started + LOCK_WAIT, stop)
        result['versions']['bmc_before'] = before['bmc_version']
        if before['result_code'] != 'OK':
            return finish(tool.version_log, failed=True, result_code=before['result_code'],
                          message=before['message'], msg='%s -version: %s %s' % (
                              tool.name, before['result_code'], before['message']))
        needed = force or before['comparison'] == 'Upper'
        if not needed:
            result['versions']['bmc_after'] = before['bmc_version']
            return finish(tool.version_log, result_code='OK', message=before['message'],
                          msg='The BMC is not older than the package (%s): no update.' % before['comparison'])
        if module.check_mode:
            return finish(tool.version_log, changed=True, result_code='OK', message=before['message'],
                          msg='An update would run (%s).' % ('forced' if force else before['comparison']))
        if stop.signal is not None:
            return finish(tool.version_log, failed=True, result_code=before['result_code'], message=before['message'],
                          msg='Stopped by signal %d before the update started.' % stop.signal)
        run = UpdateRun(tool, timeout)
        code = run.run(stop)
        result['ratios'] = run.ratios
        fields = {'result_code': code, 'message': message(tool.name, code), 'changed': code == 'Complete'}
        if run.stopped_by:
            fields['msg'] = '%s stopped by %s; its answer: %s %s' % (tool.name, run.stopped_by, code, fields['message'])
            fields['failed'] = True
        elif code != 'Complete':
            fields['msg'] = '%s: %s %s' % (tool.name, code, fields['message'])
            fields['failed'] = True
        else:
            fields['msg'] = '%s: %s' % (tool.name, code)
        if stop.signal is None:
            after = query_version(tool, time.time() + LOCK_WAIT, stop)
            if after['result_code'] == 'OK':
                result['versions']['bmc_after'] = after['bmc_version']
        return finish(tool.update_log, **fields)


def run_update_module(argument_spec, make_tool, setup_error):
    """The whole of an update module: its options plus force, the tool made from them, the update
    played as the manager plays it, and the host failed with the result when it is not Complete."""
    options = dict(argument_spec)
    options['force'] = dict(type='bool', default=False)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    try:
        tool = make_tool(module.params, force=module.params['force'])
        result = update(module, tool, module.params['force'], module.params['timeout'])
    except (setup_error, ToolError, OSError) as e:
        module.fail_json(msg=str(e))
    if result['failed']:
        module.fail_json(**result)
    module.exit_json(**result)

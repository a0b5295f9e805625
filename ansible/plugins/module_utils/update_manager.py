# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The update manager's side of veltrop and Korvane: version query, update, progress polls, result files,
and for the firmware the BMC's reset into the new image, confirmed by the tool's own version query.

Runs on the managed host (Python 3.9 and later, standard library only).
"""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import ctypes
import os
import select
import signal
import subprocess
import time
from xml.etree import ElementTree

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.bmc.online_update.plugins.module_utils import package_files
from ansible_collections.bmc.online_update.plugins.module_utils.package_files import SetupError
from ansible_collections.bmc.online_update.plugins.module_utils.result_codes import message

# A result file is replaced whole, but it may vanish between our look and our read.
RESULT_READ_ATTEMPTS = 5
# How long a query (-version, -ratio) may take before it counts as hung.
QUERY_TIMEOUT = 300
# A process asked to end (SIGTERM) gets this long before SIGKILL.
KILL_GRACE = 10
# Busy and Duplex: another run holds the tool's lock; try again this often, this long.
LOCK_RETRY_PAUSE = 5
LOCK_WAIT = 600
# After the stop request a run releases the BMC's lock and writes its answer; the SDR tool
# holds that answer back to 30 seconds after its first "OK" and both pause 10 seconds more.
STOP_WAIT = 120
# The loop's pace while an update runs, and the pause between -ratio polls.
LOOP_PAUSE = 0.5
RATIO_INTERVAL = 3.0
# After the reset: the pause between version queries, and how long an old version may still be the
# old firmware answering before it goes down, when the BMC was never seen silent.
ACTIVATION_POLL = 5
RESET_SETTLE = 30
PR_SET_PDEATHSIG = 1
# Korvane codes given before anything is erased: target checks, files, identity, the lock.
FIRMWARE_UNTOUCHED = frozenset(['C1', 'C2', 'C3', 'C4', 'C5', 'C6', 'C7', 'C15', 'C16', 'C17', 'C20', 'C21', 'C22',
                                'Duplex', 'Down Grade', 'Busy', 'OK', 'No-Command'])


class ToolError(Exception):
    """The tool could not be run or left no answer; not a result code of its own."""


class Tool(object):
    """Where one tool runs, what it is started with and where its files are."""

    def __init__(self, name, path, cwd, result_dir, version_args, update_args, update_file, update_log, version_log,
                 may_flash=False):
        self.name = name
        self.path = path
        self.cwd = cwd
        self.result_dir = result_dir
        self.version_args = version_args
        self.update_args = update_args
        self.update_file = update_file
        self.update_log = update_log
        self.version_log = version_log
        # An update of this tool may be rewriting flash: never killed, whatever it ignores.
        self.may_flash = may_flash
        self.copied = False

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


def read_result(path):
    """(result_code, data) of a result file, data a dict for version answers and text otherwise; None if absent."""
    for attempt in range(RESULT_READ_ATTEMPTS):
        if not os.path.exists(path):
            return None
        try:
            root = package_files.parse_xml(path)
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


def start(argv, cwd, what):
    try:
        return subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent, close_fds=True)
    except OSError as e:
        raise ToolError('%s cannot be started: %s' % (what, e))


class Child(object):
    """A process watched without blocking: asked to end after its time, killed after the grace period."""

    def __init__(self, process, limit, what):
        self.process = process
        self.what = what
        self.deadline = time.time() + limit
        self.term_sent = None
        self.killed = False

    def ended(self):
        if self.process.poll() is not None:
            return True
        now = time.time()
        if self.term_sent is None and now > self.deadline:
            self.process.terminate()
            self.term_sent = now
        elif self.term_sent is not None and not self.killed and now - self.term_sent > KILL_GRACE:
            self.process.kill()
            self.killed = True
        return False

    def wait(self):
        """Blocks until the process ends: its time, then the grace period, then SIGKILL."""
        while not self.ended():
            time.sleep(0.1)

    def failure(self):
        if self.killed:
            return '%s ignored SIGTERM and was killed' % self.what
        if self.term_sent is not None:
            return '%s did not end in time and was stopped' % self.what
        return ''


class Query(object):
    """One query of a tool (-version, -ratio) running beside whatever the caller does."""

    def __init__(self, tool, args, result_name, limit=QUERY_TIMEOUT):
        self.path = tool.result_path(result_name)
        self.name = '%s %s' % (tool.name, ' '.join(args))
        self.result_name = result_name
        remove(self.path)
        self.child = Child(start([tool.path] + args, tool.cwd, tool.path), limit, self.name)

    def ended(self):
        return self.child.ended()

    def result(self):
        """(code, data) of the ended query; ToolError when it was stopped or left no answer."""
        failure = self.child.failure()
        if failure:
            raise ToolError(failure)
        result = read_result(self.path)
        if result is None:
            raise ToolError('%s left no %s' % (self.name, self.result_name))
        return result


def run_query(tool, args, result_name, limit=QUERY_TIMEOUT):
    """Run one query to its end (bounded) and return its result file's (code, data)."""
    query = Query(tool, args, result_name, limit)
    query.child.wait()
    return query.result()


def version_answer(tool, code, data):
    answer = {'result_code': code, 'message': message(tool.name, code), 'comparison': '', 'bmc_version': ''}
    if isinstance(data, dict):
        answer['comparison'] = data['cmp']
        answer['bmc_version'] = data['version']
    return answer


def query_version(tool, deadline, stop=None):
    """The -version answer: a dict with result_code, message, comparison and bmc_version; Busy waited out."""
    while True:
        code, data = run_query(tool, tool.version_args, 'Get_version.xml')
        if code != 'Busy' or time.time() + LOCK_RETRY_PAUSE > deadline or (stop and stop.signal is not None):
            break
        time.sleep(LOCK_RETRY_PAUSE)
    return version_answer(tool, code, data)


def _output_gone():
    """The module's standard output leads nowhere: a pipe without a reader, a terminal hung up."""
    try:
        watch = select.poll()
        watch.register(1, select.POLLOUT)
        return any(events & (select.POLLERR | select.POLLHUP) for fd, events in watch.poll(0))
    except (OSError, ValueError, AttributeError):
        return False


class StopRequest(object):
    """Turns the signals a dying task gets into a flag, so that the run can be stopped safely.

    SIGHUP is what a lost SSH connection brings (the session's terminal hangs up)."""

    SIGNALS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)

    def __init__(self):
        self._signal = None
        self._old = {}
        self._parent = os.getppid()

    @property
    def signal(self):
        """The signal that asked for the stop; SIGHUP too once the session that started the module is gone
        without its hang-up reaching the module: its parent died, or nobody reads its output any more (a
        pipelined SSH session has no terminal to hang up)."""
        if self._signal is None and (os.getppid() != self._parent or _output_gone()):
            self._signal = signal.SIGHUP
        return self._signal

    def __enter__(self):
        for number in self.SIGNALS:
            self._old[number] = signal.signal(number, self._note)
        return self

    def __exit__(self, *exc):
        for number, handler in self._old.items():
            signal.signal(number, handler)
        return False

    def _note(self, number, frame):
        self._signal = number


class UpdateRun(object):
    """One update, driven the way the tools expect their manager to drive them."""

    def __init__(self, tool, timeout):
        self.tool = tool
        self.timeout = timeout
        self.ratios = []
        self.first_ok_taken = False
        self.stopped_by = None
        self.started = False

    def _take_ratio(self, query):
        try:
            code, data = query.result()
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

    def _unanswered_stop(self, process):
        if self.tool.may_flash:
            raise ToolError('%s did not end within %d s of its stop request; it may be writing the flash, so it was '
                            'left running (pid %d)' % (self.tool.name, STOP_WAIT, process.pid))
        process.kill()
        try:
            process.wait(KILL_GRACE)
        except subprocess.TimeoutExpired:
            pass
        raise ToolError('%s did not end within %d s of its stop request and was killed' % (self.tool.name, STOP_WAIT))

    def run_once(self, stop):
        path = self.tool.result_path(self.tool.update_file)
        remove(path)
        self.first_ok_taken = False
        started = time.time()
        process = start([self.tool.path] + self.tool.update_args, self.tool.cwd, self.tool.path)
        self.started = True
        final = None
        stop_sent = None
        ratio = None
        next_poll = started + 1.0
        try:
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
                    self._unanswered_stop(process)
                # The poll runs beside this loop, so a stop request or the final answer is seen at once.
                if ratio is not None and ratio.ended():
                    self._take_ratio(ratio)
                    ratio = None
                    next_poll = time.time() + RATIO_INTERVAL
                if ratio is None and now >= next_poll:
                    ratio = Query(self.tool, ['-ratio'], 'Get_ratio.xml')
                time.sleep(LOOP_PAUSE)
        finally:
            if ratio is not None:
                # A query has no business running on after the update: a short while, then it is stopped.
                ratio.child.deadline = min(ratio.child.deadline, time.time() + KILL_GRACE)
                ratio.child.wait()
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


class Activation(object):
    """The firmware's way into service: the reset command, then the tool's version query until the BMC answers."""

    def __init__(self, argv, timeout):
        self.argv = argv
        self.timeout = timeout

    def run(self, tool, package, stop):
        """(fields for the result, failure message or '', whether the BMC came back on another version)."""
        started = time.time()
        child = Child(start(self.argv, tool.cwd, self.argv[0]), self.timeout, 'the reset command')
        child.wait()
        if child.failure() or child.process.returncode != 0:
            return {}, 'the reset command %s failed (%s); the new firmware is pending activation' % (
                ' '.join(self.argv), child.failure() or 'exit status %d' % child.process.returncode), False
        reset_done = time.time()
        deadline = started + self.timeout
        silent_seen = False
        last = None
        while stop.signal is None:
            remaining = deadline - time.time()
            try:
                code, data = run_query(tool, tool.version_args, 'Get_version.xml', max(1, min(QUERY_TIMEOUT, remaining)))
                last = version_answer(tool, code, data)
            except ToolError:
                last = None
            now = time.time()
            if last is not None and last['result_code'] == 'OK':
                # Right after the command the old firmware may still answer: an old version is the
                # answer once the BMC went silent in between, or after the settling time.
                if last['comparison'] == 'Even' or silent_seen or now - reset_done >= RESET_SETTLE:
                    break
            else:
                silent_seen = True
            if now + ACTIVATION_POLL > deadline:
                break
            time.sleep(ACTIVATION_POLL)
        answered = last is not None and last['result_code'] == 'OK'
        fields = {'activation': {'running_version': last['bmc_version'] if answered else '',
                                 'answered_after_s': round(time.time() - reset_done, 1) if answered else None}}
        if stop.signal is not None:
            return fields, 'stopped by signal %d while the BMC restarted; the new firmware is pending activation' % (
                stop.signal), False
        if not answered:
            return fields, 'the BMC did not answer within %d s of its reset (last: %s); the package is %s' % (
                self.timeout, last['result_code'] if last else 'no answer', package), False
        if last['comparison'] != 'Even':
            return fields, 'the BMC runs %s after its reset; the package is %s' % (last['bmc_version'], package), True
        return fields, '', False


def update(module, tool, force, timeout, activation=None):
    """The whole manager's part: version query, then the update unless the BMC is not older, then a second query
    (or, for the firmware with activation, the reset and the confirmation that the package's version runs).

    Returns the module's result dict; failed is set for every outcome but "Complete" or an update not needed.
    """
    started = time.time()
    firmware = tool.name == 'Korvane'
    package = package_files.package_version(tool.result_dir)
    result = {'changed': tool.copied, 'failed': False, 'result_code': '', 'message': '', 'ratios': [],
              'versions': {'bmc_before': '', 'package': package, 'bmc_after': ''},
              'elapsed': 0.0, 'log_tail': []}
    if firmware:
        result['pending_activation'] = False
    state = {'log': tool.version_log}

    def finish(**fields):
        result.update(fields)
        result['elapsed'] = round(time.time() - started, 1)
        result['log_tail'] = log_tail(state['log'])
        return result

    def fail(text, **fields):
        return finish(failed=True, msg='%s: %s' % (tool.name, text), **fields)

    with StopRequest() as stop:
        try:
            return _update(module, tool, force, timeout, activation, stop, result, state, finish, fail)
        except (ToolError, SetupError, OSError) as e:
            return fail(str(e))


def pending_record(tool, bmc_version, package, digest):
    """(the pending record if it describes this BMC and this image, or None; whether a record went stale).

    A record goes stale once the BMC runs another version than it ran before the flash (reset since)."""
    record = package_files.read_pending(tool.cwd)
    if record is None:
        return None, False
    if record['bmc_before'] != bmc_version:
        return None, True
    if record['image_sha256'] != digest or record['package_version'] != package:
        return None, False
    return record, False


def pending_activation(record):
    """The record's image runs after the next reset (it was never seen failing to)."""
    return record is not None and 'failed_activation' not in record


def _activate(tool, activation, package, record, stop, result, finish, fail):
    """Reset and confirm; the pending record goes once the package's version runs, and is marked when another
    version came back (no second reset into an image that did not boot)."""
    fields, problem, wrong_version = activation.run(tool, package, stop)
    result.update(fields)
    running = fields.get('activation', {}).get('running_version', '')
    result['versions']['bmc_after'] = running
    if problem:
        if wrong_version:
            package_files.mark_failed_activation(tool.cwd, record, running)
        return fail(problem, changed=True, pending_activation=not wrong_version)
    package_files.clear_pending(tool.cwd)
    return finish(changed=True, pending_activation=False,
                  msg='%s: the BMC runs %s after its reset (it answered after %.1f s)' % (
                      tool.name, running, fields['activation']['answered_after_s']))


def _update(module, tool, force, timeout, activation, stop, result, state, finish, fail):
    firmware = tool.name == 'Korvane'
    package = result['versions']['package']
    before = query_version(tool, time.time() + LOCK_WAIT, stop)
    result['versions']['bmc_before'] = before['bmc_version']
    if before['result_code'] != 'OK':
        return finish(failed=True, result_code=before['result_code'], message=before['message'],
                      msg='%s -version: %s %s' % (tool.name, before['result_code'], before['message']))
    result.update(result_code='OK', message=before['message'])
    pending = None
    if firmware:
        digest = package_files.image_digest(os.path.join(tool.cwd, 'bmcfw.bin'))
        pending, stale = pending_record(tool, before['bmc_version'], package, digest)
        if stale and not module.check_mode:
            package_files.clear_pending(tool.cwd)
    if pending and not force and 'failed_activation' in pending:
        result['versions']['bmc_after'] = before['bmc_version']
        return fail('%s; the package is %s. The image flashed at %s is not tried again: force flashes it again.' % (
            pending['failed_activation'], package, pending['flashed_at']))
    if pending and not force:
        result['pending_activation'] = True
        result['versions']['bmc_after'] = before['bmc_version']
        if activation is None:
            return finish(msg='%s: the package was flashed at %s and runs after the BMC\'s reset (pending '
                              'activation): nothing flashed' % (tool.name, pending['flashed_at']))
        if module.check_mode:
            return finish(changed=True, msg='%s: the BMC would be reset into the pending firmware.' % tool.name)
        return _activate(tool, activation, package, pending, stop, result, finish, fail)
    needed = force or before['comparison'] == 'Upper'
    if not needed:
        result['versions']['bmc_after'] = before['bmc_version']
        return finish(msg='The BMC is not older than the package (%s): no update.' % before['comparison'])
    if module.check_mode:
        return finish(changed=True, msg='An update would run (%s).' % ('forced' if force else before['comparison']))
    if stop.signal is not None:
        return fail('stopped by signal %d before the update started.' % stop.signal)
    run = UpdateRun(tool, timeout)
    state['log'] = tool.update_log
    try:
        code = run.run(stop)
    finally:
        result['ratios'] = run.ratios
        # Without an answer, a firmware update that ran may have touched the flash.
        result['changed'] = tool.copied or (firmware and run.started)
    touched = code not in FIRMWARE_UNTOUCHED if firmware else code == 'Complete'
    result['changed'] = tool.copied or touched
    result.update(result_code=code, message=message(tool.name, code))
    if run.stopped_by:
        return fail('stopped by %s; its answer: %s %s' % (run.stopped_by, code, result['message']))
    if code != 'Complete':
        return fail('%s %s' % (code, result['message']))
    if firmware:
        record = package_files.write_pending(tool.cwd, package, digest, before['bmc_version'])
        result['pending_activation'] = True
        if activation is not None:
            return _activate(tool, activation, package, record, stop, result, finish, fail)
    if stop.signal is None:
        after = query_version(tool, time.time() + LOCK_WAIT, stop)
        if after['result_code'] == 'OK':
            result['versions']['bmc_after'] = after['bmc_version']
    return finish(msg='%s: %s%s' % (tool.name, code, ' (pending activation: the BMC runs it after its reset)'
                                    if firmware else ''))


def run_update_module(argument_spec, make_tool, make_activation=None):
    """The whole of an update module: its options plus force, the tool made from them, the update
    played as the manager plays it, and the host failed with the result when it is not Complete."""
    options = dict(argument_spec)
    options['force'] = dict(type='bool', default=False)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    try:
        tool = make_tool(module.params, force=module.params['force'])
        activation = make_activation(module.params) if make_activation else None
        result = update(module, tool, module.params['force'], module.params['timeout'], activation)
    except (SetupError, ToolError, OSError) as e:
        module.fail_json(msg=str(e))
    if result['failed']:
        module.fail_json(**result)
    module.exit_json(**result)

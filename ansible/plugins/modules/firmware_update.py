#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: firmware_update
short_description: Write a BMC firmware image with Korvane, as its update manager, and bring it into service
version_added: 1.0.0
description:
  - Runs C(Korvane) on the managed host the way an update manager does. C(Korvane) keeps its files beside itself,
    so I(tool) is copied into I(package_dir) first unless the same program is already there (through a new
    temporary name, then renamed; C(changed) when it was copied).
  - A C(-version) query comes first; unless I(force) is set, a BMC whose running firmware is not older than the
    package's C(<version>) gives C(changed=false) and no update.
  - Otherwise C(Korvane -normal) (C(-force) with I(force)) runs while C(Korvane -ratio) is polled every few seconds
    into I(ratios). The first C(OK) result file is read and taken away at once (the tool holds its final answer
    until it is gone) and the final result file read; the module waits for the tool to end (it keeps its progress
    file 10 more seconds).
  - C(Complete) is the only success. Every other result code fails the host with the code's message; C(Busy) and
    C(Duplex) (another run holds the tool's lock) are waited out for up to 10 minutes first. C(changed) is true once
    the flash may have been touched (every code but the checks made before anything is erased).
  - The BMC runs the new firmware after its reset. With I(activate) the module runs I(reset_command) after
    C(Complete), then asks the tool's C(-version) every 5 seconds until the BMC answers (it answers nothing while it
    boots), for up to I(activation_timeout) seconds. The package's version running is success, returned in
    I(activation); the old version, or no answer in time, fails the host with C(changed=true) and the version that
    runs.
  - After C(Complete) the module records what it flashed in C(pending_activation.json) in I(package_dir) (root's,
    mode 0600; the package's version, the SHA-256 of C(bmcfw.bin), the BMC's version before, the time). A later run
    that finds the BMC still running that version with the same image flashes nothing (unless I(force)); without
    I(activate) it returns C(changed=false) and I(pending_activation); with I(activate) it resets and confirms. The
    record goes once the package's version runs; a reset into any other version makes it stale.
  - A stop request (SIGTERM, SIGINT or SIGHUP to the module, as a lost SSH connection brings, or I(timeout)) is
    passed to the tool, which stops at its next safe point (channel 2 restored, the image selector untouched); the
    module waits for its result file and fails with it. A tool that has not ended 2 minutes later may be writing
    the flash, so it is left running, and the host fails saying so. If the module itself is killed, the tool still
    gets the stop request.
  - The tool runs as root and reads I(package_dir), so a I(package_dir) or a file the tool reads there (C(bmcfw.bin),
    C(mchk_fil), C(ExUpInfo.xml), C(Korvane)) that is a symbolic link or that anyone but root may write to is
    refused, and so are such a I(tool) and an C(ExUpInfo.xml) with a document type.
  - Linux hosts, Python 3.9 or later.
author: BMC online update developers (@bmc-online-update)
options:
  tool:
    description: Path of the C(Korvane) program on the managed host.
    type: path
    required: true
  package_dir:
    description: The package directory, holding C(bmcfw.bin), C(mchk_fil) and C(ExUpInfo.xml); the tool runs here.
    type: path
    required: true
  both:
    description: Program both banks of a dual-bank BMC, the one not running first (C(-both)).
    type: bool
    default: false
  boot:
    description: Include the boot block (C(-boot); single-bank BMCs only).
    type: bool
    default: false
  force:
    description: Update whatever the versions and whatever is pending (C(Korvane -force) instead of C(-normal)).
    type: bool
    default: false
  timeout:
    description: Seconds the update may run before the module sends the tool its stop request.
    type: int
    default: 3600
  activate:
    description:
      - Reset the BMC after C(Complete) (or into a pending image) and wait until it runs the package's version.
      - Without it the new firmware stays pending until the BMC's next reset.
    type: bool
    default: true
  reset_command:
    description:
      - The command that resets the BMC, split as a shell splits it and run without one, in I(package_dir), with
        the task's environment. Its program must exist when I(activate) is set (checked before anything runs).
      - A non-zero exit fails the host; the new firmware is then pending.
    type: str
    default: ipmitool mc reset cold
  activation_timeout:
    description: Seconds from the reset command's start until the BMC must answer with its version.
    type: int
    default: 900
attributes:
  check_mode:
    description: Can run in check mode and return the changed status prediction without modifying the BMC.
    support: full
    details:
      - Runs the version query only (it writes its result file and log) and says whether an update (or, for a
        pending image with I(activate), a reset) would run.
      - I(tool) is copied into I(package_dir) all the same, since the query needs it there (C(changed) then).
seealso:
  - module: bmc.online_update.sdr_update
  - module: bmc.online_update.bmc_facts
'''

EXAMPLES = r'''
- name: Update the BMC firmware from the package unpacked in /opt/bmc-pkg/fw and reset the BMC into it
  bmc.online_update.firmware_update:
    tool: /opt/bmc-online-update/Korvane
    package_dir: /opt/bmc-pkg/fw
    both: true
  register: fw

- name: Flash only; the BMCs are reset in a maintenance window later (a re-run flashes nothing)
  bmc.online_update.firmware_update:
    tool: /opt/bmc-online-update/Korvane
    package_dir: /opt/bmc-pkg/fw
    activate: false
'''

RETURN = r'''
result_code:
  description:
    - The final result code, C(Complete) after an update. C(OK) when no update ran (the version query's answer), or
      the code that failed the host (version query or update).
  returned: always
  type: str
  sample: C10
message:
  description: The result code's text from the user guide's tables.
  returned: always
  type: str
  sample: Verify error.
versions:
  description: Firmware versions around the run.
  returned: always
  type: dict
  contains:
    bmc_before:
      description: The running firmware's version before, from the version query.
      type: str
      sample: "02.30"
    package:
      description: The package's version, C(<version>) of C(ExUpInfo.xml).
      type: str
      sample: "02.40"
    bmc_after:
      description:
        - The running firmware's version after the run; after an activation, the version the BMC answered with
          after its reset (empty if it did not answer).
      type: str
      sample: "02.40"
pending_activation:
  description: The package's image is in the flash and the BMC runs it after its next reset.
  returned: always
  type: bool
  sample: false
activation:
  description: The BMC's reset into the new firmware, when one ran.
  returned: when the reset command ran and ended with exit status 0
  type: dict
  contains:
    running_version:
      description: The version the BMC answered with after its reset (empty if it did not answer).
      type: str
      sample: "02.40"
    answered_after_s:
      description: Seconds from the reset command's end to the BMC's first answer (null if none came).
      type: float
      sample: 21.3
ratios:
  description: The progress values (percent) the C(-ratio) polls saw, in order, repeats left out.
  returned: always
  type: list
  elements: int
  sample: [5, 40, 100]
elapsed:
  description: Seconds the module ran.
  returned: always
  type: float
  sample: 14.2
log_tail:
  description: The last lines of the tool's log (C(Korvane_log.txt) after an update, else C(Korvane_log1.txt)).
  returned: always
  type: list
  elements: str
'''

from ansible_collections.bmc.online_update.plugins.module_utils.tool_setup import FIRMWARE_OPTIONS, firmware_tool, reset_argv
from ansible_collections.bmc.online_update.plugins.module_utils.update_manager import Activation, run_update_module


def activation(params):
    if not params['activate']:
        return None
    return Activation(reset_argv(params['reset_command']), params['activation_timeout'])


def main():
    run_update_module(FIRMWARE_OPTIONS, firmware_tool, activation)


if __name__ == '__main__':
    main()

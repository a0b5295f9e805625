#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: firmware_update
short_description: Write a BMC firmware image with Korvane, as its update manager
version_added: 1.0.0
description:
  - Runs C(Korvane) on the managed host the way an update manager does. C(Korvane) keeps its files beside itself,
    so I(tool) is copied into I(package_dir) first unless the same program is already there.
  - A C(-version) query comes first; unless I(force) is set, a BMC whose running firmware is not older than the
    package's C(<version>) gives C(changed=false) and no update.
  - Otherwise C(Korvane -normal) (C(-force) with I(force)) runs while C(Korvane -ratio) is polled every few seconds
    into I(ratios). The first C(OK) result file is read and taken away at once (the tool holds its final answer
    until it is gone) and the final result file read; the module waits for the tool to end (it keeps its progress
    file 10 more seconds).
  - C(Complete) is the only success. Every other result code fails the host with the code's message; C(Busy) and
    C(Duplex) (another run holds the tool's lock) are waited out for up to 10 minutes first.
  - The BMC runs the new firmware after its next reset; until then I(versions.bmc_after) is the running one.
  - A stop request (SIGTERM, SIGINT or SIGHUP to the module, or I(timeout)) is passed to the tool, which stops at its
    next safe point (channel 2 restored); the module waits for its result file and fails with it. If the module
    itself is killed, the tool still gets the stop request.
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
    description: Update whatever the versions (C(Korvane -force) instead of C(-normal)).
    type: bool
    default: false
  timeout:
    description: Seconds the update may run before the module sends the tool its stop request.
    type: int
    default: 3600
attributes:
  check_mode:
    description: Can run in check mode and return the changed status prediction without modifying the BMC.
    support: full
    details:
      - Runs the version query only (it writes its result file and log) and says whether an update would run.
      - I(tool) is copied into I(package_dir) all the same, since the query needs it there.
seealso:
  - module: bmc.online_update.sdr_update
  - module: bmc.online_update.bmc_facts
'''

EXAMPLES = r'''
- name: Update the BMC firmware from the package unpacked in /opt/bmc-pkg/fw
  bmc.online_update.firmware_update:
    tool: /opt/bmc-online-update/Korvane
    package_dir: /opt/bmc-pkg/fw
    both: true
  register: fw
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
      description: The running firmware's version after the run (the new one runs after the BMC's reset).
      type: str
      sample: "02.30"
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

from ansible_collections.bmc.online_update.plugins.module_utils.tool_setup import FIRMWARE_OPTIONS, SetupError, firmware_tool
from ansible_collections.bmc.online_update.plugins.module_utils.update_manager import run_update_module


def main():
    run_update_module(FIRMWARE_OPTIONS, firmware_tool, SetupError)


if __name__ == '__main__':
    main()

#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: the bmc.online_update authors
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: bmc_facts
short_description: The BMC's SDR and firmware versions against an update package, as facts
version_added: 1.0.0
description:
  - Runs the C(-version) queries of C(veltrop) (I(sdr)) and C(Korvane) (I(firmware)) on the managed host and returns
    what they answer as C(ansible_facts.bmc_online_update). Nothing on the BMC changes.
  - C(Busy) (an update runs) is waited out for up to 10 minutes. Any other answer but C(OK) fails the host with the
    result code and its message.
  - C(Korvane) is copied into the firmware I(package_dir) unless the same program is already there (C(changed)
    then).
  - The package directories are checked as M(bmc.online_update.sdr_update) and M(bmc.online_update.firmware_update)
    check them.
  - Linux hosts, Python 3.9 or later.
author: BMC online update developers (@bmc-online-update)
options:
  sdr:
    description: The SDR package, as for M(bmc.online_update.sdr_update).
    type: dict
    suboptions:
      tool:
        description: Path of C(veltrop) on the managed host.
        type: path
        required: true
      package_dir:
        description: The directory the tool runs in (I(input), C(mchk_fil); C(ExUpInfo.xml) there or above).
        type: path
        required: true
      input:
        description: Name of the input file in I(package_dir).
        type: str
        required: true
      input_type:
        description: C(sdr), C(cfg) or C(bin); default from the extension (C(.sdr), C(.cfg), else C(bin)).
        type: str
        choices: [sdr, cfg, bin]
  firmware:
    description: The firmware package, as for M(bmc.online_update.firmware_update).
    type: dict
    suboptions:
      tool:
        description: Path of C(Korvane) on the managed host.
        type: path
        required: true
      package_dir:
        description: The package directory (C(bmcfw.bin), C(mchk_fil), C(ExUpInfo.xml)).
        type: path
        required: true
attributes:
  check_mode:
    description: Can run in check mode and return the changed status prediction without modifying the BMC.
    support: full
    details: The queries run in check mode too; they write only their result files and logs.
seealso:
  - module: bmc.online_update.sdr_update
  - module: bmc.online_update.firmware_update
'''

EXAMPLES = r'''
- name: What the BMC runs against the package
  bmc.online_update.bmc_facts:
    sdr:
      tool: /opt/bmc-online-update/veltrop
      package_dir: /opt/bmc-pkg/sdr
      input: bmcsdr.sdr
    firmware:
      tool: /opt/bmc-online-update/Korvane
      package_dir: /opt/bmc-pkg/fw

- name: Show them
  ansible.builtin.debug:
    msg: "firmware {{ ansible_facts.bmc_online_update.firmware.bmc_version }}"
'''

RETURN = r'''
ansible_facts:
  description: Facts to add to ansible_facts.
  returned: always
  type: dict
  contains:
    bmc_online_update:
      description:
        - One entry per package asked about, C(sdr) and C(firmware); an entry not asked about is left out.
        - Each holds C(bmc_version) (the BMC's, as the query answers it), C(package_version) (C(<version>) of the
          package's C(ExUpInfo.xml)) and C(comparison) (C(Upper) the package is newer, C(Even), C(Lower)).
        - C(firmware) also holds C(pending_activation), true when M(bmc.online_update.firmware_update) flashed this
          package's image and the BMC still runs the version it ran before (the image runs after the BMC's reset).
      returned: always
      type: dict
      sample:
        sdr: {bmc_version: "01.20", package_version: "01.50", comparison: Upper}
        firmware: {bmc_version: "02.30", package_version: "02.40", comparison: Upper, pending_activation: true}
'''

import os
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.bmc.online_update.plugins.module_utils import package_files
from ansible_collections.bmc.online_update.plugins.module_utils.tool_setup import (
    FIRMWARE_QUERY_OPTIONS, SDR_QUERY_OPTIONS, firmware_tool, sdr_tool)
from ansible_collections.bmc.online_update.plugins.module_utils.update_manager import (
    LOCK_WAIT, ToolError, pending_activation, pending_record, query_version)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            sdr=dict(type='dict', options=SDR_QUERY_OPTIONS),
            firmware=dict(type='dict', options=FIRMWARE_QUERY_OPTIONS),
        ),
        required_one_of=[['sdr', 'firmware']],
        supports_check_mode=True,
    )
    facts = {}
    changed = False
    for key, make in (('sdr', sdr_tool), ('firmware', firmware_tool)):
        if not module.params[key]:
            continue
        try:
            tool = make(module.params[key])
            changed = changed or tool.copied
            answer = query_version(tool, time.time() + LOCK_WAIT)
            package = package_files.package_version(tool.result_dir)
            facts[key] = {'bmc_version': answer['bmc_version'], 'package_version': package,
                          'comparison': answer['comparison']}
            if key == 'firmware':
                digest = package_files.image_digest(os.path.join(tool.cwd, 'bmcfw.bin'))
                facts[key]['pending_activation'] = pending_activation(
                    pending_record(tool, answer['bmc_version'], package, digest)[0])
        except (package_files.SetupError, ToolError, OSError) as e:
            module.fail_json(msg='%s: %s' % (key, e), changed=changed)
        if answer['result_code'] != 'OK':
            module.fail_json(msg='%s -version: %s %s' % (tool.name, answer['result_code'], answer['message']),
                             result_code=answer['result_code'], message=answer['message'], changed=changed)
    module.exit_json(changed=changed, ansible_facts={'bmc_online_update': facts})


if __name__ == '__main__':
    main()

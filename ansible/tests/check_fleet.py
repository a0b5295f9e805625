#!/usr/bin/env python3
"""Checks one run of examples/fleet/site.yml over the hosts of make_fleet.sh (json callback output).

Usage: check_fleet.py first|second|stopped RUN.json FLEET_DIR BMCSIM
"""
import json
import subprocess
import sys

HOSTS = ['h%02d' % i for i in range(1, 21)]
FAILING = {'h03': ('Versions before', 'SDRC04'),
           'h07': ('SDR repository', 'SDR077'),
           'h12': ('Firmware', 'C10')}
UP_TO_DATE = 'h15'


def results(run):
    """{host: {task name: result}} over every play."""
    seen = {}
    for play in run['plays']:
        for task in play['tasks']:
            for host, result in task['hosts'].items():
                seen.setdefault(host, {})[task['task']['name']] = result
    return seen


def bmc(bmcsim, fleet, host):
    return json.loads(subprocess.run([bmcsim, 'show', '%s/%s/bmc' % (fleet, host)], check=True,
                                     stdout=subprocess.PIPE).stdout)


def check(condition, what, problems):
    if not condition:
        problems.append(what)


def summary(seen):
    lines = seen.get('localhost', {}).get('One line per host (SDR / firmware versions; result codes of the SDR and '
                                          'firmware updates, OK = none needed)', {}).get('msg', [])
    return lines


def check_rollout(name, run, seen, fleet, bmcsim, problems):
    stats = run['stats']
    failed = sorted(h for h in HOSTS if stats.get(h, {}).get('failures'))
    check(failed == sorted(FAILING), '%s: failed hosts %s, expected %s' % (name, failed, sorted(FAILING)), problems)
    for host, (task, code) in FAILING.items():
        result = seen.get(host, {}).get(task, {})
        check(result.get('failed') and result.get('result_code') == code and code in result.get('msg', ''),
              '%s: %s fails %s with %s, not %r' % (name, host, task, code, result.get('result_code')), problems)
    for host in HOSTS:
        sdr = seen.get(host, {}).get('SDR repository', {})
        firmware = seen.get(host, {}).get('Firmware', {})
        if name == 'second' or host == UP_TO_DATE:
            check(stats.get(host, {}).get('changed') == 0, '%s: %s changed something' % (name, host), problems)
            if host not in FAILING:
                check(sdr.get('result_code') == 'OK' and firmware.get('result_code') == 'OK',
                      '%s: %s ran an update (%r, %r)' % (name, host, sdr.get('result_code'),
                                                         firmware.get('result_code')), problems)
        elif host not in FAILING:
            check(sdr.get('changed') and sdr.get('result_code') == 'Complete' and sdr.get('ratios', [0])[-1] == 100,
                  '%s: %s SDR update %r %r' % (name, host, sdr.get('result_code'), sdr.get('ratios')), problems)
            check(firmware.get('changed') and firmware.get('result_code') == 'Complete'
                  and firmware.get('message') == 'BMCFW update was completed.',
                  '%s: %s firmware update %r' % (name, host, firmware.get('result_code')), problems)
            check(sdr.get('versions', {}).get('bmc_after') == '01.50' and sdr.get('elapsed', 0) >= 30,
                  '%s: %s SDR versions %r in %r s' % (name, host, sdr.get('versions'), sdr.get('elapsed')), problems)
        if host not in FAILING:
            facts = seen.get(host, {}).get('Versions after', {}).get('ansible_facts', {}).get('bmc_online_update', {})
            check(facts.get('sdr', {}).get('comparison') == 'Even' and facts.get('firmware', {}) == {
                'bmc_version': '02.40', 'package_version': '02.40', 'comparison': 'Even'},
                '%s: %s facts after %r' % (name, host, facts), problems)
    # Left as the tool leaves them: h12's flash not switched to the bad bank, channel 2 back on.
    state = bmc(bmcsim, fleet, 'h12')
    check(state['firmware']['image_selector'] == 1 and state['channel2']['volatile']['access'] == 0x22,
          '%s: h12 after the failed verify: selector %r, channel 2 %r' % (
              name, state['firmware']['image_selector'], state['channel2']), problems)
    lines = summary(seen)
    check(len(lines) == 21 and all(any(line.startswith(h + ' ') for line in lines) for h in HOSTS),
          '%s: the summary has %d lines' % (name, len(lines)), problems)
    if name == 'first':
        print('\n'.join(lines))


def check_stopped(run, seen, fleet, problems):
    first_batch, second_batch = HOSTS[:10], HOSTS[10:]
    for host in ('h01', 'h02', 'h03'):
        result = seen.get(host, {}).get('Versions before', {})
        check(result.get('result_code') == 'SDRC04', 'stopped: %s answers %r' % (host, result.get('result_code')),
              problems)
    updated = [h for h in first_batch if 'SDR repository' in seen.get(h, {})]
    check(not updated, 'stopped: the first batch went on to update %s' % updated, problems)
    reached = [h for h in second_batch if h in seen]
    check(not reached, 'stopped: the second batch was reached: %s' % reached, problems)
    queried = []
    for host in second_batch:
        try:
            open('%s/%s/pkg/Get_version.xml' % (fleet, host)).close()
            queried.append(host)
        except OSError:
            pass
    check(not queried, 'stopped: the tools ran on %s' % queried, problems)
    check('localhost' not in seen, 'stopped: the play went on to the summary', problems)


def main():
    name, path, fleet, bmcsim = sys.argv[1:5]
    with open(path) as handle:
        text = handle.read()
    # The json callback's document follows whatever warnings went to standard output first.
    run = json.loads(text[text.index('{'):])
    seen = results(run)
    problems = []
    if name == 'stopped':
        check_stopped(run, seen, fleet, problems)
    else:
        check_rollout(name, run, seen, fleet, bmcsim, problems)
    if problems:
        print('\n'.join(problems), file=sys.stderr)
        sys.exit(1)
    print('fleet %s run: as expected' % name)


if __name__ == '__main__':
    main()

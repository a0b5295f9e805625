#!/usr/bin/env python3
"""The records and timestamps of a simulated BMC's repository from `bmcsim show` on standard input.

Reads answer with reservations, so the reservation counter is left out: it changes without a write.
"""
import json
import sys

repository = json.load(sys.stdin)['repository']
print(json.dumps({key: value for key, value in repository.items() if key != 'reservation'}, sort_keys=True))

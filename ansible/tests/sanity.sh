#!/usr/bin/env bash
# ansible-test sanity on the installed collection, one test at a time, without the Python package index.
# ansible-test fills a virtual environment per test with pip; offline it cannot, so each one it asks for
# is made here from Debian's packages instead (system site packages: pylint, voluptuous, yamllint,
# pycodestyle...) and marked as filled, and the test runs again. A test whose environment still lacks
# something fails. Usage: sanity.sh COLLECTION_DIR
set -euo pipefail
cd "$1"
python=/usr/bin/python3
# Tests for content the collection does not have (PowerShell, shell scripts, changelog fragments, action
# plugins) pass with nothing to check.
ran=() skipped=()
for test in $(ansible-test sanity --list-tests 2>/dev/null); do
  for attempt in 1 2 3; do
    if out=$(ansible-test sanity --python-interpreter "$python" --test "$test" 2>&1); then
      if grep -q "^WARNING: Skipping sanity test \"$test\"" <<<"$out"; then skipped+=("$test"); else ran+=("$test"); fi
      break
    fi
    venv=$(sed -n 's:^FATAL\: Python [0-9.]* at "\(.*\)/bin/python" does not have pip available.*:\1:p' <<<"$out")
    if [ -z "$venv" ] || [ "$attempt" = 3 ]; then
      printf '%s\n' "$out" >&2
      echo "sanity test $test failed" >&2
      exit 1
    fi
    rm -rf "$venv"
    "$python" -m venv --system-site-packages --without-pip "$venv"
    echo '[]' >"$venv/meta.install.json"
    # Whether PyYAML has libyaml (yamllint is skipped without it), as ansible-test itself records it.
    "$venv/bin/python" -c 'import yaml; print("true" if yaml.__with_libyaml__ else "false")' >"$venv/meta.yaml.json" \
      || echo null >"$venv/meta.yaml.json"
    touch "$venv/marker.txt"
  done
done
[ ${#ran[@]} -gt 0 ] || { echo "sanity: no test ran" >&2; exit 1; }
echo "sanity passed: ${ran[*]}"
[ ${#skipped[@]} -eq 0 ] || echo "sanity skipped by ansible-test: ${skipped[*]}"

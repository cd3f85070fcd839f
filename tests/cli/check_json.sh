#!/bin/sh
# Every form of --json output against the schema in docs/: scans with every
# site found and with absent ones, and one that cannot read the file, and
# applies that write, only plan, and are refused. The file's name needs
# escaping in JSON, and holds a byte that is no UTF-8 (E9), which must come
# out as \u00e9, or the output is no JSON.
# check_json.sh CLI MAKE_SAMPLE SCHEMA PYTHON
set -eu
cli=$1 make_sample=$2 schema=$3 python=$4
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
f="$dir/ZAN\"D\\OR$(printf '\351').EXE"

valid() {
  "$python" -c 'import json, sys, jsonschema
jsonschema.validate(json.loads(sys.stdin.buffer.read()), json.load(open(sys.argv[1])))' "$schema"
}

run() {
  want=$1
  shift
  status=0
  "$cli" "$@" >"$dir/out" 2>/dev/null || status=$?
  [ "$status" -eq "$want" ] || { echo "exit $status, not $want: $*"; exit 1; }
  valid <"$dir/out" || { echo "not valid: $*"; cat "$dir/out"; exit 1; }
}

"$make_sample" "$f" --size 262144 >/dev/null
run 0 scan --json "$f"
grep -q 'OR\\u00e9.EXE"' "$dir/out" || { echo "the name's E9 byte is not \\u00e9"; exit 1; }
run 0 apply "$f" --json --dry-run --start-year 2010 --promoted 3
run 0 apply "$f" --json --backup --start-year=2010 --wc06 --click-delay 4 --exit-fix on --relegated 5
run 1 apply "$f" --json --start-year 1999
"$make_sample" "$f" --size 262144 --site start_year=absent --site click_delay=unrecognised \
  --site conf_counts=patched:4,3 --site conf_promoted=patched:5 >/dev/null
run 0 scan --json "$f"
run 2 apply "$f" --json --start-year 2010
run 3 scan --json "$dir/missing"
# The schema does refuse: a scan without its keys.
if echo '{"path": "x"}' | valid 2>/dev/null; then echo "the schema takes anything"; exit 1; fi
echo "json: 8 passed, 0 failed"

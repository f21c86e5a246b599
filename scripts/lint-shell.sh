#!/usr/bin/env bash
# Rejects, in the project's shell scripts that run with pipefail, a pipe into a reader that may stop
# before its writer has finished: `| grep -q`, `| grep -m N`, `| grep -l` and `| head`. The reader
# exits early, the writer dies of SIGPIPE (exit 141), and pipefail fails the script at random even
# though the match was found. Capture the producer's output first (out=$(producer), then
# grep -q X <<<"$out") or use a reader that consumes all of its input.
# Usage: scripts/lint-shell.sh [FILE...]   (default: every tracked shell script)
# Exits 1 and lists each offending line when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -eq 0 ]; then
  mapfile -t files < <(git ls-files '*.sh' '.ci/*' 'run.sh' 'test.sh')
else
  files=("$@")
fi

# A pipe (not ||) followed by a reader that can quit early. Options may be bundled (-qx, -qE) or
# long (--quiet, --max-count, --files-with-matches).
early_reader='(^|[^|])\|[[:space:]]*(grep([[:space:]]+-[^[:space:]]*)*[[:space:]]+(-[a-zA-Z]*[qml][a-zA-Z0-9]*|--quiet|--silent|--max-count|--files-with-matches)([[:space:]=]|$)|head([[:space:]]|$))'

status=0
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  content=$(<"$file")
  grep -q 'pipefail' <<<"$content" || continue
  hits=$(grep -n -E "$early_reader" <<<"$content" | grep -v -E '^[0-9]+:[[:space:]]*#' || true)
  if [ -n "$hits" ]; then
    status=1
    while IFS= read -r hit; do
      echo "$file:$hit" >&2
    done <<<"$hits"
  fi
done
if [ "$status" -ne 0 ]; then
  echo "a reader that stops early after a producer fails at random under pipefail (SIGPIPE, exit" \
    "141): capture the output first, then search it" >&2
fi
exit "$status"

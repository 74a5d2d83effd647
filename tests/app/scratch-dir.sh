# Sourced by the renderer's shell tests: a scratch directory in $work, removed at exit unless a check
# failed, and fail, which reports, keeps the directory for a look and exits.
# Usage: source scratch-dir.sh NAME
work=$(mktemp -d "${TMPDIR:-/tmp}/lumenbox-$1.XXXXXX")
failed=0
trap '[ "$failed" -eq 0 ] && rm -rf "$work"' EXIT

fail() {
    failed=1
    echo "FAIL: $*" >&2
    echo "Outputs kept in $work" >&2
    exit 1
}

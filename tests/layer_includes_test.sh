#!/usr/bin/env bash
# The library folders form one chain, lowest first; each includes project headers only from itself and
# the folders before it. Prints every quoted include that breaks this and fails if there is one.
# Usage: layer_includes_test.sh path/to/project
set -u

cd "${1:?usage: $0 path/to/project}" || exit 1
layers=(math geometry shading scene animation render app)
status=0
for ((i = 0; i < ${#layers[@]}; i++)); do
    [ -d "${layers[i]}" ] || { echo "FAIL: no folder ${layers[i]}"; exit 1; }
    allowed=$(IFS='|'; echo "${layers[*]:0:i+1}")
    if grep -rnE --include='*.h' --include='*.cpp' '^\s*#\s*include\s*"' "${layers[i]}" |
        grep -vE ":\s*#\s*include\s*\"($allowed)/"; then
        status=1
    fi
done
[ "$status" -eq 0 ] || echo "FAIL: the includes above reach up the chain ${layers[*]}"
exit "$status"

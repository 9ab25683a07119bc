#!/usr/bin/env bash
# Checks that the C++ sources keep the project's .clang-format, and names every file that drifts.
# The files are the ones git tracks in SOURCE_DIR; outside a git checkout (an unpacked source archive), every
# .cpp and .h beneath it but the build folders. Usage: check_format.sh [SOURCE_DIR]
set -euo pipefail
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

source_dir=$(cd "${1:-$(dirname "$0")/../..}" && pwd -P)
style="$source_dir/.clang-format"
command -v clang-format >/dev/null || fail "clang-format is not installed (Debian package clang-format)"
[ -f "$style" ] || fail "no .clang-format in $source_dir"
cd "$source_dir"

files=()
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$source_dir" ]; then
  while IFS= read -r -d '' file; do
    # A file deleted in the work tree but not yet in the index is not there to check.
    if [ -f "$file" ]; then files+=("$file"); fi
  done < <(git ls-files -z -- '*.cpp' '*.h')
else
  while IFS= read -r -d '' file; do
    files+=("${file#./}")
  done < <(find . \( -name 'build*' -o -name '.?*' \) -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0 |
    sort -z)
fi
[ ${#files[@]} -gt 0 ] || fail "no C++ sources found in $source_dir"

status=0
output=$(clang-format --dry-run --Werror --style="file:$style" "${files[@]}" 2>&1) || status=$?
# Each violation reads "FILE:LINE:COLUMN: error: code should be clang-formatted [...]".
mapfile -t drifted < <(grep -E '^.+:[0-9]+:[0-9]+: error: ' <<<"$output" | sed -E 's/:[0-9]+:[0-9]+: error: .*//' |
  sort -u)
if [ ${#drifted[@]} -gt 0 ]; then
  echo "FAIL: ${#drifted[@]} of ${#files[@]} files differ from .clang-format (clang-format -i FILE mends one):"
  printf '  %s\n' "${drifted[@]}"
  exit 1
fi
[ "$status" -eq 0 ] || fail "clang-format failed: $output"
echo "all ${#files[@]} C++ sources keep .clang-format"

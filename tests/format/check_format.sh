#!/usr/bin/env bash
# Every C++ file under version control follows .clang-format.
# Fix a failure with: git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -u
cd "$1"
if ! command -v clang-format >/dev/null; then
  echo "clang-format is not installed"; exit 1
fi
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
bad=$(echo "$files" | xargs clang-format --dry-run 2>&1 | grep -oE '^[^:]+:[0-9]+:[0-9]+: (warning|error)' | cut -d: -f1 | sort -u)
if [ -n "$bad" ]; then
  echo "Files not formatted by .clang-format:"; echo "$bad"; exit 1
fi
echo "format holds"

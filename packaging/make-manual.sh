#!/usr/bin/env bash
# Writes the manual of tarnic-cli from the program's own help, so that the two
# never disagree: --help and --version through help2man, and each command's
# --help in a section of its own.
#   make-manual.sh TARNIC_CLI OUTPUT
set -euo pipefail
cli=$1
out=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT

commands=$("$cli" --help | awk '/^Commands:/ { listed = 1; next } /^$/ { listed = 0 }
                                 listed && /^  [a-z]/ { print $1 }')
{
  echo '[COMMANDS IN DETAIL]'
  for command in $commands; do
    echo ".SS $command"
    echo '.nf'
    "$cli" "$command" --help | sed -e 's/\\/\\e/g' -e 's/^\([.'"'"']\)/\\\&\1/'
    echo '.fi'
  done
  echo '[SEE ALSO]'
  echo '.BR tarnic (1)'
} > "$include"

help2man --no-info --no-discard-stderr --section=1 \
  --name='apply, check and make APS patches for Nintendo 64 ROM images' \
  --include="$include" --output="$out" "$cli"

#!/usr/bin/env bash
# Checks Tarnic as it is installed, with the desktop's own validators:
#   check-install.sh desktop BUILD APP_ID VERSION "ICON SIZES"   the desktop entry and the metainfo
#   check-install.sh install ...   cmake --install, with a prefix and with DESTDIR
#   check-install.sh package ...   the Debian package's contents, and lintian
#   check-install.sh mime ...      the MIME types of an install tree, as the desktop sees them
set -euo pipefail
mode=$1
build=$2
app_id=$3
version=$4
read -ra icon_sizes <<<"${5//;/ }"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }

# The files an installed copy must have, relative to its prefix.
expected_files() {
  echo bin/tarnic
  echo bin/tarnic-cli
  echo "share/applications/$app_id.desktop"
  echo "share/mime/packages/$app_id.xml"
  for size in "${icon_sizes[@]}"; do echo "share/icons/hicolor/${size}x$size/apps/$app_id.png"; done
  echo "share/metainfo/$app_id.metainfo.xml"
  echo "share/man/man1/tarnic-cli.1$1"
  echo "share/man/man1/tarnic.1$1"
  echo share/doc/tarnic/copyright
}

case $mode in
desktop)
  said=$(desktop-file-validate "$build/packaging/$app_id.desktop" 2>&1) || fail "$said"
  [ -z "$said" ] || fail "desktop-file-validate: $said"
  said=$(appstreamcli validate --no-net "$build/packaging/$app_id.metainfo.xml" 2>&1) ||
    fail "$said"
  if grep -E '^(E|W|I):' <<<"$said"; then fail "appstreamcli reports the lines above"; fi
  echo "desktop entry and metainfo valid"
  ;;
install)
  cmake --install "$build" --prefix "$scratch/prefix" > /dev/null
  DESTDIR="$scratch/dest" cmake --install "$build" --prefix /usr > /dev/null
  for root in "$scratch/prefix" "$scratch/dest/usr"; do
    while read -r file; do
      [ -f "$root/$file" ] || fail "not installed: $file (under $root)"
    done < <(expected_files "")
  done
  said=$("$scratch/prefix/bin/tarnic-cli" --version)
  [ "$said" = "tarnic-cli $version" ] || fail "installed tarnic-cli --version says: $said"
  # The manual holds every command the program's help lists, and the exit codes.
  manual="$scratch/prefix/share/man/man1/tarnic-cli.1"
  for command in $("$scratch/prefix/bin/tarnic-cli" --help |
                   awk '/^Commands:/ { f = 1; next } /^$/ { f = 0 } f { print $1 }'); do
    grep -q "^\.SS $command\$" "$manual" || fail "the manual lacks the command $command"
  done
  grep -q 'Exit status' "$manual" || fail "the manual lacks the exit status"
  echo "installed: $(expected_files "" | wc -l) files; tarnic-cli runs from the install tree"
  ;;
package)
  cpack --config "$build/CPackConfig.cmake" -B "$scratch" > /dev/null
  deb=$(ls "$scratch"/tarnic_*_*.deb)
  [[ $(basename "$deb") == tarnic_"${version}"_*.deb ]] || fail "package named $(basename "$deb")"
  contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
  while read -r file; do
    grep -qx "./usr/$file" <<<"$contents" || fail "not in the package: /usr/$file"
  done < <(expected_files .gz)
  dpkg-deb --field "$deb" Depends | grep -q libqt6core6 || fail "no worked-out dependencies"
  lintian --fail-on error "$deb" 2> /dev/null || fail "lintian reports errors"
  echo "$(basename "$deb"): contents complete, lintian reports no errors"
  ;;
mime)
  # The install tree's MIME database, then the type the desktop's own tools
  # (GIO, from the shared MIME-info database) give a file of each format:
  # under its usual name, and by its content alone under a name no type claims.
  prefix="$scratch/prefix"
  cmake --install "$build" --prefix "$prefix" > /dev/null
  update-mime-database "$prefix/share/mime" 2> /dev/null
  types=$(sed -n 's/^MimeType=//p' "$prefix/share/applications/$app_id.desktop")
  check() { # FILE BYTES TYPE
    printf '%b' "$2" > "$scratch/$1"
    cp "$scratch/$1" "$scratch/${1%.*}.tarnic-unknown"
    for name in "$1" "${1%.*}.tarnic-unknown"; do
      said=$(XDG_DATA_HOME="$scratch/none" XDG_DATA_DIRS="$prefix/share:/usr/share" \
             gio info -a standard::content-type "$scratch/$name" | sed -n 's/^ *standard::content-type: //p')
      [ "$said" = "$3" ] || fail "$name is $said, not $3"
    done
    [[ ";$types" == *";$3;"* ]] || fail "the desktop entry does not list $3"
  }
  check hack.aps 'APS10\x01\x00' application/x-aps-patch
  check hack.bps 'BPS1\x80\x80' application/x-bps-patch
  check hack.ups 'UPS1\x80\x80' application/x-ups-patch
  check hack.ips 'PATCH\x00\x00\x10\x00\x01XEOF' application/x-ips-patch
  check hack.ips32 'IPS32\x00\x00\x00\x10\x00\x01XEEOF' application/x-ips32-patch
  check hack.ppf 'PPF30\x02 description' application/x-ppf-patch
  check hack.xdelta '\xd6\xc3\xc4\x00\x00\x05' application/x-xdelta-patch
  check game.z64 '\x80\x37\x12\x40\x00\x00\x00\x0f' application/x-n64-rom
  echo "MIME types: every format named by its name and by its content"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac

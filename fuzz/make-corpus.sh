#!/usr/bin/env bash
# Writes a small seed corpus for each fuzz target into the folder given.
set -euo pipefail
out=$1
mkdir -p "$out"/PatchInspection "$out"/PatchApplication "$out"/PatchCreation "$out"/ImageHeader \
  "$out"/Settings "$out"/Bps "$out"/Ips "$out"/Ups "$out"/Ppf "$out"/Xdelta

# An APS header of the 78-byte layout: type, encoding, description, target
# format, cartridge ID, country, two CRCs, reserved bytes and image size.
header() { # type encoding target
  printf 'APS10'; printf "\\x$1\\x$2"; printf '%-50s' 'Seed patch'
  printf "\\x$3"; printf 'ABE'; printf '\x0a\xb1\x00\x7f\xff\x10\x02\x33'
  printf '\0\0\0\0\0\0\0\x40\0'
}
copy_record() { printf "$1"; printf "\\x$(printf %02x ${#2})"; printf '%s' "$2"; }
run_record() { printf "$1"; printf '\0'; printf "$2$3"; }

for target in PatchInspection PatchApplication; do
  header 01 00 01 > "$out/$target/plain"
  { header 01 00 01; copy_record '\x10\0\0\0' 'HELLO'; run_record '\x00\x10\0\0' 'Z' '\x20'; } \
    > "$out/$target/records"
  { header 00 00 00; copy_record '\x00\x20\0\0' 'past the end'; } > "$out/$target/growing"
  { header 01 01 01; } > "$out/$target/encoded"
  printf 'APS10\x01' > "$out/$target/cut"
  # A simple patch: a 61-byte header with no N64 block.
  { printf 'APS10\0\0'; printf '%-50s' 'Simple'; printf '\0\x10\0\0';
    copy_record '\x20\0\0\0' 'SIMPLE'; } > "$out/$target/simple"
done
# Patch creation: an image, then edits of three bytes (position, value).
{ for i in $(seq 0 299); do printf "\\x$(printf %02x $((i * 37 % 256)))"; done; printf '\x00\x10A\x00\x11A\x00\x12A\x01\x00Z\x05\x00\x00'; } \
  > "$out/PatchCreation/edits"
head -c 2000 /dev/zero > "$out/PatchCreation/zeros"

{ printf '\x80\x37\x12\x40'; head -c 60 /dev/zero; } > "$out/ImageHeader/cartridge"
{ printf '\x37\x80\x40\x12'; head -c 60 /dev/zero; } > "$out/ImageHeader/swapped"
printf '\x40\x12\x37\x80' > "$out/ImageHeader/little"
printf '"/home/user/aps"\r\n"/home/user/roms"\r\n0\r\n1\r\n' > "$out/Settings/written"
printf '/a,/b\n2\n' > "$out/Settings/hand-edited"
printf '\xef\xbb\xbf"C:\\"\r\n' > "$out/Settings/marked"

# BPS: two bytes of target size, then actions (each a varint: length - 1 << 2 | command).
printf '\x00\x04\xfc\x0f' > "$out/Bps/source-read"                      # 1024 bytes read in place
printf '\x10\x00\x85HI\x8f\x81' > "$out/Bps/target-copy"                 # "HI", then a copy of it
printf '\x20\x00\x7e\x8a\x84\x7c\x81' > "$out/Bps/source-copy"        # source copies forwards and back

# IPS: one byte choosing IPS (even) or IPS32 (odd), then the patch after its magic.
printf '\x00EOF' > "$out/Ips/empty"
printf '\x00\x00\x00\x02\x00\x03xyz\x00\x00\x08\x00\x00\x00\x04-EOF' > "$out/Ips/record-and-run"
printf '\x00\x00\x00\x00\x00\x01ZEOF\x00\x00\x05' > "$out/Ips/truncated"
printf '\x01\x00\x00\x00\x03\x00\x01#EEOF' > "$out/Ips/ips32"

# UPS: two bytes of output size, then hunks (a varint skip, XOR bytes ending in 0).
printf '\x00\x04\x8a\x01\x02\x00' > "$out/Ups/one-hunk"
printf '\x10\x04\x80\x55\x00\x81\x07\x00' > "$out/Ups/two-hunks"

# PPF: a byte choosing the version (1 + n % 3), block check (4) and undo data (8), then records.
printf '\x00\x02\x00\x00\x00\x02ab' > "$out/Ppf/ppf1"
printf '\x01\x04\x00\x00\x00\x01c@BEGIN_FILE_ID.DIZhi@END_FILE_ID.DIZ\x02\x00\x00\x00' > "$out/Ppf/ppf2-diz"
printf '\x0a\x03\x00\x00\x00\x00\x00\x00\x00\x02xyAB' > "$out/Ppf/ppf3-undo"

# xdelta: a selector (bits 0-1: none, DJW, LZMA, FGK; 2-4: compressed sections), the window's
# length (two bytes), the data and instruction sections' lengths, then the sections.
printf '\x00\x0b\x00\x03\x02XYZ\x14\xa9\x00\x00' > "$out/Xdelta/copies"      # copy, add, copy again
printf '\x00\x20\x00\x01\x02Z\x00\x20' > "$out/Xdelta/run"                        # a run of 32
printf '\x00\x10\x00\x02\x03AB\x03\x13\x0e\x01' > "$out/Xdelta/self-copy"       # "AB", then copies of it
printf '\x05\x04\x00\x05\x01\x04\x00\x00\x00\x00\x05' > "$out/Xdelta/djw"      # a DJW data section
printf '\x06\x04\x00\x05\x01\x04\xfd7zX\x05' > "$out/Xdelta/lzma"                # an LZMA one
printf '\x07\x04\x00\x05\x01\x04\x00\x00\x00\x00\x05' > "$out/Xdelta/fgk"      # an FGK one

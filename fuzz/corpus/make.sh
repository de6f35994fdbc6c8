#!/usr/bin/env bash
# Writes the seed corpus of both fuzz targets into fuzz/corpus/{image,replies}.
# The seeds are kept in the repository; run this again only to change them.
# Usage: fuzz/corpus/make.sh QM_MAKE_IMAGE   (the qm-make-image tool of any build)
set -euo pipefail

makeImage=${1:?usage: make.sh path/to/qm-make-image}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$here/image" "$here/replies"
mkdir -p "$here/image" "$here/replies"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# ---- fuzz_image: byte 0 picks the length (0: the rest as it is; N: the rest cut
# or padded with zeros to 1,966,080 - 128 + N bytes), then the file's first bytes.
image() {  # name lengthByte bodyBytes [qm-make-image options]
  local name=$1 lengthByte=$2 body=$3
  shift 3
  "$makeImage" -o "$scratch/body" --length "$body" "$@" >/dev/null
  { printf '%b' "\\x$lengthByte"; cat "$scratch/body"; } >"$here/image/$name"
}
image whole 80 1023                                   # 1,966,080 bytes: updates
image one-byte-over 81 1023                           # only the transfer is sent
image one-byte-short 7f 1023                          # refused: not the whole transfer
image header-only 00 312                              # the version check reads it; refused
image header-cut 00 311                               # no whole header: unreadable
image older 80 1023 --version 0.90                    # no update needed; still valid
image other-signature 80 1023 --wrong-signature       # not this drive's
image other-id 80 1023 --wrong-id                     # not this drive's
image other-date 80 1023 --date 09/08/22              # not the build date

# ---- fuzz_replies: FuzzedDataProvider takes the input's decisions from its end,
# last byte first, and reply bytes and sense data from its start. First the image
# change (kind: 0 none, 1 write over, 2 replace, 3 delete, 4 cut short; the
# update command after which; a 4-byte file offset, most significant byte first),
# then one decision per command (0 as answered, 1 patched, 2 a reply of its own,
# 3 never completes, 4 refused by the system, 5 the drive vanishes) with its
# details. Once the decisions run out, every command is answered.
#
# An unattended run with the default drive issues 74 commands: discovery's
# identification block and INQUIRY probes of D (1, 2), the version check's INQUIRY
# (3), the disc check (4..6), and the update (7..74): validation's block read (7),
# TEST UNIT READY twice, the eject, the state read (11), the first switch (12), the
# 60 blocks (13..72), the last switch (73) and the last state read (74).
replies() {  # name frontHex "decision..."   (decisions as hex bytes, in the order taken)
  local name=$1 front=$2 head="" out="" i
  local tail=()
  read -ra tail <<<"${3:-}"
  for ((i = 0; i < ${#front}; i += 2)); do head+="\\x${front:i:2}"; done
  for ((i = ${#tail[@]} - 1; i >= 0; --i)); do out+="\\x${tail[i]}"; done
  printf '%b%b' "$head" "$out" >"$here/replies/$name"
}
answered() {  # N decisions "as answered"
  local i
  for ((i = 0; i < $1; ++i)); do printf '00 '; done
}
noChange="00 00 00 00 00 00"

replies answered ""                                        # the whole update succeeds
head -c 256 /dev/zero >"$here/replies/answered-zeros"      # the same, with bytes to mutate
# The last state read says blank: the update failed.
replies last-state-blank "" "$noChange $(answered 73) 01 00 20 20 00"
# The state read before the download says blank: no first switch, then success.
replies first-state-blank "" "$noChange $(answered 10) 01 00 20 20 00"
# Validation's block ends before its state byte.
replies id-block-short "" "$noChange $(answered 6) 01 00 00 00 01 20 00"
# The version check's INQUIRY ends before the revision: no update.
replies inquiry-short "" "$noChange $(answered 2) 01 00 00 05 01 22 00"
# Discovery's first probe never completes: its bounded wait ends first.
# Cut short, and reported as whole (an adapter that reports no residue).
replies inquiry-cut-unreported "" "$noChange $(answered 2) 01 00 00 05 01 22 01"
replies last-state-cut-unreported "" "$noChange $(answered 73) 01 00 00 00 01 14 01"
replies probe-never-completes "" "$noChange 03"
# The disc check's first command never completes: its bounded wait ends first.
replies disc-check-never-completes "" "$noChange $(answered 3) 03"
# The eject is refused with 05/24/00 (not for want of a medium): the update stops
# before the download.
replies eject-refused 700005000000000a00000000240000000000 "$noChange $(answered 9) 02 02 12"
# Block 10 taken only in part (1,000 bytes) with GOOD: the update stops there.
replies block-taken-in-part "" "$noChange $(answered 22) 02 00 01 03 e8 00"
# The system refuses the last switch.
replies last-switch-refused "" "$noChange $(answered 72) 04"
# The drive vanishes in the middle of the download.
replies vanishes "" "$noChange $(answered 40) 05"
# The image written over in place after block 30, at a byte of block 45.
replies written-over "" "01 24 00 16 80 64"
# The image written over right after validation's block read: the bytes validated
# are the changed ones, and they are sent.
replies written-over-before-validation "" "01 00 00 00 01 00"
# The image written over after validation read it, before the download (after
# the first TEST UNIT READY), and cut short after the eject: found when the image is
# read again before the download, so nothing of it is sent.
replies written-over-before-download "" "01 01 00 10 00 00"
replies cut-short-before-download "" "04 03 00 08 00 00"
# Another file (an older version) renamed over the image before validation.
replies replaced-before-validation "" "02 00 00 00 00 00"
# The image deleted before validation; deleted after it (the held file is sent).
replies deleted-before-validation "" "03 00 00 00 00 00"
replies deleted-during-download "" "03 0a 00 00 00 00"
# The image cut short at block 20 right after block 20 was sent.
replies cut-short "" "04 1a 00 0a 00 00"
ls "$here/image" "$here/replies"

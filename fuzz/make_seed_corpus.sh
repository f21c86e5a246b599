#!/usr/bin/env bash
# Writes the fuzzer's seed files into fuzz/corpus/: HEX files as GNU objcopy and srec_cat write them
# (Debian packages binutils and srecord), from one 100-byte image placed where the loader's paths
# differ, and the image itself for the raw loader. Inputs that once broke a loader are kept beside
# them by hand (named crash_*); this script leaves those alone.
set -euo pipefail
cd "$(dirname "$0")/corpus"
command -v objcopy >/dev/null && command -v srec_cat >/dev/null || {
  echo "needs objcopy (binutils) and srec_cat (srecord)" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 100 bytes that are neither blank nor a simple run.
image="$work/image.bin"
for i in $(seq 0 99); do
  printf "\\x$(printf %02x $(((i * 37 + 11) & 255)))"
done >"$image"
cp "$image" raw_image_100_bytes.bin

# objcopy: 16 bytes a record, CRLF; segment (02) records from 64 KiB up, a 03 start record.
objcopy -I binary -O ihex "$image" objcopy_data_below_64k.hex
objcopy -I binary -O ihex --change-addresses 0xFFD0 "$image" objcopy_segment_record_across_64k.hex
objcopy -I binary -O ihex --change-addresses 0x3FF9C "$image" objcopy_segment_record_to_top_of_image.hex

# srec_cat: 32 bytes a record, LF; a linear (04) record first even below 64 KiB, 05 start records.
srec_cat "$image" -binary -o srec_cat_linear_record_first.hex -intel
srec_cat "$image" -binary -offset 0x30000 -execution-start-address=0x30010 \
  -o srec_cat_linear_offset_with_start_address.hex -intel
srec_cat "$image" -binary -offset 0x3FF9C -o srec_cat_linear_16_byte_records_to_top_of_image.hex \
  -intel -output-block-size=16
srec_cat "$image" -binary -offset 0x1FFE0 -execution-start-address=0x1FFE0 \
  -o srec_cat_segment_records_with_start_address.hex -intel -address-length=3
# Past the 256 KiB image: the loader must refuse it and keep the earlier image.
srec_cat "$image" -binary -offset 0x3FFF0 -o srec_cat_data_beyond_256k.hex -intel

#!/bin/sh
# Seeds for tb_fuzz: the shipped tables of its materials, each behind its selector byte.
set -e
out=${1:?corpus directory}
dir=$(dirname "$0")/../../../shared/testdata/syzygy
mkdir -p "$out"
i=0
for m in KQvK KRvKP KPvKP KBNvK KRvKR KNNvK; do
  printf "\\$(printf %o $((i * 2)))" | cat - "$dir/$m.rtbw" > "$out/$m.rtbw"
  printf "\\$(printf %o $((i * 2 + 1)))" | cat - "$dir/$m.rtbz" > "$out/$m.rtbz"
  i=$((i + 1))
done

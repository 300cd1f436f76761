#!/bin/sh
# Runs inside a VM whose controller has no namespace at NSID 1 (none at all,
# or only some others): quellix reads it, and nvme-cli describes the first
# active namespace for the comparison. Results go to /out.
cd /payload
./quellix read -n 0 -d /out/read0 > /out/read0.txt 2>&1
echo $? > /out/read0.rc
nvme list-ns /dev/nvme0 -o json > /out/list-ns.json 2>/out/nvme-cli.err
first=$(nvme list-ns /dev/nvme0 2>/dev/null | head -n 1 | sed -e 's/.*://')
if [ -n "$first" ]; then
  nsid=$(printf '%d' "$first")
  echo "$nsid" > /out/first-nsid.txt
  nvme id-ns /dev/nvme0 -n "$nsid" -o json > /out/id-ns.json 2>>/out/nvme-cli.err
  nvme get-feature /dev/nvme0 -f 5 -n "$nsid" > /out/feature-05.txt 2>&1
fi

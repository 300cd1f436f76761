#!/bin/sh
# Runs inside the VM as root, in /payload; results go to /out.
cd /payload
step() {  # name, command...
  name=$1; shift
  "$@" > "/out/$name.txt" 2>&1
  echo $? > "/out/$name.rc"
}
step auto ./quellix read -d /out/auto
step read0 ./quellix read -n 0 -d /out/read0
step devname ./quellix read -n /dev/nvme0 -d /out/devname
step list ./quellix --list
step limit ./quellix limit -n 0 -d /out/limit --metrics /out/nvme0.prom
nvme id-ctrl /dev/nvme0 -o json > /out/id-ctrl.json 2>/out/nvme-cli.err
nvme id-ns /dev/nvme0 -n 1 -o json > /out/id-ns.json 2>>/out/nvme-cli.err
nvme smart-log /dev/nvme0 -o json > /out/smart-log.json 2>>/out/nvme-cli.err
nvme fw-log /dev/nvme0 -o json > /out/fw-log.json 2>>/out/nvme-cli.err
nvme error-log /dev/nvme0 -e 1 -o json > /out/error-log.json 2>>/out/nvme-cli.err
ls /sys/class/nvme > /out/controllers.txt
step selftest ./quellix selftest -n 0 -d /out/selftest
step multi ./quellix multi -n 0 -d /out/multi
# I/O between two runs makes the data and command counters grow.
dd if=/dev/urandom of=/dev/nvme0n1 bs=1048576 count=16 oflag=direct 2>/out/dd.err || dd if=/dev/urandom of=/dev/nvme0n1 bs=1048576 count=16 conv=fsync 2>>/out/dd.err
dd if=/dev/nvme0n1 of=/dev/null bs=1048576 count=48 skip=16 iflag=direct 2>>/out/dd.err || dd if=/dev/nvme0n1 of=/dev/null bs=1048576 count=48 skip=16 2>>/out/dd.err
step after ./quellix read -n 0 -d /out/after -c /out/read0/nvme.info.json

#!/bin/sh
# The host program refuses a machine it cannot use: exit status 2, a message
# that says why, and nothing changed.
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

expect_refusal() {
  what=$1
  shift
  echo y | env "$@" "$program" 'C:\UNINST.EXE' >"$work/out" 2>"$work/err"
  status=$?
  if [ "$status" -ne 2 ] || ! grep -q "preuninst: " "$work/err"; then
    echo "FAIL: $what: status $status, message: $(cat "$work/err")"
    failed=1
  fi
  if grep -q "Deinstallationsprogramm" "$work/err"; then
    echo "FAIL: $what: a box was shown"
    failed=1
  fi
}

expect_refusal "no machine named" PREUNINST_MACHINE=
expect_refusal "machine missing" PREUNINST_MACHINE="$work/missing"

mkdir -p "$work/broken/drive_c"
printf 'REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"v"=dword:zz\r\n' >"$work/broken/registry.reg"
cp "$work/broken/registry.reg" "$work/registry.before"
expect_refusal "unreadable registry" PREUNINST_MACHINE="$work/broken"
cmp -s "$work/broken/registry.reg" "$work/registry.before" || { echo "FAIL: registry.reg changed"; failed=1; }

printf '[machine]\nplatform=nt4\n' >"$work/broken/machine.ini"
printf 'REGEDIT4\r\n' >"$work/broken/registry.reg"
expect_refusal "unusable machine.ini" PREUNINST_MACHINE="$work/broken"

exit $failed

#!/bin/sh
# Checks a built dtvusb.sys: a PE image of the right machine class for the
# native subsystem, entered at DriverEntry, importing only the kernel
# modules a stream-class minidriver for USB may use.
#   check_image.sh TRIPLE IMAGE
set -eu
triple=$1
image=$2
fail() { echo "check_image: $image: $*" >&2; exit 1; }

headers=$("$triple-objdump" -p "$image") || fail "not a PE image"

case $triple in
  i686-*) magic=010b; required="stream.sys ntoskrnl.exe hal.dll usbd.sys" ;;
  x86_64-*) magic=020b; required="stream.sys ntoskrnl.exe usbd.sys" ;;
  *) fail "unknown target $triple" ;;
esac

echo "$headers" | grep -Eq "^Magic[[:space:]]+$magic" || fail "not a PE image of magic $magic"
echo "$headers" | grep -Eq "^Subsystem[[:space:]]+00000001" || fail "subsystem is not native"
echo "$headers" | grep -Eq "^DllCharacteristics" || fail "no optional header"

dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || fail "no imports"
for dll in $dlls; do
  case " stream.sys ntoskrnl.exe hal.dll usbd.sys " in
    *" $dll "*) ;;
    *) fail "imports $dll, which a kernel driver cannot load" ;;
  esac
done
for dll in $required; do
  echo "$dlls" | grep -qx "$dll" || fail "does not import $dll"
done

# The entry point is DriverEntry.
base=$(echo "$headers" | awk '/^ImageBase/ {print $2}')
entry=$(echo "$headers" | awk '/^AddressOfEntryPoint/ {print $2}')
symbol=$("$triple-nm" "$image" | awk '$3 == "DriverEntry" || $3 == "_DriverEntry@8" {print $1}')
[ -n "$symbol" ] || fail "no DriverEntry symbol"
[ $((0x$base + 0x$entry)) -eq $((0x$symbol)) ] || fail "entry point is not DriverEntry"

echo "check_image: $image: PE magic $magic, native subsystem, entry DriverEntry, imports: $(echo $dlls)"

#!/usr/bin/env bash
# The release packages under Wine, every row a real msiexec or program run in a Wine prefix of their own:
# install, upgrade, removal (with a working and with a failing revert), the signatures, the winget
# manifest against the MSI, and the portable zip against the installed program.
#
#   tests/package/package_test.sh [WORK]     (WORK: build/package-test)
#
# Two versions are packaged with scripts/package.sh, signed with a throwaway self-signed certificate,
# with the program's probe on a loopback fixture (TARNELL_PACKAGE_TEST_PORT, 18472 unless given) so
# that nothing leaves the machine. A removal whose revert has no adapter runs the prefix's Wine in a
# network namespace of its own, where the only interface is a loopback one that is down.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
work=$(realpath -m "${1:-build/package-test}")
port=${TARNELL_PACKAGE_TEST_PORT:-18472}
mkdir -p "$work"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then echo "  ok   $1"; else fail "$1: expected '$2', got '$3'"; fi
}

# --- the packages ---------------------------------------------------------------------------------
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 1 \
  -subj "/CN=Tarnell throwaway test signer" 2>/dev/null || { echo "openssl failed"; exit 1; }
loopback="http://127.0.0.1:$port"
for v in 1.0.0.0:v1 1.0.1.0:v2; do
  version=${v%:*} name=${v#*:}
  echo "== package $version"
  TARNELL_SKIP_BOOTSTRAP=1 TARNELL_SIGN_CERT="$work/cert.pem" TARNELL_SIGN_KEY="$work/key.pem" \
    scripts/package.sh --keep-build --build "$work/build" --dist "$work/dist-$name" -- \
    -DTARNELL_VERSION="$version" -DTARNELL_PROBE_URL="$loopback/generate_204" \
    -DTARNELL_SERVICE_URL="$loopback/api.init.php" -DTARNELL_HOME_URL="$loopback/tarnell" \
    -DTARNELL_COMMAND_WAIT_MS=4000 >"$work/package-$name.log" 2>&1 || {
    cat "$work/package-$name.log"; echo "package.sh failed"; exit 1; }
done
msi1=$work/dist-v1/Tarnell-1.0.0.0-x64.msi
msi2=$work/dist-v2/Tarnell-1.0.1.0-x64.msi
zip2=$work/dist-v2/Tarnell-1.0.1.0-x64-portable.zip

echo "== signatures and manifests"
rm -rf "$work/unzipped" && mkdir -p "$work/unzipped" && unzip -q "$zip2" -d "$work/unzipped"
check "portable zip holds the program and the README" "README.md tarnell.exe" \
  "$(cd "$work/unzipped" && ls | sort | xargs)"
cmp -s "$work/unzipped/README.md" README.md && echo "  ok   README in the zip is the repository's" ||
  fail "README in the zip differs"
for signed in "$msi1" "$msi2" "$work/unzipped/tarnell.exe"; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" >"$work/verify.log" 2>&1 &&
    echo "  ok   signature verifies: $(basename "$signed")" || { cat "$work/verify.log"; fail "signature of $signed"; }
done
for name in v1 v2; do
  manifest=$work/dist-$name/winget/Vorbeck.Tarnell.installer.yaml
  msi=$(ls "$work/dist-$name"/*.msi)
  version=$(basename "$msi" | sed 's/^Tarnell-\(.*\)-x64\.msi$/\1/')
  field() { sed -n "s/^ *$1: *'\{0,1\}\([^']*\)'\{0,1\}$/\1/p" "$2" | head -n1; }
  check "$name manifest: InstallerSha256 is the MSI's" "$(sha256sum "$msi" | cut -d' ' -f1 | tr a-f A-F)" \
    "$(field InstallerSha256 "$manifest")"
  check "$name manifest: ProductCode is the MSI's" \
    "$(msiinfo export "$msi" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }' | tr -d '\r')" \
    "$(field ProductCode "$manifest")"
  check "$name manifest: PackageVersion" "$version" "$(field PackageVersion "$manifest")"
  check "$name manifest: DisplayVersion is the MSI's ProductVersion" \
    "$(msiinfo export "$msi" Property | awk -F'\t' '$1 == "ProductVersion" { print $2 }' | tr -d '\r')" \
    "$(field DisplayVersion "$manifest")"
  for fixed in "InstallerType: wix" "Scope: machine" "ElevationRequirement: elevationRequired"; do
    grep -qx "$fixed" "$manifest" && echo "  ok   $name manifest: $fixed" || fail "$name manifest lacks '$fixed'"
  done
  for other in Vorbeck.Tarnell.yaml Vorbeck.Tarnell.locale.en-US.yaml; do
    check "$name $other: PackageVersion" "$version" "$(field PackageVersion "$work/dist-$name/winget/$other")"
    ! grep -q '@' "$work/dist-$name/winget/$other" || fail "$name $other has unfilled fields"
  done
done

# --- the Wine prefix ------------------------------------------------------------------------------
# shellcheck source=../../cmake/wine-env.sh
. "$root/cmake/wine-env.sh"
export WINEPREFIX=$work/wineprefix
rm -rf "$WINEPREFIX"
tarnell_start_xvfb "$work" || exit 1
xvfb=$XVFB_PID
python3 tests/app/loopback_server.py start "$port" "$work/loopback" || { echo "loopback port $port busy"; exit 1; }
cleanup() {
  "$WINESERVER" -k 2>/dev/null
  python3 "$root/tests/app/loopback_server.py" stop "$work/loopback"
  kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT
# Bare X windows, no virtual desktop: the program's window is then an X window that xdotool finds.
"$WINE" wineboot.exe -i >/dev/null 2>&1
"$WINESERVER" -w
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
"$WINE" wineboot.exe >/dev/null 2>&1 </dev/null

wine_() { "$WINE" "$@" </dev/null 2>/dev/null; }
msiexec() { wine_ msiexec.exe "$@"; }
installed=$WINEPREFIX/drive_c/Program\ Files/Tarnell/tarnell.exe
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# The Uninstall entries named Tarnell: "key|DisplayVersion|Publisher|NoModify|icon". The icon Add/Remove
# Programs shows is the product's registered ProductIcon (Wine writes no DisplayIcon); "icon" when that
# names a file that exists.
arp_entries() {
  local key out
  for key in $(wine_ reg.exe query "$uninstall_key" /reg:64 | tr -d '\r' | grep -i 'Uninstall\\'); do
    out=$(wine_ reg.exe query "$key" /reg:64 | tr -d '\r')
    grep -q 'DisplayName *REG_SZ *Tarnell$' <<<"$out" || continue
    printf '%s|%s|%s|%s|%s\n' "${key##*\\}" \
      "$(sed -n 's/.*DisplayVersion *REG_SZ *//p' <<<"$out")" \
      "$(sed -n 's/.*Publisher *REG_SZ *//p' <<<"$out")" \
      "$(sed -n 's/.*NoModify *REG_DWORD *//p' <<<"$out")" \
      "$(product_icon)"
  done
}
product_icon() {
  local icon
  icon=$(wine_ reg.exe query 'HKLM\Software\Classes\Installer\Products' /s /reg:64 | tr -d '\r' |
         awk '/^HKEY/ { key = $0; name = ""; icon = "" } /ProductName *REG_SZ *Tarnell$/ { found[key] = 1 }
              /ProductIcon *REG_SZ/ { sub(/.*ProductIcon *REG_SZ *[ ]*/, ""); icons[key] = $0 }
              END { for (k in found) print icons[k] }' | head -n1)
  [ -n "$icon" ] && [ -f "$(wine_ winepath.exe -u "$icon" | tr -d '\r')" ] && echo icon || echo "no-icon($icon)"
}
shortcut() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Tarnell.lnk' | head -n1; }

# The five tweak values as "name=value", "-" for an absent one, in catalogue order.
tweaks() {
  local all out name
  all=$(wine_ reg.exe query 'HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\Interfaces' /s /reg:64
        wine_ reg.exe query 'HKLM\SOFTWARE\Microsoft\MSMQ\Parameters' /reg:64
        wine_ reg.exe query 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Multimedia\SystemProfile' /reg:64)
  all=$(tr -d '\r' <<<"$all")
  out=
  for name in TcpAckFrequency TcpDelAckTicks TCPNoDelay NetworkThrottlingIndex SystemResponsiveness; do
    v=$(sed -n "s/^ *$name *REG_DWORD *//p" <<<"$all" | head -n1)
    out+="$name=${v:--} "
  done
  echo "${out% }"
}
applied="TcpAckFrequency=0x1 TcpDelAckTicks=0x0 TCPNoDelay=0x1 NetworkThrottlingIndex=0xffffffff SystemResponsiveness=0x0"
# The user's own values before the tweak set (set by user_values): given back exactly, MSMQ key and all.
users="TcpAckFrequency=- TcpDelAckTicks=- TCPNoDelay=- NetworkThrottlingIndex=0x46 SystemResponsiveness=-"
user_values() {
  local profile='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Multimedia\SystemProfile' key
  wine_ reg.exe delete 'HKLM\SOFTWARE\Microsoft\MSMQ' /f /reg:64 >/dev/null
  for key in $(wine_ reg.exe query 'HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\Interfaces' /reg:64 |
               tr -d '\r' | grep -i 'Interfaces\\'); do
    wine_ reg.exe delete "$key" /v TcpAckFrequency /f /reg:64 >/dev/null
    wine_ reg.exe delete "$key" /v TcpDelAckTicks /f /reg:64 >/dev/null
  done
  wine_ reg.exe add "$profile" /v NetworkThrottlingIndex /t REG_DWORD /d 70 /f /reg:64 >/dev/null
  wine_ reg.exe delete "$profile" /v SystemResponsiveness /f /reg:64 >/dev/null
}
msmq_key() { wine_ reg.exe query 'HKLM\SOFTWARE\Microsoft\MSMQ' /reg:64 >/dev/null && echo present || echo absent; }
# The machine's record of the tweak set: present while it is on.
record() { wine_ reg.exe query 'HKLM\SOFTWARE\Vorbeck\Tarnell\Applied' /reg:64 >/dev/null && echo present || echo absent; }

setting() { wine_ reg.exe query 'HKCU\Software\Tarnell' /v "$1" | tr -d '\r' | sed -n "s/^ *$1 *REG_DWORD *//p"; }
settings() { echo "status=$(setting status) tcpnodelay=$(setting tcpnodelay)"; }

# Puts the tweak set on through the installed program itself, then records one option switch off so
# that settings changes can be seen.
switch_on() {
  user_values
  wine_ reg.exe delete 'HKCU\Software\Tarnell' /v tcpnodelay /f >/dev/null
  wine_ "$installed" --apply; local code=$?
  [ $code -eq 0 ] || fail "setup: tarnell.exe --apply exited $code"
  wine_ reg.exe add 'HKCU\Software\Tarnell' /v tcpnodelay /t REG_DWORD /d 0 /f >/dev/null
}

# --- install --------------------------------------------------------------------------------------
echo "== install 1.0.0"
msiexec /i "Z:${msi1//\//\\}" /qn; code=$?
check "msiexec /i exit code" 0 "$code"
check "program installed under Program Files\\Tarnell" yes "$([ -f "$installed" ] && echo yes || echo no)"
check "installed program is the packaged one" same \
  "$(unzip -p "$work/dist-v1/Tarnell-1.0.0.0-x64-portable.zip" tarnell.exe | cmp -s - "$installed" && echo same || echo differs)"
check "Start-menu shortcut" yes "$([ -n "$(shortcut)" ] && echo yes || echo no)"
entries=$(arp_entries)
check "one Add/Remove Programs entry" 1 "$(grep -c . <<<"$entries")"
product1=$(msiinfo export "$msi1" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }' | tr -d '\r')
check "entry: product code, version, publisher, no Modify, icon" "$product1|1.0.0|Vorbeck|0x1|icon" "$entries"
# The installed program starts and shows its window.
"$WINE" "$installed" </dev/null >/dev/null 2>&1 &
program=$!
shown=no
for _ in $(seq 1 200); do
  xdotool search --onlyvisible --name '^Tarnell$' >/dev/null 2>&1 && { shown=yes; break; }
  sleep 0.2
done
check "installed program shows its window" yes "$shown"
kill "$program" 2>/dev/null; wait "$program" 2>/dev/null

# --- upgrade --------------------------------------------------------------------------------------
echo "== upgrade 1.0.0 -> 1.0.1 with the tweak set on"
switch_on
tweaks_before=$(tweaks) settings_before=$(settings)
check "setup: tweak set on" "$applied" "$tweaks_before"
msiexec /i "Z:${msi2//\//\\}" /qn; code=$?
check "msiexec /i (upgrade) exit code" 0 "$code"
entries=$(arp_entries)
product2=$(msiinfo export "$msi2" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }' | tr -d '\r')
check "one entry, the new version" "$product2|1.0.1|Vorbeck|0x1|icon" "$entries"
check "installed program is the new one" same \
  "$(cmp -s "$work/unzipped/tarnell.exe" "$installed" && echo same || echo differs)"
check "tweak set untouched by the upgrade" "$tweaks_before" "$(tweaks)"
check "the machine's record kept by the upgrade" present "$(record)"
check "settings untouched by the upgrade" "$settings_before" "$(settings)"

# --- removal --------------------------------------------------------------------------------------
# Each row: name | setup | network (own: the prefix's usual one; none: no adapter) | removal's action runs
# (from the installer's log) | tweaks after | settings after. Setup: on (tweak set on, this user's status 1),
# nostatus (on, this user's settings deleted: another administrator or the system removes it), window (on,
# the window open during the removal), off (on, then given back with --revert).
removal_rows=(
  "remove while running|on|own|yes|$users|status=0x1 tcpnodelay=0x0"
  "remove while running, no adapter|on|none|yes|$users|status=0x1 tcpnodelay=0x0"
  "remove by someone whose own record is missing|nostatus|own|yes|$users|status= tcpnodelay="
  "remove with the window open|window|own|yes|$users|status=0x1 tcpnodelay=0x0"
  "remove after the tweak set was turned off: no action runs|off|own|no|$users|status=0x0 tcpnodelay=0x0"
)
for row in "${removal_rows[@]}"; do
  IFS='|' read -r name setup network want_ran want_tweaks want_settings <<<"$row"
  log=$work/remove.log
  rm -f "$log"
  echo "== $name"
  [ -n "$(arp_entries)" ] || { msiexec /i "Z:${msi2//\//\\}" /qn || fail "reinstall for '$name'"; }
  switch_on
  check "setup: tweak set on, recorded" "$applied present" "$(tweaks) $(record)"
  case $setup in
    nostatus) wine_ reg.exe delete 'HKCU\Software\Tarnell' /f >/dev/null ;;
    off) wine_ "$installed" --revert || fail "setup: tarnell.exe --revert" ;;
    window)
      "$WINE" "$installed" </dev/null >/dev/null 2>&1 &
      window=$!
      for _ in $(seq 1 200); do
        xdotool search --onlyvisible --name '^Tarnell$' >/dev/null 2>&1 && break
        sleep 0.2
      done ;;
  esac
  started=$(date +%s%N)
  if [ "$network" = none ]; then
    # The adapter list comes from the prefix's device service: restart the prefix's Wine without a network.
    "$WINESERVER" -k; "$WINESERVER" -w
    unshare -n bash -c '"$0" msiexec.exe /x "$1" /qn /l*v "$3" </dev/null 2>/dev/null; code=$?; "$2" -w; exit $code' \
      "$WINE" "Z:${msi2//\//\\}" "$WINESERVER" "Z:${log//\//\\}"; code=$?
    "$WINESERVER" -p >/dev/null 2>&1 </dev/null
  else
    msiexec /x "Z:${msi2//\//\\}" /qn /l*v "Z:${log//\//\\}"; code=$?
  fi
  elapsed_ms=$((($(date +%s%N) - started) / 1000000))
  echo "  ..   removal took $elapsed_ms ms"
  check "msiexec /x exit code" 0 "$code"
  check "removal's action ran" "$want_ran" "$(grep -aq 'Action start [0-9:]*: RevertTweakSet' "$log" && echo yes || echo no)"
  check "removal within 10 s" yes "$([ "$elapsed_ms" -lt 10000 ] && echo yes || echo no)"
  if [ "$setup" = window ]; then
    kill "$window" 2>/dev/null; wait "$window" 2>/dev/null
  else
    check "program file gone" no "$([ -e "$installed" ] && echo yes || echo no)"
    check "Program Files\\Tarnell gone" no "$([ -e "$(dirname "$installed")" ] && echo yes || echo no)"
  fi
  check "shortcut gone" "" "$(shortcut)"
  check "Add/Remove Programs entry gone" "" "$(arp_entries)"
  check "tweak values: the user's own" "$want_tweaks" "$(tweaks)"
  check "no MSMQ key where there was none" absent "$(msmq_key)"
  check "the machine's record gone" absent "$(record)"
  check "settings" "$want_settings" "$(settings)"
done

echo "== no adapter: the installed program's --revert gives back all the same"
msiexec /i "Z:${msi2//\//\\}" /qn || fail "reinstall"
switch_on
"$WINESERVER" -k; "$WINESERVER" -w
unshare -n bash -c '"$0" "$1" --revert </dev/null 2>/dev/null; code=$?; "$2" -k; "$2" -w; exit $code' \
  "$WINE" "$installed" "$WINESERVER"; code=$?
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
check "tarnell.exe --revert without an adapter exits" 0 "$code"
check "tweak values: the user's own" "$users" "$(tweaks)"
check "the machine's record gone" absent "$(record)"
check "settings" "status=0x0 tcpnodelay=0x0" "$(settings)"
msiexec /x "Z:${msi2//\//\\}" /qn || fail "final removal"

echo
if [ "$failures" -ne 0 ]; then echo "package tests: $failures failed"; exit 1; fi
echo "package tests: all passed"

#!/usr/bin/env bash
# The release packages: how scripts/package.sh builds and refuses them, then under Wine, every row a real
# msiexec or program run in a Wine prefix of its own: install, upgrade, another build of the same version,
# a custom folder, removal (with a working and with a failing revert), the signatures, the winget manifest
# against the MSI, and the portable zip against the installed program.
#
#   tests/package/package_test.sh [WORK]     (WORK: build/package-test)
#
# Two versions are packaged with scripts/package.sh: 1.0.0.0 unsigned (twice, from two clean build
# folders, to compare), 1.0.1.0 as a release signed through a throwaway certificate chain and time-stamped
# by a local RFC 3161 server (tests/package/timestamp_server.py, on TARNELL_PACKAGE_TEST_PORT + 1), and
# 1.0.1.0 once more with another build setting. The program's probe is on a loopback fixture
# (TARNELL_PACKAGE_TEST_PORT, 18472 unless given) so that nothing leaves the machine. A removal whose
# revert has no adapter runs the prefix's Wine in a network namespace of its own, where the only
# interface is a loopback one that is down.
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
# Throwaway certificates: a root, an intermediate (given as the chain file) and a code-signing leaf whose
# key has a password; a time-stamping authority under the same root, served by a local RFC 3161 server.
certs=$work/certs
rm -rf "$certs" && mkdir -p "$certs"
printf '%s\n' '[ca]' 'basicConstraints = critical, CA:true' 'keyUsage = critical, keyCertSign, cRLSign' \
  '[leaf]' 'basicConstraints = CA:false' 'keyUsage = critical, digitalSignature' 'extendedKeyUsage = codeSigning' \
  '[tsa]' 'basicConstraints = CA:false' 'keyUsage = critical, digitalSignature' \
  'extendedKeyUsage = critical, timeStamping' >"$certs/ext.cnf"
password='pass word&|$x'
(
  cd "$certs" || exit 1
  set -e
  openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 -subj "/CN=Tarnell test root" \
    -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign"
  for cert in int:ca leaf:leaf tsa:tsa; do
    name=${cert%:*} ext=${cert#*:} issuer=root
    [ "$name" != leaf ] || issuer=int
    if [ "$name" = leaf ]; then
      openssl req -newkey rsa:2048 -keyout leaf.key -passout "pass:$password" -out leaf.csr -subj "/CN=Tarnell test signer"
    else
      openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=Tarnell test $name"
    fi
    openssl x509 -req -in "$name.csr" -CA "$issuer.pem" -CAkey "$issuer.key" -CAcreateserial -out "$name.pem" \
      -days 2 -extfile ext.cnf -extensions "$ext"
  done
  printf '%s' "$password" >password.txt
) >"$work/certs.log" 2>&1 || { cat "$work/certs.log"; echo "openssl failed"; exit 1; }
ts_port=$((port + 1))
python3 tests/package/timestamp_server.py "$ts_port" "$certs" &
ts_server=$!
for _ in $(seq 1 100); do [ -f "$certs/ready" ] && break; sleep 0.1; done
[ -f "$certs/ready" ] || { echo "time-stamp server did not start on $ts_port"; exit 1; }
trap 'kill $ts_server 2>/dev/null' EXIT

loopback="http://127.0.0.1:$port"
cmake_args=(-DTARNELL_PROBE_URL="$loopback/generate_204" -DTARNELL_SERVICE_URL="$loopback/api.init.php"
            -DTARNELL_HOME_URL="$loopback/tarnell")
package() {  # package NAME VERSION WAIT_MS [package.sh options...]: builds into dist-NAME, log in package-NAME.log
  local name=$1 version=$2 wait=$3
  shift 3
  TARNELL_SKIP_BOOTSTRAP=1 scripts/package.sh "$@" --dist "$work/dist-$name" -- \
    -DTARNELL_VERSION="$version" "${cmake_args[@]}" -DTARNELL_COMMAND_WAIT_MS="$wait" >"$work/package-$name.log" 2>&1 ||
    { cat "$work/package-$name.log"; echo "package.sh failed for $name"; exit 1; }
}
release_env=(TARNELL_SIGN_CERT="$certs/leaf.pem" TARNELL_SIGN_KEY="$certs/leaf.key"
             TARNELL_SIGN_CHAIN="$certs/int.pem" TARNELL_SIGN_KEY_PASSWORD_FILE="$certs/password.txt"
             TARNELL_SIGN_TIMESTAMP_URL="http://127.0.0.1:$ts_port/")
# A download URL with the characters a text substitution trips over.
download_url='https://downloads.vorbeck.com/get?file=Tarnell-1.0.1.0-x64.msi&channel=stable|x#y\1&'"'"'q'

echo "== release mode refuses what is missing"
# Rows: name | environment (space-separated) | what the refusal must name, ';'-separated.
refusal_rows=(
  "nothing given||TARNELL_SIGN_CERT;TARNELL_SIGN_KEY;TARNELL_SIGN_TIMESTAMP_URL;TARNELL_DOWNLOAD_URL"
  "certificate only|TARNELL_SIGN_CERT=$certs/leaf.pem|TARNELL_SIGN_KEY;TARNELL_SIGN_TIMESTAMP_URL;TARNELL_DOWNLOAD_URL"
  "no time-stamp server|${release_env[*]:0:4} TARNELL_DOWNLOAD_URL=https://downloads.vorbeck.com/t.msi|TARNELL_SIGN_TIMESTAMP_URL"
  "placeholder download URL|${release_env[*]} TARNELL_DOWNLOAD_URL=https://downloads.tarnell.example/t.msi|TARNELL_DOWNLOAD_URL (a placeholder"
  "plain http download URL|${release_env[*]} TARNELL_DOWNLOAD_URL=http://downloads.vorbeck.com/t.msi|TARNELL_DOWNLOAD_URL (a placeholder"
)
for row in "${refusal_rows[@]}"; do
  IFS='|' read -r name environment wanted <<<"$row"
  rm -rf "$work/dist-refused" "$work/build-refused"
  # shellcheck disable=SC2086
  env $environment TARNELL_SKIP_BOOTSTRAP=1 scripts/package.sh --release --build "$work/build-refused" \
    --dist "$work/dist-refused" >"$work/refused.log" 2>&1
  code=$?
  check "$name: refused" 1 "$code"
  IFS=';' read -ra names <<<"$wanted"
  for want in "${names[@]}"; do
    grep -qF -- "$want" "$work/refused.log" && echo "  ok   $name: names $want" || fail "$name: '$want' not named"
  done
  check "$name: nothing built, no dist" "no no" \
    "$([ -e "$work/build-refused" ] && echo yes || echo no) $([ -e "$work/dist-refused" ] && echo yes || echo no)"
done

echo "== a fourth version number is refused; TARNELL_VERSION is read from the environment"
rm -rf "$work/dist-refused" "$work/build-refused"
TARNELL_VERSION=1.0.1.1 TARNELL_SKIP_BOOTSTRAP=1 scripts/package.sh --build "$work/build-refused" \
  --dist "$work/dist-refused" >"$work/refused.log" 2>&1
code=$?
check "1.0.1.1 refused" 1 "$code"
grep -q 'version 1.0.1.1 refused: the fourth number must be 0' "$work/refused.log" &&
  echo "  ok   the refusal says why" || { cat "$work/refused.log"; fail "the refusal does not say why"; }
check "no dist" no "$([ -e "$work/dist-refused" ] && echo yes || echo no)"
rm -rf "$work/build-refused"

# v1: an unsigned development build from a clean build folder. v2: a release, built on in the same folder.
# v2b: another build of v2's version (another build setting, so another exe), signed, not time-stamped.
# again: v1 once more from a clean build folder elsewhere, to compare with v1.
rm -rf "$work/build" "$work/build-again" "$work/dist-v1" "$work/dist-v2" "$work/dist-v2b" "$work/dist-again"
mkdir -p "$work/dist-v2/winget"
echo "not ours" >"$work/dist-v2/keep-me.txt"
echo "not ours either" >"$work/dist-v2/winget/notes.txt"
echo "== package 1.0.0.0 (development, unsigned)"
package v1 1.0.0.0 4000 --build "$work/build"
echo "== package 1.0.1.0 (release)"
(export "${release_env[@]}" TARNELL_DOWNLOAD_URL="$download_url"
 package v2 1.0.1.0 4000 --release --keep-build --build "$work/build") || exit 1
echo "== package 1.0.1.0 again (another build of the same version)"
(export TARNELL_SIGN_CERT="$certs/leaf.pem" TARNELL_SIGN_KEY="$certs/leaf.key" TARNELL_SIGN_CHAIN="$certs/int.pem" \
   TARNELL_SIGN_KEY_PASSWORD="$password"
 package v2b 1.0.1.0 4001 --keep-build --build "$work/build") || exit 1
echo "== package 1.0.0.0 again, from another clean build folder"
package again 1.0.0.0 4000 --build "$work/build-again"
rm -rf "$work/build-again"

msi1=$work/dist-v1/Tarnell-1.0.0.0-x64.msi
msi2=$work/dist-v2/Tarnell-1.0.1.0-x64.msi
msi2b=$work/dist-v2b/Tarnell-1.0.1.0-x64.msi
zip1=$work/dist-v1/Tarnell-1.0.0.0-x64-portable.zip
zip2=$work/dist-v2/Tarnell-1.0.1.0-x64-portable.zip
zip2b=$work/dist-v2b/Tarnell-1.0.1.0-x64-portable.zip

echo "== what each run says last"
check "development build: the last line says unsigned" \
  "UNSIGNED development build 1.0.0.0: not for release (scripts/package.sh --release signs and checks)" \
  "$(tail -n1 "$work/package-v1.log")"
check "release: the last line says signed and time-stamped" \
  "release 1.0.1.0: tarnell.exe and the MSI signed and time-stamped" "$(tail -n1 "$work/package-v2.log")"
check "signed development build: the last line says not time-stamped" \
  "development build 1.0.1.0: signed, not time-stamped, not a release (--release checks)" \
  "$(tail -n1 "$work/package-v2b.log")"

echo "== signatures, time stamps and the chain"
unzipped() { rm -rf "$work/unzipped-$1" && mkdir -p "$work/unzipped-$1" && unzip -q "$2" -d "$work/unzipped-$1"; }
unzipped v1 "$zip1"
unzipped v2 "$zip2"
unzipped v2b "$zip2b"
unzipped again "$work/dist-again/Tarnell-1.0.0.0-x64-portable.zip"
# Rows: file | signed | time-stamped. Only the root is trusted: the intermediate must travel in the signature.
signature_rows=("$msi1|no|no" "$work/unzipped-v1/tarnell.exe|no|no" "$msi2|yes|yes"
                "$work/unzipped-v2/tarnell.exe|yes|yes" "$msi2b|yes|no" "$work/unzipped-v2b/tarnell.exe|yes|no")
for row in "${signature_rows[@]}"; do
  IFS='|' read -r file want_signed want_stamped <<<"$row"
  osslsigncode verify -CAfile "$certs/root.pem" -TSA-CAfile "$certs/root.pem" -in "$file" >"$work/verify.log" 2>&1
  code=$?
  signed=no stamped=no
  [ $code -eq 0 ] && grep -q '^Signature verification: ok' "$work/verify.log" && signed=yes
  grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log" && stamped=yes
  check "$(basename "$(dirname "$file")")/$(basename "$file"): signed (chained to the root), time-stamped" \
    "$want_signed $want_stamped" "$signed $stamped"
done
check "the time-stamp server answered the release's two signatures" 2 "$(grep -c 'reply$' "$certs/timestamp.log")"

echo "== the shipped exe: stripped, its symbols kept"
check "shipped exe has no debug sections" "" \
  "$(x86_64-w64-mingw32-objdump -h "$work/unzipped-v1/tarnell.exe" | awk '$2 ~ /^\.debug/ { print $2 }' | xargs)"
exe_size=$(stat -c %s "$work/unzipped-v1/tarnell.exe")
echo "  ..   shipped exe: $exe_size bytes"
check "shipped exe under 1.5 MB" yes "$([ "$exe_size" -lt 1572864 ] && echo yes || echo no)"
build_id=$(x86_64-w64-mingw32-objdump -p "$work/unzipped-v1/tarnell.exe" |
           sed -n 's/.*(format RSDS signature \([0-9a-f]*\) age.*/\1/p')
symbols=$work/dist-v1/symbols/tarnell-1.0.0.0-$build_id.debug
check "symbols named by the version and the exe's build id" yes \
  "$([ -n "$build_id" ] && [ -f "$symbols" ] && echo yes || echo no)"
# An address in the shipped exe resolves to its source line through the kept symbols.
main_at=$(x86_64-w64-mingw32-nm "$symbols" 2>/dev/null | awk '$3 == "wWinMain" { print $1 }')
check "wWinMain's address resolves to main.cpp" "main.cpp" \
  "$(x86_64-w64-mingw32-addr2line -e "$symbols" "0x${main_at:-0}" 2>/dev/null | sed 's/:.*//; s|.*/||')"

echo "== the version resource and the manifest follow the version"
for row in "v1|1.0.0.0" "v2|1.0.1.0"; do
  IFS='|' read -r name version <<<"$row"
  exe=$work/unzipped-$name/tarnell.exe
  check "$name manifest's version" "version=\"$version\"" \
    "$(strings "$exe" | grep -o 'assemblyIdentity type="win32" name="Tarnell" version="[0-9.]*"' | grep -o 'version="[0-9.]*"')"
  check "$name version resource: FileVersion, LegalCopyright" "$version|Copyright (C) Vorbeck" \
    "$(strings -el "$exe" | awk 'prev == "FileVersion" { fv = $0 } prev == "LegalCopyright" { lc = $0 } { prev = $0 }
                                 END { print fv "|" lc }')"
done

echo "== the same sources build the same program"
check "exe of two clean builds in different folders: identical" \
  "$(sha256sum <"$work/unzipped-v1/tarnell.exe")" "$(sha256sum <"$work/unzipped-again/tarnell.exe")"
check "portable zip of two clean builds: identical" "$(sha256sum <"$zip1")" \
  "$(sha256sum <"$work/dist-again/Tarnell-1.0.0.0-x64-portable.zip")"
check "symbols of two clean builds: identical" "$(sha256sum <"$symbols")" \
  "$(sha256sum <"$work/dist-again/symbols/tarnell-1.0.0.0-$build_id.debug" 2>/dev/null)"
# wixl gives every MSI a new package code and creation time: the MSI itself differs between builds.
cmp -s "$msi1" "$work/dist-again/Tarnell-1.0.0.0-x64.msi" && echo "  ..   MSIs identical too" ||
  echo "  ..   MSIs differ (wixl: package code and creation time)"

echo "== dist folders, READMEs and manifests"
check "files in --dist that are not ours survive" "not ours|not ours either" \
  "$(cat "$work/dist-v2/keep-me.txt")|$(cat "$work/dist-v2/winget/notes.txt")"
check "portable zip holds the program and the user's README" "README.txt tarnell.exe" \
  "$(cd "$work/unzipped-v2" && ls | sort | xargs)"
cmp -s "$work/unzipped-v2/README.txt" packaging/README.txt && echo "  ok   README in the zip is the user's" ||
  fail "README in the zip differs from packaging/README.txt"
check "the MSI installs the exe and the user's README" "README.txt tarnell.exe" \
  "$(msiinfo export "$msi2" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3 }' | sort | xargs)"
check "the MSI finds older versions and other builds of its own (minimum and maximum inclusive)" \
  "0.0.0|1.0.1|768" \
  "$(msiinfo export "$msi2" Upgrade | tr -d '\r' | awk -F'\t' '$7 == "OLDERVERSIONFOUND" { print $2 "|" $3 "|" $5 }')"
check "no REINSTALLMODE forcing every file" "" \
  "$(msiinfo export "$msi2" Property | tr -d '\r' | awk -F'\t' '$1 == "REINSTALLMODE" { print $2 }')"
check "InstallerUrl: the download URL byte for byte" "$download_url" \
  "$(sed -n "s/^ *InstallerUrl: '\(.*\)'$/\1/p" "$work/dist-v2/winget/Vorbeck.Tarnell.installer.yaml" | sed "s/''/'/g")"
for name in v1 v2 v2b; do
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
  for fixed in "InstallerType: wix" "Scope: machine" "ElevationRequirement: elevatesSelf"; do
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
  kill "$ts_server" 2>/dev/null
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
# The rest of the one Tarnell entry: "NoRepair|HelpLink|URLInfoAbout|InstallLocation".
arp_details() {
  local key out
  for key in $(wine_ reg.exe query "$uninstall_key" /reg:64 | tr -d '\r' | grep -i 'Uninstall\\'); do
    out=$(wine_ reg.exe query "$key" /reg:64 | tr -d '\r')
    grep -q 'DisplayName *REG_SZ *Tarnell$' <<<"$out" || continue
    printf '%s|%s|%s|%s\n' "$(sed -n 's/.*NoRepair *REG_DWORD *//p' <<<"$out")" \
      "$(sed -n 's/.*HelpLink *REG_SZ *//p' <<<"$out")" "$(sed -n 's/.*URLInfoAbout *REG_SZ *//p' <<<"$out")" \
      "$(sed -n 's/.*InstallLocation *REG_SZ *//p' <<<"$out")"
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

# Wine's msiexec, removing the older product at the end of an upgrade, deletes the upgrade code's whole
# registration (UpgradeCodes\<code>) with it, the newer product's entry included; Windows removes only the
# older product's value. Without it the next major upgrade finds nothing to replace. This puts back what
# Windows keeps: the installed product under its upgrade code.
squashed() {  # a GUID as Windows Installer's registry writes it
  local g=${1//[\{\}-]/} out i
  out=$(rev <<<"${g:0:8}")$(rev <<<"${g:8:4}")$(rev <<<"${g:12:4}")
  for i in 16 18 20 22 24 26 28 30; do out+="${g:$((i + 1)):1}${g:$i:1}"; done
  echo "$out"
}
upgrade_code=$(msiinfo export "$msi1" Property | tr -d '\r' | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')
keep_upgrade_registration() {  # keep_upgrade_registration PRODUCT_CODE
  local key
  for key in 'HKLM\Software\Classes\Installer\UpgradeCodes' \
             'HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UpgradeCodes'; do
    wine_ reg.exe add "$key\\$(squashed "$upgrade_code")" /v "$(squashed "$1")" /t REG_SZ /d "" /f /reg:64 >/dev/null
  done
}

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
check "entry: no Repair, help and about links, install location" \
  "0x1|$loopback/tarnell|$loopback/tarnell|C:\\Program Files\\Tarnell\\" "$(arp_details)"
check "the icon has a 256-pixel image" yes \
  "$(identify "$work/build/generated/resources/tarnell.ico" 2>/dev/null | grep -q ' 256x256 ' && echo yes || echo no)"
check "the user's README installed beside the program" same \
  "$(cmp -s packaging/README.txt "$(dirname "$installed")/README.txt" && echo same || echo differs)"
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
keep_upgrade_registration "$product2"
check "one entry, the new version" "$product2|1.0.1|Vorbeck|0x1|icon" "$entries"
check "installed program is the new one" same \
  "$(cmp -s "$work/unzipped-v2/tarnell.exe" "$installed" && echo same || echo differs)"
check "tweak set untouched by the upgrade" "$tweaks_before" "$(tweaks)"
check "the machine's record kept by the upgrade" present "$(record)"
check "settings untouched by the upgrade" "$settings_before" "$(settings)"

echo "== another build of the same version replaces the installed one, both ways"
product2b=$(msiinfo export "$msi2b" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }' | tr -d '\r')
# Rows: package | its product code | its exe.
for row in "$msi2b|$product2b|$work/unzipped-v2b/tarnell.exe" "$msi2|$product2|$work/unzipped-v2/tarnell.exe"; do
  IFS='|' read -r msi product exe <<<"$row"
  msiexec /i "Z:${msi//\//\\}" /qn; code=$?
  check "msiexec /i $(basename "$(dirname "$msi")") exit code" 0 "$code"
  check "one entry, the build just installed" "$product|1.0.1|Vorbeck|0x1|icon" "$(arp_entries)"
  check "installed program is that build's" same "$(cmp -s "$exe" "$installed" && echo same || echo differs)"
  check "tweak set and record untouched" "$tweaks_before present" "$(tweaks) $(record)"
  keep_upgrade_registration "$product"
done

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

echo "== a custom install folder is kept across an upgrade and removed at the end"
custom='C:\Tools\Tarnell Custom\'
custom_unix=$WINEPREFIX/drive_c/Tools/Tarnell\ Custom
msiexec /i "Z:${msi1//\//\\}" /qn "INSTALLDIR=$custom"; code=$?
check "msiexec /i INSTALLDIR=... exit code" 0 "$code"
check "program in the custom folder, none in Program Files" "yes no" \
  "$([ -f "$custom_unix/tarnell.exe" ] && echo yes || echo no) $([ -e "$installed" ] && echo yes || echo no)"
msiexec /i "Z:${msi2//\//\\}" /qn; code=$?
check "upgrade exit code" 0 "$code"
check "upgrade: the new program in the custom folder, none in Program Files" "same no" \
  "$(cmp -s "$work/unzipped-v2/tarnell.exe" "$custom_unix/tarnell.exe" && echo same || echo differs) $([ -e "$installed" ] && echo yes || echo no)"
check "one entry, the new version" "$product2|1.0.1|Vorbeck|0x1|icon" "$(arp_entries)"
check "entry: install location is the custom folder" "$custom" "$(arp_details | cut -d'|' -f4)"
msiexec /x "Z:${msi2//\//\\}" /qn; code=$?
check "removal exit code" 0 "$code"
check "custom folder gone" no "$([ -e "$custom_unix" ] && echo yes || echo no)"
check "Add/Remove Programs entry gone" "" "$(arp_entries)"

# --- a version that kept no record -----------------------------------------------------------------
# Its installer layout (tests/package/record_less.wxs) carries today's exe: what that version's --apply
# left is written here by hand, exactly as it wrote it (the five values for the adapter it ran on, the
# user's "status" 1), since only the registry it left matters to the upgrade.
echo "== upgrade from a version without the record, with the tweak set on, then removal"
old_stage=$work/record-less
rm -rf "$old_stage" && mkdir -p "$old_stage"
cp tests/package/record_less.wxs "$work/unzipped-v2/tarnell.exe" "$old_stage/"
cp "$work/build/generated/resources/tarnell.ico" "$old_stage/"
(cd "$old_stage" && wixl -a x64 -D Version=0.9.0 -D Exe=tarnell.exe -D Icon=tarnell.ico -o old.msi \
  record_less.wxs >wixl.log 2>&1) || { cat "$old_stage/wixl.log"; fail "wixl: the record-less package"; }
old_msi=$old_stage/old.msi
interfaces='HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\Interfaces'
# The adapter that version ran on (its key need not be today's active adapter's: the take-over reads them all).
old_adapter="$interfaces\\{5A3B0C1D-5E6F-4A1B-8C2D-3E4F5A6B7C8D}"
old_version_applied() {  # what that version's --apply left
  local adapter=$old_adapter profile='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Multimedia\SystemProfile'
  wine_ reg.exe add "$adapter" /v TcpAckFrequency /t REG_DWORD /d 1 /f /reg:64 >/dev/null
  wine_ reg.exe add "$adapter" /v TcpDelAckTicks /t REG_DWORD /d 0 /f /reg:64 >/dev/null
  wine_ reg.exe add 'HKLM\SOFTWARE\Microsoft\MSMQ\Parameters' /v TCPNoDelay /t REG_DWORD /d 1 /f /reg:64 >/dev/null
  wine_ reg.exe add "$profile" /v NetworkThrottlingIndex /t REG_DWORD /d 0xffffffff /f /reg:64 >/dev/null
  wine_ reg.exe add "$profile" /v SystemResponsiveness /t REG_DWORD /d 0 /f /reg:64 >/dev/null
  wine_ reg.exe add 'HKCU\Software\Tarnell' /v status /t REG_DWORD /d 1 /f >/dev/null
}
status_code() { wine_ "$installed" --status >/dev/null; echo $?; }  # it tells what the record holds too
# That version's Stop: the three values removed, the two profile values 10 and 20.
old_stop="TcpAckFrequency=- TcpDelAckTicks=- TCPNoDelay=- NetworkThrottlingIndex=0xa SystemResponsiveness=0x14"
check "no Tarnell installed before" "" "$(arp_entries)"
user_values
msiexec /i "Z:${old_msi//\//\\}" /qn; code=$?
check "the record-less version installs" 0 "$code"
old_version_applied
check "setup: that version's tweak set on, no record" "$applied absent" "$(tweaks) $(record)"
log=$work/takeover.log
rm -f "$log"
msiexec /i "Z:${msi2//\//\\}" /qn /l*v "Z:${log//\//\\}"; code=$?
check "upgrade exit code" 0 "$code"
keep_upgrade_registration "$product2"
check "one entry, the new version" "$product2|1.0.1|Vorbeck|0x1|icon" "$(arp_entries)"
check "the upgrade's take-over ran" yes "$(grep -aq 'Action start [0-9:]*: TakeOverTweakSet' "$log" && echo yes || echo no)"
check "tweak values untouched by the take-over" "$applied" "$(tweaks)"
check "the machine's record written" present "$(record)"
check "--status right after the upgrade" 1 "$(status_code)"
msiexec /x "Z:${msi2//\//\\}" /qn; code=$?
check "removal exit code" 0 "$code"
check "removal gave back as that version's Stop" "$old_stop" "$(tweaks)"
check "the machine's record gone" absent "$(record)"

echo "== an upgrade over a version that kept the record takes nothing over"
user_values
msiexec /i "Z:${msi1//\//\\}" /qn || fail "install 1.0.0"
old_version_applied  # values that look applied, set by hand, and a stale "status" 1
hand=$(tweaks)
rm -f "$log"
msiexec /i "Z:${msi2//\//\\}" /qn /l*v "Z:${log//\//\\}"; code=$?
check "upgrade exit code" 0 "$code"
keep_upgrade_registration "$product2"
check "no take-over ran" no "$(grep -aq 'Action start [0-9:]*: TakeOverTweakSet' "$log" && echo yes || echo no)"
check "no record" absent "$(record)"
check "--status answers off" 0 "$(status_code)"
wine_ "$installed" --revert; code=$?
check "--revert with a stale status" 0 "$code"
check "the hand-set values stay" "$hand" "$(tweaks)"
msiexec /x "Z:${msi2//\//\\}" /qn || fail "removal"
check "the hand-set values stay after removal" "$hand" "$(tweaks)"
user_values
wine_ reg.exe delete "$old_adapter" /f /reg:64 >/dev/null

echo
if [ "$failures" -ne 0 ]; then echo "package tests: $failures failed"; exit 1; fi
echo "package tests: all passed"

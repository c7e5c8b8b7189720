#!/usr/bin/env bash
# Plants, in the build tree's Wine prefix, the symbolic links that a user's own process could leave in its
# %LOCALAPPDATA%\Tarnell (Wine's own CreateSymbolicLinkW makes none, so they are made here, from outside):
#   plant_links.sh BUILD
# under C:\tarnell-files-test (made afresh): the foreign folder the links point at, and one case folder
# per planted link. crash_files_win32_test fills in the rest of each case.
set -eu
build=$1
prefix=${TARNELL_WINEPREFIX:-$build/wineprefix}
root=$prefix/drive_c/tarnell-files-test
rm -rf "$root"
mkdir -p "$root/foreign/folder"
foreign=$root/foreign/secret.bin
for name in symlink symlink-new; do
  mkdir -p "$root/$name/Local/Tarnell"
  ln -s "$foreign" "$root/$name/Local/Tarnell/bugreport.txt"
done
mkdir -p "$root/folder-link/Local"
ln -s "$root/foreign/folder" "$root/folder-link/Local/Tarnell"

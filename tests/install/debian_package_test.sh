#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks it: its files are
# exactly those of an installation under /usr, its Depends come from the
# programs' shared libraries, and the private stand-in client is neither a
# dependency nor a library that the package offers to others.
#
# Arguments: the build folder, the source folder, the list of installed files.
set -euo pipefail
build=$1 source=$2 expected=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package, found: ${debs[*]}"
deb=${debs[0]}
echo "package: $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = quenlow ] || fail "Package: $(field Package)"
[ "$(field Section)" = database ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
[ "$(field Recommends)" = fonts-wine ] || fail "Recommends: $(field Recommends)"

# Depends: what the programs link, found by dpkg-shlibdeps; never the client.
depends=$(field Depends)
echo "Depends: $depends"
names=$(sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends")
for package in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6network6 libsqlite3-0 libsodium23; do
  grep -Fxq "$package" <<<"$names" || fail "Depends lacks $package"
done
! grep -qi clntsh <<<"$depends" || fail "Depends names the private client"
dpkg-deb --control "$deb" "$work/control"
[ ! -e "$work/control/shlibs" ] || ! grep -qi clntsh "$work/control/shlibs" || fail "the package offers libclntsh"
[ ! -e "$work/control/symbols" ] || fail "the package offers symbols"

# Files: exactly the list under /usr; folders only on the way to them.
dpkg-deb --contents "$deb" >"$work/contents"
awk '$1 !~ /^d/ { print $6 }' "$work/contents" | sed 's|^\./usr/||' | sort >"$work/files"
sort "$expected" | diff -u - "$work/files" || fail "the package's files differ from the list"
awk '{ print $6 }' "$work/contents" | grep -v '^\./usr/' | grep -vx '\./' && fail "files outside /usr" || true
# Programs and libraries stripped, with run paths inside the package only.
dpkg-deb --extract "$deb" "$work/root"
elves=0
while IFS= read -r -d '' elf; do
  readelf --file-header "$elf" >/dev/null 2>&1 || continue
  elves=$((elves + 1))
  if readelf --sections "$elf" | grep '\.debug_info' >/dev/null; then fail "$elf is not stripped"; fi
  runpath=$(readelf --dynamic "$elf" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
  [ -z "$runpath" ] || [[ $runpath == '$ORIGIN/'* ]] || fail "$elf has the run path $runpath"
done < <(find "$work/root" -type f -print0)
[ "$elves" -eq 5 ] || fail "expected 5 programs and libraries, found $elves"
# Nothing of the build or source folders: no file names them.
for folder in "$build" "$source"; do
  ! grep -rlF "$folder" "$work/root" || fail "files name $folder"
done

# What lintian finds, warnings included, beyond what it only notes.
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 \
  || { grep -v '^running with root privileges' "$work/lintian.log"; fail "lintian"; }
echo "package test passed"

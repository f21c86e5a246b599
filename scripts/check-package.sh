#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack` make of a build: installs it into a staging folder
# under /usr and runs the installed programs, validates the desktop entry, the AppStream metadata
# and the manual pages, builds the Debian package, lists it and runs lintian on it (when
# installed). Exits non-zero on the first failure.
# Usage: scripts/check-package.sh [BUILD-DIR]   (default build; it must be built already)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
stage=$build/package-check/stage
debs=$build/package-check/deb
extract=$build/package-check/extracted
rm -rf "$build/package-check"
fail() {
  echo "check-package: $*" >&2
  exit 1
}

echo "-- cmake --install into a staging folder"
DESTDIR="$PWD/$stage" cmake --install "$build" --prefix /usr >/dev/null
desktop-file-validate "$stage/usr/share/applications/velmora-usbtool.desktop"
appstreamcli validate --no-net "$stage"/usr/share/metainfo/*.metainfo.xml
for page in "$stage"/usr/share/man/man1/*.1.gz; do
  # man renders each page; any complaint of groff's about the roff fails the check.
  warnings=$(cd "$stage/usr/share/man" &&
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "man1/$(basename "$page")" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "manual page $(basename "$page"): $warnings"
done

echo "-- the installed programs run"
version=$("$stage/usr/bin/velmora-usbtool" --version)
echo "$version"
version=${version#velmora-usbtool }
[ "$("$stage/usr/bin/velmora-usbtool-demo" --version)" = "velmora-usbtool-demo $version" ] ||
  fail "velmora-usbtool-demo --version does not say $version"
[ "$("$stage/usr/bin/velmora-isp" --version)" = "velmora-isp $version" ] ||
  fail "velmora-isp --version does not say $version"
info=$("$stage/usr/bin/velmora-isp" --virtual image info \
  "$stage/usr/share/velmora-usbtool/samples/velmora-demo-fw.hex")
echo "$info" | tr '\n' ' '
echo
[ "$info" = $'length 0x01200\nchecksum 0xF1AA' ] ||
  fail "velmora-isp image info on the sample printed something else"

echo "-- cpack builds the Debian package"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$debs" >/dev/null
deb=$debs/velmora-usbtool_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb"
echo "$deb"
listing=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
for path in \
  usr/bin/velmora-usbtool usr/bin/velmora-usbtool-demo usr/bin/velmora-isp \
  usr/lib/udev/rules.d/70-velmora-usbtool.rules \
  usr/share/applications/velmora-usbtool.desktop \
  usr/share/metainfo/example.velmora.usbtool.metainfo.xml \
  usr/share/doc/velmora-usbtool/README.md.gz \
  usr/share/velmora-usbtool/samples/velmora-demo-fw.hex \
  usr/share/velmora-usbtool/samples/velmora-demo-fw.bin \
  usr/share/icons/hicolor/scalable/apps/velmora-usbtool.svg \
  usr/share/icons/hicolor/48x48/apps/velmora-usbtool.png \
  usr/share/icons/hicolor/256x256/apps/velmora-usbtool.png \
  usr/share/man/man1/velmora-isp.1.gz usr/share/man/man1/velmora-usbtool.1.gz \
  usr/share/doc/velmora-usbtool/copyright usr/share/doc/velmora-usbtool/changelog.gz; do
  grep -qx "\./$path" <<<"$listing" || fail "the package lacks /$path"
done
echo "lists the programs, the udev rule, the desktop entry, the icons, the manual pages, the README and the samples"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libqt6widgets6 libusb-1.0-0 qt6-qpa-plugins; do
  grep -q "\b$library\b" <<<"$depends" || fail "the package does not depend on $library"
done
# The listing is captured whole before it is searched: a grep -q that stops reading at its first
# match would let tar die of SIGPIPE, and pipefail would turn a good package into a failure.
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
grep -qx './postinst' <<<"$control" || fail "the package has no postinst"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"

# The packaged programs are stripped copies: they must run too.
dpkg-deb -x "$deb" "$extract"
"$extract/usr/bin/velmora-isp" --virtual image info samples/velmora-demo-fw.hex >/dev/null ||
  fail "the packaged velmora-isp does not run"

if command -v lintian >/dev/null; then
  echo "-- lintian"
  status=0
  report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
  grep -v 'running with root privileges' <<<"$report" || true
  [ "$status" -eq 0 ] || fail "lintian reports an error"
  echo "no error"
else
  echo "-- lintian is not installed: skipped"
fi

# On CI (a throw-away machine, as root) the package is installed for real with dpkg, its
# programs run from /usr/bin, and it is purged again. Nowhere else: a developer's system keeps
# whatever it has installed.
if [ "${CI:-}" = "true" ] && [ "$(id -u)" -eq 0 ]; then
  echo "-- dpkg installs the package, its programs run, dpkg purges it"
  installed=$(dpkg-query -W -f='${Status}' velmora-usbtool 2>/dev/null || true)
  if grep -q 'ok installed' <<<"$installed"; then
    fail "velmora-usbtool is installed already: not touching it"
  fi
  dpkg -i "$deb" >/dev/null || fail "dpkg could not install $deb"
  status=0
  [ "$(/usr/bin/velmora-isp --version)" = "velmora-isp $version" ] || status=1
  [ "$(/usr/bin/velmora-usbtool --version)" = "velmora-usbtool $version" ] || status=1
  /usr/bin/velmora-isp --virtual auto /usr/share/velmora-usbtool/samples/velmora-demo-fw.hex >/dev/null || status=1
  [ -f /usr/lib/udev/rules.d/70-velmora-usbtool.rules ] || status=1
  dpkg --purge velmora-usbtool >/dev/null || fail "dpkg could not purge the package"
  [ ! -e /usr/bin/velmora-isp ] || fail "purging left /usr/bin/velmora-isp behind"
  [ "$status" -eq 0 ] || fail "the installed package's programs did not run as expected"
  echo "installed, ran (--version, a virtual Auto), purged"
fi

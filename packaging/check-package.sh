#!/usr/bin/env bash
# Builds the Debian package in BUILD_DIR (cpack -G DEB, as the README says) and checks
# it as Debian's tools and the desktop see it:
#   check-package.sh BUILD_DIR ORVANE_MIMETYPE RECORDING APP_ID
set -euo pipefail
build=$1 mimetype=$2 recording=$3 appId=$4
work=$(mktemp -d /tmp/orvane-package.XXXXXX)
orvanePid=""
cleanup() {
  if [ -n "$orvanePid" ]; then kill "$orvanePid" 2>/dev/null || true; fi
  # A viewer left by a failed run is the one from our extracted package.
  for exe in /proc/[0-9]*/exe; do
    if [ "$(readlink "$exe" 2>/dev/null)" = "$work/root/usr/bin/DVD2AVI_PVAVIEW" ]; then
      pid=${exe#/proc/}; kill "${pid%/exe}" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

rm -f "$build"/orvane_*.deb
if ! (cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; echo "FAILED: cpack -G DEB"; exit 1
fi
debs=("$build"/orvane_*.deb)
deb=${debs[0]}
echo "package: $deb"
dpkg-deb -f "$deb"

# The libraries the programs link became dependencies (shlibdeps).
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6network6 libavcodec libswscale libstdc++6; do
  [[ $depends == *"$lib"* ]] || fail "Depends has no $lib: $depends"
done

dpkg-deb -c "$deb" | awk '{print $1, $6}' >"$work/contents"
share=./usr/share
expected=(./usr/bin/orvane ./usr/bin/orvane-cli ./usr/bin/DVD2AVI_PVAVIEW
          $share/applications/orvane.desktop $share/mime/packages/orvane.xml
          $share/metainfo/$appId.metainfo.xml 
          $share/man/man1/orvane.1.gz $share/man/man1/orvane-cli.1.gz $share/man/man1/DVD2AVI_PVAVIEW.1.gz
          $share/doc/orvane/copyright $share/doc/orvane/changelog.gz)
for s in 16 32 48 64 128 256; do expected+=("$share/icons/hicolor/${s}x${s}/apps/orvane.png"); done
for f in "${expected[@]}"; do
  grep -q " $f\$" "$work/contents" || fail "the package has no $f"
done
for p in orvane orvane-cli DVD2AVI_PVAVIEW; do
  grep -q "^-rwxr-xr-x ./usr/bin/$p\$" "$work/contents" || fail "/usr/bin/$p is not an executable of mode 0755"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
for s in 16 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${s}x${s}/apps/orvane.png" | grep -q "PNG image data, $s x $s," ||
    fail "the ${s}x${s} icon is not a $s x $s PNG"
done
desktop-file-validate "$root/usr/share/applications/orvane.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/$appId.metainfo.xml" || fail "appstreamcli validate"

# Warnings are listed; an error fails.
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

# The file type, by name and by content, in a data directory of its own.
xdg=$work/xdg
mkdir -p "$xdg/mime/packages" "$work/home"
cp "$root/usr/share/mime/packages/orvane.xml" "$xdg/mime/packages/"
XDG_DATA_HOME=$work/home XDG_DATA_DIRS=$xdg update-mime-database "$xdg/mime"
samples=$work/samples
mkdir -p "$samples"
cp "$recording" "$samples/clip.pva"
cp "$recording" "$samples/renamed"
# The same bytes with stream id 3 in the first packet header: not a PVA by content.
cp "$recording" "$samples/stream3"
printf '\003' | dd of="$samples/stream3" bs=1 seek=2 conv=notrunc status=none
head -c 1000 /dev/zero >"$samples/zeros.PAV"
types() { XDG_DATA_HOME=$work/home XDG_DATA_DIRS=$1 "$mimetype" "${@:2}" | tr '\n' ' '; }
got=$(types "$xdg:/usr/share" "$samples/clip.pva" "$samples/renamed" "$samples/stream3" "$samples/zeros.PAV")
[ "$got" = "video/x-pva video/x-pva application/octet-stream video/x-pva " ] ||
  fail "with orvane.xml: clip.pva, renamed, stream3, zeros.PAV are $got"
got=$(types /usr/share "$samples/renamed")
[ "$got" != "video/x-pva " ] || fail "video/x-pva without orvane.xml: the check cannot tell"

# The installed orvane opens a file the desktop hands over (Exec=orvane %f: one
# argument with spaces) and starts the viewer installed beside it, not one on the PATH.
mkdir -p "$work/my recordings" "$work/run" "$work/cwd"
chmod 700 "$work/run"
film="$work/my recordings/le film du soir.pva"
cp "$recording" "$film"
trace=$work/viewer-trace.txt
(cd "$work/cwd" && exec env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
   QT_QPA_PLATFORM=offscreen DVD2AVI_PVAVIEW_TRACE="$trace" "$root/usr/bin/orvane" "$film") \
   >"$work/orvane.log" 2>&1 &
orvanePid=$!
traced() { [ -f "$trace" ] && grep -q "^$1" "$trace"; }
for _ in $(seq 200); do traced "picture 0 I " && break; sleep 0.1; done
traced "opened" && traced "picture 0 I " || fail "the installed orvane did not show $film: $(cat "$trace" 2>/dev/null)"
kill -TERM "$orvanePid"
status=0
wait "$orvanePid" || status=$?
orvanePid=""
[ "$status" -eq 0 ] || fail "orvane ended with status $status: $(cat "$work/orvane.log")"
for _ in $(seq 100); do traced "close" && break; sleep 0.1; done
traced "close" || fail "the viewer was not closed with orvane"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) of the package failed"
  exit 1
fi
echo "the package and its desktop integration check out"

#!/usr/bin/env bash
# A fresh installation into a temporary prefix: the files land where the desktop looks for them,
# every installed executable and library finds its siblings through $ORIGIN alone, and vantrel
# and vantrel-cli start from the prefix with the build folder out of sight (a mount namespace
# with an empty tmpfs over it; where that is not allowed, nothing may resolve into it).
#
#   install_test.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
tmp=$(mktemp -d /tmp/vantrel-install.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log" >&2; fail "cmake --install"; }

lib=$prefix/lib/vantrel
for f in bin/vantrel bin/vantrel-cli lib/vantrel/vantrel lib/vantrel/vantrel-cli \
  lib/vantrel/libqmvedit.so lib/vantrel/libqmvinfo.so lib/vantrel/libqmvply.so \
  lib/vantrel/libqmvplyex.so lib/vantrel/libSkin.so share/applications/vantrel.desktop \
  share/icons/hicolor/48x48/apps/vantrel.png share/icons/hicolor/scalable/apps/vantrel.svg \
  share/mime/packages/vantrel.xml share/man/man1/vantrel-cli.1; do
  [[ -e $prefix/$f ]] || fail "$f is not installed"
done
for f in "$lib"/*; do
  runpath=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [[ $runpath == '$ORIGIN' ]] || fail "$(basename "$f"): runpath '$runpath', not \$ORIGIN"
done

# Desktop entry, icon, MIME type, manual page.
desktop=$prefix/share/applications/vantrel.desktop
grep -qx "Exec=$prefix/bin/vantrel %f" "$desktop" || fail "Exec line: $(grep ^Exec "$desktop")"
grep -qx 'Categories=AudioVideo;Video;AudioVideoEditing;' "$desktop" || fail "Categories"
grep -qx 'MimeType=video/x-ms-wmv;video/x-ms-asf;video/x-qmv;' "$desktop" || fail "MimeType"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
  echo "note: desktop-file-validate not installed (desktop-file-utils)" >&2
fi
png=$prefix/share/icons/hicolor/48x48/apps/vantrel.png
[[ $(od -An -tx1 -N16 "$png" | tr -d ' \n') == 89504e470d0a1a0a0000000d49484452 ]] || fail "not a PNG"
[[ $(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n') == 0000003000000030 ]] || fail "icon not 48x48"
if command -v xmllint >/dev/null; then
  xmllint --noout "$prefix/share/icons/hicolor/scalable/apps/vantrel.svg" \
    "$prefix/share/mime/packages/vantrel.xml" || fail "xmllint"
fi
if command -v update-mime-database >/dev/null; then
  grep -qx 'video/x-qmv:\*\.qmv' "$prefix/share/mime/globs" || fail "*.qmv is not video/x-qmv"
  grep -qx 'video/x-qmv application/vnd.ms-asf' "$prefix/share/mime/subclasses" ||
    fail "video/x-qmv is no ASF clip"
fi
if command -v groff >/dev/null; then
  warnings=$(groff -man -ww -z "$prefix/share/man/man1/vantrel-cli.1" 2>&1)
  [[ -z $warnings ]] || fail "manual page: $warnings"
fi

# A clip made before the build folder goes out of sight.
clip=$tmp/clip.wmv
"$build/bin/qmvgen" --duration 2000 --size 160x120 "$clip" >/dev/null

cat >"$tmp/run.sh" <<'INSIDE'
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
if [[ -e $BUILD/bin ]]; then
  ! ldd "$LIB/vantrel" "$LIB/vantrel-cli" | grep -F "$BUILD" || fail "links into the build folder"
fi
export XDG_CONFIG_HOME=$TMP/config  # no profile naming another install folder
cd "$TMP"
info=$("$PREFIX/bin/vantrel-cli" info "$CLIP") || fail "vantrel-cli info: $?"
[[ $info == *$'\t160X120@25.00\t00:00:02\t'* ]] || fail "vantrel-cli info printed: $info"
out=$("$PREFIX/bin/vantrel-cli" montage -q "$CLIP" -s 0-1000 -o "$TMP/cut.wmv") ||
  fail "vantrel-cli montage: $?"
[[ $out == "$TMP/cut.wmv" && -s $TMP/cut.wmv ]] || fail "vantrel-cli montage wrote '$out'"
# The program opens the clip and loads its libraries from the install folder.
QT_QPA_PLATFORM=offscreen VANTREL_VIDEO_SINK=fakesink VANTREL_AUDIO_SINK=fakesink \
  "$PREFIX/bin/vantrel" "$CLIP" >"$TMP/vantrel.log" 2>&1 &
pid=$!
loaded=no
for _ in $(seq 100); do
  if grep -qF "$LIB/libSkin.so" "/proc/$pid/maps" 2>/dev/null &&
    grep -qF "$LIB/libqmvplyex.so" "/proc/$pid/maps" 2>/dev/null; then
    loaded=yes
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null || { cat "$TMP/vantrel.log" >&2; fail "vantrel did not stay up"; }
kill "$pid"
wait "$pid" || true
[[ $loaded == yes ]] || fail "vantrel did not load libSkin.so and libqmvplyex.so from $LIB"
echo "installed programs ran from $PREFIX"
INSIDE

export BUILD=$build LIB=$lib PREFIX=$prefix TMP=$tmp CLIP=$clip
if unshare -m true 2>/dev/null; then
  unshare -m bash -c 'mount -t tmpfs vantrel-hidden "$BUILD" && bash "$TMP/run.sh"'
else
  echo "note: no mount namespace here; checking that nothing resolves into $build" >&2
  bash "$tmp/run.sh"
fi

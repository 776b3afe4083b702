#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and runs the installed programs:
# the generator, the checker, resview end to end on a virtual X server, and resrender against it.
#   package_test.sh BUILD_DIR E2E_TEST
set -euo pipefail
build=$1
e2e=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: $(basename "$deb")"
echo "Depends: $depends"
for lib in libglut libc6 libegl1 libpng16 libgif7; do
    grep -q "$lib" <<<"$depends" || { echo "Depends lacks $lib"; exit 1; }
done
grep -qE 'libgl1|libopengl0' <<<"$depends" || { echo "Depends lacks the OpenGL library"; exit 1; }

dpkg-deb -x "$deb" "$work/root"
for f in bin/resview bin/rescheck bin/resrender bin/res2vtk bin/res2html bin/resdiff \
    bin/resview-sample-series share/man/man1/resdiff.1.gz \
    share/man/man1/resview.1.gz share/man/man1/rescheck.1.gz share/man/man1/resrender.1.gz \
    share/man/man1/res2vtk.1.gz share/man/man1/res2html.1.gz share/man/man1/resview-sample-series.1.gz \
    share/doc/resview/copyright; do
    test -e "$work/root/usr/$f" || { echo "missing from the package: /usr/$f"; exit 1; }
done
grep -q "^License: Expat" "$work/root/usr/share/doc/resview/copyright" || { echo "the copyright names no licence"; exit 1; }
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
    man -l "$page" 2>/dev/null | grep -q 'EXIT STATUS' || { echo "$page does not render"; exit 1; }
done

"$work/root/usr/bin/resview-sample-series" --last 20 "$work/series"
"$work/root/usr/bin/rescheck" "$work/series"
"$work/root/usr/bin/res2vtk" -o "$work/vtk/series.pvd" "$work/series"
vtu=$(grep -o 'series/res0020-[0-9a-f]*\.vtu' "$work/vtk/series.pvd")
test -s "$work/vtk/$vtu" || { echo "the installed res2vtk wrote no VTK file"; exit 1; }
"$work/root/usr/bin/res2html" -o "$work/series.html" "$work/series"
"$work/root/usr/bin/resdiff" "$work/series" "$work/series" | grep -qx same ||
    { echo "the installed resdiff does not find a series the same as itself"; exit 1; }
grep -q '</html>' "$work/series.html" || { echo "the installed res2html wrote no page"; exit 1; }

RESVIEW_EXE="$work/root/usr/bin/resview" RESRENDER_EXE="$work/root/usr/bin/resrender" "$e2e" \
    --gtest_filter='EndToEnd.FirstPicture*:EndToEnd.StepsThroughTheSeries:EndToEnd.QuitKeys*:EndToEnd.Renderer*'

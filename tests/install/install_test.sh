#!/usr/bin/env bash
# Builds the .deb packages of a build tree with cpack, unpacks them into a scratch root with
# dpkg -x, checks the layout and runs the installed gwhost --demo against the installed plug-in.
#   install_test.sh BUILD_DIR
set -uo pipefail
build=$1
if ! command -v dpkg-deb >/dev/null || ! command -v cpack >/dev/null; then
  echo "SKIP: dpkg-deb or cpack missing"; exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1
fi
debs=("$work"/pkg/*.deb)
[ ${#debs[@]} -eq 3 ] || { ls "$work/pkg"; echo "FAIL: expected three packages"; exit 1; }
root="$work/root"
for d in "${debs[@]}"; do
  echo "$(basename "$d"): $(dpkg-deb -f "$d" Package Version Depends | tr '\n' ' ')"
  dpkg-deb -x "$d" "$root" || { echo "FAIL: dpkg-deb -x $d"; exit 1; }
done
rc=0
for f in usr/lib/libVexaDev.so usr/lib/libVEXACMS.so usr/lib/libVEXAAMS.so usr/lib/libvexasdk_session.so \
         usr/bin/gwhost usr/bin/devsim usr/include/vexadev/VexaDevPlugin.h usr/share/vexadev/local_config.xml \
         usr/share/doc/vexadev/configuration.md usr/share/doc/vexadev/integration.md \
         usr/share/doc/vexadev/operations.md; do
  [ -e "$root/$f" ] || { echo "FAIL: $f not installed"; rc=1; }
done
# The plug-in package alone must not carry the access libraries.
plugin_deb=$(ls "$work"/pkg/vexadev-plugin_*.deb)
if dpkg-deb -c "$plugin_deb" | grep -q 'libVEXA'; then echo "FAIL: access libraries in the plug-in package"; rc=1; fi
# The exports a host relies on, and nothing else from the plug-in.
exports=$(nm -D --defined-only "$root/usr/lib/libVexaDev.so" | awk '$2 == "T" {print $3}' | sort | tr '\n' ' ')
[ "$exports" = "GWPLUGIN_GetPluginInterface Plugin_GetPortStatus Plugin_SetConfig " ] ||
  { echo "FAIL: plug-in exports: $exports"; rc=1; }

cd "$root/usr/share/vexadev"  # the sample configuration is read from the current directory
ulimit -n 20000 2>/dev/null || true
LD_LIBRARY_PATH="$root/usr/lib" timeout 60 "$root/usr/bin/gwhost" --demo >"$work/demo.out" 2>"$work/demo.err"
demo=$?
if [ $demo -ne 0 ]; then
  tail -n 30 "$work/demo.out"; tail -n 30 "$work/demo.err"; echo "FAIL: installed gwhost --demo exited $demo"; rc=1
fi
grep -q '"event":"loaded"' "$work/demo.out" || { echo "FAIL: the installed plug-in was not loaded"; rc=1; }
echo "demo: $(wc -l <"$work/demo.out") lines, exit $demo"
exit $rc

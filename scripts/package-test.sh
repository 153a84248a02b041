#!/usr/bin/env bash
# Builds the .deb (amd64 from build/, and armhf from build-armhf/ with --armhf),
# unpacks it into a temporary folder, checks its file list and control scripts,
# and verifies the systemd unit where systemd-analyze is available.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$root/build"
if [ "${1:-}" = "--armhf" ]; then
  dir="$root/build-armhf"
  [ -f "$dir/CMakeCache.txt" ] || "$root/scripts/cross-test.sh"
else
  "$root/scripts/build.sh" >/dev/null
fi
"$root/scripts/install-deps.sh" dpkg-dev file
( cd "$dir" && cpack -G DEB >/dev/null )
deb=$(ls -t "$dir"/orvane_*.deb | head -1)
echo "package-test: $deb"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
fail=0
# The browser front-end is built where civetweb is found (the native build).
web_exe=""
[ -x "$dir/bin/orvane-web" ] && web_exe=opt/Orvane/bin/orvane-web
for f in opt/Orvane/bin/orvane opt/Orvane/bin/orvane-jointsim opt/Orvane/bin/orvane-frontend \
         opt/Orvane/bin/orvane-camsim opt/Orvane/lib/systemd/system/orvane.service \
         opt/Orvane/share/doc/orvane/README.md opt/Orvane/share/examples/README.md \
         opt/Orvane/web/index.html opt/Orvane/web/app.js opt/Orvane/web/style.css $web_exe; do
  if [ -e "$work/root/$f" ]; then echo "  ok   /$f"; else echo "  MISSING /$f"; fail=1; fi
done
for s in postinst postrm; do
  [ -x "$work/control/$s" ] || { echo "  MISSING control script $s"; fail=1; }
done
arch=$(dpkg-deb -f "$deb" Architecture)
echo "  architecture: $arch; controller: $(file -b "$work/root/opt/Orvane/bin/orvane" | cut -d, -f1-2)"
if command -v systemd-analyze >/dev/null 2>&1; then
  # The unit names /opt/Orvane: check a copy pointing into the unpacked tree.
  # systemd-analyze reports bad settings as text with exit status 0: any output fails.
  mkdir -p "$work/unit"
  sed "s|/opt/Orvane|$work/root/opt/Orvane|g" "$work/root/opt/Orvane/lib/systemd/system/orvane.service" \
    > "$work/unit/orvane.service"
  if systemd-analyze verify "$work/unit/orvane.service" >"$work/verify.txt" 2>&1 && [ ! -s "$work/verify.txt" ]; then
    echo "  systemd-analyze verify: ok"
  else
    echo "  systemd-analyze verify:"; cat "$work/verify.txt"; fail=1
  fi
else
  echo "  systemd-analyze: not available, unit not verified"
fi
[ $fail -eq 0 ] && echo "package-test: passed" || { echo "package-test: FAILED"; exit 1; }

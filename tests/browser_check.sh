#!/usr/bin/env bash
# Loads pages that the tul program writes for the bundled examples in headless
# Chromium: the overview, the type page, a template page and the value page
# each load without error and are saved as PNG screenshots, and the marker
# image decodes as a 14 x 14 picture.
#
# Usage: browser_check.sh TUL EXAMPLES OUTDIR
# Exits 77 (skipped) when Chromium is missing, except in CI, where it fails.
set -euo pipefail
tul=$1 examples=$2 out=$3

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "chromium not found; scripts/install-deps.sh installs it"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi

rm -rf "$out"
mkdir -p "$out/screens"
"$tul" --defs "$examples/snmpv1.defs" --defs "$examples/mib2.defs" \
  html --value "$examples/trap.txt" "$out/pages"

# Each run gets a fresh profile and stays off the network.
run_browser() {
  local profile
  profile=$(mktemp -d)
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" "$@"
  local status=$?
  rm -rf "$profile"
  return $status
}

status=0
for page in overview asn1types attributes value; do
  file="$out/pages/$page.html"
  png="$out/screens/$page.png"
  log=$(run_browser --window-size=900,640 --hide-scrollbars --screenshot="$png" "file://$file" 2>&1) || true
  if grep -q "Page load failed" <<<"$log" || [ "$(head -c 4 "$png" 2>/dev/null | od -An -tx1 | tr -d ' ')" != "89504e47" ]; then
    echo "FAILED: $page.html did not load"
    echo "$log"
    status=1
  else
    echo "ok: $page.html -> $png"
  fi
done

cat >"$out/gif_probe.html" <<'HTML'
<img src="pages/reddot.gif">
<script>
window.onload = function () {
  var image = document.images[0];
  document.title = image.naturalWidth ? image.naturalWidth + "x" + image.naturalHeight : "broken";
};
</script>
HTML
dom=$(run_browser --virtual-time-budget=5000 --dump-dom "file://$out/gif_probe.html" 2>/dev/null) || true
if grep -q "<title>14x14</title>" <<<"$dom"; then
  echo "ok: reddot.gif decodes as 14 x 14"
else
  echo "FAILED: reddot.gif did not decode"
  status=1
fi
exit $status

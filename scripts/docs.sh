#!/usr/bin/env bash
# Builds the API reference into build/docs/html (index.html) with Doxygen from the installed
# headers' `///` contracts. A warning, among them an undocumented public member, fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh docs

# The installed headers: those of the library's units (sys/ is not installed), less the seams
# that qninet/internal-headers.txt keeps inside, and the Qt backend's.
internal=$(grep -E '^[a-z]' qninet/internal-headers.txt 2>/dev/null | sed 's|^|qninet/|' || true)
headers=()
while IFS= read -r header; do
  grep -qxF "$header" <<<"$internal" || headers+=("$header")
done < <(find qninet/rtl qninet/platform qninet/core qninet/socket qninet/xml qninet/web qninet/design \
           -name '*.h' | sort; echo qninet/gui/qt/QtBackend.h)

out=build/docs
rm -rf "$out"
mkdir -p "$out"
log="$out/warnings.log"
if ! { cat docs/Doxyfile; echo "INPUT = ${headers[*]}"; echo "OUTPUT_DIRECTORY = $out"
       echo "WARN_LOGFILE = $log"; } | doxygen - >/dev/null; then
  cat "$log" >&2
  echo "docs: $(grep -cE '(warning|error): ' "$log") warnings" >&2
  exit 1
fi
echo "docs: $out/html/index.html (${#headers[@]} headers)"

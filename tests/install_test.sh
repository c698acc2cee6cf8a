#!/bin/sh
# Installs the build into a fresh prefix and runs the Quick start, and the
# other tools, from PATH there: what a user gets from cmake --install.
#   install_test.sh BUILD_DIR PYTHON
set -eu
build=$1
python=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
PATH="$prefix/bin:$PATH"
cd "$prefix"
for program in ravgen ravan ravdelay ravsim ravplot; do
  command -v "$program" | grep -q "^$prefix/bin/" || { echo "not installed on PATH: $program"; exit 1; }
done
[ -f share/doc/toneburst/README.md ] || { echo "README not installed"; exit 1; }

ravgen sweep.wav >/dev/null
ravan sweep.wav >report.txt
rows=$(awk 'header { n++ } /^numCyc/ { header = 1 } END { print n + 0 }' report.txt)
[ "$rows" = 201 ] || { echo "installed ravan wrote $rows rows"; exit 1; }
ravsim sweep.wav rec.wav --latency 1000 --lowpass 3000 --device-on 1
ravdelay rec.wav | grep -q "^delay:	23050$" || { echo "installed ravdelay did not find 23050"; exit 1; }
if "$python" -c "import numpy, matplotlib" 2>/dev/null; then
  "$python" "$(command -v ravplot)" report.txt -o response.png >/dev/null
  [ -s response.png ] || { echo "installed ravplot drew nothing"; exit 1; }
else
  echo "ravplot part skipped: install python3-matplotlib and python3-numpy"
fi
echo "installed and ran from $prefix"

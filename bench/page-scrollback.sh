#!/bin/bash
# A page of scrollback drawn in headless Chromium (bench/page_scrollback.mjs)
# against the Kavrix of the build directory given.
#   bench/page-scrollback.sh <build-dir>
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: bench/page-scrollback.sh <build-dir>}" && pwd)
"$here/../scripts/browser-deps.sh"
KVX_BINARY_DIR=$build node "$here/page_scrollback.mjs"

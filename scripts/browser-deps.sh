#!/bin/bash
# Installs the browser-test driver (playwright-core, which uses Debian's
# chromium; no browser is downloaded) when its lock file changed.
set -e
cd "$(dirname "$0")/../tests/browser"
[ -f package.json ] || exit 0
if [ ! -d node_modules ] || [ package-lock.json -nt node_modules/.stamp ]; then
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --silent --no-audit --no-fund
  touch node_modules/.stamp
fi

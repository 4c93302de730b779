#!/usr/bin/env bash
# A short benchmark run for CI: builds the benchmark and runs every case
# against nginx, as the full run does, with small sizes and few rounds.
# It fails when something does not work or the library's results differ
# from the references; a quick run's figures mean nothing, so the targets
# are not judged here.
set -euo pipefail
exec bash "$(dirname "${BASH_SOURCE[0]}")/run.sh" --quick

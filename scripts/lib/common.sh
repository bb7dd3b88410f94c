# The setup that the top-level scripts share; sourced, never run. It leaves them in the project's
# folder with `root` (that folder) and `jobs` (the build's parallelism) set.
#   bootstrap_as_root   installs what is missing, when run as root (a developer who is not root
#                       has installed it before)
#   choose_windows_run  picks this machine's Windows run (scripts/windows-run), says which and
#                       why, and exports it as UPDATER_WINDOWS for every program started after;
#                       `run` holds it, `way` how the 32-bit programs run (native, vm, none),
#                       asked before the export, which would read as a forced run
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
jobs=$(nproc)

bootstrap_as_root() {
  if [ "$(id -u)" = 0 ]; then
    scripts/bootstrap
  fi
}

choose_windows_run() {
  run=$(scripts/windows-run)
  way=$(scripts/windows-run way)
  scripts/windows-run why
  export UPDATER_WINDOWS=$run
}

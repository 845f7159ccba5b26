# Sourced by the scripts that build. The compilers print their link line with the names of
# their temporary files unquoted, and CMake reads that line as shell words to find the
# system's library folders: a quote in TMPDIR opens a word that never closes, and the system's
# libraries (zlib first) are not found. The builds then keep their temporary files in /tmp;
# the tests keep the runner's TMPDIR.
case "${TMPDIR:-}" in
  *[\"\']*)
    [ -n "${QMX_TMPDIR_NOTED:-}" ] || echo "note: TMPDIR ($TMPDIR) holds a quote, which the compilers' link lines leave as it is: the builds' temporary files go to /tmp"
    export QMX_TMPDIR_NOTED=1
    cmake() { TMPDIR=/tmp command cmake "$@"; } ;;
esac

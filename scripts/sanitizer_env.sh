# Sourced by the scripts that run sanitized programs: sets ASAN_OPTIONS, LSAN_OPTIONS and
# UBSAN_OPTIONS. Usage: . scripts/sanitizer_env.sh "<AddressSanitizer defaults, or empty>"
# The defaults go first, then the caller's own options, and the ones that decide whether a
# fault fails the run come last of all, so that none of the caller's can turn a failure into
# a pass (exitcode=0, halt_on_error=0, detect_leaks=0, a suppressions file, ...). The three
# variables are read in turn and share these flags, so each one ends with them.
# halt_on_error also makes undefined behaviour end the run (the fuzz targets are built to
# recover from it).
sanitizer_decisive="exitcode=1:halt_on_error=1:detect_leaks=1:allocator_may_return_null=0:suppressions="
export ASAN_OPTIONS="${1:+$1:}${ASAN_OPTIONS:+$ASAN_OPTIONS:}$sanitizer_decisive"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}$sanitizer_decisive"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}:$sanitizer_decisive"
unset sanitizer_decisive

# Sourced by the scripts that run sanitized programs: sets ASAN_OPTIONS, LSAN_OPTIONS and
# UBSAN_OPTIONS. Usage: . scripts/sanitizer_env.sh "<AddressSanitizer defaults, or empty>"
# The defaults go first, then the caller's own options, and the ones that decide whether a
# fault fails the run come last of all (the last of a repeated option wins), so that none of
# the caller's can turn a failure into a pass: not an exit status of 0, not going on after an
# error, not a leak check turned off or skipped at exit, not a heap left unpoisoned or a check
# switched off, not a suppressions file. The runtime reads the three variables in turn and the
# common options (exitcode, detect_leaks, ...) are shared, so each variable ends with them.
# halt_on_error also makes undefined behaviour end the run (the fuzz targets are built to
# recover from it); abort_on_error=0 keeps the exit status exitcode's.
sanitizer_common="exitcode=1:abort_on_error=0:detect_leaks=1:leak_check_at_exit=1:allocator_may_return_null=0:suppressions="
# AddressSanitizer's own checks, each of which a caller could turn off.
sanitizer_asan="halt_on_error=1:poison_heap=1:poison_partial=1:poison_array_cookie=1:replace_str=1:replace_intrin=1"
sanitizer_asan+=":detect_container_overflow=1:alloc_dealloc_mismatch=1:new_delete_type_mismatch=1:detect_odr_violation=2"
export ASAN_OPTIONS="${1:+$1:}${ASAN_OPTIONS:+$ASAN_OPTIONS:}$sanitizer_asan:$sanitizer_common"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}$sanitizer_common"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}:halt_on_error=1:$sanitizer_common"
unset sanitizer_common sanitizer_asan

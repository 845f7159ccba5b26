#!/usr/bin/env bash
# Refuses the C library's locale-following character calls in the program's sources and fuzz
# targets: the application sets LC_CTYPE from the environment, and under a Turkish locale
# strcasecmp("I", "i") is not 0 and 0xFD lowers like 'I'. Outside words are compared with
# __stricmp/__memicmp and classed with the base library's own helpers (base/strings.h).
# Prints one "ci: <file>:<line>: ..." line a call and exits 1 when it finds any.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
calls='str(n)?casecmp|strcasestr|wcs(n)?casecmp|strcoll|strxfrm|to(w)?(lower|upper)'
calls+='|is(w)?(alpha|upper|lower|alnum|space|digit|xdigit|print|punct|cntrl|graph|blank)'
# Any use of the names (a call, or a function handed on as ::tolower is), in either form
# (std::, or _l after). Whole-line comments are left out, so a comment may name what it avoids.
word="(^|[^A-Za-z0-9_])($calls)(_l)?([^A-Za-z0-9_]|\$)"
found=$(grep -rnE --include='*.c' --include='*.cc' --include='*.cpp' --include='*.h' --include='*.hpp' \
  "$word" src fuzz | grep -vE '^[^:]+:[0-9]+:[[:space:]]*(//|/?\*)' || true)
[ -z "$found" ] && exit 0
while IFS= read -r hit; do
  where=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  call=$(grep -oE "$word" <<<"${rest#*:}" | head -1 | sed -E 's/^[^A-Za-z]//; s/[^A-Za-z0-9_]$//')
  echo "ci: $where:$line: $call follows the C library's locale (LC_CTYPE); use the base library's ASCII" \
    "forms instead (__stricmp, __memicmp, __acp_lower in base/strings.h)" >&2
done <<<"$found"
exit 1

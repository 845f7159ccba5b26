#!/usr/bin/env bash
# Refuses the C library's locale-following calls in the program's sources and fuzz targets:
# the application sets LC_CTYPE from the environment, and under a Turkish locale
# strcasecmp("I", "i") is not 0 and 0xFD lowers like 'I'; under ja_JP.EUC-JP mbrtowc reads
# UTF-8 text as EUC-JP. Outside words are compared with __stricmp/__memicmp and classed with
# the base library's own helpers, text is converted with _pc2w/_w2pc (base/strings.h).
# Every C and C++ source and include file is read with its comments taken out as the compiler
# takes them (// to the end of the line, /* ... */ across lines, neither inside a string or
# character literal), so a comment may name what it avoids and code is never taken for one.
# Prints one "ci: <file>:<line>: <call> ..." line a hit and exits 1 when it finds any.
# Needs only bash, find, sort, awk and grep (it runs before the set-up), all in the C locale:
# a source is bytes, whatever the runner's codeset makes of them.
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# The families, each with the reason its hit line gives.
ctype='str(n)?casecmp|strcasestr|wcs(n)?casecmp|strcoll|wcscoll|strxfrm|wcsxfrm|_?to(lower|upper)|tow(lower|upper)'
ctype+='|is(w)?(alpha|upper|lower|alnum|space|digit|xdigit|print|punct|cntrl|graph|blank)|iswctype|wctype|towctrans|wctrans'
multibyte='mbstowcs|wcstombs|mbsrtowcs|wcsrtombs|mbsnrtowcs|wcsnrtombs|mbrtowc|wcrtomb|mbtowc|wctomb|mblen|mbrlen'
multibyte+='|btowc|wctob|mbrtoc(8|16|32)|c(8|16|32)rtomb|iconv(_open|_close)?'
matching='regcomp|fnmatch'
cxxlocale='std::locale|use_facet|has_facet'
switching='setlocale|uselocale|newlocale'
# Any use of the names (a call, or a function handed on as ::tolower is), in either form
# (std::, or _l after).
names="($ctype|$multibyte|$matching|$cxxlocale|$switching)(_l)?([^A-Za-z0-9_]|\$)"
word="(^|[^A-Za-z0-9_])$names"
# The program's one locale call: the X11 window maker takes LC_CTYPE from the environment (an
# input method needs it). Each line here is allowed once, in its file, as it stands (blanks
# at its ends aside); any other setlocale fails.
allowed=(
  'src/x11/x11maker.cpp	const char* ctype = setlocale(LC_CTYPE, nullptr);'
  'src/x11/x11maker.cpp	if (!setlocale(LC_CTYPE, "")) setlocale(LC_CTYPE, "C.UTF-8");'
)

# Each line of every source as "<file><TAB><line><TAB><code>", its comments blanked. A literal
# is kept (string, character, raw string R"x(...)x"), a ' after a digit is a separator, a
# backslash at a line's end carries a // comment or a literal onto the next line.
strip='
  FNR == 1 { state = "code" }
  {
    line = $0; out = ""
    if (state == "linecomment") {
      if (line !~ /\\$/) state = "code"
      print FILENAME "\t" FNR "\t"; next
    }
    while (line != "") {
      if (state == "block") {
        at = index(line, "*/")
        if (!at) break
        line = substr(line, at + 2); out = out " "; state = "code"
      } else if (state == "string" || state == "char") {
        q = state == "string" ? "\"" : "\047"
        n = length(line); i = 1
        while (i <= n) {
          c = substr(line, i, 1)
          if (c == "\\") i += 2
          else if (c == q) break
          else i++
        }
        if (i > n) {
          # Open at the end: a backslash there carries it on, else it ends (ill-formed).
          out = out line
          if (line !~ /\\$/) state = "code"
          break
        }
        out = out substr(line, 1, i); line = substr(line, i + 1); state = "code"
      } else if (state == "raw") {
        at = index(line, rawend)
        if (!at) { out = out line; break }
        out = out substr(line, 1, at + length(rawend) - 1); line = substr(line, at + length(rawend))
        state = "code"
      } else {
        if (!match(line, /[\/"\047]/)) { out = out line; break }
        out = out substr(line, 1, RSTART - 1); c = substr(line, RSTART, 1); line = substr(line, RSTART + 1)
        if (c == "/") {
          d = substr(line, 1, 1)
          if (d == "/") {
            if (line ~ /\\$/) state = "linecomment"
            break
          }
          if (d == "*") { state = "block"; line = substr(line, 2); out = out " "; continue }
          out = out c
        } else if (c == "\"" && match(out, /(^|[^A-Za-z0-9_])(u8|u|U|L)?R$/) && match(line, /^[^ ()\\\t]*\(/)) {
          rawend = ")" substr(line, 1, RLENGTH - 1) "\""
          out = out c substr(line, 1, RLENGTH); line = substr(line, RLENGTH + 1); state = "raw"
        } else if (c == "\047" && match(out, /[A-Za-z0-9_.\047]+$/) && substr(out, RSTART, 1) ~ /[0-9]/) {
          out = out c
        } else {
          out = out c; state = c == "\"" ? "string" : "char"
        }
      }
    }
    print FILENAME "\t" FNR "\t" out
  }'
tab=$'\t'
found=$(find src fuzz -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cp' -o -name '*.cpp' -o -name '*.cxx' \
  -o -name '*.c++' -o -name '*.C' -o -name '*.CPP' -o -name '*.h' -o -name '*.hh' -o -name '*.hpp' -o -name '*.hxx' \
  -o -name '*.h++' -o -name '*.H' -o -name '*.inc' -o -name '*.inl' -o -name '*.ipp' -o -name '*.tcc' -o -name '*.tpp' \
  -o -name '*.ixx' -o -name '*.cppm' \) -print0 | sort -z | xargs -0 -r awk "$strip" |
  grep -aE "^[^$tab]*$tab[0-9]+$tab(.*[^A-Za-z0-9_])?$names" || true)
[ -z "$found" ] && exit 0
declare -A allow=()
for a in "${allowed[@]}"; do allow[$a]=1; done
status=0
while IFS=$tab read -r where line code; do
  text=$(sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//' <<<"$code")
  if [ "${allow[$where$tab$text]:-0}" = 1 ]; then
    allow[$where$tab$text]=0
    continue
  fi
  call=$(grep -aoE "$word" <<<"$code" | head -1 | sed -E 's/^[^A-Za-z_]//; s/[^A-Za-z0-9_]$//')
  case ${call%_l} in
    setlocale | uselocale | newlocale)
      why="changes the process's locale: the program's one setlocale takes LC_CTYPE from the environment in"
      why+=" src/x11/x11maker.cpp and every other category stays \"C\"" ;;
    std::locale | use_facet | has_facet)
      why="reads a C++ locale, which may be the runner's; use the base library's ASCII forms (__stricmp,"
      why+=" __acp_lower in base/strings.h)" ;;
    regcomp | fnmatch)
      why="matches by the C library's locale (LC_CTYPE: its classes and case folding); compare with the base"
      why+=" library's ASCII forms (__stricmp, __memicmp in base/strings.h)" ;;
    mb* | wc* | btowc | wctob | c8* | c16* | c32* | iconv*)
      why="converts by the C library's locale (LC_CTYPE), whose codeset is the runner's; text here is UTF-8 and"
      why+=" UTF-16 (_pc2w, _w2pc in base/strings.h)" ;;
    *)
      why="follows the C library's locale (LC_CTYPE); use the base library's ASCII forms instead (__stricmp,"
      why+=" __memicmp, __acp_lower in base/strings.h)" ;;
  esac
  echo "ci: $where:$line: $call $why" >&2
  status=1
done <<<"$found"
exit $status

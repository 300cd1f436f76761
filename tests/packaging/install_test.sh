#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it as a user would,
# from another folder: one version everywhere, the man page and bash
# completion against the help text, the documents the README links to, a
# read of the simulated drive with the installed examples, the systemd units
# of a /usr/local installation. Then builds the Debian package, checks its
# control data and contents, its units at /usr, and runs lintian on it.
#
# usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
status=0 failures=0 seen=0
fail() { echo "FAIL: $*"; status=1; failures=$((failures + 1)); }
ok() { [ $failures -eq $seen ] && echo "ok: $*"; seen=$failures; }  # a part that failed is not ok

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
quellix=$prefix/bin/quellix
mkdir "$work/elsewhere" && cd "$work/elsewhere" || exit 1

# --version: name, version, build date, commit; no trace log left behind.
version_text=$("$quellix" --version); code=$?
echo "$version_text"
[ $code -eq 0 ] || fail "--version exited with $code"
version=$(sed -n -E 's/^quellix ([0-9]+(\.[0-9]+)+)$/\1/p' <<<"$version_text")
[ -n "$version" ] || fail "--version lacks the name and version"
grep -q '^build date: ' <<<"$version_text" || fail "--version lacks the build date"
grep -q '^commit: ' <<<"$version_text" || fail "--version lacks the commit"
[ ! -e quellix.trace.log ] || fail "--version wrote a trace log"
ok "--version"

# The options of the help text, one a line: -n, --nvme, ..., --report.
"$quellix" -h >help.txt 2>&1 || fail "-h failed"
options=$(grep -oE '(^|[ ,])--?[a-z][a-z-]*' help.txt | sed 's/^[ ,]*//' | sort -u)
[ "$(wc -l <<<"$options")" -ge 20 ] || fail "the help text shows only these options: $options"

# The man page: compressed, the program's version, renders without a
# warning, and covers every option, the environment and the files written.
page=$prefix/share/man/man1/quellix.1.gz
if [ ! -f "$page" ]; then
  fail "no compressed man page at share/man/man1/quellix.1.gz"
else
  gzip -dc "$page" >quellix.1
  [ "$(head -c 3 "$page" | od -An -tx1 | tr -d ' \n')" = 1f8b08 ] || fail "the man page is not gzip data"
  grep -q "^\.TH QUELLIX 1 .*\"quellix $version\"" quellix.1 || fail "the man page's version is not $version"
  warnings=$(groff -man -ww -z quellix.1 2>&1)
  [ -z "$warnings" ] || fail "groff warns about the man page: $warnings"
  if command -v man >/dev/null; then
    rendered=$(MANPAGER=cat MANWIDTH=80 man -l "$page" 2>/dev/null)
    grep -q 'EXIT STATUS' <<<"$rendered" || fail "man -l does not show the page"
  fi
  while IFS= read -r option; do
    grep -qF -- "${option//-/\\-}" quellix.1 || fail "the man page does not mention $option"
  done <<<"$options"
  for needle in NO_COLOR 'read feature 01h' 'abort time' nvme.info.json 'nvme.info.sample\-N.json' \
                read.summary.json selftest.summary.json read.report.html selftest.report.html \
                read.journal.jsonl selftest.journal.jsonl quellix.trace.log 'metrics file' \
                'read.summary.interrupted' parameter_list.json ALL.filter.json; do
    grep -qF -- "$needle" quellix.1 || fail "the man page does not mention $needle"
  done
fi
ok "man page"

# The documents: every document the README links to, beside it.
docs=$prefix/share/doc/quellix
[ -f "$docs/README.md" ] || fail "no README.md in share/doc/quellix"
for link in $(grep -oE '\]\(docs/[^)#]+' "$docs/README.md" | sed 's/^](//' | sort -u); do
  [ -f "$docs/$link" ] || fail "the README links to $link, which is not installed"
done
[ "$(gzip -dc "$docs/changelog.gz" 2>/dev/null | head -n 1)" = "quellix ($version) unstable; urgency=medium" ] ||
  fail "changelog.gz does not begin with version $version"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$docs/copyright" ||
  fail "no machine-readable copyright file"
ok "documents, changelog and copyright"

# A read of the simulated drive with the installed examples, and the health
# check, whose rules file lies beside its command file.
"$quellix" "$prefix/share/quellix/examples/read" -n sim -d results >read.out 2>&1 || fail "installed read: $(tail -n 3 read.out)"
[ -s results/nvme.info.json ] || fail "the installed read wrote no info document"
"$quellix" "$prefix/share/quellix/examples/health-check" -n sim -d health >health.out 2>&1 ||
  fail "installed health check: $(tail -n 3 health.out)"
"$quellix" "$prefix/share/quellix/examples/read" -n "sim:$prefix/share/quellix/examples/drives/two-namespaces.json" \
  -d two >two.out 2>&1 || fail "installed drive description: $(tail -n 3 two.out)"
ok "reads with the installed examples from another folder"

# Bash completion: every option of the help text, command files of the
# current folder, drives, and the arguments of the options that take one.
mkdir "$work/completion" && cd "$work/completion" || exit 1
cp "$prefix/share/quellix/examples/read.cmd.json" .
mkdir runs
complete_words() {  # words... (the last one is being completed)
  bash -c 'source "$1"; shift; complete -p quellix >/dev/null || exit 1
           COMP_WORDS=(quellix "$@"); COMP_CWORD=$#; _quellix; printf "%s\n" "${COMPREPLY[*]}"' \
    _ "$prefix/share/bash-completion/completions/quellix" "$@"
}
completions="$(complete_words --ver)|$(complete_words re)|$(complete_words read -n si)|$(complete_words --recover ru)"
[ "$completions" = '--version|read|sim sim:|runs' ] || fail "completions: $completions"
while IFS= read -r option; do
  grep -qxF -- "$option" <<<"$(complete_words "$option" | tr ' ' '\n')" || fail "the completion does not offer $option"
done <<<"$options"
ok "bash completion"

# Units of a /usr/local installation (the README's), checked in a root that
# has the system's units: systemd-analyze verify finds the program there.
verify_units() {  # root, unit folder in it, label
  local root=$1 units=$1$2
  mkdir -p "$root/usr/lib/systemd/system" && cp -a /usr/lib/systemd/system/. "$root/usr/lib/systemd/system/"
  grep -q "^ExecStart=$3/bin/quellix $3/share/quellix/examples/metrics " "$units/quellix-metrics@.service" ||
    fail "the unit's ExecStart is not of $3: $(grep ExecStart "$units/quellix-metrics@.service")"
  (cd "$units" && systemd-analyze verify --man=no --root="$root" quellix-metrics@nvme0.service \
     quellix-metrics@nvme0.timer) || fail "systemd-analyze verify of the $3 units"
}
if ! command -v systemd-analyze >/dev/null; then
  fail "systemd-analyze is missing (package systemd)"
else
  DESTDIR=$work/usr-local cmake --install "$build" --prefix /usr/local >"$work/install-local.log" 2>&1 ||
    { cat "$work/install-local.log"; fail "install into /usr/local"; }
  verify_units "$work/usr-local" /usr/local/lib/systemd/system /usr/local
  ok "systemd units of a /usr/local installation"
fi

# The Debian package.
cd "$work" || exit 1
static=yes
readelf -d "$quellix" 2>/dev/null | grep NEEDED >/dev/null && static=no
if ! command -v dpkg-shlibdeps >/dev/null; then
  fail "dpkg-shlibdeps is missing (package dpkg-dev)"
else
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
  deb=$(ls "$work"/package/*.deb 2>/dev/null | head -n 1)
  if [ -z "$deb" ]; then
    fail "no .deb was built"
  else
    echo "== dpkg-deb -I $(basename "$deb")"
    dpkg-deb -I "$deb" | tee "$work/control"
    echo "== dpkg-deb -c $(basename "$deb")"
    dpkg-deb -c "$deb" | tee "$work/contents"
    grep -q '^ Package: quellix$' "$work/control" || fail "control: no package name"
    grep -q "^ Version: ${version//./\\.}\$" "$work/control" || fail "control: the version is not $version"
    grep -Eq '^ Maintainer: [^<]+ <[^@]+@[a-z0-9-]+(\.[a-z0-9-]+)+>$' "$work/control" || fail "control: no maintainer"
    if [ $static = yes ]; then
      ! grep -q '^ Depends:' "$work/control" || fail "control: a self-contained binary depends on packages"
    else
      grep -Eq '^ Depends: .*libc6' "$work/control" || fail "control: dependencies not from the linked libraries"
    fi
    for file in ./usr/bin/quellix ./usr/share/man/man1/quellix.1.gz ./usr/share/bash-completion/completions/quellix \
                ./usr/share/quellix/examples/read.cmd.json ./usr/share/quellix/examples/rules/health.rules.json \
                ./usr/share/quellix/examples/drives/two-namespaces.json ./usr/share/doc/quellix/copyright \
                ./usr/share/doc/quellix/changelog.gz ./usr/share/doc/quellix/docs/formats.md ./usr/share/quellix/schema/info-document.schema.json \
                ./usr/lib/systemd/system/quellix-metrics@.service ./usr/lib/systemd/system/quellix-metrics@.timer; do
      grep -qF " $file" "$work/contents" || fail "the package lacks $file"
    done
    if command -v systemd-analyze >/dev/null; then
      dpkg-deb -x "$deb" "$work/usr"
      verify_units "$work/usr" /usr/lib/systemd/system /usr
    fi
    ok "Debian package"

    # lintian, as a Debian maintainer runs it; any error or warning fails.
    if ! command -v lintian >/dev/null; then
      fail "lintian is missing (package lintian)"
    else
      echo "== lintian --display-info --show-overrides $(basename "$deb")"
      lintian --display-info --show-overrides "$deb" >"$work/lintian.log" 2>&1
      grep -v 'running with root privileges' "$work/lintian.log"
      if grep -Eq '^[EW]: ' "$work/lintian.log"; then
        fail "lintian reports errors or warnings"
      else
        ok "lintian: no error, no warning"
      fi
    fi
  fi
fi
exit $status

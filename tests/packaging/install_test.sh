#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it as a user would,
# from another folder: --version, the man page, bash completion, a read of
# the simulated drive with the installed examples. Then builds the Debian
# package and checks its control data and contents.
#
# usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
status=0
fail() { echo "FAIL: $*"; status=1; }
ok() { echo "ok: $*"; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
quellix=$prefix/bin/quellix
mkdir "$work/elsewhere" && cd "$work/elsewhere" || exit 1

# --version: name, version, build date, commit; no trace log left behind.
version=$("$quellix" --version); code=$?
echo "$version"
[ $code -eq 0 ] || fail "--version exited with $code"
grep -q '^quellix 0\.9\.3\.0$' <<<"$version" || fail "--version lacks the name and version"
grep -q '^build date: ' <<<"$version" || fail "--version lacks the build date"
grep -q '^commit: ' <<<"$version" || fail "--version lacks the commit"
[ ! -e quellix.trace.log ] || fail "--version wrote a trace log"
ok "--version"

# The man page renders without a warning; man shows it.
page=$prefix/share/man/man1/quellix.1
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns about the man page: $warnings"
if command -v man >/dev/null; then
  rendered=$(MANPAGER=cat MANWIDTH=80 man -l "$page" 2>/dev/null)
  grep -q 'EXIT STATUS' <<<"$rendered" || fail "man -l does not show the page"
fi
for needle in '\-\-list' '\-\-version' 'read feature 01h' 'abort time' 'selftest.summary.json'; do
  grep -qF -- "$needle" "$page" || fail "the man page does not mention $needle"
done
ok "man page"

# A read of the simulated drive with the installed examples, and the health
# check, whose rules file lies beside its command file.
"$quellix" "$prefix/share/quellix/examples/read" -n sim -d results >read.out 2>&1 || fail "installed read: $(tail -n 3 read.out)"
[ -s results/nvme.info.json ] || fail "the installed read wrote no info document"
"$quellix" "$prefix/share/quellix/examples/health-check" -n sim -d health >health.out 2>&1 ||
  fail "installed health check: $(tail -n 3 health.out)"
"$quellix" "$prefix/share/quellix/examples/read" -n "sim:$prefix/share/quellix/examples/drives/two-namespaces.json" \
  -d two >two.out 2>&1 || fail "installed drive description: $(tail -n 3 two.out)"
ok "reads with the installed examples from another folder"

# Bash completion: options, command files of the current folder, drives.
mkdir "$work/completion" && cd "$work/completion" || exit 1
cp "$prefix/share/quellix/examples/read.cmd.json" .
completions=$(bash -c '
  source "$1"
  complete -p quellix >/dev/null || exit 1
  COMP_WORDS=(quellix --ver); COMP_CWORD=1; _quellix; echo "${COMPREPLY[*]}"
  COMP_WORDS=(quellix re); COMP_CWORD=1; _quellix; echo "${COMPREPLY[*]}"
  COMP_WORDS=(quellix read -n si); COMP_CWORD=3; _quellix; echo "${COMPREPLY[*]}"
' _ "$prefix/share/bash-completion/completions/quellix") || fail "the completion does not load"
[ "$completions" = $'--version\nread\nsim sim:' ] || fail "completions: ${completions//$'\n'/ | }"
ok "bash completion"

# The Debian package.
cd "$work" || exit 1
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
    grep -q '^ Version: 0\.9\.3$' "$work/control" || fail "control: no version"
    grep -Eq '^ Depends: .*libc6' "$work/control" || fail "control: dependencies not from the linked libraries"
    for file in ./usr/bin/quellix ./usr/share/man/man1/quellix.1 ./usr/share/bash-completion/completions/quellix \
                ./usr/share/quellix/examples/read.cmd.json ./usr/share/quellix/examples/rules/health.rules.json \
                ./usr/share/quellix/examples/drives/two-namespaces.json ./usr/share/quellix/schema/info-document.schema.json; do
      grep -qF " $file" "$work/contents" || fail "the package lacks $file"
    done
    ok "Debian package"
  fi
fi
exit $status

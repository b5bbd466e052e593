#!/usr/bin/env bash
# The one version that wsq.h sets, everywhere a user meets a version: each
# program's --version (its own and the library's), each manual page's
# header, and the file names the README gives the Java archive and the
# JavaScript tarball. Usage: version_test.sh SOURCE_DIR VERSION PROGRAM...
root=$1 version=$2
shift 2
status=0
# Every MAJOR.MINOR.PATCH in the text must be the version.
expect() {
  local found
  for found in $(grep -oE '[0-9]+\.[0-9]+\.[0-9]+' <<<"$2"); do
    [[ $found == "$version" ]] || { echo "$1 names $found, not $version"; status=1; }
  done
  [[ $2 == *"$version"* ]] || { echo "$1 names no version: $2"; status=1; }
}
for program; do expect "${program##*/} --version" "$("$program" --version)"; done
for page in "$root"/docs/*.1; do expect "${page#"$root"/}" "$(head -n 1 "$page")"; done
expect "README's package names" "$(grep -oE 'wsq-[0-9.]+[0-9]\.(jar|tgz)' "$root/README.md")"
exit $status

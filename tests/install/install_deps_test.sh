#!/usr/bin/env bash
# scripts/install-deps.sh with stand-ins for dpkg-query, apt-get, systemctl
# and update-rc.d on PATH: the groups ./run.sh installs hold no test server
# or test tool, apt-get runs under a policy-rc.d that forbids starting
# services (removed afterwards, one already there left alone), and the
# servers installed are disabled, those already there are not.
# usage: install_deps_test.sh SOURCE-DIR
source "$(dirname "$0")/common.sh"
src=$1
script=$src/scripts/install-deps.sh
[ "$(id -u)" -eq 0 ] || skip "needs root (no sudo in the stand-in set-up)"

# Packages of the test suite that ./run.sh must never install.
test_only="vsftpd tgt python3-pyftpdlib xvfb imagemagick xdotool clang-tidy clang-format lintian libgtest-dev"
for groups in "build" "build desktop" "build desktop package"; do
  listed=$(bash "$script" --list $groups) || fail "--list $groups failed"
  for p in $test_only; do
    grep -qx -- "$p" <<<"$listed" && fail "group(s) '$groups' install $p"
  done
done
for p in vsftpd tgt xvfb lintian appstream; do
  bash "$script" --list test | grep -qx -- "$p" || fail "the test group lacks $p"
done
out=$(bash "$script" nonsense 2>&1)
[ $? -eq 64 ] || fail "an unknown group is not refused: $out"

bin=$scratch/bin
mkdir -p "$bin"
log=$scratch/calls
policy=$scratch/policy-rc.d
# INSTALLED: the packages the stand-in dpkg-query reports as installed.
cat >"$bin/dpkg-query" <<'SH'
#!/bin/sh
for last; do :; done
for p in $INSTALLED; do [ "$p" = "$last" ] && { printf 'install ok installed'; exit 0; }; done
exit 1
SH
# apt-get records its arguments and what policy-rc.d answers meanwhile.
cat >"$bin/apt-get" <<SH
#!/bin/sh
if [ -x "$policy" ]; then "$policy" vsftpd start; echo "apt-get \$* (policy \$?)"; else echo "apt-get \$* (no policy)"; fi >>"$log"
SH
printf '#!/bin/sh\necho "systemctl $*" >>"%s"\n' "$log" >"$bin/systemctl"
printf '#!/bin/sh\necho "update-rc.d $*" >>"%s"\n' "$log" >"$bin/update-rc.d"
chmod +x "$bin"/*

run() {  # run GROUPS...: the calls made, one a line
  rm -f "$log"
  PATH="$bin:$PATH" VAULTIX_POLICY_RC_D=$policy bash "$script" "$@" >/dev/null 2>&1 ||
    fail "install-deps.sh $* failed"
  cat "$log" 2>/dev/null
}

all_test=$(bash "$script" --list test | tr '\n' ' ')
# case: installed | groups | wanted in the calls ("|" between) | unwanted
while IFS=';' read -r installed groups want unwanted; do
  calls=$(INSTALLED="$installed" run $groups)
  IFS='|' read -r -a wants <<<"$want"
  for w in "${wants[@]}"; do
    grep -qF -- "$w" <<<"$calls" || fail "[$groups] no call with '$w' in: $calls"
  done
  IFS='|' read -r -a unwanteds <<<"$unwanted"
  for u in "${unwanteds[@]}"; do
    grep -qF -- "$u" <<<"$calls" && fail "[$groups] a call with '$u' in: $calls"
  done
  [ -e "$policy" ] && fail "[$groups] policy-rc.d left behind"
done <<EOF2
;build;install -y -qq build-essential|(policy 101);vsftpd|systemctl
;test;install -y -qq git|(policy 101)|systemctl disable|vsftpd.service|tgt.service;
$all_test;test;;apt-get|systemctl
${all_test/vsftpd /};test;install -y -qq vsftpd (policy 101)|vsftpd.service;tgt.service|install -y -qq git
EOF2

# A policy-rc.d that was there stays as it was.
printf '#!/bin/sh\nexit 0\n' >"$policy"
chmod +x "$policy"
calls=$(INSTALLED="" run build)
grep -qF "(policy 0)" <<<"$calls" || fail "an existing policy-rc.d was replaced: $calls"
[ "$(cat "$policy")" = "$(printf '#!/bin/sh\nexit 0')" ] || fail "an existing policy-rc.d was changed"
finish

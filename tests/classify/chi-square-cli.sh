#!/usr/bin/env bash
# The command line of the chi-square scorer: learn fills both scorers, classify --tsv has its columns,
# the classic output is the same with and without --scorer classic, learning twice skips, unlearn takes out.
#
#   chi-square-cli.sh PATH/TO/bramvell TEST_DATA_FOLDER
set -euo pipefail
bramvell=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
run() { "$bramvell" --home "$work/home" "$@"; }

run learn spam "$data/e2e/train/spam" > "$work/learn-spam.out"
run learn ham "$data/e2e/train/ham" > /dev/null
grep -q "Chi-square store: 6 learned" "$work/learn-spam.out" || fail "learn did not fill the store: $(cat "$work/learn-spam.out")"
[[ $(stat -c %a "$work/home/Data/chisquare.lmdb") == 700 ]] || fail "store folder is not 0700"
[[ $(stat -c %a "$work/home/Data/chisquare.lmdb/data.mdb") == 600 ]] || fail "store file is not 0600"
run learn spam "$data/e2e/train/spam" | grep -q "0 learned, 6 already learned as their class" ||
  fail "a second learn was not skipped"

# Both classes in one run: the classic tables learn both, the store learns both and trains on errors.
both=$(mktemp -d -p "$work")
"$bramvell" --home "$both" learn spam "$data/e2e/train/spam" ham "$data/e2e/train/ham" > "$work/learn-both.out"
grep -q "^Learned 6 spam messages" "$work/learn-both.out" || fail "two-class learn: $(cat "$work/learn-both.out")"
grep -q "^Learned $(ls "$data/e2e/train/ham" | wc -l) ham messages" "$work/learn-both.out" ||
  fail "two-class learn skipped the ham folder"
grep -q "learned again as misjudged" "$work/learn-both.out" || fail "two-class learn reports no training on errors"
"$bramvell" --home "$both" learn spam "$data/e2e/train/spam" ham 2> /dev/null && fail "a class without its folder was taken"

messages=("$data"/e2e/mailbox/*.eml "$data"/classify/*.eml)
run classify --tsv "${messages[@]}" > "$work/default.tsv"
run classify --tsv --scorer classic "${messages[@]}" > "$work/classic.tsv"
cmp -s "$work/default.tsv" "$work/classic.tsv" || fail "--scorer classic changed the classic output"

run classify --tsv --scorer chi-square --jobs 1 "${messages[@]}" > "$work/chi.tsv"
[[ $(wc -l < "$work/chi.tsv") -eq ${#messages[@]} ]] || fail "not one line per message"
awk -F'\t' '
  NF != 6 { print "columns: " NF; bad = 1 }
  $2 != "spam" && $2 != "ham" && $2 != "unsure" { print "verdict: " $2; bad = 1 }
  $3 !~ /^[0-9]+$/ || $3 > 10000 { print "score: " $3; bad = 1 }
  $5 != "-" { print "rule: " $5; bad = 1 }
  $6 != "" && $6 !~ /^[^,]+=[01]\.[0-9][0-9][0-9][0-9](,[^,]+=[01]\.[0-9][0-9][0-9][0-9])*$/ { print "tokens: " $6; bad = 1 }
  END { exit bad }' "$work/chi.tsv" || fail "chi-square columns"

# Worker threads change nothing in the output.
run classify --tsv --scorer chi-square --jobs 3 "${messages[@]}" | cmp -s - "$work/chi.tsv" || fail "--jobs 3 changed the chi-square output"

# The option chooses the scorer when no --scorer is given.
run config set scorer chi-square > /dev/null
run classify --tsv "${messages[@]}" | cmp -s - "$work/chi.tsv" || fail "the option scorer was not used"

spam=("$data"/e2e/train/spam/*)
run unlearn spam "${spam[@]}" | grep -q "Unlearned 6 spam messages" || fail "unlearn"
run unlearn spam "${spam[@]}" | grep -q "Unlearned 0 spam messages; 6 not learned" || fail "second unlearn"
echo "PASSED"
